#include "package_util.h"

#include "package_checksum.h"

#include <zk/zk.h>

#include <dirent.h>

#include <algorithm>

namespace zkpacktest {

std::string marker() {
    std::string head = "\x01Install";
    return head + "\x07" + "Magic";
}

uint32_t load32(const std::string& bytes, size_t offset) {
    return zk::LGET32(reinterpret_cast<const unsigned char*>(bytes.data() + offset));
}

void store32(std::string& bytes, size_t offset, uint32_t value) {
    zk::LPUT32(reinterpret_cast<unsigned char*>(&bytes[offset]), value);
}

uint32_t checksum_of(std::string_view file, size_t marker_offset) {
    package_format::Checksum checksum(marker_offset);
    checksum.add(reinterpret_cast<const unsigned char*>(file.data()), file.size());
    return checksum.value();
}

void reseal(std::string& file, size_t marker_offset) {
    store32(file, marker_offset + CHECKSUM_FIELD, checksum_of(file, marker_offset));
}

void seal(std::string& file, size_t marker_offset) {
    store32(file, marker_offset + LENGTH_FIELD, static_cast<uint32_t>(file.size() - marker_offset));
    reseal(file, marker_offset);
}

std::string wrong_size_report(uint64_t expected, uint64_t actual) {
    return "\n*** Error:\n"
           "    Package is corrupt - incorrect size detected.\n"
           "    File size should be: " +
           std::to_string(expected) +
           " bytes\n"
           "    Actual size        : " +
           std::to_string(actual) +
           " bytes\n"
           "    Press <Enter> to continue: ";
}

std::string build_package(const std::string& stub, const std::vector<Record>& records) {
    std::string file = stub + marker() + std::string(HEADER_SIZE - marker().size(), '\0');
    for (const auto& record : records) {
        std::string prefix(5, '\0');
        store32(prefix, 0, static_cast<uint32_t>(record.payload.size()));
        prefix[4] = static_cast<char>(record.kind);
        file += prefix + record.payload;
    }
    seal(file, stub.size());
    return file;
}

std::string elf_stub(const std::string& body, unsigned machine) {
    std::string header(64, '\0');
    header.replace(0, 7,
                   "\x7f"
                   "ELF\x02\x01\x01");
    header[16] = 2;  // an executable
    header[18] = static_cast<char>(machine & 0xFF);
    header[19] = static_cast<char>(machine >> 8);
    return header + body;
}

std::vector<Record> records_of(const std::string& file) {
    const size_t marker_offset = file.find(marker());
    std::vector<Record> records;
    if (marker_offset == std::string::npos) return records;
    for (size_t offset = marker_offset + HEADER_SIZE; offset + 5 <= file.size();) {
        const uint32_t length = load32(file, offset);
        records.push_back({static_cast<unsigned char>(file[offset + 4]), file.substr(offset + 5, length)});
        offset += 5 + length;
    }
    return records;
}

zktest::RunResult zkpack(const std::vector<std::string>& args, const zktest::RunOptions& options) {
    return zktest::run(zktest::zkpack_path(), args, options);
}

zktest::RunResult shell(const std::string& command, const zktest::RunOptions& options) {
    return zktest::run("/bin/sh", {"-c", command}, options);
}

std::string quoted(const std::string& text) {
    std::string result = "'";
    for (const char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return result + "'";
}

std::vector<std::string> directory_entries(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(path.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace zkpacktest
