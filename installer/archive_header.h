// The header block of the archive stream that archive records carry: the
// fields the archive writer reads and how it reads them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace archive_header {

constexpr size_t BLOCK_SIZE = 512;
using Block = std::array<unsigned char, BLOCK_SIZE>;

struct Field {
    size_t offset;
    size_t size;
};

constexpr Field NAME{0, 100};
constexpr Field MODE{100, 8};
constexpr Field SIZE{124, 12};
constexpr Field TYPE{156, 1};
constexpr Field MAGIC{257, 6};
constexpr Field PREFIX{345, 155};

// POSIX ustar: "ustar" and a NUL. The older GNU layout has two blanks
// instead and keeps other data where the prefix would be.
constexpr char POSIX_MAGIC[] = "ustar";
static_assert(sizeof POSIX_MAGIC == MAGIC.size);

constexpr char TYPE_DIRECTORY = '5';

// prefix, "/", name, NUL
constexpr size_t ENTRY_NAME_SIZE = PREFIX.size + 1 + NAME.size + 1;
using EntryName = std::array<char, ENTRY_NAME_SIZE>;

// The octal number at the field's start, after blanks, as "%o" reads it but
// never past the field. False when the field holds none.
bool parse_octal(const Block& block, Field field, uint64_t& value);

// The entry's path: the name field (never read past its 100 bytes), joined
// under the prefix field when the block is POSIX ustar and has one. Empty
// when the name field is: that block ends the archive.
void entry_name(const Block& block, EntryName& name);

// pax extended headers and long-name entries: data for a following entry,
// never a file of their own.
bool is_metadata(unsigned char type);

// An absolute path, or one with a ".." component, would reach outside the
// directory the archive is unpacked into.
bool leaves_directory(const char* name);

}  // namespace archive_header
