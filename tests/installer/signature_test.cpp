// The installer with --pubkey: a package whose signature holds is installed
// as usual after its trusted comment is shown; any other ends the run with
// one message before a record runs or a prompt is shown.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "package_util.h"
#include "support.h"

namespace {

using zktest::read_file;
using zktest::RunOptions;
using zktest::RunResult;
using zktest::write_file;

const std::string MINISIGN = "/usr/bin/minisign";
const char SUCCESS[] = "Installation successfully completed.\n";

class SignedInstall : public ::testing::Test {
protected:
    void SetUp() override {
        write_file(dir / "setup.sh", "echo \"$PRODUCT\" > \"$RAN\"\n");
        ASSERT_EQ(zkpacktest::zkpack({"keygen", "-W", "-p", public_key, "-s", dir / "z.key"}).status, 0);
        const auto made = zkpacktest::zkpack(
            {"create", "-o", package, "--sign", dir / "z.key", "--env", "PRODUCT=demo", "--script", dir / "setup.sh"});
        ASSERT_EQ(made.status, 0) << made.err;
    }

    // Runs the package under its bare name, found along PATH; an Enter is
    // ready for any prompt, so a prompt would let the run go on. A run that
    // hangs is ended by SIGALRM, which fails the test.
    RunResult install(const std::vector<std::string>& args) const {
        RunOptions options;
        options.input = "\n";
        options.in_child = [] { ::alarm(10); };
        options.argv0 = "setup";
        options.env = {{"PATH", dir.path() + ":/usr/bin:/bin"}, {"TEMP", dir.path()}, {"RAN", ran}};
        RunResult result = zktest::run(package, args, options);
        result.err = zktest::without_progress(result.err);
        return result;
    }

    // Fails the run with the reason, having shown nothing on standard
    // output (where the prompts go) and run no record.
    void expect_refused(const std::vector<std::string>& args, const std::string& reason, const std::string& why) {
        const RunResult result = install(args);
        const std::string expected = "Signature check failed: " + reason + "\n";
        EXPECT_EQ(result.err.substr(result.err.size() - std::min(result.err.size(), expected.size())), expected)
            << why << ": " << result.err;
        EXPECT_EQ(result.out, "") << why;
        EXPECT_EQ(result.status, 1) << why;
        EXPECT_FALSE(zktest::exists(ran)) << why;
    }

    zktest::TempDir dir;
    const std::string package = dir / "setup";
    const std::string signature = package + ".minisig";
    const std::string public_key = dir / "z.pub";
    const std::string ran = dir / "ran";
};

TEST_F(SignedInstall, GoodSignatureShowsItsCommentAndInstalls) {
    const RunResult result = install({"--pubkey", public_key});
    EXPECT_NE(result.err.find("\nTrusted comment: timestamp:"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("\tfile:setup\thashed\n"), std::string::npos) << result.err;
    EXPECT_NE(result.out.find(SUCCESS), std::string::npos) << result.out;
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(read_file(ran), "demo\n");

    const RunResult checked = install({"--check", "--pubkey", public_key});
    EXPECT_EQ(checked.out + checked.err, "");
    EXPECT_EQ(checked.status, 0);
    EXPECT_EQ(install({"--signature", signature}).status, 2);
}

TEST_F(SignedInstall, MinisignKeysAndSignaturesAreTaken) {
    ASSERT_EQ(zktest::run(MINISIGN, {"-G", "-W", "-p", dir / "m.pub", "-s", dir / "m.key"}).status, 0);
    ASSERT_EQ(zktest::run(MINISIGN, {"-S", "-s", dir / "m.key", "-t", "from minisign", "-m", package}).status, 0);
    const std::string base64_key = read_file(dir / "m.pub").substr(read_file(dir / "m.pub").find('\n') + 1, 56);
    const RunResult result = install({"--pubkey", base64_key});
    EXPECT_NE(result.err.find("\nTrusted comment: from minisign\n"), std::string::npos) << result.err;
    EXPECT_EQ(result.status, 0);

    ASSERT_EQ(zktest::run(MINISIGN, {"-S", "-l", "-s", dir / "m.key", "-m", package}).status, 0);
    ::unlink(ran.c_str());
    expect_refused({"--pubkey", base64_key},
                   signature +
                       ": legacy signature (not prehashed), which is not supported: sign again without "
                       "minisign's -l",
                   "legacy");
}

TEST_F(SignedInstall, AnythingButTheRightSignatureRunsNothing) {
    const std::string signed_package = read_file(package);
    const std::string good_signature = read_file(signature);

    // The checksum made right again: only the signature can tell.
    std::string altered = signed_package;
    altered.replace(altered.find("PRODUCT=demo"), 12, "PRODUCT=evil");
    zkpacktest::reseal(altered, altered.find(zkpacktest::marker()));
    write_file(package, altered, 0755);
    expect_refused({"--pubkey", public_key}, signature + ": the signature does not match the file", "altered");
    expect_refused({"--check", "--pubkey", public_key}, signature + ": the signature does not match the file",
                   "checked");
    // Without --pubkey nothing is checked but the checksum, which holds.
    EXPECT_EQ(install({}).status, 0);
    EXPECT_EQ(read_file(ran), "evil\n");
    ::unlink(ran.c_str());

    // A damaged package is refused, not offered the checksum prompt.
    std::string damaged = signed_package;
    damaged[damaged.size() - 1] ^= 0x01;
    write_file(package, damaged, 0755);
    expect_refused({"--pubkey", public_key}, signature + ": the signature does not match the file", "damaged");

    write_file(package, signed_package, 0755);
    std::string comment_changed = good_signature;
    comment_changed.replace(comment_changed.find("\tfile:"), 1, " ");
    write_file(signature, comment_changed);
    expect_refused({"--pubkey", public_key}, signature + ": the trusted comment does not match its signature",
                   "comment");
    write_file(dir / "elsewhere.minisig", good_signature);
    EXPECT_EQ(install({"--pubkey", public_key, "--signature", dir / "elsewhere.minisig"}).status, 0);
    ::unlink(ran.c_str());

    ASSERT_EQ(zkpacktest::zkpack({"keygen", "-W", "-p", dir / "other.pub", "-s", dir / "other.key"}).status, 0);
    write_file(signature, good_signature);
    expect_refused({"--pubkey", dir / "other.pub"}, signature + ": signed with another key (the key IDs differ)",
                   "other key");
    write_file(signature, good_signature.substr(0, 60));
    expect_refused({"--pubkey", public_key}, signature + ": the signature line is not a signature", "cut short");
    ::unlink(signature.c_str());
    expect_refused({"--pubkey", public_key}, signature + ": cannot read: No such file or directory", "missing");
    expect_refused({"--pubkey", dir / "nothing.pub"},
                   dir / "nothing.pub" +
                       ": neither a public key nor a key file that can be read (cannot open: No such file or "
                       "directory)",
                   "no key");

    // No writer will come: opened and read, either would hold the run.
    ASSERT_EQ(::mkfifo(signature.c_str(), 0644), 0);
    expect_refused({"--pubkey", public_key}, signature + ": not a regular file", "FIFO signature");
    expect_refused({"--pubkey", signature},
                   signature + ": neither a public key nor a key file that can be read (not a regular file)",
                   "FIFO key");
}

TEST_F(SignedInstall, ControlsInTheCommentAndTheAssignmentAreEscaped) {
    const std::string shown = "\302\2332J\2330m caf\xc3\xa9";
    const std::string escaped = "\\302\\2332J\\2330m caf\xc3\xa9";
    const auto made = zkpacktest::zkpack({"create", "-o", package, "--env", "SHOWN=" + shown});
    ASSERT_EQ(made.status, 0) << made.err;
    ASSERT_EQ(zkpacktest::zkpack({"sign", "-s", dir / "z.key", "-t", "by\t" + shown, package}).status, 0);
    const RunResult result = install({"--pubkey", public_key});
    EXPECT_NE(result.err.find("\nTrusted comment: by\t" + escaped + "\n"), std::string::npos) << result.err;
    EXPECT_EQ(result.out.rfind("SHOWN=" + escaped + "\n", 0), 0u) << result.out;
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(install({"--list"}).out, "environment record, 20 bytes: SHOWN=" + escaped + "\n");
}

}  // namespace
