#include "tar_tree.h"

#include "input_file.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <memory>
#include <utility>
#include <vector>

namespace zkpack {

namespace {

constexpr size_t READ_BLOCK = 64 * 1024;

// Marked failed first, so that freeing an unfinished stream writes nothing more.
int discard_archive(archive* handle) {
    archive_write_fail(handle);
    return archive_write_free(handle);
}

using ArchiveHandle = std::unique_ptr<archive, int (*)(archive*)>;
using EntryHandle = std::unique_ptr<archive_entry, void (*)(archive_entry*)>;

// libarchive is C: a failure of the sink is kept here and raised again once
// libarchive has returned, instead of unwinding through it.
struct WriteContext {
    const ByteSink* sink;
    std::exception_ptr failure;
};

la_ssize_t write_to_sink(archive*, void* client, const void* buffer, size_t length) {
    auto* context = static_cast<WriteContext*>(client);
    try {
        (*context->sink)(static_cast<const unsigned char*>(buffer), length);
        return static_cast<la_ssize_t>(length);
    } catch (...) {
        context->failure = std::current_exception();
        return -1;
    }
}

unsigned file_type(tar_format::EntryKind kind) {
    switch (kind) {
        case tar_format::EntryKind::directory: return AE_IFDIR;
        case tar_format::EntryKind::symbolic_link: return AE_IFLNK;
        default: return AE_IFREG;
    }
}

class TarWriter {
public:
    TarWriter(const std::string& root, const ByteSink& sink);
    void add(const TreeEntry& entry, std::optional<time_t> mtime, Progress& progress);
    void close();

private:
    void check(int code, const std::string& subject);
    void copy_data(const TreeEntry& entry, Progress& progress);

    std::string root_;
    WriteContext context_;
    ArchiveHandle archive_{archive_write_new(), discard_archive};
};

TarWriter::TarWriter(const std::string& root, const ByteSink& sink) : root_(root), context_{&sink, nullptr} {
    if (!archive_) fail(root_, "cannot start a tar stream: out of memory");
    check(archive_write_set_format_pax_restricted(archive_.get()), root_);
    // The stream ends right after its two zero blocks; the installer reads no further.
    check(archive_write_set_bytes_in_last_block(archive_.get(), 1), root_);
    check(archive_write_open2(archive_.get(), &context_, nullptr, write_to_sink, nullptr, nullptr), root_);
}

void TarWriter::check(int code, const std::string& subject) {
    if (context_.failure) std::rethrow_exception(std::exchange(context_.failure, nullptr));
    if (code != ARCHIVE_OK)
        fail(subject, std::string("cannot write the tar stream: ") + archive_error_string(archive_.get()));
}

void TarWriter::add(const TreeEntry& entry, std::optional<time_t> mtime, Progress& progress) {
    EntryHandle header(archive_entry_new(), archive_entry_free);
    if (!header) fail(entry.source, "cannot describe it: out of memory");
    archive_entry_set_pathname(header.get(), entry.name.c_str());
    archive_entry_set_filetype(header.get(), file_type(entry.kind));
    if (entry.kind == tar_format::EntryKind::symbolic_link)
        archive_entry_set_symlink(header.get(), entry.link_target.c_str());
    if (entry.kind == tar_format::EntryKind::hard_link)
        archive_entry_set_hardlink(header.get(), entry.link_target.c_str());
    archive_entry_set_perm(header.get(), entry.permissions);
    archive_entry_set_size(header.get(), static_cast<la_int64_t>(entry.size));
    archive_entry_set_uid(header.get(), 0);
    archive_entry_set_gid(header.get(), 0);
    archive_entry_set_mtime(header.get(), mtime.value_or(entry.mtime), 0);
    check(archive_write_header(archive_.get(), header.get()), entry.source);
    if (entry.kind == tar_format::EntryKind::regular) copy_data(entry, progress);
}

void TarWriter::copy_data(const TreeEntry& entry, Progress& progress) {
    // The walk saw a regular file: anything else there now was swapped in.
    const input_file::Opened opened = input_file::open_regular(entry.source.c_str(), O_NOFOLLOW);
    if (opened.not_regular) fail(entry.source, "changed while being packed");
    const FileDescriptor file(opened.fd);
    if (file.get() < 0) fail_system(entry.source, "cannot open");
    struct stat status;
    if (::fstat(file.get(), &status) != 0) fail_system(entry.source, "cannot read its status");
    const bool same_file = status.st_dev == entry.device && status.st_ino == entry.inode &&
                           static_cast<uint64_t>(status.st_size) == entry.size;
    if (!same_file) fail(entry.source, "changed while being packed");

    std::vector<unsigned char> block(READ_BLOCK);
    uint64_t copied = 0;
    for (;;) {
        const ssize_t n = ::read(file.get(), block.data(), block.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) fail_system(entry.source, "cannot read");
        if (n == 0) break;
        copied += static_cast<uint64_t>(n);
        // The header holds the size already: a file that grew cannot be taken.
        if (copied > entry.size) fail(entry.source, "changed while being packed");
        const la_ssize_t written = archive_write_data(archive_.get(), block.data(), static_cast<size_t>(n));
        check(written == n ? ARCHIVE_OK : ARCHIVE_FATAL, entry.source);
        progress.add(static_cast<uint64_t>(n));
    }
    if (copied != entry.size) fail(entry.source, "changed while being packed");
}

void TarWriter::close() { check(archive_write_close(archive_.get()), root_); }

}  // namespace

std::optional<time_t> source_date_epoch() {
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (text == nullptr) return std::nullopt;
    const std::string value = text;
    const bool digits_only =
        !value.empty() && value.size() <= 11 && value.find_first_not_of("0123456789") == std::string::npos;
    if (!digits_only) fail("SOURCE_DATE_EPOCH", "'" + value + "' is not a number of seconds");
    return static_cast<time_t>(std::stoll(value));
}

void write_tree(const Tree& tree, std::optional<time_t> mtime, const ByteSink& sink, Progress& progress) {
    TarWriter writer(tree.root, sink);
    for (const TreeEntry& entry : tree.entries) writer.add(entry, mtime, progress);
    writer.close();
}

}  // namespace zkpack
