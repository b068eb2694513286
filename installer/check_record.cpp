#include "check_record.h"

#include <sys/stat.h>
#include <unistd.h>

#include <zk/base/byteorder.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "fatal.h"
#include "package_format.h"
#include "pump.h"

namespace {

int32_t discard(PumpContext*, const unsigned char*, int32_t) { return 0; }

int32_t feed_archive(PumpContext* context, const unsigned char* source, int32_t count) {
    static_cast<tar_format::TarStream*>(context->opaque)->feed(source, static_cast<size_t>(std::max(count, 0)));
    return 0;
}

// Entries are only read past.
class EntrySkipper final : public tar_format::EntryHandler {
public:
    void entry(const tar_format::Entry&) override {}
    void data(const unsigned char*, size_t) override {}
    void entry_end() override {}
    void end_block() override {}
};

}  // namespace

uint64_t payload_offset(int fd) {
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    return at < 0 ? 0 : static_cast<uint64_t>(at);
}

void require_payload_in_file(int fd, const unsigned char* prefix) {
    struct stat status {};
    if (::fstat(fd, &status) == 0 && payload_offset(fd) + zk::LGET32(prefix) <= static_cast<uint64_t>(status.st_size)) {
        return;
    }
    std::fprintf(stderr, "Error extracting package -- premature EOF detected.\n");
    fatal_exit();
}

void report_damaged_payload(uint64_t payload_offset) {
    const uint64_t record = payload_offset - package_format::PREFIX_SIZE;
    std::fprintf(stderr, "Compressed data corrupt or cut short in the record at offset %llu\n",
                 static_cast<unsigned long long>(record));
}

int check_plain(int fd, const unsigned char* prefix) {
    require_payload_in_file(fd, prefix);
    return 0;
}

int check_environment(int fd, const unsigned char* prefix) {
    require_payload_in_file(fd, prefix);
    if (zk::LGET32(prefix) >= package_format::ENVIRONMENT_BUFFER_SIZE) {
        std::printf("Environment variable too long in setup file\n");
        fatal_exit();
    }
    return 0;
}

bool read_archive(int fd, const unsigned char* prefix, tar_format::EntryHandler& handler) {
    const uint64_t start = payload_offset(fd);
    tar_format::TarStream stream(handler);
    start_payload_window(fd, prefix);
    if (bzunzip(&stream, payload_read, feed_archive) != 0) {
        report_damaged_payload(start);
        return false;
    }
    const std::string problem = stream.problem();
    if (problem.empty()) return true;
    std::fprintf(stderr, "Archive damaged in the record at offset %llu: %s\n",
                 static_cast<unsigned long long>(start - package_format::PREFIX_SIZE), problem.c_str());
    return false;
}

int check_archive(int fd, const unsigned char* prefix) {
    require_payload_in_file(fd, prefix);
    EntrySkipper skipper;
    if (!read_archive(fd, prefix, skipper)) fatal_exit();
    return 0;
}

int check_compressed(int fd, const unsigned char* prefix) {
    require_payload_in_file(fd, prefix);
    const uint64_t start = payload_offset(fd);
    start_payload_window(fd, prefix);
    if (bzunzip(nullptr, payload_read, discard) == 0) return 0;
    report_damaged_payload(start);
    fatal_exit();
}
