// Faults in the places the installer writes to: an install directory that
// cannot be written, a temporary directory that vanishes during the run,
// entries that someone else planted at the temporary file's name, and a
// temporary directory whose name means something to the shell.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "package_util.h"
#include "scene.h"
#include "tree_util.h"

namespace faulttest {
namespace {

using zktest::RunResult;

const char TEMP_FILE[] = "@/tmp/zkinstall.XXXXXX/zkinstall-temp.exe";
const std::string EXTRACT_LINE = "Extract script to " + std::string(TEMP_FILE) + "\n";

TEST(ReadOnlyInstallDirectory, NothingIsUnpackedAndTheInstallationFails) {
    const zktest::TempDir sources;
    zktest::write_file(sources / "welcome.txt", "Read-only.\n");
    zkpacktest::make_tree(
        sources.path(),
        {{"product/", 0755, ""}, {"product/d/", 0755, ""}, {"product/d/f", 0644, "f"}, {"product/top", 0644, "t"}});
    zktest::write_file(sources / "setup.sh", "echo \"setup runs in $INSTALL_ROOT\"\n");
    const Scene scene(packed({"--welcome", sources / "welcome.txt", "--tree", sources / "product", "--script",
                              sources / "setup.sh", "--env", "LATER=1"}));
    ASSERT_EQ(::mkdir(scene.install_dir.c_str(), 0755), 0);
    // Root writes through permission bits: it gets a read-only file system.
    std::optional<Tmpfs> read_only;
    if (::geteuid() == 0) {
        read_only.emplace(scene.install_dir, MS_RDONLY, "");
        if (!read_only->mounted()) GTEST_SKIP() << read_only->error();
    } else {
        ::chmod(scene.install_dir.c_str(), 0555);
    }
    const archive_test::Tree before = scene.tree();

    const RunResult r = scene.install(scene.install_dir + "\n");
    EXPECT_EQ(r.out,
              "Read-only.\nDirectory where to install software [/usr/local/zelkor]: \n"
              "Extracting d/ .. 0 bytes\nError creating dir d/\n"
              "Extracting d/f .. 1 bytes\nCannot create file d/f\n"
              "Extracting top .. 1 bytes\nCannot create file top\n"
              "Extracting  .. 0 bytes\n" +
                  std::string(EXTRACT_LINE) + "setup runs in @/inst\nLATER=1\n" + FAILURE);
    EXPECT_EQ(r.err, VERIFIED);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(scene.tree(), before) << "nothing written anywhere but the private temporary directory, which is gone";
}

// The first record removes the temporary directory, as a careless setup
// program might; the record after it needs the directory.
struct VanishCase {
    const char* what;
    std::string record;
    std::string out;
};

void PrintTo(const VanishCase& c, std::ostream* os) { *os << c.what; }

class TempDirectoryVanishes : public ::testing::TestWithParam<VanishCase> {};

TEST_P(TempDirectoryVanishes, EndsTheRunWithoutMakingItAgain) {
    const VanishCase& c = GetParam();
    const zktest::TempDir sources;
    zktest::write_file(sources / "remove", "#!/bin/sh\nrm -rf \"$TEMP\"\n", 0755);
    zktest::write_file(sources / "after", "#!/bin/sh\ntouch \"$0.ran\"\n", 0755);
    const Scene scene(packed({"--program", sources / "remove", c.record, sources / "after", "--env", "LATER=1"}));
    archive_test::Tree expected = scene.outside();
    expected.erase("tmp");

    const RunResult r = scene.install("");
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, VERIFIED);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(scene.tree(), expected) << "the temporary directory is not made again, nor anything else";
}

INSTANTIATE_TEST_SUITE_P(
    Records, TempDirectoryVanishes,
    ::testing::Values(
        VanishCase{"program", "--program", "Error: cannot create temp output file: " + std::string(TEMP_FILE) + "\n"},
        VanishCase{"script", "--script", EXTRACT_LINE + "Error: cannot create script file " + TEMP_FILE + "\n"}));

// Entries left by whoever shares the temporary directory at the name the
// temporary file once had there: a symbolic or hard link to someone's file,
// a FIFO, a directory with something in it. Runs work in a private
// directory of their own and never look at them.
enum class Planted { symbolic_link, hard_link, fifo, directory };

class PlantedInTheTemporaryDirectory : public ::testing::TestWithParam<std::tuple<Planted, std::string>> {};

void plant(const Scene& scene, Planted planted) {
    const std::string& at = scene.shared_temp_file;
    switch (planted) {
        case Planted::symbolic_link: ASSERT_EQ(::symlink((scene.decoy + "/keep").c_str(), at.c_str()), 0); break;
        case Planted::hard_link: ASSERT_EQ(::link((scene.decoy + "/keep").c_str(), at.c_str()), 0); break;
        case Planted::fifo: ASSERT_EQ(::mkfifo(at.c_str(), 0666), 0); break;
        case Planted::directory:
            ASSERT_EQ(::mkdir(at.c_str(), 0755), 0);
            zktest::write_file(at + "/inside", "inside\n");
            break;
    }
}

TEST_P(PlantedInTheTemporaryDirectory, ChangesNothing) {
    const auto& [planted, record] = GetParam();
    const zktest::TempDir sources;
    zktest::write_file(sources / "hello", "#!/bin/sh\necho hello\n", 0755);
    const Scene scene(packed({record, sources / "hello"}));
    ASSERT_NO_FATAL_FAILURE(plant(scene, planted));
    const archive_test::Tree before = scene.tree();

    const RunResult r = scene.install("");
    EXPECT_EQ(r.out, (record == "--script" ? EXTRACT_LINE : "") + "hello\n" + SUCCESS);
    EXPECT_EQ(r.err, VERIFIED);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(scene.tree(), before) << "the planted entry, the decoy and the rest stay as they were";
}

using PlantParam = std::tuple<Planted, std::string>;

std::string plant_case_name(const ::testing::TestParamInfo<PlantParam>& info) {
    static const char* const names[] = {"symbolic_link", "hard_link", "fifo", "directory"};
    return std::string(names[static_cast<int>(std::get<0>(info.param))]) + "_" + std::get<1>(info.param).substr(2);
}

INSTANTIATE_TEST_SUITE_P(Entries, PlantedInTheTemporaryDirectory,
                         ::testing::Combine(::testing::Values(Planted::symbolic_link, Planted::hard_link, Planted::fifo,
                                                              Planted::directory),
                                            ::testing::Values("--program", "--script")),
                         plant_case_name);

// Program records with such names are run in tests/installer; scripts are
// written and started by other code.
TEST(OddTemporaryDirectory, ScriptRunsAndNoPieceOfTheNameDoes) {
    const zktest::TempDir sources;
    zktest::write_file(sources / "where.sh", "echo \"$0\"\n");
    const Scene scene(packed({"--script", sources / "where.sh"}));
    for (const char* name : {"with  blanks\tand tab", "a;touch pwned1;b'c\"$(touch pwned2)`touch pwned3`&|<>*?"}) {
        SCOPED_TRACE(name);
        const std::string temp = scene.dir / name;
        ASSERT_EQ(::mkdir(temp.c_str(), 0755), 0);
        zktest::RunOptions options;
        options.env["TEMP"] = temp;
        const RunResult r = scene.install("", options);
        const std::string file = scene.relative(temp) + "/zkinstall.XXXXXX/zkinstall-temp.exe";
        EXPECT_EQ(r.out, "Extract script to " + file + "\n" + file + "\n" + SUCCESS);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(zkpacktest::directory_entries(temp), std::vector<std::string>{});
    }
    for (const char* pwned : {"pwned1", "pwned2", "pwned3"}) {
        EXPECT_FALSE(zktest::exists(scene.start + "/" + pwned)) << "the shell ran a piece of the directory's name";
    }
}

}  // namespace
}  // namespace faulttest
