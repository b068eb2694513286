// The disk filling up under the installer, two ways: a file size limit (with
// SIGXFSZ ignored, so that a write past it fails instead of killing the
// process) and a small file system. Either way, while extracting, writing a
// script or writing a program, the installation is reported as failed.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <string>
#include <vector>

#include "archive_support.h"
#include "package_util.h"
#include "scene.h"
#include "tree_util.h"

namespace faulttest {
namespace {

using zktest::RunResult;

// Both ways leave room for the same 16 pages of 4096 bytes.
constexpr rlim_t ROOM = 64 * 1024;
const char SMALL_FILE_SYSTEM[] = "size=64k";
const char SCRIPT_WRITE_ERROR[] = "zkinstall: error writing to output stream\n";

enum class Limit { file_size, small_file_system };

void limit_file_size() {
    // A soft limit: the installer may raise it to keep its copy of the
    // package, not to write the files it unpacks.
    const rlimit limit{ROOM, RLIM_INFINITY};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::signal(SIGXFSZ, SIG_IGN);
}

// Too big for the room, hardly compressible, so its archive spans many
// deliveries; the small file before it fits.
std::vector<std::string> archive_with_a_big_file(const zktest::TempDir& sources) {
    zkpacktest::make_tree(
        sources.path(),
        {{"product/", 0755, ""}, {"product/a-small", 0644, "s"}, {"product/big", 0644, archive_test::noise(100000)}});
    return {"--tree", sources / "product"};
}

// Each would leave a trace in the directory it starts in if it ran.
std::vector<std::string> big_script(const zktest::TempDir& sources) {
    zktest::write_file(sources / "big.sh", "touch ran\n#" + std::string(100000, 'x') + "\n");
    return {"--script", sources / "big.sh"};
}

std::vector<std::string> big_program(const zktest::TempDir& sources) {
    zktest::write_file(sources / "big", "#!/bin/sh\ntouch ran\n#" + std::string(100000, 'x') + "\n", 0755);
    return {"--program", sources / "big"};
}

struct FullCase {
    const char* what;
    std::vector<std::string> (*records)(const zktest::TempDir& sources);
    bool fills_temp;  // else the working directory, where the archive is unpacked
    std::string out;  // the scene's directory written "@"
    bool script_write_error;
};

void PrintTo(const FullCase& c, std::ostream* os) { *os << c.what; }

class DiskFull : public ::testing::TestWithParam<std::tuple<Limit, FullCase>> {};

TEST_P(DiskFull, FailsTheInstallation) {
    const auto& [limit, c] = GetParam();
    const zktest::TempDir sources;
    std::vector<std::string> records = c.records(sources);
    records.insert(records.end(), {"--env", "LATER=1"});
    const Scene scene(packed(records));
    const std::string filled = c.fills_temp ? scene.temp : scene.start;

    zktest::RunOptions options;
    std::optional<Tmpfs> small;
    if (limit == Limit::file_size) {
        options.in_child = limit_file_size;
    } else {
        small.emplace(filled, 0, SMALL_FILE_SYSTEM);
        if (!small->mounted()) GTEST_SKIP() << small->error();
    }
    const RunResult r = scene.install("", options);

    EXPECT_EQ(r.out, c.out + "LATER=1\n" + FAILURE) << "the walk goes on, then the failure is reported";
    if (c.script_write_error) {
        ASSERT_GT(r.err.size(), std::string(VERIFIED).size());
        EXPECT_EQ(r.err.substr(0, std::string(VERIFIED).size()), VERIFIED);
        std::string reports = r.err.substr(std::string(VERIFIED).size());
        for (size_t at; (at = reports.find(SCRIPT_WRITE_ERROR)) != std::string::npos;) {
            reports.erase(at, std::string(SCRIPT_WRITE_ERROR).size());
        }
        EXPECT_EQ(reports, "") << "one report per failed write, and nothing else";
    } else {
        EXPECT_EQ(r.err, VERIFIED);
    }
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(zktest::exists(scene.start + "/ran")) << "a script or program cut short is not run";
    EXPECT_EQ(zkpacktest::directory_entries(scene.temp), std::vector<std::string>{});
}

std::string name_of(const ::testing::TestParamInfo<DiskFull::ParamType>& info) {
    const auto& [limit, c] = info.param;
    return std::string(limit == Limit::file_size ? "file_size_limit_" : "small_file_system_") + c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DiskFull,
    ::testing::Combine(::testing::Values(Limit::file_size, Limit::small_file_system),
                       ::testing::Values(FullCase{"extracting", archive_with_a_big_file, false,
                                                  "\nExtracting a-small .. 1 bytes\n"
                                                  "Extracting big .. 100000 bytes\n"
                                                  "Error writing file big\n"
                                                  "Extracting  .. 0 bytes\n",
                                                  false},
                                         FullCase{"writing_a_script", big_script, true,
                                                  "Extract script to @/tmp/zkinstall.XXXXXX/zkinstall-temp.exe\n",
                                                  true},
                                         FullCase{"writing_a_program", big_program, true,
                                                  "Failed to write 4096 bytes from source\n", false})),
    name_of);

}  // namespace
}  // namespace faulttest
