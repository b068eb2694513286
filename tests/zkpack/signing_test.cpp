// Keys and signatures against the real minisign: what either tool makes,
// the other checks, and any change to the package, the signature or its
// trusted comment fails in both.
#include "package_util.h"
#include "support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

namespace {

using zkpacktest::zkpack;
using zktest::read_file;
using zktest::RunResult;
using zktest::TempDir;
using zktest::write_file;

const std::string MINISIGN = "/usr/bin/minisign";

RunResult minisign(const std::vector<std::string>& args, const std::string& input = "") {
    zktest::RunOptions options;
    options.input = input;
    return zktest::run(MINISIGN, args, options);
}

std::string key_line(const std::string& key_file) {
    const std::string content = read_file(key_file);
    const size_t start = content.find('\n') + 1;
    return content.substr(start, content.find('\n', start) - start);
}

class Signing : public ::testing::Test {
protected:
    void SetUp() override {
        const auto made = zkpack({"create", "-o", package, "--env", "PRODUCT=demo"});
        ASSERT_EQ(made.status, 0) << made.err;
    }

    RunResult verify_with_zkpack(const std::string& public_key) const {
        return zkpack({"verify", "--pubkey", public_key, package});
    }

    TempDir dir;
    const std::string package = dir / "setup";
    const std::string signature = package + ".minisig";
};

TEST_F(Signing, MinisignKeysAndSignaturesWorkInZkpack) {
    ASSERT_EQ(minisign({"-G", "-W", "-p", dir / "m.pub", "-s", dir / "m.key"}).status, 0);
    ASSERT_EQ(minisign({"-S", "-s", dir / "m.key", "-t", "release 1.7\tby us", "-m", package}).status, 0);

    auto verified = verify_with_zkpack(dir / "m.pub");
    EXPECT_EQ(verified.out, "Trusted comment: release 1.7\tby us\n");
    EXPECT_EQ(verified.err, "");
    EXPECT_EQ(verified.status, 0);
    verified = zkpack({"verify", "-P", key_line(dir / "m.pub"), package});
    EXPECT_EQ(verified.out, "Trusted comment: release 1.7\tby us\n");
    EXPECT_EQ(verified.status, 0);

    // zkpack signs with minisign's secret key; minisign checks the result.
    ASSERT_EQ(zkpack({"sign", "-s", dir / "m.key", "-t", "signed here", package}).status, 0);
    const auto checked = minisign({"-V", "-p", dir / "m.pub", "-m", package});
    EXPECT_NE(checked.out.find("Trusted comment: signed here\n"), std::string::npos) << checked.out;
    EXPECT_EQ(checked.status, 0);

    // A legacy signature covers the whole file, not its hash: refused, not
    // taken as a bad signature.
    ASSERT_EQ(minisign({"-S", "-l", "-s", dir / "m.key", "-m", package}).status, 0);
    const auto legacy = verify_with_zkpack(dir / "m.pub");
    EXPECT_EQ(legacy.err, "zkpack: " + signature +
                              ": legacy signature (not prehashed), which is not supported: sign again without "
                              "minisign's -l\n");
    EXPECT_EQ(legacy.status, 1);
}

TEST_F(Signing, ZkpackKeysAndSignaturesWorkInMinisign) {
    const auto made = zkpack({"keygen", "-W", "-p", dir / "z.pub", "-s", dir / "z.key"});
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(made.out, "Public key: " + key_line(dir / "z.pub") + "\n");
    EXPECT_EQ(zktest::mode_of(dir / "z.key"), 0600u);
    const auto again = zkpack({"keygen", "-W", "-p", dir / "other.pub", "-s", dir / "z.key"});
    EXPECT_EQ(again.err, "zkpack: " + (dir / "z.key") + ": cannot create: File exists\n");
    EXPECT_FALSE(zktest::exists(dir / "other.pub"));
    // The public key's name is taken, by a file or a dangling link: no secret key is left behind.
    ASSERT_EQ(::symlink("nowhere", (dir / "dangling.pub").c_str()), 0);
    for (const std::string taken : {"z.pub", "dangling.pub"}) {
        const auto refused = zkpack({"keygen", "-W", "-p", dir / taken, "-s", dir / "new.key"});
        EXPECT_EQ(refused.err, "zkpack: " + (dir / taken) + ": cannot create: File exists\n");
        EXPECT_EQ(refused.status, 1);
    }
    EXPECT_EQ(zkpacktest::directory_entries(dir.path()),
              (std::vector<std::string>{"dangling.pub", "setup", "z.key", "z.pub"}));

    ASSERT_EQ(zkpack({"create", "-o", package, "--sign", dir / "z.key", "--env", "A=1"}).status, 0);
    const auto checked = minisign({"-V", "-p", dir / "z.pub", "-m", package});
    EXPECT_NE(checked.out.find("Trusted comment: timestamp:"), std::string::npos) << checked.out;
    EXPECT_NE(checked.out.find("\tfile:setup\thashed\n"), std::string::npos) << checked.out;
    EXPECT_EQ(checked.status, 0);

    // minisign signs with zkpack's key; zkpack checks it.
    ASSERT_EQ(minisign({"-S", "-s", dir / "z.key", "-t", "from minisign", "-m", package}).status, 0);
    EXPECT_EQ(verify_with_zkpack(dir / "z.pub").out, "Trusted comment: from minisign\n");
}

// Each change is made to a fresh copy of the signed package and its signature.
struct Tampering {
    const char* what;
    bool in_signature;  // else in the package
    size_t (*offset)(const std::string& bytes);
    const char* zkpack_reason;
};

// A base64 character changed to another one still decodes, so the
// signature itself is what fails; in the comment, any change does.
char other_base64(char c) { return c == 'A' ? 'B' : 'A'; }

const Tampering TAMPERINGS[] = {
    {"first stub byte", false, [](const std::string&) { return size_t{0}; }, "checksum mismatch"},
    {"last payload byte", false, [](const std::string& b) { return b.size() - 1; }, "checksum mismatch"},
    {"signature line", true, [](const std::string& b) { return b.find('\n') + 20; }, "does not match the file"},
    {"trusted comment", true, [](const std::string& b) { return b.find("\ntrusted comment: ") + 18; },
     "the trusted comment does not match its signature"},
    {"comment's signature", true, [](const std::string& b) { return b.rfind('\n', b.size() - 2) + 10; },
     "the trusted comment does not match its signature"},
};

TEST_F(Signing, AnyChangeFailsInBothTools) {
    ASSERT_EQ(zkpack({"keygen", "-W", "-p", dir / "z.pub", "-s", dir / "z.key"}).status, 0);
    ASSERT_EQ(zkpack({"sign", "-s", dir / "z.key", "-t", "good", package}).status, 0);
    const std::string signed_package = read_file(package);
    const std::string good_signature = read_file(signature);

    for (const Tampering& tampering : TAMPERINGS) {
        std::string package_bytes = signed_package;
        std::string signature_bytes = good_signature;
        std::string& changed = tampering.in_signature ? signature_bytes : package_bytes;
        const size_t at = tampering.offset(changed);
        changed[at] = tampering.in_signature ? other_base64(changed[at]) : static_cast<char>(changed[at] ^ 0x01);
        write_file(package, package_bytes);
        write_file(signature, signature_bytes);
        const auto ours = verify_with_zkpack(dir / "z.pub");
        EXPECT_NE(ours.err.find(tampering.zkpack_reason), std::string::npos) << tampering.what << ": " << ours.err;
        EXPECT_EQ(ours.status, 1) << tampering.what;
        EXPECT_NE(minisign({"-V", "-p", dir / "z.pub", "-m", package}).status, 0) << tampering.what;
    }

    // Only the signature can tell a change whose checksum was recomputed.
    std::string resealed = signed_package;
    resealed[resealed.size() - 3] ^= 0x20;
    zkpacktest::reseal(resealed, resealed.rfind(zkpacktest::marker()));
    write_file(package, resealed);
    write_file(signature, good_signature);
    EXPECT_EQ(verify_with_zkpack(dir / "z.pub").err,
              "zkpack: " + signature + ": the signature does not match the file\n");

    write_file(package, signed_package);
    ASSERT_EQ(zkpack({"keygen", "-W", "-p", dir / "other.pub", "-s", dir / "other.key"}).status, 0);
    EXPECT_EQ(verify_with_zkpack(dir / "other.pub").err,
              "zkpack: " + signature + ": signed with another key (the key IDs differ)\n");
    ::unlink(signature.c_str());
    const auto missing = verify_with_zkpack(dir / "z.pub");
    EXPECT_EQ(missing.err, "zkpack: " + signature + ": cannot open: No such file or directory\n");
    EXPECT_EQ(missing.status, 1);
}

// scrypt as minisign sets it takes a gigabyte and seconds per key: few cases.
TEST_F(Signing, EncryptedKeysTakeOnlyTheirPassword) {
#ifdef ZKTEST_ASAN
    GTEST_SKIP() << "half a minute in libsodium's scrypt, which the sanitizers do not see into; the normal build runs it";
#endif
    write_file(dir / "password", "s3cret words\n");
    write_file(dir / "wrong", "s3cret word\n");
    ASSERT_EQ(zkpack({"keygen", "-p", dir / "z.pub", "-s", dir / "z.key", "--password-file", dir / "password"}).status,
              0);
    ASSERT_EQ(minisign({"-S", "-s", dir / "z.key", "-t", "typed", "-m", package}, "s3cret words\n").status, 0);
    EXPECT_EQ(verify_with_zkpack(dir / "z.pub").out, "Trusted comment: typed\n");

    ASSERT_EQ(minisign({"-G", "-p", dir / "m.pub", "-s", dir / "m.key"}, "pass\npass\n").status, 0);
    write_file(dir / "password", "pass");
    const auto wrong = zkpack({"sign", "-s", dir / "m.key", "--password-file", dir / "wrong", package});
    EXPECT_EQ(wrong.err, "zkpack: " + (dir / "m.key") + ": wrong password for this key\n");
    EXPECT_EQ(wrong.status, 1);
    zktest::RunOptions no_terminal;
    no_terminal.in_child = [] { ::setsid(); };
    const auto untyped = zktest::run(zktest::zkpack_path(), {"sign", "-s", dir / "m.key", package}, no_terminal);
    EXPECT_EQ(untyped.err, "zkpack: /dev/tty: no terminal to read the password from (give --password-file FILE)\n");
    ASSERT_EQ(zkpack({"sign", "-s", dir / "m.key", "-t", "ok", "--password-file", dir / "password", package}).status,
              0);
    EXPECT_EQ(minisign({"-V", "-p", dir / "m.pub", "-m", package}).status, 0);
}

}  // namespace
