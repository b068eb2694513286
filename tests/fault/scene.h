// The surroundings of one installer run, all inside a fresh directory, laid
// out so that a test can tell what the run wrote where.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "archive_support.h"
#include "support.h"

namespace faulttest {

extern const char SUCCESS[];
extern const char FAILURE[];
// Standard error once verification has passed, with the scene's directory "@".
extern const char VERIFIED[];

// Builds an installer with zkpack from its record options; returns its bytes.
std::string packed(const std::vector<std::string>& records);

// The scene's directory holds the installer `pkg`, the temporary directory
// `tmp`, the directory the installer is started in (`start`, also HOME), a
// sibling `decoy` that no run may touch, and, once a run has made it, the
// install directory `inst`.
class Scene {
public:
    explicit Scene(std::string_view package_bytes);

    // Runs the installer, found along PATH, from `start` with `input` on its
    // standard input. Progress lines are dropped and the scene's directory is
    // written "@" in both streams, so that runs in two scenes compare.
    zktest::RunResult install(const std::string& input, zktest::RunOptions options = {}) const;

    // The answers that choose the install directory and agree to create it.
    std::string choose_install_dir() const;

    // Everything but the installer itself, the scene's directory written "@"
    // in file contents.
    archive_test::Tree tree() const;
    // The same without the install directory, the one place a run may
    // leave anything in (its private temporary directory goes at its end).
    archive_test::Tree outside() const;

    // The scene's directory in `text` written "@".
    std::string relative(std::string text) const;

    zktest::TempDir dir;
    const std::string package = dir / "pkg";
    const std::string temp = dir / "tmp";
    // The temporary file's name in a shared directory, where the private
    // directories came to replace it.
    const std::string shared_temp_file = temp + "/zkinstall-temp.exe";
    const std::string start = dir / "start";
    const std::string decoy = dir / "decoy";
    const std::string install_dir = dir / "inst";
};

using zktest::Tmpfs;

}  // namespace faulttest
