// The installers built for other processors install a package exactly as
// the native one does: aarch64 under qemu-user, i686 directly where the
// kernel runs 32-bit x86 programs and under qemu-user where it does not.
// The programs and scripts they start are the host's, run natively through
// the host's shell.
#include "package_checksum.h"
#include "package_util.h"
#include "support.h"
#include "tree_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <string>
#include <vector>

namespace {

using zktest::RunOptions;
using zktest::TempDir;
using zktest::write_file;

struct Architecture {
    const char* name;
    // Run explicitly, so the test does not depend on the kernel handing
    // foreign programs to qemu by itself.
    const char* emulator;
    bool kernel_may_run;  // an x86-64 kernel runs i686 programs, if built and booted so
};

constexpr Architecture ARCHITECTURES[] = {
    {"aarch64", "/usr/bin/qemu-aarch64-static", false},
    {"i686", "/usr/bin/qemu-i386-static", true},
};

const Architecture& architecture(const std::string& name) {
    for (const Architecture& a : ARCHITECTURES) {
        if (name == a.name) return a;
    }
    throw std::invalid_argument(name);
}

constexpr const char* COMPRESSIONS[] = {"bzip2", "zstd", "xz"};

// A package whose marker lies past 2 GiB: every offset in the file is then
// negative as a 32-bit off_t or long.
constexpr uint64_t BIG_MARKER_OFFSET = (uint64_t{2} << 30) + (uint64_t{1} << 20);

// The CRC-32 register's step over zero bytes is linear: a 32x32 matrix
// over GF(2), each column the image of one bit. Squaring it doubles the
// bytes, so a checksum moves past a hole of any size in 64 squarings, not a
// pass over gigabytes of zeros.
using Gf2Matrix = std::array<uint32_t, 32>;

uint32_t times(const Gf2Matrix& matrix, uint32_t vector) {
    uint32_t product = 0;
    for (size_t bit = 0; vector != 0; ++bit, vector >>= 1) {
        if (vector & 1) product ^= matrix[bit];
    }
    return product;
}

Gf2Matrix squared(const Gf2Matrix& matrix) {
    Gf2Matrix square;
    for (size_t bit = 0; bit < square.size(); ++bit) square[bit] = times(matrix, matrix[bit]);
    return square;
}

// The register's image after count zero bytes.
uint32_t after_zeros(uint32_t value, uint64_t count) {
    Gf2Matrix step;  // one zero bit, most significant first as bzip2's CRC
    for (size_t bit = 0; bit + 1 < step.size(); ++bit) step[bit] = uint32_t{1} << (bit + 1);
    step[31] = 0x04C11DB7;
    for (int bits = 1; bits < 8; bits *= 2) step = squared(step);
    for (; count != 0; count >>= 1, step = squared(step)) {
        if (count & 1) value = times(step, value);
    }
    return value;
}

// The package checksum of head, count zero bytes and then tail (which
// starts with the header): CRC(A B) = after_zeros(CRC(A), |B|) ^ CRC(B),
// and A's register goes on through the zeros.
uint32_t checksum_with_hole(std::string_view head, uint64_t count, std::string_view tail) {
    package_format::Checksum head_sum(head.size() + count), tail_sum(0);
    head_sum.add(reinterpret_cast<const unsigned char*>(head.data()), head.size());
    tail_sum.add(reinterpret_cast<const unsigned char*>(tail.data()), tail.size());
    const uint32_t through_hole = ~after_zeros(~head_sum.value(), count);
    return after_zeros(through_hole, tail.size()) ^ tail_sum.value();
}

struct Installation {
    zktest::RunResult result;
    std::string tree;
};

class CrossInstall : public ::testing::Test {
protected:
    void SetUp() override {
        ::mkdir(source.c_str(), 0755);
        zkpacktest::make_tree(source, zkpacktest::product_tree());
        ::mkdir((dir / "extra").c_str(), 0755);
        write_file(dir / "extra/notes.txt", "from an archive record of kind 10\n");  // 34 bytes
        write_file(dir / "license.txt", "You may use this.\n");
        write_file(dir / "welcome.txt", "Welcome to Zelkor\r\n");
        write_file(dir / "program.sh", "#!/bin/sh\necho \"program with ZELKOR=$ZELKOR\"\n", 0755);
        write_file(dir / "setup.sh",
                   "#!/bin/sh\necho \"script in $INSTALL_ROOT\"\ntest -x bin/tool && echo tool ready\n");
    }

    // The emulator that runs the installer for arch, or none; skip_reason
    // says why where this machine cannot run it.
    std::string runner(const std::string& arch) {
        const std::string program = zktest::installer_program_path(arch);
        if (!zktest::exists(program)) {
            skip_reason = "zkinstall-" + arch + " was not built";
            return {};
        }
        const Architecture& a = architecture(arch);
        if (a.kernel_may_run && zktest::run(program, {"--version"}).status == 0) return {};
        if (zktest::exists(a.emulator)) return a.emulator;
        skip_reason = "this kernel does not run zkinstall-" + arch + ", and there is no " + a.emulator;
        return {};
    }

    // Every record kind, the payloads compressed with compression.
    void pack(const std::string& arch, const std::string& compression) const {
        const std::string extra = dir / "extra.tar";
        zkpacktest::shell("tar -cf - -C " + zkpacktest::quoted(dir.path()) + " extra | " + compression + " -c > " +
                          zkpacktest::quoted(extra));
        const auto made = zkpacktest::zkpack({"create", "-o", package, "--arch", arch, "--compress", compression,
                                              "--license", dir / "license.txt", "--env", "ZELKOR=2.4", "--welcome",
                                              dir / "welcome.txt", "--tree", source, "--record", "10", extra,
                                              "--program", dir / "program.sh", "--script", dir / "setup.sh"});
        EXPECT_EQ(made.err, "");
        EXPECT_EQ(made.status, 0);
        const auto listed = zkpacktest::zkpack({"list", package});
        EXPECT_EQ(listed.out.substr(0, listed.out.find('\n')), "installer program: " + arch);
    }

    // Installs into the same place as any other run, so that every path in
    // the output is the same. The installer finds its file by its argv[0].
    Installation install(const std::string& emulator, const std::string& file) const {
        zkpacktest::shell("rm -rf " + zkpacktest::quoted(installed) + " " + zkpacktest::quoted(temp) + " && mkdir " +
                          zkpacktest::quoted(temp));
        RunOptions options;
        options.input = "y\n" + installed + "\ny\n";
        options.cwd = dir.path();
        options.argv0 = file;
        options.env = {{"PATH", dir.path() + ":/usr/bin:/bin"}, {"TEMP", temp}, {"TMP", std::nullopt}};
        const auto result =
            emulator.empty() ? zktest::run(file, {}, options) : zktest::run(emulator, {"-0", file, file}, options);
        return {{result.out, zktest::without_progress(result.err), result.status},
                zkpacktest::describe_tree(installed)};
    }

    // The package moved to BIG_MARKER_OFFSET at big, with a hole after the
    // installer program and the checksum made again.
    void move_past_2GiB(const std::string& big) const {
        const std::string bytes = zktest::read_file(package);
        const size_t marker = bytes.find(zkpacktest::marker());
        ASSERT_NE(marker, std::string::npos);
        std::string records = bytes.substr(marker);
        zkpacktest::store32(records, zkpacktest::CHECKSUM_FIELD, 0);
        zkpacktest::store32(records, zkpacktest::CHECKSUM_FIELD,
                            checksum_with_hole(std::string_view(bytes).substr(0, marker),
                                               BIG_MARKER_OFFSET - marker, records));

        const int fd = ::open(big.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0755);
        ASSERT_GE(fd, 0) << big;
        const bool written =
            ::pwrite(fd, bytes.data(), marker, 0) == static_cast<ssize_t>(marker) &&
            ::pwrite(fd, records.data(), records.size(), static_cast<off_t>(BIG_MARKER_OFFSET)) ==
                static_cast<ssize_t>(records.size());
        ::close(fd);
        ASSERT_TRUE(written) << "cannot write " << big;
    }

    TempDir dir;
    const std::string package = dir / "setup";
    const std::string temp = dir / "tmp";
    const std::string source = dir / "product";
    const std::string installed = dir / "installed";
    std::string skip_reason;
};

class CrossInstallEach : public CrossInstall, public ::testing::WithParamInterface<Architecture> {};

TEST_P(CrossInstallEach, EveryRecordKindAndCompressionAsNatively) {
    const std::string arch = GetParam().name;
    const std::string emulator = runner(arch);
    if (!skip_reason.empty()) GTEST_SKIP() << skip_reason;
    for (const char* compression : COMPRESSIONS) {
        SCOPED_TRACE(compression);
        pack(zktest::native_arch(), compression);
        const Installation native = install({}, package);
        EXPECT_EQ(native.result.status, 0);
        for (const std::string& line : std::vector<std::string>{
                 "You may use this.\n", "ZELKOR=2.4\n", "Welcome to Zelkor\r\n", "Extracting bin/tool .. 10 bytes\n",
                 "Extracting extra/notes.txt .. 34 bytes\n", "program with ZELKOR=2.4\n",
                 "script in " + installed + "\n", "tool ready\n", "Installation successfully completed.\n"}) {
            EXPECT_NE(native.result.out.find(line), std::string::npos) << line;
        }

        pack(arch, compression);
        const Installation cross = install(emulator, package);
        EXPECT_EQ(cross.result.out, native.result.out);
        EXPECT_EQ(cross.result.err, native.result.err);
        EXPECT_EQ(cross.result.status, native.result.status);
        EXPECT_EQ(cross.tree, native.tree);
        EXPECT_NE(native.tree, "");
    }
}

INSTANTIATE_TEST_SUITE_P(Architectures, CrossInstallEach, ::testing::ValuesIn(ARCHITECTURES),
                         [](const auto& info) { return std::string(info.param.name); });

// Where a 32-bit build is most likely to go wrong, files of 2 GiB and more.
// They are sparse, on a tmpfs where one can be mounted.
class LargeFiles : public CrossInstall {
protected:
    void SetUp() override {
        CrossInstall::SetUp();
        emulator = runner("i686");
        ::mkdir((dir / "big").c_str(), 0755);
        holes.emplace(dir / "big", 0, "size=64m");
    }

    std::string emulator;
    std::optional<zktest::Tmpfs> holes;
    const std::string big = dir / "big/setup";
};

// Every offset of its records above 2^31.
TEST_F(LargeFiles, I686InstallerTakesAPackagePast2GiB) {
    if (!skip_reason.empty()) GTEST_SKIP() << skip_reason;

    pack(zktest::native_arch(), "zstd");
    move_past_2GiB(big);
    const Installation native = install({}, big);
    EXPECT_EQ(native.result.status, 0);
    EXPECT_NE(native.result.out.find("Installation successfully completed.\n"), std::string::npos);

    pack("i686", "zstd");
    move_past_2GiB(big);
    const Installation cross = install(emulator, big);
    EXPECT_EQ(cross.result.out, native.result.out);
    EXPECT_EQ(cross.result.err, native.result.err);
    EXPECT_EQ(cross.result.status, native.result.status);
    EXPECT_EQ(cross.tree, native.tree);
}

// Four GiB more than its header says: equal to it modulo 2^32.
TEST_F(LargeFiles, I686InstallerRefusesAFileOf4GiBAndMore) {
    if (!skip_reason.empty()) GTEST_SKIP() << skip_reason;
    pack("i686", "zstd");
    const uint64_t size = zktest::read_file(package).size();
    const uint64_t grown = size + (uint64_t{1} << 32);
    zkpacktest::shell("cp " + zkpacktest::quoted(package) + " " + zkpacktest::quoted(big));
    ASSERT_EQ(::truncate(big.c_str(), static_cast<off_t>(grown)), 0);
    const Installation refused = install(emulator, big);
    ::truncate(big.c_str(), 0);
    EXPECT_EQ(refused.result.out, zkpacktest::wrong_size_report(size, grown));
    EXPECT_EQ(refused.result.status, 1);
}

}  // namespace
