// What an archive entry must be for the installer to reproduce it: the
// rules shared by --tree and --archive. Each returns the reason an entry
// breaks it, or "" when it holds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zkpack {

// The installer reads a name from the 100-byte field only, as a C string.
constexpr size_t MAX_NAME_LENGTH = 99;
// It counts an entry's bytes in 32 bits, signed.
constexpr uint64_t MAX_ENTRY_SIZE = (uint64_t{1} << 31) - 1;

enum class EntryType {
    regular,
    directory,
    hard_link,
    symbolic_link,
    character_device,
    block_device,
    fifo,
    socket,
};

// kind: what the entry is, "a symbolic link"; the installer would make an
// empty regular file of anything but a file or a directory.
std::string type_problem(std::string_view kind);
std::string type_problem(EntryType type);

// stored_name: the name as the archive holds it (a directory's with its
// trailing slash).
std::string name_problem(std::string_view stored_name);

std::string size_problem(uint64_t size);

}  // namespace zkpack
