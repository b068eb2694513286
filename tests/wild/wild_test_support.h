// Helpers for the globbing tests: a scratch tree to glob in and the engine's
// settings put back afterwards.
#pragma once

#include <zk/zk.h>

#include <sys/stat.h>

#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "support.h"

namespace wildtest {

// Restores the limits, the clock and the other process-wide settings.
class SettingsGuard {
public:
    SettingsGuard();
    ~SettingsGuard();
    SettingsGuard(const SettingsGuard&) = delete;
    SettingsGuard& operator=(const SettingsGuard&) = delete;

private:
    int timeout_, max_count_, lstat_, sort_flags_, shell_error_;
    time_t (*clock_)(time_t*);
};

// A clock that moves one second each time it is read, from 1 on.
void use_stepping_clock();
int stepping_clock_readings();

// Creates each path below `root`; a path ending in "/" is a directory.
void make_tree(const std::string& root, const std::vector<std::string>& paths);

struct Found {
    std::string name;
    struct stat status;
};

// glob_filenames, with the list copied out and released; nullopt for null.
std::optional<std::vector<Found>> glob(const std::string& pattern, int flags);
std::optional<std::vector<std::string>> glob_names(const std::string& pattern, int flags);

std::string current_directory();

// A scratch directory that is the working directory while the test runs,
// with the engine's settings and the working directory restored after.
class InScratchTree {
public:
    InScratchTree();
    const std::string& root() const { return dir_.path(); }
    std::string operator/(const std::string& name) const { return dir_ / name; }

private:
    zktest::TempDir dir_;
    zktest::CwdGuard cwd_;
    SettingsGuard settings_;
};

}  // namespace wildtest
