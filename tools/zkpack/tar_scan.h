// Reads a tar stream, fed in pieces of any size, the way the installer
// does: 512-byte headers, data padded to 512, the end at the first header
// with an empty name. It also reads the long-name and extended (pax)
// records the installer skips, so a caller can see where the installer's
// reading differs from what tar programs would unpack.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace zkpack {

struct TarEntry {
    uint64_t offset;         // of its header in the stream
    std::string name;        // as the installer reads it: the name field, after the ustar prefix when there is one
    std::string meant_name;  // as tar programs read it, with long-name and pax records applied
    char type;               // the type flag
    uint64_t size;
};

class TarScanner {
public:
    using Visit = std::function<void(const TarEntry&)>;

    // visit sees every entry but the metadata records; it may throw.
    explicit TarScanner(Visit visit);

    void feed(const unsigned char* data, size_t length);
    // After the last feed: what keeps the stream from being a whole tar
    // archive, or "".
    std::string problem() const;
    // Files, directories and other entries, not counting metadata records.
    uint64_t entries() const { return entries_; }

private:
    enum class State { header, body, finished, broken };

    void take_header();
    void take_body(const unsigned char* data, size_t length);
    void end_metadata();
    void break_at(const std::string& problem);

    Visit visit_;
    State state_ = State::header;
    std::array<unsigned char, 512> header_{};
    size_t header_fill_ = 0;
    uint64_t offset_ = 0;
    uint64_t body_remaining_ = 0;  // data and padding still to come
    uint64_t data_remaining_ = 0;  // of that, data
    char metadata_type_ = 0;       // of the record whose data is being collected, or 0
    std::string metadata_;
    std::optional<std::string> long_name_;
    std::optional<std::string> pax_path_;
    std::optional<uint64_t> pax_size_;
    uint64_t entries_ = 0;
    std::string problem_;
};

}  // namespace zkpack
