// Archive and script records end to end: archives made by GNU tar, Python's
// tarfile or by hand, compressed by the bzip2, zstd or xz command, packed by zkpack and
// installed by the installer run as a user runs it, in a directory of its own.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "archive_support.h"
#include "package_util.h"
#include "support.h"

namespace {

using archive_test::TarEntry;
using archive_test::Tree;
using zktest::RunOptions;
using zktest::RunResult;
using zktest::without_progress;

const char SUCCESS[] = "Installation successfully completed.\n";
const char FAILURE[] = "ERROR: Installation failed.\n";
const char END_LINE[] = "Extracting  .. 0 bytes\n";

void make_dir(const std::string& path, mode_t mode) {
    ::mkdir(path.c_str(), mode);
    ::chmod(path.c_str(), mode);
}

// Nested directories, an empty one, empty files, sizes on and off the
// 512-byte blocks, and the four usual modes.
void make_product(const std::string& src) {
    make_dir(src, 0755);
    make_dir(src + "/bin", 0755);
    zktest::write_file(src + "/bin/run.sh", "#!/bin/sh\necho run\n", 0755);
    make_dir(src + "/data", 0755);
    zktest::write_file(src + "/data/empty", "", 0644);
    zktest::write_file(src + "/data/one", "1", 0644);
    zktest::write_file(src + "/data/b511", std::string(511, 'a'), 0644);
    zktest::write_file(src + "/data/b512", std::string(512, 'b'), 0600);
    zktest::write_file(src + "/data/b513", std::string(513, 'c'), 0644);
    make_dir(src + "/data/nested", 0755);
    make_dir(src + "/data/nested/deeper", 0700);
    zktest::write_file(src + "/data/nested/deeper/secret", archive_test::noise(5000), 0600);
    zktest::write_file(src + "/data/nested/deeper/tool", archive_test::noise(70000), 0700);
    make_dir(src + "/emptydir", 0755);
}

// What the product looks like installed: every directory is listed, so
// each keeps its mode exactly.
Tree installed_product(const std::string& src) { return archive_test::tree_of(src); }

const std::string PRODUCT_OUT =
    "\n"
    "Extracting ./ .. 0 bytes\n"
    "Extracting ./bin/ .. 0 bytes\n"
    "Extracting ./bin/run.sh .. 19 bytes\n"
    "Extracting ./data/ .. 0 bytes\n"
    "Extracting ./data/b511 .. 511 bytes\n"
    "Extracting ./data/b512 .. 512 bytes\n"
    "Extracting ./data/b513 .. 513 bytes\n"
    "Extracting ./data/empty .. 0 bytes\n"
    "Extracting ./data/nested/ .. 0 bytes\n"
    "Extracting ./data/nested/deeper/ .. 0 bytes\n"
    "Extracting ./data/nested/deeper/secret .. 5000 bytes\n"
    "Extracting ./data/nested/deeper/tool .. 70000 bytes\n"
    "Extracting ./data/one .. 1 bytes\n"
    "Extracting ./emptydir/ .. 0 bytes\n" +
    std::string(END_LINE);

const char PYTHON_TAR[] =
    "import os, sys, tarfile\n"
    "out, src, form = sys.argv[1:4]\n"
    "extra = {'comment': 'pax headers too'} if form == 'PAX_FORMAT' else {}\n"
    "with tarfile.open(out, 'w', format=getattr(tarfile, form), pax_headers=extra) as t:\n"
    "    for name in sorted(os.listdir(src)):\n"
    "        t.add(os.path.join(src, name), arcname=name)\n";

using TarTool = void (*)(const std::string& format, const std::string& src, const std::string& out);

void gnu_tar(const std::string& format, const std::string& src, const std::string& out) {
    const RunResult r = zktest::run(
        "/usr/bin/tar", {"--format=" + format, "--sort=name", "--owner=0", "--group=0", "-C", src, "-cf", out, "."});
    EXPECT_EQ(r.status, 0) << r.err;
}

void python_tar(const std::string& format, const std::string& src, const std::string& out) {
    const RunResult r = zktest::run("/usr/bin/python3", {"-c", PYTHON_TAR, out, src, format});
    EXPECT_EQ(r.status, 0) << r.err;
}

class ArchiveRun : public ::testing::Test {
protected:
    void SetUp() override {
        make_dir(temp, 0755);
        make_dir(root, 0755);
    }

    void pack(const std::vector<std::string>& records) {
        std::vector<std::string> args{"create", "-o", package};
        args.insert(args.end(), records.begin(), records.end());
        const RunResult made = zktest::run(zktest::zkpack_path(), args);
        ASSERT_EQ(made.status, 0) << made.err;
    }

    // Runs the package, found along PATH, in the install directory `root`.
    RunResult install(const std::vector<std::string>& args = {}, RunOptions options = {}) {
        if (options.argv0.empty()) options.argv0 = "pkg";
        return run_in_root(package, args, options);
    }

    // Runs the package through the shell, so the command line can set limits
    // and redirections first.
    RunResult install_through_shell(const std::string& command) { return run_in_root("/bin/sh", {"-c", command}, {}); }

    RunResult run_in_root(const std::string& program, const std::vector<std::string>& args, RunOptions options) {
        options.env.emplace("PATH", dir.path() + ":/usr/bin:/bin");
        options.env.emplace("TEMP", temp);
        options.env.emplace("TMP", std::nullopt);
        if (options.cwd.empty()) options.cwd = root;
        return zktest::run(program, args, options);
    }

    // Standard error holds the banner and the verification's blank line
    // (progress lines aside), then `err`.
    void check(const RunResult& r, const std::string& out, int status, const std::string& err = "") {
        EXPECT_EQ(r.out, out);
        EXPECT_EQ(without_progress(r.err), verified() + err);
        EXPECT_EQ(r.status, status);
    }

    std::string verified() const {
        return "ZKINSTALL v1.007 Copyright (c) Zelkor Software\n\nVerifying package file: " + package +
               "\nThis may take a moment...\n\n";
    }

    std::string bzip2(const std::string& path) {
        const RunResult r = zktest::run("/usr/bin/bzip2", {"-k", "-f", path});
        EXPECT_EQ(r.status, 0) << r.err;
        return path + ".bz2";
    }

    std::string compressed_file(const std::string& name, const std::string& content) {
        zktest::write_file(dir / name, content);
        return bzip2(dir / name);
    }

    // The archive `tool` makes of src in `format`, compressed.
    std::string archive_of(TarTool tool, const std::string& format, const std::string& src) {
        const std::string out = dir / (format + ".tar");
        tool(format, src, out);
        return bzip2(out);
    }

    std::string script(const std::string& name, const std::string& body) {
        return compressed_file(name, "#!/bin/sh\n" + body);
    }

    zktest::TempDir dir;
    const std::string package = dir / "pkg";
    const std::string temp = dir / "tmp";
    const std::string root = dir / "root";
    const std::string temp_file = temp + "/zkinstall.XXXXXX/zkinstall-temp.exe";  // as the streams show it
    const std::string ran = dir / "ran";                                          // what a script that ran leaves
    const std::string extract_line = "Extract script to " + temp_file + "\n";
};

TEST_F(ArchiveRun, ProductTreeInstallsWithExactModesAndReport) {
    make_product(dir / "src");
    pack({"--record", "2", archive_of(gnu_tar, "ustar", dir / "src")});
    const RunResult r = install();
    check(r, PRODUCT_OUT + SUCCESS, 0);
    EXPECT_EQ(archive_test::tree_of(root), installed_product(dir / "src"));
}

struct Maker {
    const char* what;
    TarTool tool;
    const char* format;
    const char* kind;
};

void PrintTo(const Maker& m, std::ostream* os) { *os << m.what; }

class ArchiveMaker : public ArchiveRun, public ::testing::WithParamInterface<Maker> {};

TEST_P(ArchiveMaker, InstallsTheSameFiles) {
    const Maker& m = GetParam();
    make_product(dir / "src");
    pack({"--record", m.kind, archive_of(m.tool, m.format, dir / "src")});
    const RunResult r = install();
    EXPECT_EQ(r.out.substr(r.out.size() - (std::string(END_LINE) + SUCCESS).size()), END_LINE + std::string(SUCCESS));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(archive_test::tree_of(root), installed_product(dir / "src"));
}

// Symbolic links (one dangling, one absolute), a file under two names, an
// empty directory and, where the format holds them, long names and a long
// link target.
// Times in the past, a day apart, with a fraction where the format keeps
// one, on each of `paths` in turn, links not followed.
void set_times_of(const std::string& src, const std::vector<std::string>& paths) {
    long seconds = 1000000000;
    for (const std::string& path : paths) {
        const timespec times[2] = {{seconds, 0}, {seconds, 250000000}};
        ::utimensat(AT_FDCWD, (src + "/" + path).c_str(), times, AT_SYMLINK_NOFOLLOW);
        seconds += 86400;
    }
}

// On every entry, directories last; the directories' modes are the ones a
// mask or added search bits would change.
void set_times(const std::string& src) {
    set_times_of(src, {"lib/libzk.so.1.7", "lib/libzk.so.1", "lib/dangling", "empty", "lib", ""});
}

void make_linked_product(const std::string& src, bool long_names) {
    make_dir(src, 0755);
    make_dir(src + "/lib", 02775);
    make_dir(src + "/empty", 0750);
    zktest::write_file(src + "/lib/libzk.so.1.7", archive_test::noise(3000), 0755);
    ::symlink("libzk.so.1.7", (src + "/lib/libzk.so.1").c_str());
    ::symlink("../nowhere", (src + "/lib/dangling").c_str());
    ::symlink("/etc/hostname", (src + "/lib/absolute").c_str());
    ::link((src + "/lib/libzk.so.1.7").c_str(), (src + "/hard").c_str());
    if (!long_names) return;
    const std::string deep = src + "/" + std::string(120, 'd') + "/" + std::string(130, 'e');
    make_dir(src + "/" + std::string(120, 'd'), 0755);
    make_dir(deep, 0755);
    zktest::write_file(deep + "/" + std::string(200, 'f'), "long", 0644);
    ::symlink(std::string(150, 't').c_str(), (src + "/long-target").c_str());
}

// path below the root -> modification time, links not followed.
std::map<std::string, std::string> times_of(const std::string& root) {
    std::map<std::string, std::string> times;
    for (const auto& entry : archive_test::tree_of(root)) {
        struct stat status {};
        ::lstat((root + "/" + entry.first).c_str(), &status);
        times[entry.first] = std::to_string(status.st_mtim.tv_sec) + "." + std::to_string(status.st_mtim.tv_nsec);
    }
    return times;
}

// The names on the installer's Extracting lines, one a line.
std::string extracted_names(const std::string& out) {
    const std::string word = "Extracting ";
    std::string names;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(word, 0) == 0) names += line.substr(word.size(), line.rfind(" .. ") - word.size()) + "\n";
    }
    return names;
}

TEST_P(ArchiveMaker, InstallsWhatTarExtracts) {
    const Maker& m = GetParam();
    const std::string format = m.format;
    const bool long_names = format != "ustar" && format != "USTAR_FORMAT" && format != "v7";
    make_linked_product(dir / "src", long_names);
    set_times(dir / "src");
    pack({"--record", m.kind, archive_of(m.tool, m.format, dir / "src")});
    const RunResult r = install();
    EXPECT_EQ(r.status, 0) << r.out;
    const std::string archive = dir / (format + ".tar");
    const RunResult listed = zktest::run("/usr/bin/tar", {"-tf", archive});
    EXPECT_EQ(extracted_names(r.out), listed.out + "\n")
        << "a line for each entry, none for the long-name and pax headers, one for the end block";
    make_dir(dir / "expected", 0755);
    const RunResult tar = zktest::run("/usr/bin/tar", {"-C", dir / "expected", "-xf", archive});
    ASSERT_EQ(tar.status, 0) << tar.err;
    EXPECT_EQ(archive_test::tree_of(root), archive_test::tree_of(dir / "expected"));
    EXPECT_EQ(times_of(root), times_of(dir / "expected"));
    struct stat hard, original;
    ASSERT_EQ(::stat((root + "/hard").c_str(), &hard), 0);
    ASSERT_EQ(::stat((root + "/lib/libzk.so.1.7").c_str(), &original), 0);
    EXPECT_EQ(hard.st_ino, original.st_ino) << "one file under two names";
}

INSTANTIATE_TEST_SUITE_P(Tools, ArchiveMaker,
                         ::testing::Values(Maker{"GNU tar, GNU layout, kind 10", gnu_tar, "gnu", "10"},
                                           Maker{"GNU tar, old GNU layout", gnu_tar, "oldgnu", "2"},
                                           Maker{"GNU tar, POSIX ustar", gnu_tar, "ustar", "2"},
                                           Maker{"GNU tar, pax", gnu_tar, "pax", "2"},
                                           Maker{"GNU tar, V7", gnu_tar, "v7", "2"},
                                           Maker{"tarfile, ustar", python_tar, "USTAR_FORMAT", "2"},
                                           Maker{"tarfile, GNU layout", python_tar, "GNU_FORMAT", "2"},
                                           Maker{"tarfile, pax", python_tar, "PAX_FORMAT", "2"}));

// Directories listed after their files, as tar --no-recursion writes them
// in the order given, with modes a mask, added search bits or the order
// would change, and times in the past: the tree equals tar's, times
// included, in every layout.
TEST_F(ArchiveRun, DirectoriesListedAfterTheirFilesInstallAsTarExtractsThem) {
    const std::string src = dir / "src";
    make_dir(src, 0755);
    const std::vector<std::pair<std::string, mode_t>> dirs = {{"a", 0700}, {"b", 0750}, {"c", 02775}, {"r", 0555}};
    std::vector<std::string> order;
    for (const auto& [name, mode] : dirs) {
        make_dir(src + "/" + name, 0755);
        zktest::write_file(src + "/" + name + "/f", name, 0640);
        order.push_back(name + "/f");
    }
    for (const auto& [name, mode] : dirs) {
        ::chmod((src + "/" + name).c_str(), mode);
        order.push_back(name);
    }
    set_times_of(src, order);
    for (const std::string format : {"gnu", "ustar", "pax"}) {
        SCOPED_TRACE(format);
        const std::string archive = dir / (format + ".tar");
        std::vector<std::string> args = {"--format=" + format, "--no-recursion", "-C", src, "-cf", archive};
        args.insert(args.end(), order.begin(), order.end());
        ASSERT_EQ(zktest::run("/usr/bin/tar", args).status, 0);
        const std::string expected = dir / ("expected-" + format);
        make_dir(expected, 0755);
        ASSERT_EQ(zktest::run("/usr/bin/tar", {"-C", expected, "-xf", archive}).status, 0);
        pack({"--record", "2", bzip2(archive)});
        const std::string installed = dir / ("root-" + format);
        make_dir(installed, 0755);
        RunOptions options;
        options.cwd = installed;
        const RunResult r = install({}, options);
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(archive_test::tree_of(installed), archive_test::tree_of(expected));
        EXPECT_EQ(times_of(installed), times_of(expected));
    }
}

TEST_F(ArchiveRun, ExistingFileIsReplaced) {
    make_product(dir / "src");
    pack({"--record", "2", archive_of(gnu_tar, "gnu", dir / "src")});
    make_dir(root + "/data", 0755);
    zktest::write_file(root + "/data/b512", std::string(9000, 'o'), 0666);
    const RunResult r = install();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(zktest::read_file(root + "/data/b512"), std::string(512, 'b'));
    EXPECT_EQ(zktest::mode_of(root + "/data/b512"), 0600u);
}

TEST_F(ArchiveRun, StreamOnlyCopiesTheArchiveAndRunsNoScript) {
    make_product(dir / "src");
    const std::string tar = dir / "gnu.tar";
    gnu_tar("gnu", dir / "src", tar);
    zktest::write_file(dir / "show", "#!/bin/sh\necho \"root=$INSTALL_ROOT\"\n", 0755);
    pack({"--record", "2", bzip2(tar), "--record", "11", script("touch.sh", "touch \"$0.ran\"\n"), "--program",
          dir / "show"});
    const RunResult r = install({"-gz"});
    EXPECT_EQ(r.out, zktest::read_file(tar) + "root=" + root + "\n")
        << "the archive byte for byte, trailing blocks included; then only the program speaks, and sees the "
           "working directory as INSTALL_ROOT";
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(archive_test::tree_of(root), Tree{});
    EXPECT_EQ(archive_test::tree_of(temp), Tree{}) << "no script is written or run";
}

TEST_F(ArchiveRun, StreamOnlyFailsWhenTheOutputCannotBeWritten) {
    make_product(dir / "src");
    pack({"--record", "2", archive_of(gnu_tar, "gnu", dir / "src")});
    const RunResult r = install_through_shell("exec pkg -gz >/dev/full");
    EXPECT_EQ(r.status, 1) << "a lost archive is not a success";
}

TEST_F(ArchiveRun, ScriptSeesInstallRootAndEarlierEnvironment) {
    pack({"--env", "EARLY=1", "--record", "11", script("show.sh", "echo \"$INSTALL_ROOT|$EARLY|$LATE|$(pwd)\"\n"),
          "--env", "LATE=2"});
    const RunResult r = install();
    check(r, "EARLY=1\n" + extract_line + root + "|1||" + root + "\nLATE=2\n" + SUCCESS, 0);
    EXPECT_EQ(archive_test::tree_of(temp), Tree{}) << "the script is removed after its run";
}

// The answers, the shell's commands and the script's input all come through
// one pipe: the installer takes only the lines it asks for.
class ArchiveRunAfterWelcome : public ArchiveRun {
protected:
    void SetUp() override {
        ArchiveRun::SetUp();
        make_dir(chosen, 0755);
        zktest::write_file(dir / "welcome.txt", "Welcome.\n");
    }
    RunResult install_answering(const std::string& script_body, const std::string& more_input,
                                const std::vector<std::string>& args = {}) {
        pack({"--record", "1", dir / "welcome.txt", "--record", "11", script("script.sh", script_body)});
        RunOptions options;
        options.input = chosen + "\n" + more_input;
        return install(args, options);
    }
    const std::string chosen = dir / "chosen";
    const std::string prompt = "Welcome.\nDirectory where to install software [/usr/local/zelkor]: ";
};

TEST_F(ArchiveRunAfterWelcome, ScriptReadsTheLinesAfterTheAnswer) {
    const RunResult r = install_answering("read line\necho \"read $line in $INSTALL_ROOT\"\n", "for the script\n");
    check(r, prompt + extract_line + "read for the script in " + chosen + "\n" + SUCCESS, 0);
}

TEST_F(ArchiveRunAfterWelcome, DebugShellReadsTheLinesAfterTheAnswerBeforeTheScriptRuns) {
    const RunResult r = install_answering(
        "echo \"script ran in $INSTALL_ROOT\"\n",
        "f=$(echo \"$TEMP\"/zkinstall.*/zkinstall-temp.exe); echo \"shell sees $(stat -c %a \"$f\") $(tail -n 1 \"$f\")\"\n"
        "exit\n",
        {"-d"});
    EXPECT_EQ(r.out, prompt + extract_line + temp_file + " created...waiting\n" +
                         "shell sees 644 echo \"script ran in $INSTALL_ROOT\"\n"
                         "script ran in " +
                         chosen + "\n" + SUCCESS)
        << "the shell sees the script whole, made as fopen would make it, before it is run";
    EXPECT_EQ(r.status, 0);
}

struct BrokenScript {
    const char* what;
    std::string (*payload)(const std::string& compressed);
    bool runs_later;  // the script file is made and the shell cannot start it
};

void PrintTo(const BrokenScript& c, std::ostream* os) { *os << c.what; }

class ScriptNotRun : public ArchiveRun, public ::testing::WithParamInterface<BrokenScript> {};

TEST_P(ScriptNotRun, FailsTheInstallation) {
    const BrokenScript& c = GetParam();
    const std::string good = zktest::read_file(script("mark.sh", "touch " + zkpacktest::quoted(ran) + "\n"));
    zktest::write_file(dir / "broken", c.payload(good));
    pack({"--record", "11", dir / "broken", "--env", "LATER=1"});
    const RunResult r = install();
    // A script that could not be unpacked fails its record and the walk goes
    // on; one the shell could not start ends the installation.
    const std::string after = c.runs_later ? "Setup script failed with exit status 127\n" : "LATER=1\n";
    EXPECT_EQ(r.out, extract_line + after + FAILURE);
    EXPECT_EQ(r.status, 1);
    const std::string err = without_progress(r.err);
    EXPECT_EQ(err.substr(0, verified().size()), verified());
    EXPECT_EQ(err.size() > verified().size(), c.runs_later) << "only the shell says why it could not run: " << err;
    EXPECT_FALSE(zktest::exists(ran)) << "the script did not run";
    EXPECT_EQ(archive_test::tree_of(temp), Tree{}) << "nor is it left behind";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScriptNotRun,
    ::testing::Values(
        BrokenScript{"truncated", [](const std::string& s) { return s.substr(0, s.size() - 20); }, false},
        BrokenScript{"corrupt",
                     [](const std::string& s) {
                         // A bit of the block's stored CRC (after "BZh9" and the
                         // block magic): a flip in the middle could land on a code
                         // length no symbol uses and still decode to the script.
                         std::string bad = s;
                         bad[10] ^= 0x10;
                         return bad;
                     },
                     false},
        BrokenScript{"empty", [](const std::string&) { return std::string(); }, false},
        BrokenScript{"not startable",
                     [](const std::string&) { return archive_test::bzip2_compress("#!/nonexistent/shell\n"); }, true}));

TEST_F(ArchiveRun, ScriptFileIsNotWrittenThroughAPlantedLink) {
    zktest::write_file(dir / "victim", "precious\n", 0644);
    ASSERT_EQ(::symlink((dir / "victim").c_str(), (temp + "/zkinstall-temp.exe").c_str()), 0);
    pack({"--record", "11", script("hello.sh", "echo hello\n")});
    const RunResult r = install();
    check(r, extract_line + "hello\n" + SUCCESS, 0);
    EXPECT_EQ(zktest::read_file(dir / "victim"), "precious\n");
    EXPECT_EQ(zktest::mode_of(dir / "victim"), 0644u);
}

TEST_F(ArchiveRun, UnsafeNamesWriteNothingOutside) {
    const std::string absolute = dir / "absolute";
    // A component longer than any file system takes is refused before any
    // directory of its name is made.
    const std::string too_long = "made/" + std::string(256, 'c') + "/f";
    const std::string tar = archive_test::tar_archive({{"../escaped", "up"},
                                                       {absolute, "abs"},
                                                       {"../escaped-dir/", "", '5'},
                                                       {"././@LongLink", too_long + '\0', 'L'},
                                                       {"cut", "long"},
                                                       {"kept", "k"}});
    pack({"--record", "2", compressed_file("unsafe.tar", tar)});
    const RunResult r = install();
    check(r,
          "\nExtracting ../escaped .. 2 bytes\nUnsafe path skipped: ../escaped\n"
          "Extracting " +
              absolute + " .. 3 bytes\nUnsafe path skipped: " + absolute +
              "\n"
              "Extracting ../escaped-dir/ .. 0 bytes\nUnsafe path skipped: ../escaped-dir/\n"
              "Extracting " +
              too_long + " .. 4 bytes\nUnsafe path skipped: " + too_long +
              "\n"
              "Extracting kept .. 1 bytes\n" +
              END_LINE + FAILURE,
          1);
    EXPECT_FALSE(zktest::exists(dir / "escaped"));
    EXPECT_FALSE(zktest::exists(absolute));
    EXPECT_FALSE(zktest::exists(dir / "escaped-dir"));
    EXPECT_EQ(archive_test::tree_of(root), (Tree{{"kept", "file 0644 k"}}));
}

TEST_F(ArchiveRun, DamagedArchiveFailsTheInstallation) {
    make_product(dir / "src");
    const std::string good = zktest::read_file(archive_of(gnu_tar, "ustar", dir / "src"));
    zktest::write_file(dir / "cut.tar.bz2", good.substr(0, good.size() / 2));
    pack({"--record", "2", dir / "cut.tar.bz2", "--env", "LATER=1"});
    const RunResult r = install();
    EXPECT_EQ(r.out.substr(r.out.size() - 8 - std::string(FAILURE).size()), "LATER=1\n" + std::string(FAILURE));
    EXPECT_EQ(r.status, 1);
}

TEST_F(ArchiveRun, FileSizeLimitMakesExtractionFail) {
    const std::string tar = archive_test::tar_archive({{"big", archive_test::noise(100000)}, {"small", "s"}});
    pack({"--record", "2", compressed_file("big.tar", tar)});
    // 64 blocks of 512 bytes; SIGXFSZ ignored, so writes fail instead.
    const RunResult r = install_through_shell("ulimit -S -f 64; trap '' XFSZ; exec pkg");
    check(r, "\nExtracting big .. 100000 bytes\nError writing file big\n" + std::string(FAILURE), 1);
    EXPECT_FALSE(zktest::exists(root + "/big")) << "a file that could not be written whole is removed";
    EXPECT_FALSE(zktest::exists(root + "/small")) << "the first failed write ends the archive";
}

TEST_F(ArchiveRun, FileSizeLimitKeepsACutShortScriptFromRunning) {
    pack({"--record", "11",
          script("long.sh", "touch " + zkpacktest::quoted(ran) + "\n# " + std::string(100000, 'x') + "\n")});
    const RunResult r = install_through_shell("ulimit -S -f 64; trap '' XFSZ; exec pkg");
    EXPECT_EQ(r.out, extract_line + FAILURE);
    EXPECT_NE(r.err.find("zkinstall: error writing to output stream\n"), std::string::npos);
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(zktest::exists(ran));
}

// Parallel compressors write one bzip2 stream per block, back to back.
TEST_F(ArchiveRun, MultiStreamPayloadsInstallWhole) {
    make_product(dir / "src");
    zktest::write_file(dir / "src/data/large", archive_test::noise(450000), 0644);
    const std::string tar = dir / "gnu.tar";
    gnu_tar("gnu", dir / "src", tar);
    for (const std::string command : {"pbzip2 -b1 -c", "lbzip2 -1 -c"}) {
        SCOPED_TRACE(command);
        const RunResult compressed = zktest::run("/bin/sh", {"-c", command + " " + tar + " > " + tar + ".bz2"});
        ASSERT_EQ(compressed.status, 0) << compressed.err;
        pack({"--record", "2", tar + ".bz2"});
        const RunResult r = install();
        EXPECT_EQ(r.status, 0) << r.out;
        Tree expected = installed_product(dir / "src");
        EXPECT_EQ(archive_test::tree_of(root), expected);
    }
    // Bytes after the last stream that are not another stream.
    zktest::write_file(tar + ".bz2", zktest::read_file(tar + ".bz2") + "junk");
    pack({"--record", "2", tar + ".bz2"});
    const RunResult r = install();
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.substr(r.out.size() - std::string(FAILURE).size()), FAILURE);
}

// One row per compression the installer reads: its command-line tool's
// output in one stream and in two back to back, and zkpack's own.
struct Compression {
    const char* name;     // as --compress and --list name it
    const char* command;  // compresses standard input to standard output
};

void PrintTo(const Compression& c, std::ostream* os) { *os << c.name; }

class Compressed : public ArchiveRun, public ::testing::WithParamInterface<Compression> {
protected:
    std::string compress(const std::string& bytes) {
        zktest::write_file(dir / "plain", bytes);
        const RunResult r = zktest::run("/bin/sh", {"-c", std::string(GetParam().command) + " < " + dir / "plain"});
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }

    // Installs the package with `threads` decoding into a new directory.
    RunResult install_into(const std::string& target, const char* threads) {
        RunOptions options;
        options.env.emplace("ZKINSTALL_THREADS", threads);
        return install({"--target", target}, options);
    }
};

TEST_P(Compressed, InstallsWhatTarExtractsAndFailsOnDamage) {
    const Compression& c = GetParam();
    make_linked_product(dir / "src", true);
    zktest::write_file(dir / "src/large", archive_test::noise(450000), 0644);
    const std::string tar = dir / "gnu.tar";
    gnu_tar("gnu", dir / "src", tar);
    const std::string archive = zktest::read_file(tar);
    // Cut inside an entry's data: each stream alone is no whole archive.
    const std::string streams = compress(archive.substr(0, 100000)) + compress(archive.substr(100000));
    const std::string single = compress(archive);
    make_dir(dir / "expected", 0755);
    ASSERT_EQ(zktest::run("/usr/bin/tar", {"-C", dir / "expected", "-xf", tar}).status, 0);
    const Tree expected = archive_test::tree_of(dir / "expected");

    for (const std::string& payload : {single, streams}) {
        zktest::write_file(dir / "payload", payload);
        pack({"--record", "2", dir / "payload", "--record", "11",
              compressed_file("mark.sh", "#!/bin/sh\ntouch " + zkpacktest::quoted(ran) + "\n")});
        const RunResult one = install_into(dir / "one", "1");
        const RunResult two = install_into(dir / "two", "2");
        EXPECT_EQ(one.status, 0) << one.out << one.err;
        EXPECT_EQ(one.out, two.out) << "the same output whatever the thread count";
        EXPECT_TRUE(archive_test::tree_of(dir / "one") == expected);
        EXPECT_TRUE(archive_test::tree_of(dir / "two") == expected);
        EXPECT_TRUE(zktest::exists(ran)) << "the script ran";
        EXPECT_TRUE(install({"-gz"}).out == archive);
        const std::string listed = install({"--list"}).out;
        EXPECT_EQ(listed.rfind("archive record, " + std::to_string(payload.size()) + " bytes, " + c.name + "\n", 0), 0u)
            << listed;
    }

    std::string corrupt = single;
    corrupt[corrupt.size() / 2] ^= 0x10;
    for (const std::string& payload : {single.substr(0, single.size() - 30), corrupt, single + "junk"}) {
        zktest::write_file(dir / "payload", payload);
        pack({"--record", "2", dir / "payload"});
        for (const char* threads : {"1", "2"}) {
            const RunResult r = install_into(dir / "damaged", threads);
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.out.substr(r.out.size() - std::string(FAILURE).size()), FAILURE);
            EXPECT_EQ(install({"--check"}).status, 1);
        }
    }

    // zkpack's own, the same whatever -j.
    for (const char* jobs : {"-j1", "-j2"}) {
        const std::string out = dir / jobs;
        ASSERT_EQ(zktest::run(zktest::zkpack_path(), {"create", "-q", jobs, "--compress", c.name, "-o", out, "--tree",
                                                      dir / "src"})
                      .status,
                  0);
    }
    EXPECT_TRUE(zktest::read_file(dir / "-j1") == zktest::read_file(dir / "-j2"));
    const RunResult r = run_in_root(dir / "-j2", {"--target", dir / "packed"}, {});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(archive_test::tree_of(dir / "packed") == expected);
}

INSTANTIATE_TEST_SUITE_P(Tools, Compressed,
                         ::testing::Values(Compression{"bzip2", "bzip2 -c"}, Compression{"zstd", "zstd -q -c"},
                                           Compression{"xz", "xz -c -T2 --block-size=64KiB"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A stream asking for more memory than the installer gives is refused
// before it is decoded, naming the limit.
TEST_F(ArchiveRun, StreamsOverTheMemoryLimitAreRefused) {
    const std::string tar = archive_test::tar_archive({{"file", "data"}});
    zktest::write_file(dir / "t.tar", tar);
    const std::string quoted = zkpacktest::quoted(dir / "t.tar");
    const std::string makers[] = {
        "zstd -q --long=28 -c < " + quoted,
        "python3 -c \"import lzma, sys; sys.stdout.buffer.write(lzma.compress(sys.stdin.buffer.read(), "
        "filters=[{'id': lzma.FILTER_LZMA2, 'dict_size': 512 << 20, 'mf': lzma.MF_HC3}]))\" < " + quoted,
    };
    for (const std::string& maker : makers) {
        SCOPED_TRACE(maker);
        ASSERT_EQ(zktest::run("/bin/sh", {"-c", maker + " > " + zkpacktest::quoted(dir / "over")}).status, 0);
        pack({"--record", "2", dir / "over"});
        const RunResult r = install();
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("Compressed data needs more than 256 MB of memory to decode\n"), std::string::npos)
            << r.err;
        EXPECT_FALSE(zktest::exists(root + "/file"));
        const RunResult packed = zktest::run(zktest::zkpack_path(), {"create", "-o", dir / "refused", "--archive",
                                                                    dir / "over"});
        EXPECT_EQ(packed.status, 1);
        EXPECT_NE(packed.err.find("needs more than 256 MB of memory to decode; the installer would refuse it"),
                  std::string::npos)
            << packed.err;
    }
}

// Runs a program in the background; the destructor ends it if still running.
class Background {
public:
    explicit Background(const std::vector<std::string>& argv) {
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        if (::posix_spawn(&pid_, args[0], nullptr, nullptr, args.data(), environ) != 0) pid_ = -1;
    }
    ~Background() {
        if (pid_ > 0 && !waited_) {
            ::kill(pid_, SIGKILL);
            wait();
        }
    }
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;
    bool alive() const { return pid_ > 0 && !waited_ && ::waitpid(pid_, nullptr, WNOHANG) == 0; }
    int wait() {
        int status = -1;
        ::waitpid(pid_, &status, 0);
        waited_ = true;
        return status;
    }

private:
    pid_t pid_ = -1;
    bool waited_ = false;
};

bool wait_for(const std::string& path) {
    for (int i = 0; i < 500 && !zktest::exists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return zktest::exists(path);
}

const char MAPPER[] = R"(
import mmap, os, sys, time
with open(sys.argv[1], 'rb') as f:
    m = mmap.mmap(f.fileno(), 0, prot=mmap.PROT_READ)
open(sys.argv[2], 'w').close()
while not os.path.exists(sys.argv[3]):
    time.sleep(0.01)
print(sum(m[i] for i in range(0, len(m), 4096)))
)";

// An upgrade replaces files instead of rewriting them: a running program and
// a library that a live process maps keep their old copies.
TEST_F(ArchiveRun, ReinstallOverARunningProgramAndAMappedLibrary) {
    const std::string sleep_copy = zktest::read_file("/bin/sleep");
    auto product = [&](const std::string& src, const std::string& program, const std::string& library) {
        make_dir(src, 0755);
        make_dir(src + "/bin", 0755);
        make_dir(src + "/lib", 0755);
        zktest::write_file(src + "/bin/prog", program, 0755);
        zktest::write_file(src + "/lib/libdata.so", library, 0644);
        gnu_tar("gnu", src, src + ".tar");
        return bzip2(src + ".tar");
    };
    pack({"--record", "2", product(dir / "old", sleep_copy, archive_test::noise(300000))});
    ASSERT_EQ(install().status, 0);
    Background program({root + "/bin/prog", "30"});
    Background mapper({"/usr/bin/python3", "-c", MAPPER, root + "/lib/libdata.so", dir / "mapped", dir / "go"});
    ASSERT_TRUE(wait_for(dir / "mapped"));

    const std::string new_program = sleep_copy + "new";
    pack({"--record", "2", product(dir / "new", new_program, std::string(1000, 'n'))});
    const RunResult r = install();
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(zktest::read_file(root + "/bin/prog"), new_program);
    EXPECT_EQ(zktest::read_file(root + "/lib/libdata.so"), std::string(1000, 'n'));
    EXPECT_TRUE(program.alive()) << "the running program was not disturbed";
    zktest::write_file(dir / "go", "");
    const int mapped = mapper.wait();
    EXPECT_TRUE(WIFEXITED(mapped) && WEXITSTATUS(mapped) == 0) << "the mapping still reads its whole file";
}

// Two installations into one directory at once: every file is whole, from
// one package or the other, and no temporary name is left behind.
TEST_F(ArchiveRun, ConcurrentInstallationsLeaveWholeFiles) {
    constexpr int FILES = 40;
    for (const char* which : {"a", "b"}) {
        const std::string src = dir / which;
        make_dir(src, 0755);
        for (int i = 0; i < FILES; ++i) {
            zktest::write_file(src + "/f" + std::to_string(i), std::string(20000 + i, which[0]), 0644);
        }
        gnu_tar("gnu", src, src + ".tar");
        pack({"--record", "2", bzip2(src + ".tar")});
        ASSERT_EQ(::rename(package.c_str(), (dir / (std::string("pkg-") + which)).c_str()), 0);
    }
    for (int round = 0; round < 3; ++round) {
        const RunResult r =
            install_through_shell("pkg-a > /dev/null & pkg-b > /dev/null; b=$?; wait $!; exit $(($? + b))");
        EXPECT_EQ(r.status, 0) << r.err;
        const Tree tree = archive_test::tree_of(root);
        EXPECT_EQ(tree.size(), static_cast<size_t>(FILES)) << "only the entries' names";
        for (int i = 0; i < FILES; ++i) {
            const std::string name = "f" + std::to_string(i);
            const auto found = tree.find(name);
            ASSERT_NE(found, tree.end()) << name;
            const bool whole = found->second == "file 0644 " + std::string(20000 + i, 'a') ||
                               found->second == "file 0644 " + std::string(20000 + i, 'b');
            EXPECT_TRUE(whole) << name;
        }
    }
}

}  // namespace
