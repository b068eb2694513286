#include "tar_scan.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <utility>

namespace zkpack {

namespace {

constexpr size_t BLOCK = 512;

struct Field {
    size_t offset;
    size_t length;
};

constexpr Field NAME{0, 100};
constexpr Field SIZE{124, 12};
constexpr Field CHECKSUM{148, 8};
constexpr size_t TYPE = 156;
constexpr Field MAGIC{257, 6};
constexpr Field PREFIX{345, 155};

// Metadata beyond this is skipped unread: no real name comes near it.
constexpr size_t MAX_METADATA = 64 * 1024;

constexpr bool is_metadata(char type) { return type == 'x' || type == 'g' || type == 'L' || type == 'K'; }

std::string_view field_text(const std::array<unsigned char, BLOCK>& block, Field field) {
    const char* start = reinterpret_cast<const char*>(block.data() + field.offset);
    return std::string_view(start, ::strnlen(start, field.length));
}

// An octal number as sscanf's "%o" reads it, but within the field; or the
// base-256 form that tar programs use for big sizes.
std::optional<uint64_t> field_number(const std::array<unsigned char, BLOCK>& block, Field field) {
    const unsigned char* bytes = block.data() + field.offset;
    if (bytes[0] & 0x80) {
        uint64_t value = bytes[0] & 0x7F;
        for (size_t i = 1; i < field.length; ++i) value = value << 8 | bytes[i];
        return value;
    }
    size_t i = 0;
    while (i < field.length && (bytes[i] == ' ' || bytes[i] == '\t')) ++i;
    if (i == field.length || bytes[i] < '0' || bytes[i] > '7') return std::nullopt;
    uint64_t value = 0;
    for (; i < field.length && bytes[i] >= '0' && bytes[i] <= '7'; ++i) value = value * 8 + (bytes[i] - '0');
    return value;
}

// Tar programs accept the sum of the bytes taken as unsigned or as signed.
bool checksum_holds(const std::array<unsigned char, BLOCK>& block) {
    const std::optional<uint64_t> stored = field_number(block, CHECKSUM);
    if (!stored) return false;
    int64_t unsigned_sum = 0, signed_sum = 0;
    for (size_t i = 0; i < BLOCK; ++i) {
        const bool in_field = i >= CHECKSUM.offset && i < CHECKSUM.offset + CHECKSUM.length;
        const unsigned char byte = in_field ? ' ' : block[i];
        unsigned_sum += byte;
        signed_sum += static_cast<signed char>(byte);
    }
    return static_cast<int64_t>(*stored) == unsigned_sum || static_cast<int64_t>(*stored) == signed_sum;
}

std::string installer_name(const std::array<unsigned char, BLOCK>& block) {
    const std::string name(field_text(block, NAME));
    const bool posix = std::memcmp(block.data() + MAGIC.offset, "ustar", MAGIC.length) == 0;
    const std::string_view prefix = field_text(block, PREFIX);
    return posix && !prefix.empty() ? std::string(prefix) + "/" + name : name;
}

uint64_t padded(uint64_t size) { return (size + BLOCK - 1) / BLOCK * BLOCK; }

struct PaxRecord {
    std::string_view key;
    std::string_view value;
};

// Records "LENGTH KEY=VALUE\n"; a malformed one ends the list.
template <typename Use>
void for_each_pax_record(std::string_view text, Use use) {
    while (!text.empty()) {
        const size_t space = text.find(' ');
        if (space == std::string_view::npos || space == 0 || space > 20) return;
        const std::string digits(text.substr(0, space));
        if (digits.find_first_not_of("0123456789") != std::string::npos) return;
        const size_t length = std::stoul(digits);
        if (length <= space + 1 || length > text.size() || text[length - 1] != '\n') return;
        const std::string_view record = text.substr(space + 1, length - space - 2);
        const size_t equals = record.find('=');
        if (equals != std::string_view::npos) use(PaxRecord{record.substr(0, equals), record.substr(equals + 1)});
        text.remove_prefix(length);
    }
}

}  // namespace

TarScanner::TarScanner(Visit visit) : visit_(std::move(visit)) {}

void TarScanner::feed(const unsigned char* data, size_t length) {
    while (length > 0 && (state_ == State::header || state_ == State::body)) {
        size_t used;
        if (state_ == State::header) {
            used = std::min(BLOCK - header_fill_, length);
            std::memcpy(header_.data() + header_fill_, data, used);
            header_fill_ += used;
            offset_ += used;
            if (header_fill_ == BLOCK) {
                header_fill_ = 0;
                take_header();
            }
        } else {
            used = static_cast<size_t>(std::min<uint64_t>(body_remaining_, length));
            take_body(data, used);
            offset_ += used;
        }
        data += used;
        length -= used;
    }
}

void TarScanner::take_header() {
    const uint64_t offset = offset_ - BLOCK;
    if (header_[0] == 0) {
        state_ = State::finished;
        return;
    }
    if (!checksum_holds(header_)) return break_at("not a tar archive: bad header checksum at offset " + std::to_string(offset));
    const std::optional<uint64_t> size = field_number(header_, SIZE);
    if (!size) return break_at("not a tar archive: no size in the header at offset " + std::to_string(offset));

    const char type = static_cast<char>(header_[TYPE]);
    if (is_metadata(type)) {
        metadata_type_ = type;
        metadata_.clear();
        data_remaining_ = *size;
        body_remaining_ = padded(*size);
    } else {
        TarEntry entry{offset, installer_name(header_), "", type, pax_size_.value_or(*size)};
        entry.meant_name = long_name_ ? *long_name_ : pax_path_ ? *pax_path_ : entry.name;
        long_name_.reset();
        pax_path_.reset();
        pax_size_.reset();
        ++entries_;
        visit_(entry);
        // The installer gives a directory no data, whatever its size field says.
        data_remaining_ = type == '5' ? 0 : entry.size;
        body_remaining_ = padded(data_remaining_);
    }
    state_ = body_remaining_ > 0 ? State::body : State::header;
    if (state_ == State::header && metadata_type_ != 0) end_metadata();
}

void TarScanner::take_body(const unsigned char* data, size_t length) {
    const size_t data_part = static_cast<size_t>(std::min<uint64_t>(data_remaining_, length));
    if (metadata_type_ != 0 && metadata_.size() < MAX_METADATA) {
        metadata_.append(reinterpret_cast<const char*>(data), std::min(data_part, MAX_METADATA - metadata_.size()));
    }
    data_remaining_ -= data_part;
    body_remaining_ -= length;
    if (body_remaining_ == 0) {
        state_ = State::header;
        if (metadata_type_ != 0) end_metadata();
    }
}

void TarScanner::end_metadata() {
    const std::string_view text(metadata_);
    if (metadata_type_ == 'L') {
        long_name_ = std::string(text.substr(0, text.find('\0')));
    } else if (metadata_type_ == 'x') {
        for_each_pax_record(text, [&](const PaxRecord& record) {
            if (record.key == "path") pax_path_ = std::string(record.value);
            if (record.key == "size" && !record.value.empty() &&
                record.value.find_first_not_of("0123456789") == std::string_view::npos && record.value.size() < 20) {
                pax_size_ = std::stoull(std::string(record.value));
            }
        });
    }
    metadata_type_ = 0;
    metadata_.clear();
}

void TarScanner::break_at(const std::string& problem) {
    state_ = State::broken;
    problem_ = problem;
}

std::string TarScanner::problem() const {
    switch (state_) {
        case State::finished:
            return "";
        case State::broken:
            return problem_;
        case State::body:
            return "cut short inside an entry's data";
        case State::header:
            if (offset_ == 0) return "not a tar archive: it is empty";
            if (offset_ < BLOCK) return "not a tar archive: shorter than one header";
            if (header_fill_ > 0) return "cut short inside a header";
            return "cut short: no end-of-archive block";
    }
    return "";
}

}  // namespace zkpack
