// Reads a tar stream fed in pieces of any size: 512-byte headers checked by
// their checksum, data padded to 512, GNU long names and pax extended headers
// applied to the entry they precede, the end at the first block of zeros.
// The installer unpacks through it and zkpack checks archives through it, so
// both see the same entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tar_format.h"

namespace tar_format {

struct Timestamp {
    int64_t seconds;
    long nanoseconds;  // 0 to 999999999, after seconds, even before 1970
};

// Where a sparse file's data goes: its data bytes fill the regions in
// order, and the rest of the file is holes.
struct SparseRegion {
    uint64_t offset;
    uint64_t size;
};

struct Entry {
    uint64_t offset;   // of its header block in the stream
    std::string name;  // long-name and pax path applied
    std::string link_name;
    unsigned char type;            // the type flag
    EntryKind kind;                // unsupported for a sparse file, whatever its flag
    std::optional<unsigned> mode;  // permission bits, when the field holds a number
    uint64_t size;                 // data bytes that follow the header
    // The modification time: the pax mtime, with its fraction, or the
    // header's; nothing when neither reads.
    std::optional<Timestamp> mtime;
    // A sparse file's regions and its size with the holes; empty and
    // nothing for any other entry.
    std::vector<SparseRegion> sparse_map;
    std::optional<uint64_t> sparse_size;
};

class EntryHandler {
public:
    // A new entry; its data, if any, follows through data().
    virtual void entry(const Entry& entry) = 0;
    virtual void data(const unsigned char* bytes, size_t count) = 0;
    // All of the entry's data has been delivered.
    virtual void entry_end() = 0;
    // The block that ends the archive.
    virtual void end_block() = 0;

protected:
    ~EntryHandler() = default;
};

class TarStream {
public:
    explicit TarStream(EntryHandler& handler) : handler_(&handler) {}

    // Once the end block has been read, nothing more is taken.
    void feed(const unsigned char* bytes, size_t count);
    // After the last feed: why the stream is not a whole archive, or "".
    std::string problem() const;
    // The last entry is whole and only the end block is missing: a stream
    // whose compression proves it whole was not cut, its writer just never
    // wrote the end.
    bool lacks_only_end_block() const;
    // Entries handed over, not counting metadata.
    uint64_t entries() const { return entries_; }
    // The last entry handed over whole, for messages; empty before the first.
    const std::string& last_entry() const { return last_entry_; }

private:
    // extension: the blocks of an old GNU sparse file's map, between its
    // header and its data; sparse_map: the map a pax sparse file of format
    // 1.0 keeps at the start of its data.
    enum class State { header, extension, sparse_map, data, padding, finished, damaged };

    size_t take_header(const unsigned char* bytes, size_t count);
    size_t take_data(const unsigned char* bytes, size_t count);
    size_t skip_padding(size_t count);
    void process_header();
    void process_extension();
    void hold_entry(uint64_t at, uint64_t header_size, unsigned char type, std::string name, EntryKind kind);
    size_t take_sparse_map(const unsigned char* bytes, size_t count);
    void deliver_held();
    void start_body(uint64_t size, bool metadata);
    void end_data();
    void end_metadata();
    void damage(const std::string& problem);
    void damage_metadata();
    void damage_map();

public:
    // What pax records say of an entry.
    struct PaxValues {
        std::optional<std::string> name;
        std::optional<std::string> link_name;
        std::optional<uint64_t> size;
        std::optional<Timestamp> mtime;
        bool sparse = false;
        // GNU sparse records: the map (format 0.0 in offset and numbytes
        // pairs, 0.1 in one list), or in the data (1.0).
        std::vector<SparseRegion> sparse_map;
        std::optional<uint64_t> sparse_offset;
        std::optional<uint64_t> sparse_size;
        std::optional<std::string> sparse_name;
        bool sparse_map_in_data = false;
        bool sparse_malformed = false;
    };

private:
    // For the next entry: the last pax header before it wins over a GNU long
    // name, which wins over the global records.
    struct Pending {
        std::optional<std::string> long_name;
        std::optional<std::string> long_link;
        PaxValues pax;
    };

    EntryHandler* handler_;
    State state_ = State::header;
    Block header_{};
    size_t header_fill_ = 0;
    uint64_t offset_ = 0;
    uint64_t data_remaining_ = 0;
    Entry held_{};          // until its sparse map is whole
    uint64_t map_lines_ = 0;  // of a map in the data, read so far
    uint64_t padding_remaining_ = 0;
    EntryKind metadata_kind_ = EntryKind::regular;  // of the metadata being collected
    bool in_metadata_ = false;
    uint64_t metadata_offset_ = 0;
    std::string metadata_;
    Pending pending_;
    PaxValues global_;  // every later entry's, until a global header replaces them
    uint64_t entries_ = 0;
    bool tar_seen_ = false;  // a header's checksum held: damage is not "not a tar archive"
    std::string current_entry_;
    std::string last_entry_;
    std::string problem_;
};

}  // namespace tar_format
