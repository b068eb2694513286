// The decompression pump over a record's payload reader: payloads placed in
// a file between other bytes, the callbacks' calls recorded.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <numeric>
#include <string>
#include <vector>

#include "archive_support.h"
#include "pump.h"
#include "record_walk.h"
#include "support.h"

namespace {

struct Calls {
    std::vector<int32_t> reads;
    std::vector<int32_t> deliveries;
    std::string out;
    int refused_delivery = -1;  // index of a delivery to refuse
    bool context_seen_whole = true;
};

using package_format::PAYLOAD_CUT_SHORT;
using package_format::PayloadReader;

Calls calls;
int opaque_value;
PumpSession* current_session = nullptr;

bool context_is_whole(const PumpContext* context, PumpWrite write_fn) {
    return context->opaque == current_session && current_session->sink == &opaque_value &&
           context->write_fn == write_fn;
}

// The record whose payload is `length` bytes at `offset`.
package_format::Record record_at(size_t offset, size_t length) {
    return {0, offset - package_format::PREFIX_SIZE, static_cast<uint32_t>(length), package_format::KIND_SCRIPT};
}

int32_t recording_write(PumpContext* context, const unsigned char* source, int32_t count) {
    calls.context_seen_whole &= context_is_whole(context, recording_write);
    calls.deliveries.push_back(count);
    calls.out.append(reinterpret_cast<const char*>(source), static_cast<size_t>(count));
    return static_cast<int>(calls.deliveries.size()) - 1 == calls.refused_delivery ? -1 : 0;
}

int32_t recording_read(PumpContext* context, unsigned char* destination, int32_t capacity) {
    calls.context_seen_whole &= context_is_whole(context, recording_write) && context->read_fn == recording_read;
    const int32_t count = payload_read(context, destination, capacity);
    calls.reads.push_back(count);
    return count;
}

const std::string SHORT_TEXT = "#!/bin/sh\necho short\n";
const std::string LONG_TEXT = archive_test::noise(30000);

class Pump : public ::testing::Test {
protected:
    void SetUp() override {
        short_stream = archive_test::bzip2_compress(SHORT_TEXT);
        long_stream = archive_test::bzip2_compress(LONG_TEXT);
        ASSERT_GT(long_stream.size(), 3 * PUMP_INPUT_SIZE);
        // Every payload has bytes on both sides that must never be handed over.
        const std::string file = std::string(777, 'H') + long_stream + short_stream + std::string(3000, 'T');
        zktest::write_file(dir / "package", file);
        fd = ::open((dir / "package").c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        package_file = package_format::DescriptorReader(fd);
        calls = Calls{};
    }
    void TearDown() override { ::close(fd); }

    int32_t pump(size_t offset, size_t length) {
        calls.reads.clear();
        calls.deliveries.clear();
        calls.out.clear();
        PayloadReader payload(package_file, record_at(offset, length));
        PumpSession session{&payload, &opaque_value};
        current_session = &session;
        return bzunzip(&session, recording_read, recording_write);
    }

    size_t long_offset() const { return 777; }
    size_t short_offset() const { return 777 + long_stream.size(); }

    zktest::TempDir dir;
    int fd = -1;
    package_format::DescriptorReader package_file{-1};
    std::string short_stream, long_stream;
};

TEST_F(Pump, ShortPayloadIsHandedOverInOnePieceOfItsLength) {
    EXPECT_EQ(pump(short_offset(), short_stream.size()), 0);
    EXPECT_EQ(calls.reads, (std::vector<int32_t>{static_cast<int32_t>(short_stream.size()), 0}))
        << "after the stream, one read finds that no other follows";
    EXPECT_EQ(calls.out, SHORT_TEXT);
    EXPECT_TRUE(calls.context_seen_whole) << "every callback gets the pump's context";
}

TEST_F(Pump, StreamEndingAtThePayloadsEndIsDecompressedWhole) {
    EXPECT_EQ(pump(long_offset(), long_stream.size()), 0);
    EXPECT_EQ(calls.out, LONG_TEXT);
    EXPECT_EQ(std::accumulate(calls.reads.begin(), calls.reads.end(), size_t{0}), long_stream.size());
    ASSERT_GE(calls.reads.size(), 2u);
    for (size_t i = 0; i + 2 < calls.reads.size(); ++i) EXPECT_EQ(calls.reads[i], 2048) << "read " << i;
    EXPECT_EQ(calls.reads.back(), 0) << "the payload's end, right after the stream's, ends the pump";
    for (int32_t count : calls.deliveries) EXPECT_LE(count, 4096);
    EXPECT_GE(calls.deliveries.size(), LONG_TEXT.size() / 4096 + 1);
}

TEST_F(Pump, TwoPayloadsInARowEachReadExactlyTheirOwn) {
    EXPECT_EQ(pump(long_offset(), long_stream.size()), 0);
    EXPECT_EQ(calls.out, LONG_TEXT);
    // The first window's last read reached into the second payload.
    EXPECT_EQ(pump(short_offset(), short_stream.size()), 0);
    EXPECT_EQ(calls.out, SHORT_TEXT);
    EXPECT_EQ(calls.reads, (std::vector<int32_t>{static_cast<int32_t>(short_stream.size()), 0}));
}

TEST_F(Pump, StreamsBackToBackAreOnePayloadAndNothingElseFollows) {
    EXPECT_EQ(pump(long_offset(), long_stream.size() + short_stream.size()), 0);
    EXPECT_EQ(calls.out, LONG_TEXT + SHORT_TEXT) << "the second stream starts inside a read of the first";

    EXPECT_EQ(pump(short_offset(), short_stream.size() + 5), PUMP_FAILED) << "bytes after the stream";
    EXPECT_EQ(calls.out, SHORT_TEXT);

    const size_t to_file_end = short_stream.size() + 3000;
    EXPECT_EQ(pump(short_offset(), to_file_end + 1), PUMP_FAILED) << "a payload that runs past the file's end";
    PayloadReader cut(package_file, record_at(short_offset(), to_file_end + 1));
    int32_t last = 0;
    std::array<unsigned char, 1000> piece;
    while ((last = cut.read(piece.data(), piece.size())) > 0) {}
    EXPECT_EQ(last, PAYLOAD_CUT_SHORT) << "the reader itself tells a cut payload from a whole one";
    EXPECT_FALSE(cut.in_file());
}

TEST_F(Pump, ReadsDoNotDependOnTheFilePositionAndGoOnFromAnyByte) {
    PayloadReader payload(package_file, record_at(long_offset(), long_stream.size()));
    EXPECT_TRUE(payload.in_file());
    std::string read_back;
    std::array<unsigned char, 100> piece;
    for (int32_t n; (n = payload.read(piece.data(), piece.size())) > 0;) {
        read_back.append(reinterpret_cast<const char*>(piece.data()), static_cast<size_t>(n));
        ::lseek(fd, 0, SEEK_SET);
    }
    EXPECT_EQ(read_back, long_stream);
    payload.seek(long_stream.size() - 7);
    std::array<unsigned char, 7> tail;
    EXPECT_TRUE(payload.read_whole(tail.data(), tail.size()));
    EXPECT_EQ(std::string(tail.begin(), tail.end()), long_stream.substr(long_stream.size() - 7));
    EXPECT_FALSE(payload.read_whole(tail.data(), 1)) << "nothing past the payload's end";
}

TEST_F(Pump, TruncatedPayloadFailsAfterDeliveringWhatItHad) {
    EXPECT_EQ(pump(long_offset(), long_stream.size() - 10), PUMP_FAILED);
    EXPECT_EQ(calls.reads.back(), 0);
    EXPECT_EQ(LONG_TEXT.compare(0, calls.out.size(), calls.out), 0) << "what came out is the text's start";
    EXPECT_LT(calls.out.size(), LONG_TEXT.size());
}

TEST_F(Pump, EmptyPayloadHoldsNoStream) {
    EXPECT_EQ(pump(short_offset(), 0), PUMP_FAILED);
    EXPECT_EQ(calls.reads, std::vector<int32_t>{0});
    EXPECT_TRUE(calls.deliveries.empty());
}

TEST_F(Pump, CorruptStreamEndsThePumpAtOnce) {
    std::string bytes = zktest::read_file(dir / "package");
    bytes[long_offset() + 2] = 'x';  // "BZh9" no longer
    bytes[short_offset() + short_stream.size() / 2] ^= 0x40;
    zktest::write_file(dir / "package", bytes);

    EXPECT_EQ(pump(long_offset(), long_stream.size()), PUMP_FAILED);
    EXPECT_EQ(calls.reads.size(), 1u) << "no read after the decompressor's error";
    EXPECT_TRUE(calls.deliveries.empty());

    EXPECT_EQ(pump(short_offset(), short_stream.size()), PUMP_FAILED);
    EXPECT_NE(calls.out, SHORT_TEXT);
}

TEST_F(Pump, RefusedDeliveryEndsThePumpAtOnce) {
    calls.refused_delivery = 1;
    EXPECT_EQ(pump(long_offset(), long_stream.size() + short_stream.size()), PUMP_FAILED);
    EXPECT_EQ(calls.deliveries.size(), 2u) << "nothing is decoded after the refusal";
    EXPECT_LT(calls.out.size(), LONG_TEXT.size());
    EXPECT_EQ(LONG_TEXT.compare(0, calls.out.size(), calls.out), 0);
}

}  // namespace
