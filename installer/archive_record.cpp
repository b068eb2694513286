#include "archive_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zk/file/dirtree.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "installer_state.h"
#include "tar_stream.h"
#include "parallel_pump.h"

namespace {

using tar_format::Decision;
using tar_format::Entry;
using tar_format::EntryKind;

constexpr int SEARCH_BITS = 0111;
constexpr unsigned DEFAULT_FILE_MODE = 0644;
constexpr unsigned DEFAULT_DIRECTORY_MODE = 0755;

// Makes the entries the tar reader hands over.
class ArchiveWriter final : public tar_format::EntryHandler {
public:
    void entry(const Entry& entry) override;
    void data(const unsigned char* bytes, size_t count) override;
    void entry_end() override;
    void end_block() override;

    // Ends the archive: a stream cut short or damaged fails the record.
    void finish(const tar_format::TarStream& stream);
    int failed_entries() const { return failed_entries_; }

private:
    void entry_failed() { ++failed_entries_; }
    void close_entry_file();
    void make_directory_entry(const char* name, unsigned mode);
    FILE* open_entry_file(const char* name, unsigned mode);

    FILE* entry_file_ = nullptr;  // null when the entry's data is dropped
    std::string entry_name_;     // printable, for a write error found when the file is closed
    int failed_entries_ = 0;
};

ArchiveWriter archive_writer;
tar_format::TarStream archive_stream(archive_writer);

// The writer never makes links, so a link on the way was there before the
// archive and may point anywhere: no entry is written through one.
bool crosses_symbolic_link(const std::string& name) {
    for (size_t end = 1; end <= name.size(); ++end) {
        if (end < name.size() && name[end] != '/') continue;
        struct stat status;
        if (::lstat(name.substr(0, end).c_str(), &status) != 0) return false;  // nothing further down exists yet
        if (S_ISLNK(status.st_mode)) return true;
    }
    return false;
}

void ArchiveWriter::close_entry_file() {
    if (entry_file_ == nullptr) return;
    const bool write_failed = std::ferror(entry_file_) != 0;
    if (std::fclose(entry_file_) != 0 || write_failed) {
        std::printf("Error writing file %s\n", entry_name_.c_str());
        entry_failed();
    }
    entry_file_ = nullptr;
}

void ArchiveWriter::make_directory_entry(const char* name, unsigned mode) {
    if (zk::make_directory_tree(name, static_cast<int>(mode)) < 0) {
        std::printf("Error creating dir %s\n", entry_name_.c_str());
        entry_failed();
    }
}

// A parent that cannot be made shows as a file that cannot be created.
void make_parent_directories(std::string name, unsigned mode) {
    const size_t last = name.rfind('/');
    if (last == std::string::npos) return;
    name.resize(last);
    zk::make_directory_tree(name.c_str(), static_cast<int>(mode | SEARCH_BITS));
}

// Created with mode 0666 before the mask, or truncated, as fopen "w" would,
// but never through a link, and never into a FIFO or device left at the name
// (O_NONBLOCK keeps a FIFO without a reader from blocking us). A file that
// other names share is replaced, not truncated: a hard link left in the
// install directory must not let us rewrite a file elsewhere.
FILE* create_entry_file(const char* name) {
    constexpr int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK;
    int fd = ::open(name, flags, 0666);
    if (fd < 0) return nullptr;
    struct stat status;
    bool usable = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    if (usable && status.st_nlink > 1) {
        ::close(fd);
        fd = ::unlink(name) == 0 ? ::open(name, flags | O_EXCL, 0666) : -1;
        if (fd < 0) return nullptr;
    } else if (usable) {
        usable = ::ftruncate(fd, 0) == 0;
    }
    FILE* file = usable ? ::fdopen(fd, "w") : nullptr;
    if (file == nullptr) ::close(fd);
    return file;
}

// The mode is set before any data is written, so the mask does not apply and
// a read-only mode does not hinder the writing through the open stream.
FILE* ArchiveWriter::open_entry_file(const char* name, unsigned mode) {
    FILE* file = create_entry_file(name);
    if (file == nullptr) {
        std::printf("Cannot create file %s\n", entry_name_.c_str());
        entry_failed();
        return nullptr;
    }
    if (::fchmod(::fileno(file), static_cast<mode_t>(mode)) != 0) {
        std::printf("Failed to chmod(%s, %o)\n", entry_name_.c_str(), mode);
    }
    return file;
}

void ArchiveWriter::entry(const Entry& entry) {
    entry_name_ = tar_format::printable_name(entry.name);
    if (shows_progress()) {
        std::printf("Extracting %s .. %lu bytes\n", entry_name_.c_str(), static_cast<unsigned long>(entry.size));
    }
    const bool directory = entry.kind == EntryKind::directory;
    const unsigned mode = entry.mode.value_or(directory ? DEFAULT_DIRECTORY_MODE : DEFAULT_FILE_MODE);
    Decision decision = tar_format::decide(entry.kind, entry.name, entry.link_name);
    if (decision == Decision::make && crosses_symbolic_link(entry.name)) decision = Decision::unsafe;
    if (decision == Decision::unsafe) {
        std::printf("Unsafe path skipped: %s\n", entry_name_.c_str());
        entry_failed();
    } else if (decision == Decision::unsupported) {
        std::printf("Unsupported entry skipped: %s\n", entry_name_.c_str());
        entry_failed();
    } else if (directory) {
        make_directory_entry(entry.name.c_str(), mode);
    } else {
        make_parent_directories(entry.name, mode);
        entry_file_ = open_entry_file(entry.name.c_str(), mode);
    }
}

void ArchiveWriter::data(const unsigned char* bytes, size_t count) {
    if (entry_file_ != nullptr) std::fwrite(bytes, 1, count, entry_file_);
}

void ArchiveWriter::entry_end() { close_entry_file(); }

void ArchiveWriter::end_block() {
    if (shows_progress()) std::printf("Extracting  .. 0 bytes\n");
}

void ArchiveWriter::finish(const tar_format::TarStream& stream) {
    const std::string problem = stream.problem();
    if (problem.empty()) return;
    // A file whose data was cut short is incomplete.
    if (entry_file_ != nullptr) {
        std::fclose(entry_file_);
        entry_file_ = nullptr;
    }
    if (stream.last_entry().empty()) {
        std::printf("Archive damaged before its first entry: %s\n", problem.c_str());
    } else {
        std::printf("Archive damaged after entry %s: %s\n", tar_format::printable_name(stream.last_entry()).c_str(),
                    problem.c_str());
    }
    entry_failed();
}

}  // namespace

void archive_reset() {
    archive_writer = ArchiveWriter();
    archive_stream = tar_format::TarStream(archive_writer);
}

int32_t archive_write(PumpContext*, const unsigned char* source, int32_t count) {
    archive_stream.feed(source, static_cast<size_t>(std::max(count, 0)));
    return 0;
}

int archive_finish() {
    archive_writer.finish(archive_stream);
    return archive_writer.failed_entries();
}

int file_extract(int fd, const unsigned char* prefix) {
    const bool stream_only = installer_state.stream_only != 0;
    if (!stream_only && shows_progress()) std::printf("\n");
    start_payload_window(fd, prefix);
    archive_reset();
    const int threads = stream_only ? 1 : decoding_threads();
    const int32_t pumped = threads > 1 ? parallel_bzunzip(threads, archive_write)
                                       : bzunzip(nullptr, payload_read, stream_only ? stdout_write : archive_write);
    const bool entries_failed = !stream_only && archive_finish() != 0;
    const bool output_failed = stream_only && std::fflush(stdout) != 0;
    return pumped != 0 || entries_failed || output_failed ? ARCHIVE_FAILED : 0;
}
