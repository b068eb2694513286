// The tar reader sees the same entries however the stream is cut into
// pieces: a decompressor hands it pieces of any size.
#include "package_util.h"
#include "support.h"

#include "tar_stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using zkpacktest::quoted;
using zktest::TempDir;

// GNU long names and pax records, whose data the reader collects, and file
// data that is and is not a multiple of 512 bytes.
const char MAKE_ARCHIVE[] = R"(
import io, tarfile
with tarfile.open('mixed.tar', 'w', format=tarfile.GNU_FORMAT) as t:
    for name, size in (('d/', 0), ('d/' + 'l' * 150, 700), ('short', 512), ('d/e', 0)):
        info = tarfile.TarInfo(name)
        info.type = tarfile.DIRTYPE if name.endswith('/') else tarfile.REGTYPE
        info.size = size
        t.addfile(info, io.BytesIO(b'x' * size))
with tarfile.open('pax.tar', 'w', format=tarfile.PAX_FORMAT) as t:
    info = tarfile.TarInfo('p' * 130)
    info.size = 3
    t.addfile(info, io.BytesIO(b'abc'))
)";

// Each entry as "offset name type size", and the bytes of its data.
class Seen final : public tar_format::EntryHandler {
public:
    void entry(const tar_format::Entry& entry) override {
        entries.push_back(std::to_string(entry.offset) + " " + entry.name + " " + static_cast<char>(entry.type) + " " +
                          std::to_string(entry.size));
    }
    void data(const unsigned char*, size_t count) override { data_bytes += count; }
    void entry_end() override {}
    void end_block() override {}

    std::vector<std::string> entries;
    uint64_t data_bytes = 0;
};

std::vector<std::string> scan(const std::string& stream, size_t piece, std::string& problem, uint64_t& entries) {
    Seen seen;
    tar_format::TarStream scanner(seen);
    for (size_t at = 0; at < stream.size(); at += piece) {
        scanner.feed(reinterpret_cast<const unsigned char*>(stream.data() + at), std::min(piece, stream.size() - at));
    }
    problem = scanner.problem();
    entries = scanner.entries();
    return seen.entries;
}

TEST(TarScan, PiecesOfAnySizeGiveTheSameEntries) {
    TempDir dir;
    zktest::write_file(dir / "make.py", MAKE_ARCHIVE);
    const auto made = zkpacktest::shell("cd " + quoted(dir.path()) + " && python3 make.py");
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string mixed = zktest::read_file(dir / "mixed.tar");
    const std::string pax = zktest::read_file(dir / "pax.tar");

    std::string problem;
    uint64_t entries = 0;
    const std::vector<std::string> whole = scan(mixed, mixed.size(), problem, entries);
    EXPECT_EQ(problem, "");
    EXPECT_EQ(entries, 4u);
    const std::string long_name = "d/" + std::string(150, 'l');
    EXPECT_EQ(whole, (std::vector<std::string>{"0 d/ 5 0", "1536 " + long_name + " 0 700", "3072 short 0 512",
                                               "4096 d/e 0 0"}));
    for (size_t piece : {1, 7, 100, 511, 513, 1500}) {
        SCOPED_TRACE(piece);
        EXPECT_EQ(scan(mixed, piece, problem, entries), whole);
        EXPECT_EQ(problem, "");
    }

    const std::vector<std::string> pax_whole = scan(pax, pax.size(), problem, entries);
    ASSERT_EQ(pax_whole.size(), 1u);
    EXPECT_EQ(pax_whole[0], "1024 " + std::string(130, 'p') + " 0 3");
    EXPECT_EQ(scan(pax, 3, problem, entries), pax_whole);
}

TEST(TarScan, StreamsThatAreNotWholeArchives) {
    const std::string zero_block(512, '\0');
    struct Case {
        std::string stream;
        std::string problem;
    };
    std::string header(512, '\0');
    header.replace(0, 4, "file");
    header.replace(124, 11, "00000001000");  // 512 bytes of data
    header.replace(148, 8, "        ");
    unsigned sum = 0;
    for (const unsigned char c : header) sum += c;
    char checksum[8];
    std::snprintf(checksum, sizeof checksum, "%06o", sum);
    header.replace(148, 7, std::string(checksum, 6) + '\0');
    const Case cases[] = {
        {"", "not a tar archive: it is empty"},
        {std::string(100, 'x'), "not a tar archive: shorter than one header"},
        {std::string(512, 'x'), "not a tar archive: bad header checksum at offset 0"},
        {header, "cut short inside an entry's data"},
        {header + std::string(512, 'd'), "cut short: no end-of-archive block"},
        {header + std::string(512, 'd') + std::string(2, '\0'), "cut short inside a header"},
        {header + std::string(512, 'd') + zero_block, ""},
        {zero_block + "anything after the end", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.problem);
        std::string problem;
        uint64_t entries = 0;
        scan(c.stream, 100, problem, entries);
        EXPECT_EQ(problem, c.problem);
    }
}

}  // namespace
