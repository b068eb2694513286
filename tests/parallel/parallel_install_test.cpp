// Installations with one, two and eight decoding threads: the same tree,
// output and exit status, whatever shape the archive's bzip2 payload has,
// and no more time than on one thread for a payload of tiny streams.
#include "package_util.h"
#include "support.h"
#include "tree_util.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bzlib.h>
#include <gtest/gtest.h>

#include <zk/base/byteorder.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <bzip2_blocks.h>

#include "archive_record.h"
#include "installer_state.h"
#include "parallel_pump.h"

namespace {

using zkpacktest::quoted;
using zktest::TempDir;

std::string compress(const std::string& bytes, int level) {
    std::string compressed(bytes.size() + bytes.size() / 100 + 600, '\0');
    auto length = static_cast<unsigned>(compressed.size());
    EXPECT_EQ(BZ2_bzBuffToBuffCompress(compressed.data(), &length, const_cast<char*>(bytes.data()),
                                       static_cast<unsigned>(bytes.size()), level, 0, 0),
              BZ_OK);
    compressed.resize(length);
    return compressed;
}

// One stream whose first blocks hold a few hundred bytes each, as another
// compressor may cut them: too little output after a block to judge it by
// while all the blocks the pump holds wait behind it.
std::string small_blocks_first(const std::string& bytes) {
    bzip2_blocks::StreamJoiner joiner(1);
    for (size_t at = 0; at < bytes.size();) {
        const size_t piece = at < 12000 ? 300 : 90000;
        const std::string one = compress(bytes.substr(at, piece), 1);
        EXPECT_TRUE(joiner.add_block_stream(reinterpret_cast<const unsigned char*>(one.data()), one.size()));
        at += piece;
    }
    joiner.finish();
    std::vector<unsigned char> joined;
    joiner.take_output(joined);
    return std::string(joined.begin(), joined.end());
}

// The bytes cut into `count` streams of a few bytes each; pieces of the
// zeros repeat, and are compressed once.
std::string tiny_streams(const std::string& bytes, size_t count) {
    std::map<std::string, std::string> compressed;
    std::string payload;
    for (size_t i = 0; i < count; ++i) {
        const size_t from = bytes.size() * i / count;
        const std::string piece = bytes.substr(from, bytes.size() * (i + 1) / count - from);
        auto [known, fresh] = compressed.try_emplace(piece);
        if (fresh) known->second = compress(piece, 1);
        payload += known->second;
    }
    return payload;
}

// Text over a small alphabet: about half its size compressed, so at -1 the
// archive spans many blocks. A file of zeros makes one block that decodes
// to far more than a block's size.
void make_product(const std::string& root) {
    std::mt19937 random(11);
    ::mkdir(root.c_str(), 0755);
    ::mkdir((root + "/lib").c_str(), 0755);
    for (int i = 0; i < 60; ++i) {
        std::string text(9000 + 37 * i, ' ');
        for (auto& c : text) c = "abcdefghijklmnop\n"[random() % 17];
        zktest::write_file(root + "/lib/part" + std::to_string(i), text, i % 3 == 0 ? 0755 : 0644);
    }
    zktest::write_file(root + "/zeros", std::string(2000000, '\0'));
}

struct Outcome {
    std::string out;
    std::string err;
    int status;
    std::string tree;
};

class ParallelInstall : public ::testing::Test {
protected:
    void SetUp() override {
        make_product(dir / "product");
        const std::string pack = " && tar --format=ustar --mtime=@1700000000 -cf ../product.tar lib zeros";
        ASSERT_EQ(zkpacktest::shell("cd " + quoted(dir / "product") + pack).status, 0);
        tar = zktest::read_file(dir / "product.tar");
        ::mkdir((dir / "tmp").c_str(), 0755);
    }

    // No thread count means the installer's default.
    Outcome install(const std::string& package, const std::optional<std::string>& threads,
                    std::function<void()> in_child = {}) {
        const std::string target = dir / ("run" + std::to_string(++runs));
        ::mkdir(target.c_str(), 0755);
        zktest::RunOptions options;
        options.in_child = std::move(in_child);
        options.cwd = target;
        options.env = {{"TEMP", dir / "tmp"}, {"ZKINSTALL_THREADS", threads}};
        const auto result = zktest::run(package, {}, options);
        return {result.out, zktest::without_progress(result.err), result.status, zkpacktest::describe_tree(target)};
    }

    std::string package_of(const std::string& payload) {
        const std::string package = dir / "setup";
        const std::string stub = zktest::read_file(zktest::zkinstall_path());
        zktest::write_file(package, zkpacktest::build_package(stub, {{2, payload}}), 0755);
        return package;
    }

    // The shortest of three installations, in seconds.
    double fastest(const std::string& package, const std::optional<std::string>& threads) {
        double best = 1e9;
        for (int i = 0; i < 3; ++i) {
            const auto started = std::chrono::steady_clock::now();
            const Outcome installed = install(package, threads);
            const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
            EXPECT_TRUE(installed.status == 0 && installed.tree == zkpacktest::describe_tree(dir / "product"));
            best = std::min(best, took.count());
        }
        return best;
    }

    // The same installation on one, two and eight threads.
    Outcome same_on_all_thread_counts(const std::string& payload) {
        const std::string package = package_of(payload);
        const Outcome one = install(package, "1");
        for (const char* threads : {"2", "8"}) {
            SCOPED_TRACE(threads);
            const Outcome many = install(package, threads);
            EXPECT_EQ(many.out, one.out);
            EXPECT_EQ(many.err, one.err);
            EXPECT_EQ(many.status, one.status);
            EXPECT_TRUE(many.tree == one.tree) << "installed trees differ";
        }
        return one;
    }

    TempDir dir;
    std::string tar;
    int runs = 0;
};

TEST_F(ParallelInstall, SoundAndDamagedPayloadsGiveTheSameResultOnAnyThreadCount) {
    const std::string sound = compress(tar, 1);
    ASSERT_GT(sound.size(), 300000u) << "spans several blocks";
    const Outcome installed = same_on_all_thread_counts(sound);
    EXPECT_EQ(installed.status, 0) << installed.out;
    EXPECT_TRUE(installed.tree == zkpacktest::describe_tree(dir / "product")) << "installed tree is the product";

    std::string corrupt_block = sound;
    corrupt_block[sound.size() / 2] ^= 0x10;
    std::string corrupt_end = sound;
    corrupt_end[sound.size() - 3] ^= 0x01;  // inside the combined CRC
    const size_t half = tar.size() / 2 / 512 * 512;
    const std::string two_streams = compress(tar.substr(0, half), 1) + compress(tar.substr(half), 9);
    std::string second_corrupt = two_streams;
    second_corrupt[two_streams.size() - 1000] ^= 0x04;
    // The second block's map of used bytes cleared: the decoder fails at
    // that block's start, in the same call that ends the block before it.
    std::string broken_header = sound;
    const auto* bytes = reinterpret_cast<const unsigned char*>(sound.data());
    const auto first = bzip2_blocks::find_magic(bytes, 32, sound.size() * 8);
    const auto second = bzip2_blocks::find_magic(bytes, first.bit + 1, sound.size() * 8);
    ASSERT_EQ(second.kind, bzip2_blocks::MagicKind::block);
    constexpr uint64_t USED_MAP_OFFSET = 48 + 32 + 1 + 24;
    for (uint64_t bit = second.bit + USED_MAP_OFFSET; bit < second.bit + USED_MAP_OFFSET + 16; ++bit) {
        broken_header[bit / 8] = static_cast<char>(broken_header[bit / 8] & ~(0x80 >> (bit % 8)));
    }
    struct Case {
        const char* name;
        std::string payload;
    };
    const Case cases[] = {
        {"truncated", sound.substr(0, sound.size() * 3 / 5)},
        {"corrupt block", corrupt_block},
        {"block header broken", broken_header},
        {"corrupt combined CRC", corrupt_end},
        {"two streams", two_streams},
        {"two streams, the second corrupt", second_corrupt},
        {"two streams and garbage", two_streams + "BZh9"},
        {"trailing garbage", sound + std::string(100, 'G')},
        {"no bzip2 stream", "BZh9 but nothing more"},
        {"empty stream", compress("", 1)},
        {"small blocks first", small_blocks_first(tar)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        same_on_all_thread_counts(c.payload);
    }
}

// Handing each stream between threads costs dozens of times what decoding
// it does: such a payload goes to one thread early, whatever the count.
// Threads that cannot be started (here: no address space left for their
// stacks, for any or after the first few) leave the work to those that
// could, down to the installer's own.
TEST_F(ParallelInstall, ThreadsThatCannotStartLeaveTheWorkToTheOthers) {
#ifdef ZKTEST_ASAN
    GTEST_SKIP() << "the sanitizers' shadow memory needs more address space than the limit leaves";
#endif
    const std::string zstd_package = dir / "setup-zstd";
    ASSERT_EQ(zkpacktest::zkpack(
                  {"create", "-q", "-o", zstd_package, "--compress", "zstd:3", "--archive", dir / "product.tar"})
                  .status,
              0);
    for (const std::string& package : {package_of(compress(tar, 1)), zstd_package}) {
        const Outcome one = install(package, "1");
        for (const rlim_t stack_bytes : {rlim_t{4} << 30, rlim_t{300} << 20}) {
            SCOPED_TRACE(package + ", stacks of " + std::to_string(stack_bytes >> 20) + " MiB");
            const Outcome starved = install(package, "8", [stack_bytes] {
                const rlimit stack{stack_bytes, RLIM_INFINITY};
                const rlimit space{rlim_t{1} << 30, RLIM_INFINITY};
                ::setrlimit(RLIMIT_STACK, &stack);
                ::setrlimit(RLIMIT_AS, &space);
            });
            EXPECT_EQ(starved.out, one.out);
            EXPECT_EQ(starved.err, one.err);
            EXPECT_EQ(starved.status, 0);
            EXPECT_TRUE(starved.tree == zkpacktest::describe_tree(dir / "product")) << "installed tree is the product";
        }
    }
}

TEST_F(ParallelInstall, TinyStreamsTakeAtMostThreeTimesTheOneThreadTime) {
#ifdef ZKTEST_ASAN
    GTEST_SKIP() << "a bound on time: the sanitizers' cost per stream would decide it, not the pump";
#endif
    const std::string package = package_of(tiny_streams(tar, 50000));
    const double one = fastest(package, "1");
    // Slack for a loaded machine, far below the seconds that a hand-off per
    // stream takes.
    EXPECT_LE(fastest(package, std::nullopt), 3 * one + 0.25) << "default threads, one takes " << one << " s";
    EXPECT_LE(fastest(package, "8"), 3 * one + 0.25) << "eight threads, one takes " << one << " s";
}

// In-process, so the scanner can be made to cut a block where no magic is,
// as a chance magic inside compressed data would.
TEST_F(ParallelInstall, FalseBlockMagicGivesTheSequentialResult) {
    const std::string payload = compress(tar, 1);
    // The payload behind a record prefix, as in a package.
    zktest::write_file(dir / "payload", std::string(package_format::PREFIX_SIZE, 'P') + payload);
    const int fd = ::open((dir / "payload").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    package_format::DescriptorReader file(fd);
    const package_format::Record record{0, 0, static_cast<uint32_t>(payload.size()), package_format::KIND_ARCHIVE};
    const auto extract = [&](const std::string& target, int threads, uint64_t planted) {
        ::mkdir(target.c_str(), 0755);
        zktest::CwdGuard cwd;
        EXPECT_EQ(::chdir(target.c_str()), 0);
        zktest::EnvGuard setting("ZKINSTALL_THREADS", std::to_string(threads));
        planted_block_magic_bit = planted;
        std::fflush(stdout);
        const int saved = ::dup(1);
        const int log = ::open("../log", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(log, 1);
        package_format::PayloadReader reader(file, record);
        const int result = file_extract(reader) == RecordResult::done ? 0 : 1;
        std::fflush(stdout);
        ::dup2(saved, 1);
        ::close(saved);
        ::close(log);
        planted_block_magic_bit = UINT64_MAX;
        return Outcome{zktest::read_file(target + "/../log"), "", result, zkpacktest::describe_tree(target)};
    };
    const Outcome sequential = extract(dir / "one", 1, UINT64_MAX);
    EXPECT_EQ(sequential.status, 0);
    for (const uint64_t planted : {uint64_t{300000}, payload.size() * 8 / 2, payload.size() * 8 - 100}) {
        SCOPED_TRACE(planted);
        const Outcome parallel = extract(dir / ("planted" + std::to_string(planted)), 2, planted);
        EXPECT_EQ(parallel.out, sequential.out);
        EXPECT_EQ(parallel.status, sequential.status);
        EXPECT_TRUE(parallel.tree == sequential.tree);
    }
    ::close(fd);
}

}  // namespace
