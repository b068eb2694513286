// The archive writer driven directly: tar streams cut into deliveries of any
// size, unpacked into a scratch directory, the tree and the report compared.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "archive_record.h"
#include "archive_support.h"
#include "support.h"

namespace {

using archive_test::TarEntry;
using archive_test::Tree;

struct Unpacked {
    std::string out;
    int failed_entries;
    Tree tree;
};

// Unpacks the archive in `dir`/out, handing it over in pieces that end at
// each of `cuts`.
Unpacked unpack(const zktest::TempDir& dir, const std::string& archive, const std::vector<size_t>& cuts = {},
                const std::function<void()>& prepare = {}) {
    const std::string out_dir = dir / "out";
    ::mkdir(out_dir.c_str(), 0755);
    zktest::CwdGuard cwd;
    EXPECT_EQ(::chdir(out_dir.c_str()), 0);
    if (prepare) prepare();
    archive_test::StdoutCapture capture(dir.path());
    archive_reset();
    const auto* bytes = reinterpret_cast<const unsigned char*>(archive.data());
    size_t from = 0;
    for (size_t cut : cuts) {
        archive_write(nullptr, bytes + from, static_cast<int32_t>(cut - from));
        from = cut;
    }
    archive_write(nullptr, bytes + from, static_cast<int32_t>(archive.size() - from));
    const int failed = archive_finish();
    return {capture.text(), failed, archive_test::tree_of(out_dir)};
}

class ArchiveWriter : public ::testing::Test {
protected:
    void SetUp() override { old_mask = ::umask(022); }
    void TearDown() override { ::umask(old_mask); }
    mode_t old_mask = 0;
};

// Block layout: top.txt's header at 0, its 100 data bytes at 512, padding to
// 1024, the directory's header at 1024; then a file of exactly one block, an
// empty file and one whose directory comes from its own name.
const std::vector<TarEntry> SAMPLE = {
    {"top.txt", std::string(100, 't'), '0', "0000640"},
    {"sub/", "", '5', "0000700"},
    {"sub/block.bin", std::string(512, 'b'), '0', "0000600"},
    {"sub/empty", "", '0', "0000755"},
    {"sub/deep/last.txt", "last\n", '0', "0000644"},
};

const std::string SAMPLE_OUT =
    "Extracting top.txt .. 100 bytes\n"
    "Extracting sub/ .. 0 bytes\n"
    "Extracting sub/block.bin .. 512 bytes\n"
    "Extracting sub/empty .. 0 bytes\n"
    "Extracting sub/deep/last.txt .. 5 bytes\n"
    "Extracting  .. 0 bytes\n";

const Tree SAMPLE_TREE = {
    {"top.txt", "file 0640 " + std::string(100, 't')},
    {"sub", "dir 0711"},
    {"sub/block.bin", "file 0600 " + std::string(512, 'b')},
    {"sub/empty", "file 0755 "},
    {"sub/deep", "dir 0755"},
    {"sub/deep/last.txt", "file 0644 last\n"},
};

TEST_F(ArchiveWriter, EveryCutInTheFirst1100BytesGivesTheSameResult) {
    // Whatever follows the end of the archive is never written.
    const std::string archive = archive_test::tar_archive(SAMPLE) + archive_test::tar_archive({{"after", "x"}});
    for (size_t cut = 0; cut <= 1100; ++cut) {
        zktest::TempDir dir;
        const Unpacked result = unpack(dir, archive, {cut});
        ASSERT_EQ(result.out, SAMPLE_OUT) << "cut at " << cut;
        ASSERT_EQ(result.tree, SAMPLE_TREE) << "cut at " << cut;
        ASSERT_EQ(result.failed_entries, 0) << "cut at " << cut;
    }
}

TEST_F(ArchiveWriter, DeliveriesOfOneByteOrManyBlocksGiveTheSameResult) {
    const std::string archive = archive_test::tar_archive(SAMPLE);
    std::vector<size_t> every_byte;
    for (size_t at = 1; at < archive.size(); ++at) every_byte.push_back(at);
    for (const auto& cuts : {std::vector<size_t>{}, every_byte, std::vector<size_t>{100, 612, 4096}}) {
        zktest::TempDir dir;
        const Unpacked result = unpack(dir, archive, cuts);
        EXPECT_EQ(result.out, SAMPLE_OUT) << cuts.size() << " cuts";
        EXPECT_EQ(result.tree, SAMPLE_TREE) << cuts.size() << " cuts";
    }
}

struct EntryCase {
    const char* what;
    std::vector<TarEntry> entries;
    std::string out;
    Tree tree;  // of the unpack directory
    int failed_entries;
    void (*prepare)() = nullptr;  // run in the unpack directory first
};

void PrintTo(const EntryCase& c, std::ostream* os) { *os << c.what; }

class ArchiveEntry : public ArchiveWriter, public ::testing::WithParamInterface<EntryCase> {};

TEST_P(ArchiveEntry, IsUnpackedAsExpected) {
    const EntryCase& c = GetParam();
    zktest::TempDir dir;
    ::mkdir((dir / "outside").c_str(), 0755);
    const Unpacked result = unpack(dir, archive_test::tar_archive(c.entries), {}, c.prepare);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.tree, c.tree);
    EXPECT_EQ(result.failed_entries, c.failed_entries);
    EXPECT_EQ(archive_test::tree_of(dir / "outside"), Tree{}) << "nothing is written outside";
    EXPECT_FALSE(zktest::exists(dir / "x")) << "nothing is written beside the unpack directory";
}

const std::string END = "Extracting  .. 0 bytes\n";
const std::string GNU_MAGIC("ustar  \0", 8);
const std::string NAME_100(100, 'n');

// "outside" beside the unpack directory, reached through links left in it.
void plant_links() {
    ::symlink("../outside", "lnk");
    ::symlink("../outside/victim", "victim");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ArchiveEntry,
    ::testing::Values(
        EntryCase{"a mode field without a number gives 0644, or 0755 for a directory",
                  {{"d/", "", '5', "       "}, {"d/f", "data", '0', "xyz"}},
                  "Extracting d/ .. 0 bytes\nExtracting d/f .. 4 bytes\n" + END,
                  {{"d", "dir 0755"}, {"d/f", "file 0644 data"}},
                  0},
        EntryCase{"a name filling its field is not read past it",
                  {{NAME_100, "n", '0', "0000600"}},
                  "Extracting " + NAME_100 + " .. 1 bytes\n" + END,
                  {{NAME_100, "file 0600 n"}},
                  0},
        EntryCase{"a POSIX ustar prefix is joined under the name",
                  {{"pre/", "", '5', "0000755"}, {"fix/", "", '5', "0000755", "", "pre"},
                   {"file", "p", '0', "0000644", "", "pre/fix"}},
                  "Extracting pre/ .. 0 bytes\nExtracting pre/fix/ .. 0 bytes\nExtracting pre/fix/file .. 1 bytes\n" +
                      END,
                  {{"pre", "dir 0755"}, {"pre/fix", "dir 0755"}, {"pre/fix/file", "file 0644 p"}},
                  0},
        EntryCase{"the GNU layout has no prefix",
                  {{"file", "g", '0', "0000644", "", "not/a/prefix", GNU_MAGIC}},
                  "Extracting file .. 1 bytes\n" + END,
                  {{"file", "file 0644 g"}},
                  0},
        EntryCase{"pax paths and long names name the entry that follows; global records are consumed",
                  {{"pax", "17 path=from-pax\n", 'x'},
                   {"short", "p"},
                   {"global", "8 a=bcd\n", 'g'},
                   {"././@LongLink", std::string(200, 'L') + '\0', 'L'},
                   {"cut", "l"},
                   {"././@LongLink", "target", 'K'},
                   {"kept", "k"}},
                  "Extracting from-pax .. 1 bytes\nExtracting " + std::string(200, 'L') + " .. 1 bytes\n"
                  "Extracting kept .. 1 bytes\n" + END,
                  {{"from-pax", "file 0644 p"}, {std::string(200, 'L'), "file 0644 l"}, {"kept", "file 0644 k"}},
                  0},
        EntryCase{"names that leave the directory are skipped, their data consumed",
                  {{"../x", "up"}, {"a/../../x", "up"}, {"/abs/x", "abs"}, {"../outside/", "", '5'},
                   {"../outside/f", "up", '0', "0000644", "", "", GNU_MAGIC}, {"..", "", '5'},
                   {"x", "up", '0', "0000644", "", ".."}, {"kept", "k"}},
                  "Extracting ../x .. 2 bytes\nUnsafe path skipped: ../x\n"
                  "Extracting a/../../x .. 2 bytes\nUnsafe path skipped: a/../../x\n"
                  "Extracting /abs/x .. 3 bytes\nUnsafe path skipped: /abs/x\n"
                  "Extracting ../outside/ .. 0 bytes\nUnsafe path skipped: ../outside/\n"
                  "Extracting ../outside/f .. 2 bytes\nUnsafe path skipped: ../outside/f\n"
                  "Extracting .. .. 0 bytes\nUnsafe path skipped: ..\n"
                  "Extracting ../x .. 2 bytes\nUnsafe path skipped: ../x\n"
                  "Extracting kept .. 1 bytes\n" + END,
                  {{"kept", "file 0644 k"}},
                  7},
        EntryCase{"no entry is written through a link found in the directory",
                  {{"lnk/f", "through"}, {"lnk/sub/", "", '5'}, {"victim", "overwritten"}, {"kept", "k"}},
                  "Extracting lnk/f .. 7 bytes\nUnsafe path skipped: lnk/f\n"
                  "Extracting lnk/sub/ .. 0 bytes\nUnsafe path skipped: lnk/sub/\n"
                  "Extracting victim .. 11 bytes\nUnsafe path skipped: victim\n"
                  "Extracting kept .. 1 bytes\n" + END,
                  {{"lnk", "link ../outside"}, {"victim", "link ../outside/victim"}, {"kept", "file 0644 k"}},
                  3,
                  plant_links},
        EntryCase{"a file whose name is a directory is not created",
                  {{"d/", "", '5'}, {"d", "data"}, {"kept", "k"}},
                  "Extracting d/ .. 0 bytes\nExtracting d .. 4 bytes\nCannot create file d\n"
                  "Extracting kept .. 1 bytes\n" + END,
                  {{"d", "dir 0755"}, {"kept", "file 0644 k"}},
                  1},
        EntryCase{"a FIFO at the name is not written into",
                  {{"fifo", "data"}, {"kept", "k"}},
                  "Extracting fifo .. 4 bytes\nCannot create file fifo\nExtracting kept .. 1 bytes\n" + END,
                  {{"fifo", "fifo 0600"}, {"kept", "file 0644 k"}},
                  1,
                  [] { ::mkfifo("fifo", 0600); }},
        EntryCase{"an existing file is truncated, rewritten and given the header's mode",
                  {{"old", "new", '0', "0000600"}},
                  "Extracting old .. 3 bytes\n" + END,
                  {{"old", "file 0600 new"}},
                  0,
                  [] { zktest::write_file("old", "much longer old content", 0666); }},
        EntryCase{"a first component that does not exist is not made from a file's name",
                  {{"d1/d2/f", "f"}},
                  "Extracting d1/d2/f .. 1 bytes\nCannot create file d1/d2/f\n" + END,
                  {},
                  1}));

TEST_F(ArchiveWriter, HardLinkToAFileElsewhereIsReplacedNotWrittenThrough) {
    zktest::TempDir dir;
    const std::string victim = dir / "victim";
    zktest::write_file(victim, "keep me", 0644);
    const std::string archive = archive_test::tar_archive({{"shared", "new"}});
    const Unpacked result = unpack(dir, archive, {}, [&] { ::link(victim.c_str(), "shared"); });
    EXPECT_EQ(result.tree, (Tree{{"shared", "file 0644 new"}}));
    EXPECT_EQ(result.failed_entries, 0);
    EXPECT_EQ(zktest::read_file(victim), "keep me") << "the file the link shared is untouched";
}

TEST_F(ArchiveWriter, StreamEndingInsideDataLeavesWhatCameAndFails) {
    zktest::TempDir dir;
    const std::string archive = archive_test::tar_archive({{"cut", std::string(1000, 'c')}});
    const Unpacked result = unpack(dir, archive.substr(0, 512 + 600));
    EXPECT_EQ(result.out, "Extracting cut .. 1000 bytes\n"
                          "Archive damaged before its first entry: cut short inside an entry's data\n");
    EXPECT_EQ(result.tree, (Tree{{"cut", "file 0644 " + std::string(600, 'c')}}));
    EXPECT_EQ(result.failed_entries, 1);
}

TEST_F(ArchiveWriter, DirectorySizeFieldCarriesNoData) {
    zktest::TempDir dir;
    const std::string archive = archive_test::tar_archive({{"d/", "", '5', "0000755", "00000000012"}});
    const Unpacked result = unpack(dir, archive);
    EXPECT_EQ(result.out, "Extracting d/ .. 0 bytes\nExtracting  .. 0 bytes\n")
        << "the block after a directory's header is the next header";
    EXPECT_EQ(result.tree, (Tree{{"d", "dir 0755"}}));
}

}  // namespace
