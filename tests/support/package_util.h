// Packages as the tests see them: built here byte by byte, independently
// of zkpack, and compared with what zkpack writes. Only the checksum is the
// format library's, whose own test checks it against the plain CRC.
#pragma once

#include "support.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zkpacktest {

constexpr size_t HEADER_SIZE = 172;
constexpr size_t LENGTH_FIELD = 24;
constexpr size_t CHECKSUM_FIELD = 28;

// Joined at run time, so this file does not carry it in one piece either.
std::string marker();

struct Record {
    unsigned kind;
    std::string payload;
};

uint32_t load32(const std::string& bytes, size_t offset);
void store32(std::string& bytes, size_t offset, uint32_t value);

// The CRC of the whole file with the checksum field taken as zero.
uint32_t checksum_of(std::string_view file, size_t marker_offset);
// Stores checksum_of into the header, as a packer would after an edit.
void reseal(std::string& file, size_t marker_offset);
// Sets the package length and then the checksum for the bytes as they stand.
void seal(std::string& file, size_t marker_offset);

// The installer's report of a package file whose size is not the header's,
// up to its prompt.
std::string wrong_size_report(uint64_t expected, uint64_t actual);

std::string build_package(const std::string& stub, const std::vector<Record>& records);

constexpr unsigned MACHINE_X86_64 = 62;
constexpr unsigned MACHINE_AARCH64 = 183;
// The 64-byte header of a 64-bit little-endian ELF executable for the
// machine, then body: all zkpack looks at in a stub.
std::string elf_stub(const std::string& body = "stub", unsigned machine = MACHINE_X86_64);

// The records of a package built by the rules, as build_package takes them.
std::vector<Record> records_of(const std::string& file);

zktest::RunResult zkpack(const std::vector<std::string>& args, const zktest::RunOptions& options = {});
zktest::RunResult shell(const std::string& command, const zktest::RunOptions& options = {});
// "'text'" for the shell, whatever text holds.
std::string quoted(const std::string& text);

// Names in a directory, sorted.
std::vector<std::string> directory_entries(const std::string& path);

}  // namespace zkpacktest
