// The one walk over a package's setup records, and the one way to read a
// record's payload, for the installer and zkpack alike. Both read through a
// positional reader, so nothing depends on a file position that something
// else may have moved.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "package_format.h"

namespace package_format {

// Reads bytes at an offset of the package, as pread does: the count read
// (fewer only at the file's end), 0 past it, or -1 when it cannot be read.
class PositionalReader {
public:
    virtual ~PositionalReader() = default;
    virtual int64_t read_at(unsigned char* destination, size_t count, uint64_t offset) = 0;
};

// pread on a descriptor.
class DescriptorReader final : public PositionalReader {
public:
    explicit DescriptorReader(int fd) : fd_(fd) {}
    int64_t read_at(unsigned char* destination, size_t count, uint64_t offset) override;

private:
    int fd_;
};

struct Record {
    uint64_t index;   // 0 for the first record
    uint64_t offset;  // of the prefix
    uint32_t length;  // of the payload, the prefix not counted
    unsigned char kind;

    uint64_t payload_offset() const { return offset + PREFIX_SIZE; }
    uint64_t end() const { return payload_offset() + length; }
};

enum class WalkEnd {
    package_end,  // every record up to the end was visited
    cut_short,    // a prefix could not be read whole at `offset`
    stopped,      // the visitor asked to stop
};

struct WalkResult {
    WalkEnd end;
    uint64_t offset;  // where the walk ended
    uint64_t index;   // of the record there
};

// Visits the records from `start` (the header's end) to `end` (the file's
// end) in order; visit returns false to stop. A payload that runs past `end`
// is the visitor's to judge (record.end() > end).
WalkResult walk_records(PositionalReader& file, uint64_t start, uint64_t end,
                        const std::function<bool(const Record&)>& visit);

constexpr int32_t PAYLOAD_CUT_SHORT = -1;

// A record's payload, read in order from any of its bytes on. A reader never
// hands out a byte past the payload's end.
class PayloadReader {
public:
    PayloadReader(PositionalReader& file, const Record& record) : file_(&file), record_(record) {}

    // Up to `capacity` next bytes: the count, 0 at the payload's end, or
    // PAYLOAD_CUT_SHORT when the file ends before the payload does or
    // cannot be read.
    int32_t read(unsigned char* destination, int32_t capacity);
    // Exactly `count` next bytes; false when the payload or the file ends
    // first, or the file cannot be read.
    bool read_whole(unsigned char* destination, size_t count);
    // Whether the file holds the payload's last byte.
    bool in_file() const;
    // Goes on from the payload's byte `position` (at most its length).
    void seek(uint64_t position);

    const Record& record() const { return record_; }
    uint64_t position() const { return position_; }
    uint64_t remaining() const { return record_.length - position_; }

private:
    // Bytes are fetched from the file in pieces of this size however few
    // each read asks for: the pump asks for 2 KiB at a time, and a call to
    // the file for each would cost more than fast codecs take to decode them.
    static constexpr size_t READ_AHEAD = 64 * 1024;

    PositionalReader* file_;
    Record record_;
    uint64_t position_ = 0;
    std::vector<unsigned char> ahead_;  // fetched bytes; ahead_[ahead_at_] is at position_
    size_t ahead_at_ = 0;
};

}  // namespace package_format
