#include "package_util.h"

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

uint32_t checksum_of(std::string file, size_t marker_offset) {
    store32(file, marker_offset + CHECKSUM_FIELD, 0);
    return zk::crc32(reinterpret_cast<const unsigned char*>(file.data()), static_cast<int>(file.size()));
}

void reseal(std::string& file, size_t marker_offset) {
    store32(file, marker_offset + CHECKSUM_FIELD, checksum_of(file, marker_offset));
}

std::string build_package(const std::string& stub, const std::vector<Record>& records) {
    std::string file = stub + marker() + std::string(HEADER_SIZE - marker().size(), '\0');
    for (const auto& record : records) {
        std::string prefix(5, '\0');
        store32(prefix, 0, static_cast<uint32_t>(record.payload.size()));
        prefix[4] = static_cast<char>(record.kind);
        file += prefix + record.payload;
    }
    store32(file, stub.size() + LENGTH_FIELD, static_cast<uint32_t>(file.size() - stub.size()));
    reseal(file, stub.size());
    return file;
}

zktest::RunResult zkpack(const std::vector<std::string>& args) { return zktest::run(zktest::zkpack_path(), args); }

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
