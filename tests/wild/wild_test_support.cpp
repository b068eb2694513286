#include "wild_test_support.h"

#include "wild/wild_internal.h"

#include <unistd.h>

#include <stdexcept>

namespace wildtest {

namespace {

int readings = 0;

time_t stepping_clock(time_t* out) {
    const time_t now = ++readings;
    if (out != nullptr) *out = now;
    return now;
}

}  // namespace

SettingsGuard::SettingsGuard()
    : timeout_(zk::wild_limit_timeout),
      max_count_(zk::wild_limit_max_count),
      lstat_(zk::wild_lstat),
      sort_flags_(zk::glob_sort_flags),
      shell_error_(zk::shell_error),
      clock_(zk::wild_clock) {}

SettingsGuard::~SettingsGuard() {
    zk::wild_limit_timeout = timeout_;
    zk::wild_limit_max_count = max_count_;
    zk::wild_lstat = lstat_;
    zk::glob_sort_flags = sort_flags_;
    zk::shell_error = shell_error_;
    zk::wild_clock = clock_;
}

void use_stepping_clock() {
    readings = 0;
    zk::wild_clock = stepping_clock;
}

int stepping_clock_readings() { return readings; }

void make_tree(const std::string& root, const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        if (!path.empty() && path.back() == '/') {
            if (::mkdir((root + "/" + path).c_str(), 0755) != 0) throw std::runtime_error("mkdir " + path);
        } else {
            zktest::write_file(root + "/" + path, path);
        }
    }
}

std::optional<std::vector<Found>> glob(const std::string& pattern, int flags) {
    zk::GLOB_ENTRY* list = zk::glob_filenames(pattern.c_str(), flags);
    if (list == nullptr) return std::nullopt;
    std::vector<Found> found;
    for (zk::GLOB_ENTRY* entry = list; entry->name != nullptr; ++entry) {
        found.push_back({entry->name, entry->status});
        zk::chk_free(entry->name);
    }
    zk::chk_free(list);
    return found;
}

std::optional<std::vector<std::string>> glob_names(const std::string& pattern, int flags) {
    auto found = glob(pattern, flags);
    if (!found) return std::nullopt;
    std::vector<std::string> names;
    for (const Found& entry : *found) names.push_back(entry.name);
    return names;
}

std::string current_directory() {
    std::vector<char> buffer(8192);
    if (::getcwd(buffer.data(), buffer.size()) == nullptr) throw std::runtime_error("getcwd");
    return buffer.data();
}

InScratchTree::InScratchTree() {
    if (::chdir(dir_.path().c_str()) != 0) throw std::runtime_error("chdir " + dir_.path());
}

}  // namespace wildtest
