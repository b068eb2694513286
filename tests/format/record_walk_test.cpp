// The one record walk and payload reader, over records laid out in memory:
// where a walk ends, what it hands each visitor, and a payload that the
// file cuts short.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "record_walk.h"

namespace {

using namespace package_format;

// A file in memory; `failing_at` makes reads at or past it fail.
class MemoryReader final : public PositionalReader {
public:
    explicit MemoryReader(std::string bytes, uint64_t failing_at = UINT64_MAX)
        : bytes_(std::move(bytes)), failing_at_(failing_at) {}
    int64_t read_at(unsigned char* destination, size_t count, uint64_t offset) override {
        ++reads;
        if (offset + count > failing_at_) return -1;
        if (offset >= bytes_.size()) return 0;
        const size_t n = std::min<size_t>(count, bytes_.size() - offset);
        std::memcpy(destination, bytes_.data() + offset, n);
        return static_cast<int64_t>(n);
    }

    int reads = 0;

private:
    std::string bytes_;
    uint64_t failing_at_;
};

std::string record(unsigned char kind, const std::string& payload) {
    const auto n = static_cast<uint32_t>(payload.size());
    return std::string{static_cast<char>(n >> 24), static_cast<char>(n >> 16), static_cast<char>(n >> 8),
                       static_cast<char>(n), static_cast<char>(kind)} +
           payload;
}

const std::string HEAD = "head";  // what comes before the first record

TEST(RecordWalk, VisitsEveryRecordInOrderAndTellsWhyItEnded) {
    const std::string records = record(KIND_ENVIRONMENT, "A=1") + record(KIND_PROGRAM, "") + record(KIND_SCRIPT, "xyz");
    struct Case {
        const char* what;
        std::string file;
        WalkEnd end;
        std::vector<uint64_t> offsets;
    };
    const std::vector<Case> cases = {
        {"whole", HEAD + records, WalkEnd::package_end, {4, 12, 17}},
        {"prefix cut short", HEAD + records + std::string(2, '\0'), WalkEnd::cut_short, {4, 12, 17}},
        {"nothing after the header", HEAD, WalkEnd::package_end, {}},
    };
    for (const Case& c : cases) {
        MemoryReader file(c.file);
        std::vector<uint64_t> offsets;
        const WalkResult walked = walk_records(file, HEAD.size(), c.file.size(), [&](const Record& r) {
            EXPECT_EQ(r.index, offsets.size()) << c.what;
            offsets.push_back(r.offset);
            return true;
        });
        EXPECT_EQ(walked.end, c.end) << c.what;
        EXPECT_EQ(offsets, c.offsets) << c.what;
        if (c.end == WalkEnd::cut_short) {
            EXPECT_EQ(walked.offset, c.file.size() - 2) << c.what;
        }
    }
    MemoryReader file(HEAD + records);
    const WalkResult stopped = walk_records(file, HEAD.size(), HEAD.size() + records.size(),
                                            [](const Record& r) { return r.kind != KIND_PROGRAM; });
    EXPECT_EQ(stopped.end, WalkEnd::stopped);
    EXPECT_EQ(stopped.index, 1u);
}

TEST(PayloadReader, NeverReadsPastItsPayloadAndTellsAPayloadTheFileCuts) {
    const std::string file = HEAD + record(KIND_WELCOME, "hello") + record(KIND_SCRIPT, "0123456789");
    MemoryReader memory(file);
    const Record welcome{0, HEAD.size(), 5, KIND_WELCOME};
    PayloadReader payload(memory, welcome);
    std::string read;
    unsigned char piece[3];
    for (int32_t n; (n = payload.read(piece, sizeof piece)) > 0;)
        read.append(reinterpret_cast<char*>(piece), static_cast<size_t>(n));
    EXPECT_EQ(read, "hello");
    EXPECT_EQ(payload.read(piece, sizeof piece), 0) << "the payload's end, not the next record";

    const Record longer{1, welcome.end(), 20, KIND_SCRIPT};  // the file holds 10 of its 20 bytes
    PayloadReader cut(memory, longer);
    EXPECT_FALSE(cut.in_file());
    unsigned char all[20];
    EXPECT_FALSE(cut.read_whole(all, sizeof all));
    EXPECT_EQ(cut.read(all, sizeof all), PAYLOAD_CUT_SHORT);

    MemoryReader failing(file, HEAD.size() + 3);
    PayloadReader unreadable(failing, welcome);
    EXPECT_EQ(unreadable.read(all, 5), PAYLOAD_CUT_SHORT) << "a read error is no end of payload";
}

// The pump asks for 2 KiB at a time; the file is asked for far larger pieces,
// and a seek back into them, or a file that ends inside one, changes nothing
// of what is read.
TEST(PayloadReader, ReadsTheFileInLargePiecesWhateverTheReadsAskFor) {
    std::string big(200 * 1024 + 7, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 251);
    const std::string file = HEAD + record(KIND_ARCHIVE, big);
    MemoryReader memory(file);
    const Record archive{0, HEAD.size(), static_cast<uint32_t>(big.size()), KIND_ARCHIVE};
    PayloadReader payload(memory, archive);
    std::string read;
    std::array<unsigned char, 2048> piece;
    const auto read_rest = [&](PayloadReader& from) {
        for (int32_t n; (n = from.read(piece.data(), piece.size())) > 0;)
            read.append(reinterpret_cast<char*>(piece.data()), static_cast<size_t>(n));
    };
    ASSERT_EQ(payload.read(piece.data(), 1), 1);
    payload.seek(0);
    read_rest(payload);
    EXPECT_EQ(read, big);
    EXPECT_LE(memory.reads, 5) << "one read of the file per 64 KiB, the seek back costing none";

    read.clear();
    payload.seek(big.size() - 5000);
    read_rest(payload);
    EXPECT_EQ(read, big.substr(big.size() - 5000));

    MemoryReader cut(file.substr(0, file.size() - 100000));
    PayloadReader cut_payload(cut, archive);
    read.clear();
    int32_t n;
    while ((n = cut_payload.read(piece.data(), piece.size())) > 0)
        read.append(reinterpret_cast<char*>(piece.data()), static_cast<size_t>(n));
    EXPECT_EQ(n, PAYLOAD_CUT_SHORT);
    EXPECT_EQ(read, big.substr(0, big.size() - 100000)) << "every byte the file holds, then the cut";
}

}  // namespace
