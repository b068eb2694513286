// The directory prompt and the creation question, answered through standard
// input; the chosen directory becomes the working directory of what follows.
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "welcome_fixture.h"

namespace welcometest {
namespace {

const char TEXT[] = "Hello.\n";
const char ABORTED[] = "\nInstallation aborted. Please try again.\n";

// "@" in a reply or a path stands for the test's directory.
std::string at(const zktest::TempDir& dir, std::string text) {
    for (size_t p; (p = text.find('@')) != std::string::npos;) text.replace(p, 1, dir.path());
    return text;
}

class UmaskGuard {
public:
    explicit UmaskGuard(mode_t mask) : old_(::umask(mask)) {}
    ~UmaskGuard() { ::umask(old_); }
    UmaskGuard(const UmaskGuard&) = delete;
    UmaskGuard& operator=(const UmaskGuard&) = delete;

private:
    mode_t old_;
};

struct CreateCase {
    const char* what;
    std::string input;
    std::string created;
};

void PrintTo(const CreateCase& c, std::ostream* os) { *os << c.what; }

class Created : public WelcomeRun, public ::testing::WithParamInterface<CreateCase> {};

TEST_P(Created, AndBecomesTheWorkingDirectory) {
    const std::string created = at(dir, GetParam().created);
    pack(TEXT, show_working_directory());
    // The installer's own mask 022 applies, whatever it inherits.
    const UmaskGuard mask(077);
    const zktest::RunResult r = install(at(dir, GetParam().input));
    EXPECT_EQ(r.out, TEXT + std::string(PROMPT) + missing(created) + created + "\n" + SUCCESS);
    EXPECT_EQ(r.err, verified());
    EXPECT_EQ(r.status, 0);
    struct stat status {};
    ASSERT_EQ(::lstat(created.c_str(), &status), 0) << created << " should have been created";
    EXPECT_TRUE(S_ISDIR(status.st_mode));
    EXPECT_EQ(status.st_mode & 07777, 0755u);
    for (std::string made = created; (made = made.substr(0, made.rfind('/'))) != dir.path();) {
        EXPECT_EQ(zktest::mode_of(made), 0755u) << made << ", a missing parent, is made as the directory is";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, Created,
    ::testing::Values(CreateCase{"y", "@/new\ny\n", "@/new"}, CreateCase{"Y", "@/new\nY\n", "@/new"},
                      CreateCase{"yes", "@/new\nyes\n", "@/new"},
                      CreateCase{"with its missing parents", "@/a/b/c/new\ny\n", "@/a/b/c/new"},
                      CreateCase{"end of input means yes", "@/new\n", "@/new"},
                      CreateCase{"trailing blanks are part of the name", "@/new  \ny\n", "@/new  "},
                      CreateCase{"relative to where the installer started", "new\ny\n", "@/new"},
                      CreateCase{"tilde", "~/new\ny\n", "@/new"}, CreateCase{"$HOME", "$HOME/new\ny\n", "@/new"},
                      CreateCase{"quoted", "'@/new'\ny\n", "@/new"},
                      CreateCase{"simplified", "@//old/../new/.\ny\n", "@/new"},
                      CreateCase{"a name simplification leaves relative is made absolute", "|new\ny\n", "@/|new"}));

// What follows the welcome text record works in the chosen directory: the
// archive lands there and a script is started there with it as INSTALL_ROOT.
class FollowingRecords : public WelcomeRun, public ::testing::WithParamInterface<CreateCase> {};

TEST_P(FollowingRecords, WorkInTheChosenDirectory) {
    const std::string chosen = at(dir, GetParam().created);
    ::mkdir((dir / "product").c_str(), 0755);
    zktest::write_file(dir / "product/notes", "notes\n");
    zktest::write_file(dir / "setup", "echo \"root $INSTALL_ROOT, in $(pwd), finds $(cat notes)\"\n");
    pack(TEXT, {"--tree", dir / "product", "--script", dir / "setup"});
    const zktest::RunResult r = install(at(dir, GetParam().input));
    const std::string extracted = "\nExtracting notes .. 6 bytes\nExtracting  .. 0 bytes\n";
    const std::string script_ran = "Extract script to " + temp + "/zkinstall.XXXXXX/zkinstall-temp.exe\n" + "root " +
                                   chosen + ", in " + chosen + ", finds notes\n";
    EXPECT_EQ(r.out, TEXT + std::string(PROMPT) + missing(chosen) + extracted + script_ran + SUCCESS);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(zktest::read_file(chosen + "/notes"), "notes\n");
}

INSTANTIATE_TEST_SUITE_P(Replies, FollowingRecords,
                         ::testing::Values(CreateCase{"relative", "new\n", "@/new"},
                                           CreateCase{"a name simplification leaves relative", "|new\n", "@/|new"}));

TEST_F(WelcomeRun, ExistingDirectoryIsUsedWithoutAsking) {
    ::mkdir((dir / "here").c_str(), 0700);
    pack(TEXT, show_working_directory());
    const zktest::RunResult r = install(dir / "here\n");
    EXPECT_EQ(r.out, TEXT + std::string(PROMPT) + dir / "here\n" + SUCCESS);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(zktest::mode_of(dir / "here"), 0700u) << "an existing directory is left as it is";
}

struct AbortCase {
    const char* what;
    std::string answer;
};

void PrintTo(const AbortCase& c, std::ostream* os) { *os << c.what; }

class Refused : public WelcomeRun, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(Refused, CreationAbortsTheInstallation) {
    pack(TEXT, show_working_directory());
    const zktest::RunResult r = install(dir / "new\n" + GetParam().answer);
    EXPECT_EQ(r.out, TEXT + std::string(PROMPT) + missing(dir / "new") + ABORTED);
    EXPECT_EQ(r.err, verified());
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(zktest::exists(dir / "new"));
}

INSTANTIATE_TEST_SUITE_P(Answers, Refused,
                         ::testing::Values(AbortCase{"n", "n\n"}, AbortCase{"empty line", "\n"},
                                           AbortCase{"blank before y", " y\n"}));

struct FailCase {
    const char* what;
    std::string input;
    std::string chosen;
    bool asked;
    std::string error;
    std::string reason;
};

void PrintTo(const FailCase& c, std::ostream* os) { *os << c.what; }

class Unusable : public WelcomeRun, public ::testing::WithParamInterface<FailCase> {};

TEST_P(Unusable, DirectoryEndsTheRun) {
    const FailCase& c = GetParam();
    zktest::write_file(dir / "file", "not a directory\n");
    pack(TEXT, show_working_directory());
    const std::string chosen = at(dir, c.chosen);
    const zktest::RunResult r = install(at(dir, c.input));
    EXPECT_EQ(r.out,
              TEXT + std::string(PROMPT) + (c.asked ? missing(chosen) : "") + c.error + "       " + chosen + "\n");
    EXPECT_EQ(r.err, verified() + "Create failed: " + c.reason + "\n");
    EXPECT_EQ(r.status, 1);
}

const char CANNOT_CREATE[] = "Error: Failed to create the install directory.\n";
const char CANNOT_SWITCH[] = "Error: Cannot switch to the install directory.\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, Unusable,
    ::testing::Values(FailCase{"parent is a file", "@/file/sub\ny\n", "@/file/sub", true, CANNOT_CREATE,
                               "Not a directory"},
                      FailCase{"regular file", "@/file\n", "@/file", false, CANNOT_SWITCH, "Not a directory"},
                      // Quotes around nothing leave no name at all: it cannot be created,
                      // and the run must not fall back on some other directory.
                      FailCase{"empty name", "\"\"\ny\n", "", true, CANNOT_CREATE, "No such file or directory"}));

TEST_F(WelcomeRun, RestOfAnOverlongReplyDoesNotAnswerTheQuestion) {
    // 1022 characters are kept; the rest of the line, all "y", is dropped.
    const std::string typed = dir / std::string(1500, 'y');
    const std::string kept = typed.substr(0, 1022);
    pack(TEXT, show_working_directory());
    const zktest::RunResult r = install(typed + "\nn\n");
    EXPECT_EQ(r.out, TEXT + std::string(PROMPT) + missing(kept) + ABORTED);
    EXPECT_EQ(r.status, 1);
}

TEST_F(WelcomeRun, SecondRecordAsksAgainFromTheChosenDirectory) {
    std::vector<std::string> records{"--welcome", dir / "welcome.txt"};
    const std::vector<std::string> where = show_working_directory();
    records.insert(records.end(), where.begin(), where.end());
    pack(TEXT, records);
    const zktest::RunResult r = install("first\ny\nsecond\ny\n");
    const std::string first = dir / "first";
    const std::string second = first + "/second";
    EXPECT_EQ(r.out,
              TEXT + std::string(PROMPT) + missing(first) + TEXT + PROMPT + missing(second) + second + "\n" + SUCCESS);
    EXPECT_EQ(r.status, 0);
}

TEST_F(WelcomeRun, StreamModeShowsNothingAndAsksNothing) {
    zktest::write_file(dir / "input", "#!/bin/sh\ncat\npwd\n", 0755);
    pack(TEXT, {"--program", dir / "input"});
    const zktest::RunResult r = install("typed\n", {"-gz"});
    EXPECT_EQ(r.out, "typed\n" + dir.path() + "\n") << "standard input is left to the program; no directory change";
    EXPECT_EQ(r.err, verified());
    EXPECT_EQ(r.status, 0);
}

// The default directory is created only inside a private mount namespace
// whose /usr/local is an empty tmpfs: the real /usr/local is never touched.
class DefaultDirectory : public WelcomeRun {
protected:
    zktest::RunResult install_with_private_usr_local(const std::string& input) {
        zktest::RunOptions options = run_options(input);
        options.argv0.clear();
        return without_progress(zktest::run(UNSHARE,
                                            {"--mount", "--propagation", "private", "/bin/sh", "-c",
                                             "mount -t tmpfs tmpfs /usr/local || exit 97; exec \"$0\"", package},
                                            options));
    }

    void SetUp() override {
        WelcomeRun::SetUp();
        const zktest::RunResult probe =
            zktest::run(UNSHARE, {"--mount", "--propagation", "private", "/bin/sh", "-c",
                                  "mount -t tmpfs tmpfs /usr/local && test ! -e /usr/local/zelkor"});
        if (probe.status != 0) GTEST_SKIP() << "no private mount namespace here: " << probe.err;
        pack(TEXT, show_working_directory());
    }

    static constexpr const char* UNSHARE = "/usr/bin/unshare";
};

TEST_F(DefaultDirectory, TakenOnAnEmptyLine) {
    const zktest::RunResult r = install_with_private_usr_local("\ny\n");
    EXPECT_EQ(r.out, TEXT + std::string(PROMPT) + missing("/usr/local/zelkor") + "/usr/local/zelkor\n" + SUCCESS);
    EXPECT_EQ(r.err, verified());
    EXPECT_EQ(r.status, 0);
}

TEST_F(DefaultDirectory, TakenAndCreatedAtEndOfInput) {
    const zktest::RunResult r = install_with_private_usr_local("");
    EXPECT_EQ(r.out, TEXT + std::string(PROMPT) + missing("/usr/local/zelkor") + "/usr/local/zelkor\n" + SUCCESS);
    EXPECT_EQ(r.err, verified());
    EXPECT_EQ(r.status, 0);
}

TEST_F(DefaultDirectory, RefusedOnAnEmptyLine) {
    const zktest::RunResult r = install_with_private_usr_local("\n\n");
    EXPECT_EQ(r.out, TEXT + std::string(PROMPT) + missing("/usr/local/zelkor") + ABORTED);
    EXPECT_EQ(r.status, 1);
}

}  // namespace
}  // namespace welcometest
