// The installer program's ELF header: the packer takes only an executable as
// a stub, and names the processor it was built for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zkpack {

// The machine field of the ELF header at the start of the file, when the
// first limit bytes hold the header of an executable (a program or a
// position-independent one); nullopt otherwise.
std::optional<unsigned> executable_machine(int fd, const std::string& path, uint64_t limit);

// "x86_64", "aarch64", "i686", or "ELF machine N" for the others.
std::string machine_name(unsigned machine);

// The machine of an architecture zkpack builds installers for, by its name.
std::optional<unsigned> architecture_machine(std::string_view name);

// The names architecture_machine knows, for messages.
extern const char ARCHITECTURE_NAMES[];

}  // namespace zkpack
