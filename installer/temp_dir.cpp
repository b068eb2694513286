#include "temp_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <zk/base/chk.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

constexpr const char* TEMP_VARIABLES[] = {"TEMP", "TMP", "TMPDIR"};
constexpr const char FALLBACK_TEMP_DIR[] = "/tmp";

std::string reason_for(const std::string& dir) {
    struct stat status;
    if (::lstat(dir.c_str(), &status) != 0) return dir + " cannot be examined";
    if (status.st_uid != 0 && status.st_uid != ::geteuid()) {
        return dir + " is owned by user " + std::to_string(status.st_uid);
    }
    const bool others_write = (status.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (others_write && (status.st_mode & S_ISVTX) == 0) {
        return dir + " is writable by other users and not sticky";
    }
    return {};
}

// The directory's absolute name without links; empty when it cannot be
// resolved (it does not exist, say).
std::string resolved(const char* dir) {
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(dir, nullptr), &std::free);
    return real ? std::string(real.get()) : std::string();
}

}  // namespace

std::string changeable_by_others(const std::string& dir) {
    // "/", then each longer prefix up to the directory itself.
    std::string reason = reason_for("/");
    for (size_t end = 0; reason.empty() && end != std::string::npos;) {
        end = dir.find('/', end + 1);
        reason = reason_for(end == std::string::npos ? dir : dir.substr(0, end));
    }
    return reason;
}

const char* choose_temp_dir() {
    for (const char* name : TEMP_VARIABLES) {
        const char* value = std::getenv(name);
        if (value == nullptr) continue;
        const std::string dir = resolved(value);
        if (dir.empty()) return value;
        const std::string reason = changeable_by_others(dir);
        if (reason.empty()) return zk::chk_strdup(dir.c_str());
        std::fprintf(stderr, "Ignoring %s=%s: %s\n", name, value, reason.c_str());
    }
    const std::string fallback = resolved(FALLBACK_TEMP_DIR);
    if (fallback.empty()) return FALLBACK_TEMP_DIR;
    const std::string reason = changeable_by_others(fallback);
    if (reason.empty()) return zk::chk_strdup(fallback.c_str());
    std::fprintf(stderr, "Ignoring %s: %s\n", FALLBACK_TEMP_DIR, reason.c_str());
    return nullptr;
}
