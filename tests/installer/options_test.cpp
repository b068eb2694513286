// The long options run as a user or a configuration tool runs them: real
// packages from zkpack, no terminal, exact output, exit status and what was
// (or was not) written or run.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "package_util.h"
#include "support.h"

namespace {

using zktest::RunOptions;
using zktest::RunResult;

const char SUCCESS[] = "Installation successfully completed.\n";

std::string first_line(const std::string& text) { return text.substr(0, text.find('\n') + 1); }

class OptionRun : public ::testing::Test {
protected:
    void SetUp() override {
        for (const std::string& made : {temp, marks, work}) ::mkdir(made.c_str(), 0755);
        zktest::write_file(dir / "welcome.txt", "Welcome to the product.\n");
        zktest::write_file(dir / "program", "#!/bin/sh\ntouch \"$MARKS/program\"\npwd\n", 0755);
        zktest::write_file(dir / "script.sh", "touch \"$MARKS/script\"\necho \"root=$INSTALL_ROOT\"\n");
        ::mkdir((dir / "tree").c_str(), 0755);
        ::mkdir((dir / "tree/bin").c_str(), 0755);
        zktest::write_file(dir / "tree/bin/tool", "tool\n", 0755);
        zktest::write_file(dir / "tree/readme", "readme\n", 0644);
    }

    void pack(const std::vector<std::string>& records) {
        std::vector<std::string> args{"create", "-o", package};
        args.insert(args.end(), records.begin(), records.end());
        const RunResult made = zkpacktest::zkpack(args);
        ASSERT_EQ(made.status, 0) << made.err;
    }

    // Every kind of record: whatever a run carries out leaves a trace.
    void pack_everything() {
        pack({"--default-dir", offered, "--env", "A=1", "--welcome", dir / "welcome.txt", "--tree", dir / "tree",
              "--program", dir / "program", "--script", dir / "script.sh"});
    }

    // From the empty directory work, with the package found along PATH.
    RunResult run(const std::vector<std::string>& args, RunOptions options = {}) {
        options.env.emplace("PATH", dir.path() + ":/usr/bin:/bin");
        options.env.emplace("TEMP", temp);
        options.env.emplace("TMP", std::nullopt);
        options.env.emplace("MARKS", marks);
        options.env.emplace("ZKINSTALL_DEFAULT_DIR", std::nullopt);
        options.cwd = work;
        options.argv0 = "pkg";
        RunResult result = zktest::run(package, args, options);
        result.err = zktest::without_progress(result.err);
        return result;
    }

    static RunOptions replying(const std::string& input) {
        RunOptions options;
        options.input = input;
        return options;
    }

    void damage(void (*how)(std::string&)) {
        std::string bytes = zktest::read_file(package);
        how(bytes);
        zktest::write_file(package, bytes, 0755);
    }

    // Nothing ran, nothing was written where the run started or in TEMP.
    void expect_nothing_done() const {
        EXPECT_EQ(zkpacktest::directory_entries(marks), std::vector<std::string>{});
        EXPECT_EQ(zkpacktest::directory_entries(work), std::vector<std::string>{});
        EXPECT_EQ(zkpacktest::directory_entries(temp), std::vector<std::string>{});
        EXPECT_FALSE(zktest::exists(offered));
    }

    std::string banner() const {
        return "ZKINSTALL v1.007 Copyright (c) Zelkor Software\n\nVerifying package file: " + package +
               "\nThis may take a moment...\n\n";
    }

    zktest::TempDir dir;
    const std::string package = dir / "pkg";
    const std::string temp = dir / "tmp";
    const std::string marks = dir / "marks";
    const std::string work = dir / "work";
    const std::string offered = dir / "offered";  // --default-dir
};

// The package's header offset, and the offset of its record `index`.
size_t record_offset(const std::string& bytes, size_t index) {
    size_t at = bytes.find(zkpacktest::marker()) + zkpacktest::HEADER_SIZE;
    for (size_t i = 0; i < index; ++i) at += 5 + zkpacktest::load32(bytes, at);
    return at;
}

void reseal(std::string& bytes) { zkpacktest::seal(bytes, bytes.find(zkpacktest::marker())); }

std::string size_report(const std::string& bytes) {
    const size_t header = bytes.find(zkpacktest::marker());
    return "\n*** Error:\n    Package is corrupt - incorrect size detected.\n    File size should be: " +
           std::to_string(header + zkpacktest::load32(bytes, header + zkpacktest::LENGTH_FIELD)) +
           " bytes\n    Actual size        : " + std::to_string(bytes.size()) + " bytes\n";
}

std::string checksum_report(const std::string& bytes) {
    const size_t header = bytes.find(zkpacktest::marker());
    std::array<char, 64> crcs;
    std::snprintf(crcs.data(), crcs.size(), "%08x Calculated: %08x\n",
                  zkpacktest::load32(bytes, header + zkpacktest::CHECKSUM_FIELD),
                  zkpacktest::checksum_of(bytes, header));
    return "\n*** Error:\n    Package is corrupt - file has failed checksum.\n    Expected CRC: " +
           std::string(crcs.data());
}

TEST_F(OptionRun, HelpAndVersionNeedNoPackage) {
    // The bare installer carries no package and, without PATH, cannot even find itself.
    RunOptions options;
    options.env = {{"PATH", std::nullopt}};
    options.argv0 = "zkinstall";
    RunResult r = zktest::run(zktest::zkinstall_path(), {"--help"}, options);
    EXPECT_EQ(first_line(r.out),
              "Usage: zkinstall [--target DIR | -gz] [--yes] [--quiet] [-d] [--accept] [-- ARG...]\n");
    EXPECT_NE(r.out.find("  --extract DIR  unpack the archives into DIR and run nothing\n"), std::string::npos);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);

    r = zktest::run(zktest::zkinstall_path(), {"-d", "--version"}, options);
    EXPECT_EQ(r.out, "ZKINSTALL v1.007 Copyright (c) Zelkor Software\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
}

TEST_F(OptionRun, RefusedCommandLineDoesNothing) {
    pack_everything();
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{{"--force"},
                                                                                      {"--help=me"},
                                                                                      {"--list", "--target", dir / "t"},
                                                                                      {"--yes", "--target"},
                                                                                      {"-target", dir / "t", "-quiet"},
                                                                                      {"--yes", "-yes"},
                                                                                      {"-check"}}) {
        const RunResult r = run(args, replying("\n\n"));
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.substr(r.err.find('\n') + 1, 39), "Usage: pkg [--target DIR | -gz] [--yes]") << args[0];
        EXPECT_EQ(r.status, 2);
    }
    EXPECT_EQ(first_line(run({"--force"}).err), "Unknown option: --force\n");
    EXPECT_EQ(first_line(run({"-target", dir / "t", "-quiet"}).err),
              "Unknown option: -target (did you mean --target?)\n");
    expect_nothing_done();
    EXPECT_FALSE(zktest::exists(dir / "t"));
}

// However help is spelt, and wherever it stands, it is all the run does.
TEST_F(OptionRun, HelpInEverySpellingInstallsNothing) {
    pack_everything();
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"-h"}, {"-help"}, {"-?"}, {"word", "-h"}, {"--yes", "-?"}}) {
        const RunResult r = run(args, replying("\n\n"));
        EXPECT_EQ(first_line(r.out), "Usage: pkg [--target DIR | -gz] [--yes] [--quiet] [-d] [--accept] [-- ARG...]\n")
            << args[0];
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
    }
    expect_nothing_done();
}

// Each word after -- reaches every program and script as one argument,
// blanks, quotes and dashes and all; before it the options still count.
TEST_F(OptionRun, WordsAfterDoubleDashAreTheArgumentsOfProgramsAndScripts) {
    const std::string show = "printf '[%s]' \"$@\"; echo \" $#\"\n";
    zktest::write_file(dir / "show", "#!/bin/sh\n" + show, 0755);
    zktest::write_file(dir / "show.sh", show);
    pack({"--program", dir / "show", "--script", dir / "show.sh"});
    RunResult r = run({"--quiet", "--", "a b", "it's", "--target", "-d", "$HOME", ""});
    const std::string shown = "[a b][it's][--target][-d][$HOME][] 6\n";
    EXPECT_EQ(r.out, shown + shown + SUCCESS);
    EXPECT_EQ(r.status, 0);
    r = run({"--quiet", "--"});
    EXPECT_EQ(r.out, "[] 0\n[] 0\n" + std::string(SUCCESS));
}

// --info and --version read what the package says of itself and carry out
// nothing; the product's facts are not echoed when it installs.
TEST_F(OptionRun, InfoAndVersionSayWhatThePackageIs) {
    const std::string key = dir / "z.key", public_key = dir / "z.pub";
    ASSERT_EQ(zkpacktest::zkpack({"keygen", "-W", "-p", public_key, "-s", key}).status, 0);
    const std::string comment = zktest::read_file(public_key);
    const std::string key_id = comment.substr(comment.find("public key ") + 11, 16);
    pack({"--product", "Zelkor Tools", "--product-version", "2.4.1", "--default-dir", offered, "--welcome",
          dir / "welcome.txt", "--tree", dir / "tree", "--program", dir / "program", "--script", dir / "script.sh",
          "--sign", key});
    const std::string size = std::to_string(zktest::read_file(package).size());
    const std::string facts =
        "product: Zelkor Tools\nversion: 2.4.1\ninstaller version: 1.007\n"
        "architecture: x86_64\ncompression: bzip2\npackage size: " +
        size + "\n";
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--info"}, {"--info", "--quiet", "--pubkey", public_key}}) {
        const RunResult r = run(args, replying("y\n"));
        EXPECT_EQ(r.out, facts + "signed: yes\nkey id: " + key_id + "\ndefault directory: " + offered + "\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.status, 0);
    }
    RunResult r = run({"--version"});
    EXPECT_EQ(r.out, "Zelkor Tools 2.4.1\nZKINSTALL v1.007 Copyright (c) Zelkor Software\n");
    EXPECT_EQ(r.status, 0);
    expect_nothing_done();

    ::unlink((package + ".minisig").c_str());
    r = run({"--info"}, replying("y\n"));
    EXPECT_EQ(r.out, facts + "signed: no\nkey id: none\ndefault directory: " + offered + "\n");
    EXPECT_EQ(r.status, 0);
    expect_nothing_done();
    r = run({"--yes", "--quiet"});
    EXPECT_EQ(r.out, offered + "\nroot=" + offered + "\n" + SUCCESS);
    r = run({"--target", offered});
    EXPECT_EQ(r.out.find("ZKINSTALL_PRODUCT"), std::string::npos) << r.out;

    // Without the facts, --info says so and --version shows only the installer.
    pack({"--program", dir / "program"});
    r = run({"--info"});
    EXPECT_EQ(r.out,
              "product: none\nversion: none\ninstaller version: 1.007\narchitecture: x86_64\n"
              "compression: none\npackage size: " +
                  std::to_string(zktest::read_file(package).size()) +
                  "\nsigned: no\nkey id: none\ndefault directory: /usr/local/zelkor\n");
    EXPECT_EQ(run({"--version"}).out, "ZKINSTALL v1.007 Copyright (c) Zelkor Software\n");
}

// The license comes before everything; only a "y" answer or --accept goes on,
// and a refusal leaves nothing behind.
TEST_F(OptionRun, LicenseMustBeAccepted) {
    zktest::write_file(dir / "license.txt", "You may use this.\n");
    pack({"--license", dir / "license.txt", "--env", "A=1", "--program", dir / "program"});
    const std::string question = "You may use this.\n\nDo you accept the license [y/n] ? ";
    const std::string refused = "\nLicense not accepted. Installation aborted.\n";
    const std::string installed = "A=1\n" + work + "\n" + SUCCESS;
    const struct {
        std::vector<std::string> args;
        std::string input;
        std::string out;
        int status;
    } cases[] = {
        {{}, "y\n", question + installed, 0},
        {{}, "n\n", question + refused, 1},
        {{}, "", question + refused, 1},
        {{}, "\n", question + refused, 1},
        {{"--quiet"}, "yes\n", question + work + "\n" + SUCCESS, 0},
        {{"--accept"}, "n\n", "You may use this.\n" + installed, 0},
        {{"--accept", "--quiet"}, "n\n", work + "\n" + SUCCESS, 0},
        {{"--yes"}, "y\n", "You may use this.\nError: the license must be accepted with --accept\n", 1},
        {{"--yes", "--accept", "--quiet"}, "", work + "\n" + SUCCESS, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args) + " " + c.input);
        ::unlink((marks + "/program").c_str());
        const RunResult r = run(c.args, replying(c.input));
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(zktest::exists(marks + "/program"), c.status == 0);
        EXPECT_EQ(zkpacktest::directory_entries(temp), std::vector<std::string>{});
    }
    const RunResult listed = zkpacktest::zkpack({"list", package});
    EXPECT_NE(listed.out.find("   13 license              18  You may use this.\n"), std::string::npos) << listed.out;
}

TEST_F(OptionRun, TargetInstallsIntoMissingNestedDirectoryWithoutAsking) {
    const std::string target = dir / "a/b/c";
    pack({"--env", "A=1", "--program", dir / "program", "--script", dir / "script.sh"});
    RunResult r = run({"--quiet", "--target", target}, replying("elsewhere\nn\n"));
    EXPECT_EQ(r.out, target + "\nroot=" + target + "\n" + SUCCESS) << "no welcome text: it installs there all the same";
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(zkpacktest::directory_entries(marks), (std::vector<std::string>{"program", "script"}));

    pack({"--welcome", dir / "welcome.txt", "--tree", dir / "tree"});
    r = run({"--target=" + target}, replying("elsewhere\nn\n"));
    EXPECT_EQ(r.out.find("Welcome to the product.\n\nExtracting "), 0u) << r.out;
    EXPECT_EQ(r.out.find("Directory where"), std::string::npos);
    r = run({"--target=" + target, "--quiet"}, replying("elsewhere\nn\n"));
    EXPECT_EQ(r.out, SUCCESS) << "no welcome text, no Extracting lines";
    EXPECT_EQ(zktest::read_file(target + "/bin/tool"), "tool\n");
    EXPECT_EQ(zktest::mode_of(target + "/bin/tool"), 0755u);
    EXPECT_EQ(r.status, 0);
}

TEST_F(OptionRun, YesTakesTheDefaultsWithoutReadingInput) {
    // The package's own default, which the user's environment would replace.
    pack({"--default-dir", offered, "--welcome", dir / "welcome.txt", "--script", dir / "script.sh"});
    const std::string expected = "ZKINSTALL_DEFAULT_DIR=" + offered +
                                 "\nWelcome to the product.\n"
                                 "Directory where to install software [" +
                                 offered + "]: " + offered + "\n\nThe install directory [" + offered +
                                 "] does not exist.\nDo you wish to create it [y/n] ? y\n"
                                 "Extract script to " +
                                 temp + "/zkinstall.XXXXXX/zkinstall-temp.exe\nroot=" + offered + "\n" + SUCCESS;
    RunOptions closed = replying("");
    closed.in_child = [] { ::close(0); };
    for (const RunOptions& input : {replying("elsewhere\nn\n"), closed}) {
        ::rmdir(offered.c_str());
        const RunResult r = run({"--yes"}, input);
        EXPECT_EQ(r.out, expected);
        EXPECT_EQ(r.err, banner());
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(zktest::exists(marks + "/script"));
    }
    const RunResult quiet = run({"--yes", "--quiet"}, replying("elsewhere\nn\n"));
    EXPECT_EQ(quiet.out, "root=" + offered + "\n" + SUCCESS);
    EXPECT_EQ(quiet.err, "");

    // The vendor's directory on a fresh host: three levels below a missing one.
    const std::string deep = dir / "vendor/a/b/product";
    pack({"--default-dir", deep, "--welcome", dir / "welcome.txt", "--script", dir / "script.sh"});
    const RunResult fresh = run({"--yes", "--quiet"});
    EXPECT_EQ(fresh.out, "root=" + deep + "\n" + SUCCESS);
    EXPECT_EQ(fresh.status, 0);
    for (const std::string& made : {deep, dir / "vendor/a/b", dir / "vendor/a", dir / "vendor"}) {
        EXPECT_EQ(zktest::mode_of(made), 0755u) << made;
    }
}

TEST_F(OptionRun, DamagedPackageIsNeverInstalledUnattended) {
    pack_everything();
    damage([](std::string& b) { b.resize(b.size() - 10); });
    const std::string report = size_report(zktest::read_file(package));
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--yes"}, {"--target", dir / "t"}, {"--extract", "x", "--yes"}}) {
        const RunResult r = run(args, replying("\n\n"));
        EXPECT_EQ(r.out, report) << "a bare Enter would go on, were it read";
        EXPECT_EQ(r.err, banner());
        EXPECT_EQ(r.status, 1);
    }
    expect_nothing_done();
    EXPECT_FALSE(zktest::exists(dir / "t"));
}

TEST_F(OptionRun, UsersDefaultDirectoryIsOfferedAtThePrompt) {
    pack({"--welcome", dir / "welcome.txt", "--script", dir / "script.sh"});
    RunOptions options = replying("\ny\n");
    options.env.emplace("ZKINSTALL_DEFAULT_DIR", dir / "mine");
    const RunResult r = run({"--quiet"}, options);
    EXPECT_EQ(r.out, "Directory where to install software [" + dir / "mine" + "]: \nThe install directory [" +
                         dir / "mine" + "] does not exist.\nDo you wish to create it [y/n] ? root=" + dir / "mine" +
                         "\n" + SUCCESS);
    EXPECT_EQ(r.status, 0);
}

TEST_F(OptionRun, ExtractUnpacksArchivesAndRunsNothing) {
    pack_everything();
    EXPECT_EQ(run({"--extract", "out/here", "--quiet"}).out, "Extraction successfully completed.\n");
    const RunResult r = run({"--extract", "out/here"});
    EXPECT_EQ(r.out.find("A=1"), std::string::npos) << "environment records are not applied";
    EXPECT_EQ(r.out.find("Welcome"), std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1), "Extraction successfully completed.\n");
    EXPECT_EQ(r.err, banner());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(zktest::read_file(work + "/out/here/readme"), "readme\n");
    EXPECT_EQ(zktest::read_file(work + "/out/here/bin/tool"), "tool\n");
    EXPECT_EQ(zkpacktest::directory_entries(marks), std::vector<std::string>{}) << "no program or script ran";
    EXPECT_EQ(zkpacktest::directory_entries(temp), std::vector<std::string>{});
    EXPECT_FALSE(zktest::exists(offered));
}

TEST_F(OptionRun, ListShowsEveryRecordAndCarriesOutNothing) {
    pack_everything();
    const std::vector<zkpacktest::Record> records = zkpacktest::records_of(zktest::read_file(package));
    ASSERT_EQ(records.size(), 6u);
    const auto length = [&](size_t index) { return std::to_string(records[index].payload.size()) + " bytes"; };
    const RunResult r = run({"--list"}, replying("\n"));
    EXPECT_EQ(r.out, "environment record, " + length(0) + ": ZKINSTALL_DEFAULT_DIR=" + offered +
                         "\nenvironment record, 4 bytes: A=1\n"
                         "welcome record, 24 bytes\n"
                         "archive record, " +
                         length(3) +
                         ", bzip2\n  drwxr-xr-x          0 bin/\n"
                         "  -rwxr-xr-x          5 bin/tool\n"
                         "  -rw-r--r--          7 readme\n"
                         "program record, " +
                         length(4) + "\nscript record, " + length(5) + ", bzip2\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 0);
    expect_nothing_done();
}

// Type, mode, size, name and target as tar -tv shows them, for entries
// whose fields tar reads in its own way, and a sparse file's real name
// and size.
TEST_F(OptionRun, ListShowsEntriesAsTarDoes) {
    const char make[] = R"(
import io, tarfile
with tarfile.open('odd.tar', 'w', format=tarfile.GNU_FORMAT) as t:
    for name, kind, mode, link, data in (('d/', tarfile.DIRTYPE, 0o2775, '', b''),
                                         ('d/f', tarfile.REGTYPE, 0o4755, 'stray', b'abc'),
                                         ('d/c', tarfile.CONTTYPE, 0o644, '', b'xy'),
                                         ('s', tarfile.SYMTYPE, 0o777, 'd/f', b''),
                                         ('h', tarfile.LNKTYPE, 0o644, 'd/f', b''),
                                         ('t/', tarfile.DIRTYPE, 0o1777, '', b'')):
        info = tarfile.TarInfo(name)
        info.type, info.mode, info.linkname, info.size = kind, mode, link, len(data)
        t.addfile(info, io.BytesIO(data))
)";
    zktest::write_file(dir / "make.py", make);
    ASSERT_EQ(zkpacktest::shell("cd " + zkpacktest::quoted(dir.path()) +
                                " && python3 make.py && truncate -s 1M sp && echo end >> sp" +
                                " && tar --sparse --format=posix -rf odd.tar sp && bzip2 -k odd.tar")
                  .status,
              0);
    pack({"--record", "2", dir / "odd.tar.bz2"});
    const RunResult tar = zktest::run("/usr/bin/tar", {"-tvf", dir / "odd.tar"});
    ASSERT_EQ(tar.status, 0) << tar.err;
    // tar: "MODE OWNER SIZE DATE TIME NAME[ -> TARGET| link to TARGET]".
    std::string expected;
    std::istringstream lines(tar.out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string mode, owner, size, date, time;
        fields >> mode >> owner >> size >> date >> time;
        std::string rest;
        std::getline(fields, rest);
        char text[64];
        std::snprintf(text, sizeof text, "  %s %10s", mode.c_str(), size.c_str());
        expected += text + rest + "\n";
    }
    const RunResult r = run({"--list"});
    EXPECT_EQ(r.out.substr(r.out.find('\n') + 1), expected);
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(OptionRun, CheckAndListReadTheArchiveToItsEnd) {
    // Whole bzip2 data, but the tar stream in it stops inside a file's data.
    ASSERT_EQ(
        zkpacktest::shell("cd " + zkpacktest::quoted(dir / "tree") + " && tar -cf ../whole.tar readme && head -c 600 " +
                          "../whole.tar | bzip2 -c > ../cut.tar.bz2")
            .status,
        0);
    pack({"--env", "A=1", "--record", "2", dir / "cut.tar.bz2"});
    const std::string offset = std::to_string(record_offset(zktest::read_file(package), 1));
    RunResult r = run({"--check"});
    EXPECT_EQ(r.err.rfind("Archive damaged in the record at offset " + offset + ": ", 0), 0u) << r.err;
    EXPECT_EQ(r.status, 1);
    r = run({"--list"});
    EXPECT_EQ(r.out.rfind("environment record, 4 bytes: A=1\narchive record, ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("  -rw-r--r--          7 readme\n"), std::string::npos);
    EXPECT_EQ(r.status, 1);
    expect_nothing_done();
}

struct CheckCase {
    const char* what;
    void (*damage)(std::string&);
    std::string (*report)(const std::string& bytes);  // on standard output
    std::string reason;                               // on standard error; "@" is the archive record's offset
    size_t listed;                                    // lines --list shows as for the sound package
    int list_status;
};

void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.what; }

class CheckAndList : public OptionRun, public ::testing::WithParamInterface<CheckCase> {};

// --check and --list verify alike and never ask: a reply that would go on is not read.
TEST_P(CheckAndList, ReportTheFirstFaultWithoutAskingOrWriting) {
    const CheckCase& c = GetParam();
    pack_everything();
    const std::string sound = run({"--list"}).out;
    damage(c.damage);
    const std::string bytes = zktest::read_file(package);
    const std::string report = c.report != nullptr ? c.report(bytes) : "";
    std::string reason = c.reason;
    if (const size_t at = reason.find('@'); at != std::string::npos) {
        reason.replace(at, 1, std::to_string(record_offset(bytes, 3)));
    }
    const bool sound_now = report.empty() && reason.empty();

    RunResult r = run({"--check"}, replying("\n"));
    EXPECT_EQ(r.out, report);
    EXPECT_EQ(r.err, reason);
    EXPECT_EQ(r.status, sound_now ? 0 : 1);

    r = run({"--list"}, replying("\n"));
    size_t end = 0;
    for (size_t line = 0; line < c.listed; ++line) end = sound.find('\n', end) + 1;
    // A damaged archive may have shown some entries before the damage was found.
    EXPECT_EQ(r.out.substr(0, report.size() + end), report + sound.substr(0, end));
    if (c.list_status == 0) {
        EXPECT_EQ(r.out, sound);
    }
    EXPECT_EQ(r.err, c.list_status == 0 ? "" : reason);
    EXPECT_EQ(r.status, c.list_status);
    expect_nothing_done();
}

INSTANTIATE_TEST_SUITE_P(
    Packages, CheckAndList,
    ::testing::Values(CheckCase{"sound", [](std::string&) {}, nullptr, "", 9, 0},
                      CheckCase{"cut short", [](std::string& b) { b.resize(b.size() - 10); }, size_report, "", 0, 1},
                      CheckCase{"a byte changed", [](std::string& b) { b[b.size() - 3] ^= 0x20; }, checksum_report, "",
                                0, 1},
                      CheckCase{"archive data corrupt",
                                [](std::string& b) {
                                    b[record_offset(b, 3) + 5 + 40] ^= 0x55;
                                    reseal(b);
                                },
                                nullptr, "Compressed data corrupt or cut short in the record at offset @\n", 4, 1},
                      CheckCase{"last record runs past the end",
                                [](std::string& b) {
                                    b.resize(b.size() - 1);
                                    reseal(b);
                                },
                                nullptr, "Error extracting package -- premature EOF detected.\n", 8, 1},
                      CheckCase{"unknown kind",
                                [](std::string& b) {
                                    b += std::string("\0\0\0\1\3x", 6);
                                    reseal(b);
                                },
                                nullptr, "Unexpected error in package file\n", 9, 1}));

}  // namespace
