// Helpers for the expansion tests: take over the library's heap results as
// standard containers, so every test releases what it receives.
#pragma once

#include <zk/zk.h>

#include "support.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

namespace expandtest {

// The one home directory of these tests: the library caches HOME at its first
// "~" expansion, so every test that expands "~" must agree on it.
inline constexpr const char* home = "/home/zk-tester";

// Works in `dir` for the scope, with the library's working-directory cache
// following each change.
class InDirectory {
public:
    explicit InDirectory(const std::string& dir) {
        if (::chdir(dir.c_str()) != 0) ADD_FAILURE() << "cannot change to " << dir;
        zk::get_cwd_changed_directory();
    }
    ~InDirectory() { zk::get_cwd_changed_directory(); }
    InDirectory(const InDirectory&) = delete;
    InDirectory& operator=(const InDirectory&) = delete;

    static std::string physical_cwd() {
        char buffer[PATH_MAX];
        return ::getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
    }

private:
    zktest::CwdGuard restore_;
};

inline std::string take_text(char* text) {
    std::string result = text != nullptr ? text : "<null>";
    zk::chk_free(text);
    return result;
}

inline std::vector<std::string> take_texts(char** texts) {
    std::vector<std::string> result;
    for (char** text = texts; *text != nullptr; ++text) {
        result.emplace_back(*text);
        zk::chk_free(*text);
    }
    zk::chk_free(texts);
    return result;
}

inline std::vector<std::string> take_brace(zk::BRACE* list) {
    std::vector<std::string> result;
    for (int i = 0; i < list->count; ++i) {
        result.emplace_back(list->items[i]);
        zk::chk_free(list->items[i]);
    }
    zk::chk_free(list->items);
    zk::chk_free(list);
    return result;
}

inline std::vector<std::string> take_glob_names(zk::GLOB_ENTRY* list) {
    std::vector<std::string> result;
    if (list == nullptr) return result;
    for (zk::GLOB_ENTRY* entry = list; entry->name != nullptr; ++entry) {
        result.emplace_back(entry->name);
        zk::chk_free(entry->name);
    }
    zk::chk_free(list);
    return result;
}

}  // namespace expandtest
