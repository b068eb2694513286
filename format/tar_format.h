// The tar rules: where a header block keeps its fields, how its numbers and
// names read, and what the installer takes as safe and as supported. zkpack
// refuses with these same decisions, so the two cannot drift apart.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tar_format {

constexpr size_t BLOCK_SIZE = 512;
using Block = std::array<unsigned char, BLOCK_SIZE>;

struct Field {
    size_t offset;
    size_t size;
};

constexpr Field NAME{0, 100};
constexpr Field MODE{100, 8};
constexpr Field SIZE{124, 12};
constexpr Field MTIME{136, 12};
constexpr Field CHECKSUM{148, 8};
constexpr Field TYPE{156, 1};
constexpr Field LINK_NAME{157, 100};
constexpr Field MAGIC{257, 6};
constexpr Field PREFIX{345, 155};
// Old GNU sparse files: set when extension blocks of the map follow the
// header, and in each extension block when another follows it.
constexpr size_t SPARSE_EXTENDED = 482;
constexpr size_t SPARSE_EXTENSION_EXTENDED = 504;
constexpr Field OLD_SPARSE_SIZE{483, 12};  // the file's size with its holes

// POSIX ustar: "ustar" and a NUL. The older GNU layout has two blanks
// instead and keeps other data where the prefix would be.
constexpr char POSIX_MAGIC[] = "ustar";
static_assert(sizeof POSIX_MAGIC == MAGIC.size);

// Longer names (and link targets) are refused as unsafe.
constexpr size_t MAX_NAME_LENGTH = 4095;
// No file system the installer writes to makes a longer name component, so
// such a name is refused like an unsafe one rather than half made.
constexpr size_t MAX_COMPONENT_LENGTH = 255;
// Long-name and extended-header data beyond this makes the archive damaged:
// no real name comes near it, and a name over MAX_NAME_LENGTH below it is
// skipped as unsafe like any other.
constexpr uint64_t MAX_METADATA_SIZE = 1024 * 1024;
// An old GNU sparse map runs on in extension blocks for as long as they
// say so; beyond this many regions it is damage, as a map in pax records
// is bounded by MAX_METADATA_SIZE.
constexpr size_t MAX_SPARSE_REGIONS = 64 * 1024;

enum class EntryKind {
    regular,
    directory,
    symbolic_link,
    hard_link,
    long_name,        // 'L': the next entry's name
    long_link,        // 'K': the next entry's link target
    extended,         // 'x': pax records for the next entry
    global_extended,  // 'g': pax records for the rest
    other_metadata,   // 'A', 'X', 'V': ACLs, Solaris headers, volume labels, consumed
    unsupported,      // devices, FIFOs, sparse files, multi-volume parts, unknown types
};

// Octal (blanks or NULs before and after; a field of only those is 0), or
// base-256 when the first byte's high bit is set. Nothing for a negative or
// unreadable field.
std::optional<uint64_t> parse_number(const Block& block, Field field);

// The stored checksum matches the block's bytes summed as unsigned or as
// signed chars, the field itself counted as blanks.
bool checksum_holds(const Block& block);

// Only a block of zeros ends the archive; a header whose name is empty is
// damage, not the end, so no later entry is silently dropped.
bool ends_archive(const Block& block);

// The name field (never read past its 100 bytes), joined under the prefix
// field when the block is POSIX ustar and has one.
std::string header_name(const Block& block);
std::string header_link_name(const Block& block);

// From the type flag; a regular-file type whose name ends in "/" is a
// directory, as old archives wrote them, and so is a GNU dump directory.
EntryKind entry_kind(unsigned char type, std::string_view name);

// Whether the entry's data bytes follow its header: files, metadata and
// whatever is skipped carry data; directories, links and devices do not.
bool carries_data(EntryKind kind, unsigned char type);

// What an unsupported type flag is, for messages: "a FIFO", "a sparse file".
std::string type_description(unsigned char type);

// The length of the name's longest component, in bytes.
size_t longest_component(std::string_view name);

// The rules an entry must keep to be made, in the order they are checked;
// the first one broken is the one named. The name rules keep the installer
// below the directory the archive is unpacked into and within what file
// systems make; the link target rules within what the system stores.
enum class Rule {
    none,                  // the installer makes the entry
    name_too_long,         // longer than MAX_NAME_LENGTH
    empty_name,
    absolute_name,
    nul_in_name,           // a pax record can carry one; the system would stop at it
    component_too_long,    // longer than MAX_COMPONENT_LENGTH
    dot_dot_component,
    empty_link_target,     // a symbolic link's
    nul_in_link_target,
    link_target_too_long,  // longer than MAX_NAME_LENGTH
    unsupported_type,      // devices, FIFOs, sparse files, unknown types
};

// Which of the entry's texts broke the rule: a hard link's target is a
// name like any other, so it can break the name rules too.
enum class Subject { name, link_target };

struct Decision {
    Rule rule;
    Subject subject;
};

// What the installer does with an entry: files, directories and links are
// made. A symbolic link's target is stored as written, since the installer
// never follows a link, when the system can store it.
Decision decide(EntryKind kind, std::string_view name, std::string_view link_name);

// The name with empty and "." components dropped, as the entry lands; ""
// for the directory the archive is unpacked into.
std::string normal_name(std::string_view name);

}  // namespace tar_format
