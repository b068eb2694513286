// The disk filling up under the installer, two ways: a file size limit (with
// SIGXFSZ ignored, so that a write past it fails instead of killing the
// process) and a small file system. Either way, while extracting, writing a
// script or writing a program, the installation is reported as failed, and
// a payload that expands without end stops at the first failed write.
#include <sys/resource.h>

#include <gtest/gtest.h>

#include <chrono>
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

// Leaves the run ROOM in `filled`; a tmpfs that could not be mounted says why.
std::optional<Tmpfs> leave_little_room(Limit limit, const std::string& filled, zktest::RunOptions& options) {
    if (limit == Limit::file_size) {
        options.in_child = limit_file_size;
        return std::nullopt;
    }
    return std::optional<Tmpfs>(std::in_place, filled, 0, SMALL_FILE_SYSTEM);
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
    const std::optional<Tmpfs> small = leave_little_room(limit, filled, options);
    if (small && !small->mounted()) GTEST_SKIP() << small->error();
    const RunResult r = scene.install("", options);

    EXPECT_EQ(r.out, c.out + "LATER=1\n" + FAILURE) << "the walk goes on, then the failure is reported";
    EXPECT_EQ(r.err, VERIFIED + std::string(c.script_write_error ? SCRIPT_WRITE_ERROR : ""))
        << "the first failed write ends the script's decoding";
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(zktest::exists(scene.start + "/ran")) << "a script or program cut short is not run";
    EXPECT_EQ(zkpacktest::directory_entries(scene.temp), std::vector<std::string>{});
}

template <typename Case>
std::string name_of(const ::testing::TestParamInfo<std::tuple<Limit, Case>>& info) {
    const auto& [limit, c] = info.param;
    return std::string(limit == Limit::file_size ? "file_size_limit_" : "small_file_system_") + c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DiskFull,
    ::testing::Combine(::testing::Values(Limit::file_size, Limit::small_file_system),
                       ::testing::Values(FullCase{"extracting", archive_with_a_big_file, false,
                                                  "\nExtracting a-small .. 1 bytes\n"
                                                  "Extracting big .. 100000 bytes\n"
                                                  "Error writing file big\n",
                                                  false},
                                         FullCase{"writing_a_script", big_script, true,
                                                  "Extract script to @/tmp/zkinstall.XXXXXX/zkinstall-temp.exe\n",
                                                  true},
                                         FullCase{"writing_a_program", big_program, true,
                                                  "Failed to write 4096 bytes from source\n", false})),
    name_of<FullCase>);

using Compress = std::string (*)(const std::string&);

// A file that declares 4 GiB, its zeros in streams of 900 000 bytes back
// to back: seconds of decoding after the disk is full, unless the first
// failed write stops it.
std::string endless_file(Compress compress) {
    const std::string zeros = compress(std::string(900000, '\0'));
    std::string payload = compress(archive_test::tar_header({"bomb", "", '0', "0000644", "40000000000"}));
    for (uint64_t made = 0; made < (uint64_t{4} << 30); made += 900000) payload += zeros;
    return payload;
}

// zstd decodes on one thread and writes on another: the writer's failure
// stops the decoder as well.
struct BombCase {
    const char* what;
    Compress compress;
    const char* threads;
};

class Bomb : public ::testing::TestWithParam<std::tuple<Limit, BombCase>> {};

TEST_P(Bomb, StopsWithinASecondOfTheDiskFilling) {
    const auto& [limit, c] = GetParam();
    const Scene scene(
        zkpacktest::build_package(zktest::read_file(zktest::zkinstall_path()), {{2, endless_file(c.compress)}}));
    zktest::RunOptions options;
    options.env.emplace("ZKINSTALL_THREADS", c.threads);
    const std::optional<Tmpfs> small = leave_little_room(limit, scene.start, options);
    if (small && !small->mounted()) GTEST_SKIP() << small->error();

    const auto started = std::chrono::steady_clock::now();
    const RunResult r = scene.install("", options);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;

    EXPECT_LT(took.count(), 1.0) << "the disk is full after the first 64 KiB";
    EXPECT_EQ(r.out, "\nExtracting bomb .. 4294967296 bytes\nError writing file bomb\n" + std::string(FAILURE));
    EXPECT_EQ(r.err, VERIFIED);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(zkpacktest::directory_entries(scene.start), std::vector<std::string>{}) << "the file is removed";
}

INSTANTIATE_TEST_SUITE_P(Cases, Bomb,
                         ::testing::Combine(::testing::Values(Limit::file_size, Limit::small_file_system),
                                            ::testing::Values(BombCase{"1_threads", archive_test::bzip2_compress, "1"},
                                                              BombCase{"8_threads", archive_test::bzip2_compress, "8"},
                                                              BombCase{"zstd_2_threads", archive_test::zstd_compress,
                                                                       "2"})),
                         name_of<BombCase>);

}  // namespace
}  // namespace faulttest
