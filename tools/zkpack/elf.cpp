#include "elf.h"

#include "io.h"

#include <array>

namespace zkpack {

namespace {

// The fields read are at the same offsets in 32- and 64-bit headers.
constexpr size_t IDENT_CLASS = 4;
constexpr size_t IDENT_DATA = 5;
constexpr size_t FIELD_TYPE = 16;
constexpr size_t FIELD_MACHINE = 18;
constexpr size_t FIELDS_READ = 20;

constexpr unsigned char ELF_MAGIC[] = {0x7F, 'E', 'L', 'F'};
constexpr unsigned char CLASS_32 = 1, CLASS_64 = 2;
constexpr unsigned char DATA_LITTLE = 1, DATA_BIG = 2;
constexpr unsigned TYPE_EXECUTABLE = 2, TYPE_SHARED = 3;

struct Architecture {
    std::string_view name;
    unsigned machine;
};

constexpr Architecture ARCHITECTURES[] = {{"x86_64", 62}, {"aarch64", 183}, {"i686", 3}};

unsigned field16(const std::array<unsigned char, FIELDS_READ>& header, size_t at) {
    const unsigned first = header[at], second = header[at + 1];
    return header[IDENT_DATA] == DATA_LITTLE ? first | second << 8 : first << 8 | second;
}

}  // namespace

const char ARCHITECTURE_NAMES[] = "x86_64, aarch64 or i686";

std::optional<unsigned> executable_machine(int fd, const std::string& path, uint64_t limit) {
    std::array<unsigned char, FIELDS_READ> header{};
    if (limit < header.size() || read_at(fd, header.data(), header.size(), 0, path) < header.size()) return {};
    for (size_t i = 0; i < sizeof ELF_MAGIC; ++i) {
        if (header[i] != ELF_MAGIC[i]) return {};
    }
    const bool known_layout = (header[IDENT_CLASS] == CLASS_32 || header[IDENT_CLASS] == CLASS_64) &&
                              (header[IDENT_DATA] == DATA_LITTLE || header[IDENT_DATA] == DATA_BIG);
    const unsigned type = field16(header, FIELD_TYPE);
    // A position-independent executable has the type of a shared object.
    if (!known_layout || (type != TYPE_EXECUTABLE && type != TYPE_SHARED)) return {};
    return field16(header, FIELD_MACHINE);
}

std::string machine_name(unsigned machine) {
    for (const auto& architecture : ARCHITECTURES) {
        if (architecture.machine == machine) return std::string(architecture.name);
    }
    return "ELF machine " + std::to_string(machine);
}

std::optional<unsigned> architecture_machine(std::string_view name) {
    for (const auto& architecture : ARCHITECTURES) {
        if (architecture.name == name) return architecture.machine;
    }
    return {};
}

}  // namespace zkpack
