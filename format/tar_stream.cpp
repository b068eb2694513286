#include "tar_stream.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string_view>

namespace tar_format {

namespace {

uint64_t padding_after(uint64_t size) {
    const uint64_t partial = size % BLOCK_SIZE;
    return partial != 0 ? BLOCK_SIZE - partial : 0;
}

bool is_metadata(EntryKind kind) {
    return kind == EntryKind::long_name || kind == EntryKind::long_link || kind == EntryKind::extended ||
           kind == EntryKind::global_extended || kind == EntryKind::other_metadata;
}

// Leading zeros are no part of the 18 digits that always fit.
std::optional<uint64_t> decimal(std::string_view text) {
    while (text.size() > 1 && text.front() == '0') text.remove_prefix(1);
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (const char ch : text) value = value * 10 + static_cast<uint64_t>(ch - '0');
    return value;
}

// "[-]SECONDS[.FRACTION]"; a fraction finer than nanoseconds is cut.
std::optional<Timestamp> pax_time(std::string_view text) {
    const bool negative = !text.empty() && text.front() == '-';
    if (negative) text.remove_prefix(1);
    const size_t point = text.find('.');
    const std::optional<uint64_t> whole = decimal(text.substr(0, point));
    if (!whole) return std::nullopt;
    long nanoseconds = 0;
    if (point != std::string_view::npos) {
        const std::string_view fraction = text.substr(point + 1);
        if (fraction.empty() || fraction.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
        long scale = 100000000;
        for (size_t i = 0; i < fraction.size() && scale > 0; ++i, scale /= 10) nanoseconds += (fraction[i] - '0') * scale;
    }
    Timestamp time{static_cast<int64_t>(*whole), nanoseconds};
    if (!negative) return time;
    time.seconds = -time.seconds;
    if (nanoseconds != 0) time = Timestamp{time.seconds - 1, 1000000000 - nanoseconds};
    return time;
}

struct PaxRecord {
    std::string_view key;
    std::string_view value;
};

// Records "LENGTH KEY=VALUE\n" back to back; false for a malformed list.
template <typename Use>
bool for_each_pax_record(std::string_view text, Use use) {
    while (!text.empty()) {
        const size_t space = text.find(' ');
        if (space == std::string_view::npos) return false;
        const std::optional<uint64_t> length = decimal(text.substr(0, space));
        if (!length || *length <= space + 1 || *length > text.size()) return false;
        const size_t record_length = static_cast<size_t>(*length);  // within text, so a size_t
        if (text[record_length - 1] != '\n') return false;
        const std::string_view record = text.substr(space + 1, record_length - space - 2);
        const size_t equals = record.find('=');
        if (equals == std::string_view::npos) return false;
        if (!use(PaxRecord{record.substr(0, equals), record.substr(equals + 1)})) return false;
        text.remove_prefix(record_length);
    }
    return true;
}

// The value of the first of `choices` that holds one.
template <typename T>
std::optional<T> first_of(std::initializer_list<const std::optional<T>*> choices) {
    for (const std::optional<T>* choice : choices) {
        if (*choice) return *choice;
    }
    return std::nullopt;
}

// "OFFSET,SIZE,OFFSET,SIZE...".
bool read_map_list(std::string_view text, std::vector<SparseRegion>& map) {
    std::vector<uint64_t> numbers;
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find(',', start);
        if (end == std::string_view::npos) end = text.size();
        const std::optional<uint64_t> number = decimal(text.substr(start, end - start));
        if (!number) return false;
        numbers.push_back(*number);
        start = end + 1;
    }
    if (numbers.size() % 2 != 0) return false;
    for (size_t i = 0; i < numbers.size(); i += 2) map.push_back({numbers[i], numbers[i + 1]});
    return true;
}

void read_sparse_record(const PaxRecord& record, TarStream::PaxValues& values) {
    const std::string_view key = record.key.substr(11);
    const std::optional<uint64_t> number = decimal(record.value);
    if (key == "size" || key == "realsize") values.sparse_size = number;
    if (key == "name") values.sparse_name = std::string(record.value);
    if (key == "major" && record.value == "1") values.sparse_map_in_data = true;
    if (key == "map" && !read_map_list(record.value, values.sparse_map)) values.sparse_malformed = true;
    if (key == "offset") values.sparse_offset = number;
    if (key == "numbytes") {
        if (!values.sparse_offset || !number) values.sparse_malformed = true;
        values.sparse_map.push_back({values.sparse_offset.value_or(0), number.value_or(0)});
        values.sparse_offset.reset();
    }
}

// The regions in order, none past the file's end, and holding exactly the
// data bytes stored.
bool sound_map(const std::vector<SparseRegion>& map, uint64_t stored, uint64_t file_size) {
    uint64_t end = 0;
    uint64_t total = 0;
    for (const SparseRegion& region : map) {
        if (region.offset < end || region.size > file_size || region.offset > file_size - region.size) return false;
        end = region.offset + region.size;
        total += region.size;
    }
    return total == stored;
}

// The old GNU layout's map: `count` pairs of 12-byte octal numbers from
// `at`, ended early by an empty one.
void read_old_map(const Block& block, size_t at, size_t count, std::vector<SparseRegion>& map) {
    constexpr size_t NUMBER = 12;
    for (size_t i = 0; i < count; ++i, at += 2 * NUMBER) {
        if (block[at] == '\0') return;
        const std::optional<uint64_t> offset = parse_number(block, Field{at, NUMBER});
        const std::optional<uint64_t> size = parse_number(block, Field{at + NUMBER, NUMBER});
        map.push_back({offset.value_or(UINT64_MAX), size.value_or(UINT64_MAX)});
    }
}

enum class MapRead { whole, partial, malformed };

// Format 1.0: the lines its map takes, known from its first; 0 when that
// is no number, so that the map is read, and refused, at once.
uint64_t map_lines_needed(std::string_view text) {
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) return UINT64_MAX;
    const std::optional<uint64_t> count = decimal(text.substr(0, end));
    return count ? 1 + 2 * *count : 0;
}

// Format 1.0: decimal lines, the count of regions and then each region's
// offset and size.
MapRead read_map_lines(std::string_view text, std::vector<SparseRegion>& map) {
    std::vector<uint64_t> numbers;
    while (numbers.empty() || numbers.size() < 1 + 2 * numbers.front()) {
        const size_t end = text.find('\n');
        if (end == std::string_view::npos) return MapRead::partial;
        const std::optional<uint64_t> number = decimal(text.substr(0, end));
        if (!number || (numbers.empty() && *number > MAX_METADATA_SIZE)) return MapRead::malformed;
        numbers.push_back(*number);
        text.remove_prefix(end + 1);
    }
    for (size_t i = 1; i < numbers.size(); i += 2) map.push_back({numbers[i], numbers[i + 1]});
    return MapRead::whole;
}

// Each record replaces its key's value; an empty value drops it, as POSIX
// has it. False for a malformed list.
bool read_pax(std::string_view text, TarStream::PaxValues& values) {
    return for_each_pax_record(text, [&](const PaxRecord& record) {
        const bool dropped = record.value.empty();
        if (record.key == "path") values.name = dropped ? std::nullopt : std::optional(std::string(record.value));
        if (record.key == "linkpath") {
            values.link_name = dropped ? std::nullopt : std::optional(std::string(record.value));
        }
        if (record.key.substr(0, 11) == "GNU.sparse.") {
            values.sparse = true;
            read_sparse_record(record, values);
        }
        if (record.key == "mtime") values.mtime = dropped ? std::nullopt : pax_time(record.value);
        if (record.key == "size") {
            values.size = dropped ? std::nullopt : decimal(record.value);
            return dropped || values.size.has_value();
        }
        return true;
    });
}

// A long name's data is the name and a NUL, possibly more NULs.
std::string until_nul(std::string_view text) { return std::string(text.substr(0, text.find('\0'))); }

}  // namespace

void TarStream::feed(const unsigned char* bytes, size_t count) {
    while (count > 0) {
        size_t used = count;
        switch (state_) {
            case State::header:
            case State::extension: used = take_header(bytes, count); break;
            case State::sparse_map: used = take_sparse_map(bytes, count); break;
            case State::data: used = take_data(bytes, count); break;
            case State::padding: used = skip_padding(count); break;
            case State::finished:
            case State::damaged: return;
        }
        bytes += used;
        count -= used;
    }
}

size_t TarStream::take_header(const unsigned char* bytes, size_t count) {
    const size_t n = std::min(count, BLOCK_SIZE - header_fill_);
    std::memcpy(header_.data() + header_fill_, bytes, n);
    header_fill_ += n;
    offset_ += n;
    if (header_fill_ == BLOCK_SIZE) {
        header_fill_ = 0;
        process_header();
    }
    return n;
}

size_t TarStream::take_data(const unsigned char* bytes, size_t count) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count, data_remaining_));
    if (in_metadata_) {
        metadata_.append(reinterpret_cast<const char*>(bytes), n);
    } else {
        handler_->data(bytes, n);
    }
    data_remaining_ -= n;
    offset_ += n;
    if (data_remaining_ == 0) end_data();
    return n;
}

size_t TarStream::skip_padding(size_t count) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count, padding_remaining_));
    padding_remaining_ -= n;
    offset_ += n;
    if (padding_remaining_ == 0) state_ = State::header;
    return n;
}

void TarStream::process_extension() {
    constexpr size_t REGIONS_PER_EXTENSION = 21;
    read_old_map(header_, 0, REGIONS_PER_EXTENSION, held_.sparse_map);
    if (held_.sparse_map.size() > MAX_SPARSE_REGIONS) {
        return damage_map();
    }
    if (header_[SPARSE_EXTENSION_EXTENDED] == 0) deliver_held();
}

// Whole blocks, until the map is whole; the file's data follows it.
size_t TarStream::take_sparse_map(const unsigned char* bytes, size_t count) {
    const size_t room = BLOCK_SIZE - metadata_.size() % BLOCK_SIZE;
    const size_t n = static_cast<size_t>(std::min<uint64_t>({count, data_remaining_, room}));
    metadata_.append(reinterpret_cast<const char*>(bytes), n);
    map_lines_ += static_cast<uint64_t>(std::count(bytes, bytes + n, '\n'));
    data_remaining_ -= n;
    offset_ += n;
    if (metadata_.size() % BLOCK_SIZE != 0 && data_remaining_ != 0) return n;
    // Read once, when its lines are all there: not again at every block.
    const bool more = data_remaining_ != 0 && metadata_.size() < MAX_METADATA_SIZE;
    if (more && map_lines_ < map_lines_needed(metadata_)) return n;
    held_.sparse_map.clear();
    const MapRead read = read_map_lines(metadata_, held_.sparse_map);
    if (read != MapRead::whole || metadata_.size() % BLOCK_SIZE != 0) {
        damage_map();
        return n;
    }
    metadata_.clear();
    held_.size = data_remaining_;
    deliver_held();
    return n;
}

// A sparse file is made as a file when its map holds; a map that does not
// makes the archive damaged, as its data cannot be placed.
void TarStream::deliver_held() {
    if (held_.sparse_size) {
        if (!sound_map(held_.sparse_map, held_.size, *held_.sparse_size)) {
            return damage_map();
        }
        held_.kind = EntryKind::regular;
    }
    ++entries_;
    current_entry_ = held_.name;
    handler_->entry(held_);
    start_body(held_.size, false);
}

void TarStream::process_header() {
    if (state_ == State::extension) return process_extension();
    const uint64_t at = offset_ - BLOCK_SIZE;
    if (ends_archive(header_)) {
        state_ = State::finished;
        return handler_->end_block();
    }
    if (!checksum_holds(header_)) return damage("bad header checksum at offset " + std::to_string(at));
    tar_seen_ = true;
    const std::optional<uint64_t> header_size = parse_number(header_, SIZE);
    if (!header_size) return damage("no size in the header at offset " + std::to_string(at));

    const unsigned char type = header_[TYPE.offset];
    std::string name =
        first_of({&pending_.pax.name, &pending_.long_name, &global_.name}).value_or(header_name(header_));
    const EntryKind kind = entry_kind(type, name);
    if (name.empty() && !is_metadata(kind)) return damage("an entry without a name");
    if (is_metadata(kind)) {
        if (*header_size > MAX_METADATA_SIZE) {
            return damage("an extended header of " + std::to_string(*header_size) + " bytes, over the limit");
        }
        in_metadata_ = true;
        metadata_kind_ = kind;
        metadata_offset_ = at;
        metadata_.clear();
        return start_body(*header_size, true);
    }
    hold_entry(at, *header_size, type, std::move(name), kind);
}

// The entry as its header and the metadata before it give it, delivered
// once its sparse map, if any, is whole.
void TarStream::hold_entry(uint64_t at, uint64_t header_size, unsigned char type, std::string name, EntryKind kind) {
    const PaxValues& pax = pending_.pax;
    Entry entry{at,
                pax.sparse_name ? *pax.sparse_name : std::move(name),
                first_of({&pax.link_name, &pending_.long_link, &global_.link_name}).value_or(header_link_name(header_)),
                type,
                pax.sparse ? EntryKind::unsupported : kind,
                std::nullopt,
                0,
                std::nullopt,
                {},
                std::nullopt};
    if (const std::optional<uint64_t> mode = parse_number(header_, MODE))
        entry.mode = static_cast<unsigned>(*mode & 07777);
    const uint64_t size = first_of({&pax.size, &global_.size}).value_or(header_size);
    entry.size = carries_data(kind, type) ? size : 0;
    entry.mtime = first_of({&pax.mtime, &global_.mtime});
    if (!entry.mtime) {
        if (const std::optional<uint64_t> seconds = parse_number(header_, MTIME)) {
            entry.mtime = Timestamp{static_cast<int64_t>(*seconds), 0};
        }
    }
    held_ = std::move(entry);
    const bool regular_type = kind == EntryKind::regular;
    if (type == 'S') {
        constexpr size_t MAP_IN_HEADER = 386;
        constexpr size_t REGIONS_IN_HEADER = 4;
        read_old_map(header_, MAP_IN_HEADER, REGIONS_IN_HEADER, held_.sparse_map);
        held_.sparse_size = parse_number(header_, OLD_SPARSE_SIZE);
        if (!held_.sparse_size) held_.sparse_size = 0;  // no map holds then
    } else if (pax.sparse && regular_type && !pax.sparse_malformed && pax.sparse_size) {
        held_.sparse_map = pax.sparse_map;
        held_.sparse_size = pax.sparse_size;
    }
    const bool map_in_data = pax.sparse_map_in_data && held_.sparse_size.has_value();
    pending_ = Pending{};
    if (type == 'S' && header_[SPARSE_EXTENDED] != 0) {
        state_ = State::extension;
        return;
    }
    if (!map_in_data) return deliver_held();
    metadata_.clear();
    map_lines_ = 0;
    data_remaining_ = held_.size;
    padding_remaining_ = padding_after(held_.size);
    state_ = held_.size != 0 ? State::sparse_map : State::header;
    if (held_.size == 0) damage_map();
}

void TarStream::start_body(uint64_t size, bool metadata) {
    data_remaining_ = size;
    padding_remaining_ = padding_after(size);
    if (size != 0) {
        state_ = State::data;
    } else {
        state_ = State::header;
        if (metadata) {
            end_metadata();
        } else {
            end_data();
        }
    }
}

void TarStream::end_data() {
    state_ = padding_remaining_ != 0 ? State::padding : State::header;
    if (in_metadata_) return end_metadata();
    last_entry_ = current_entry_;
    handler_->entry_end();
}

void TarStream::end_metadata() {
    in_metadata_ = false;
    const std::string_view text(metadata_);
    switch (metadata_kind_) {
        case EntryKind::long_name: pending_.long_name = until_nul(text); break;
        case EntryKind::long_link: pending_.long_link = until_nul(text); break;
        case EntryKind::extended:
            pending_.pax = PaxValues{};
            if (!read_pax(text, pending_.pax)) damage_metadata();
            break;
        case EntryKind::global_extended:
            if (!read_pax(text, global_)) damage_metadata();
            break;
        default: break;
    }
    metadata_.clear();
}

void TarStream::damage(const std::string& problem) {
    state_ = State::damaged;
    problem_ = problem;
}

void TarStream::damage_map() { damage("a malformed sparse map at offset " + std::to_string(held_.offset)); }

void TarStream::damage_metadata() { damage("a malformed extended header at offset " + std::to_string(metadata_offset_)); }

std::string TarStream::problem() const {
    const std::string not_tar = tar_seen_ ? "" : "not a tar archive: ";
    switch (state_) {
        case State::finished: return "";
        case State::damaged: return not_tar + problem_;
        case State::sparse_map:
        case State::data:
        case State::padding: return "cut short inside an entry's data";
        case State::extension: return "cut short inside a header";
        case State::header:
            if (offset_ == 0) return "not a tar archive: it is empty";
            if (offset_ < BLOCK_SIZE) return "not a tar archive: shorter than one header";
            if (header_fill_ > 0) return "cut short inside a header";
            return "cut short: no end-of-archive block";
    }
    return "";
}

bool TarStream::lacks_only_end_block() const {
    return state_ == State::header && offset_ >= BLOCK_SIZE && header_fill_ == 0;
}

}  // namespace tar_format
