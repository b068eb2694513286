#include "archive_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zk/file/dirtree.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "archive_header.h"
#include "installer_state.h"

using namespace archive_header;

namespace {

enum class ArchiveState {
    header,   // collecting a header block
    data,     // copying an entry's data
    padding,  // skipping the rest of the entry's last block
    finished  // the archive has ended: everything else is ignored
};

struct ArchiveWriter {
    ArchiveState archive_state;
    Block header_buf;
    size_t header_fill;
    FILE* entry_file;          // null when the entry's data is dropped
    uint64_t entry_remaining;  // data bytes still to come
    uint32_t entry_padding;    // padding bytes to skip after the data
    EntryName entry_name;      // for a write error found when the file is closed
    int failed_entries;
};

ArchiveWriter archive_writer;

constexpr int SEARCH_BITS = 0111;
constexpr int DEFAULT_FILE_MODE = 0644;
constexpr int DEFAULT_DIRECTORY_MODE = 0755;

int entry_mode(const Block& block) {
    uint64_t mode;
    if (parse_octal(block, MODE, mode)) return static_cast<int>(mode);
    return block[TYPE.offset] == TYPE_DIRECTORY ? DEFAULT_DIRECTORY_MODE : DEFAULT_FILE_MODE;
}

// The writer never makes links, so a link on the way was there before the
// archive and may point anywhere: no entry is written through one.
bool crosses_symbolic_link(const char* name) {
    EntryName prefix;
    const size_t length = std::strlen(name);
    for (size_t end = 1; end <= length; ++end) {
        if (end < length && name[end] != '/') continue;
        std::memcpy(prefix.data(), name, end);
        prefix[end] = '\0';
        struct stat status;
        if (::lstat(prefix.data(), &status) != 0) return false;  // nothing further down exists yet
        if (S_ISLNK(status.st_mode)) return true;
    }
    return false;
}

void entry_failed() { ++archive_writer.failed_entries; }

void close_entry_file() {
    ArchiveWriter& writer = archive_writer;
    if (writer.entry_file == nullptr) return;
    const bool write_failed = std::ferror(writer.entry_file) != 0;
    if (std::fclose(writer.entry_file) != 0 || write_failed) {
        std::printf("Error writing file %s\n", writer.entry_name.data());
        entry_failed();
    }
    writer.entry_file = nullptr;
}

// The entry's data follows its header; a null file drops it.
void start_entry_data(FILE* file) {
    ArchiveWriter& writer = archive_writer;
    writer.entry_file = file;
    const uint64_t partial = writer.entry_remaining % BLOCK_SIZE;
    writer.entry_padding = partial != 0 ? static_cast<uint32_t>(BLOCK_SIZE - partial) : 0;
    if (writer.entry_remaining != 0) {
        writer.archive_state = ArchiveState::data;
    } else {
        close_entry_file();
    }
}

void make_directory_entry(const char* name, int mode) {
    if (zk::make_directory_tree(name, mode) < 0) {
        std::printf("Error creating dir %s\n", name);
        entry_failed();
    }
}

// A parent that cannot be made shows as a file that cannot be created.
void make_parent_directories(char* name, int mode) {
    char* last = std::strrchr(name, '/');
    if (last == nullptr) return;
    *last = '\0';
    zk::make_directory_tree(name, mode | SEARCH_BITS);
    *last = '/';
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
FILE* open_entry_file(const char* name, int mode) {
    FILE* file = create_entry_file(name);
    if (file == nullptr) {
        std::printf("Cannot create file %s\n", name);
        entry_failed();
        return nullptr;
    }
    if (::fchmod(::fileno(file), static_cast<mode_t>(mode)) != 0) {
        std::printf("Failed to chmod(%s, %o)\n", name, static_cast<unsigned>(mode));
    }
    return file;
}

void process_header() {
    ArchiveWriter& writer = archive_writer;
    const Block& block = writer.header_buf;
    const unsigned char type = block[TYPE.offset];
    // A size field without a number keeps the count as it stands.
    parse_octal(block, SIZE, writer.entry_remaining);
    const int mode = entry_mode(block);
    entry_name(block, writer.entry_name);
    char* name = writer.entry_name.data();
    std::printf("Extracting %s .. %lu bytes\n", name, static_cast<unsigned long>(writer.entry_remaining));

    if (is_metadata(type)) {
        start_entry_data(nullptr);
    } else if (leaves_directory(name) || crosses_symbolic_link(name)) {
        std::printf("Unsafe path skipped: %s\n", name);
        entry_failed();
        if (type != TYPE_DIRECTORY) start_entry_data(nullptr);
    } else if (type == TYPE_DIRECTORY) {
        make_directory_entry(name, mode);
    } else if (name[0] == '\0') {
        writer.archive_state = ArchiveState::finished;
    } else {
        make_parent_directories(name, mode);
        start_entry_data(open_entry_file(name, mode));
    }
}

size_t take_header_bytes(const unsigned char* source, size_t count) {
    ArchiveWriter& writer = archive_writer;
    const size_t n = std::min(count, BLOCK_SIZE - writer.header_fill);
    std::memcpy(writer.header_buf.data() + writer.header_fill, source, n);
    writer.header_fill += n;
    if (writer.header_fill == BLOCK_SIZE) {
        writer.header_fill = 0;
        process_header();
    }
    return n;
}

size_t take_data_bytes(const unsigned char* source, size_t count) {
    ArchiveWriter& writer = archive_writer;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count, writer.entry_remaining));
    if (writer.entry_file != nullptr) std::fwrite(source, 1, n, writer.entry_file);
    writer.entry_remaining -= n;
    if (writer.entry_remaining == 0) {
        close_entry_file();
        writer.archive_state = writer.entry_padding != 0 ? ArchiveState::padding : ArchiveState::header;
    }
    return n;
}

size_t skip_padding_bytes(size_t count) {
    ArchiveWriter& writer = archive_writer;
    const size_t n = std::min<size_t>(count, writer.entry_padding);
    writer.entry_padding -= static_cast<uint32_t>(n);
    if (writer.entry_padding == 0) writer.archive_state = ArchiveState::header;
    return n;
}

// Takes what the current state can use of the bytes; returns how many.
size_t take_bytes(const unsigned char* source, size_t count) {
    switch (archive_writer.archive_state) {
        case ArchiveState::header:
            return take_header_bytes(source, count);
        case ArchiveState::data:
            return take_data_bytes(source, count);
        case ArchiveState::padding:
            return skip_padding_bytes(count);
        case ArchiveState::finished:
            break;
    }
    return count;
}

}  // namespace

void archive_reset() {
    archive_writer.archive_state = ArchiveState::header;
    archive_writer.header_fill = 0;
    archive_writer.failed_entries = 0;
}

int32_t archive_write(PumpContext*, const unsigned char* source, int32_t count) {
    for (auto left = static_cast<size_t>(std::max(count, 0)); left > 0;) {
        const size_t taken = take_bytes(source, left);
        source += taken;
        left -= taken;
    }
    return 0;
}

int archive_finish() {
    ArchiveWriter& writer = archive_writer;
    if (writer.archive_state == ArchiveState::data) {
        // The stream ended inside this entry's data: the file is incomplete.
        close_entry_file();
        entry_failed();
        writer.archive_state = ArchiveState::finished;
    }
    return writer.failed_entries;
}

int file_extract(int fd, const unsigned char* prefix) {
    const bool stream_only = installer_state.stream_only != 0;
    if (!stream_only) std::printf("\n");
    start_payload_window(fd, prefix);
    archive_reset();
    const int32_t pumped = bzunzip(nullptr, payload_read, stream_only ? stdout_write : archive_write);
    const bool entries_failed = archive_finish() != 0;
    const bool output_failed = stream_only && std::fflush(stdout) != 0;
    return pumped != 0 || entries_failed || output_failed ? ARCHIVE_FAILED : 0;
}
