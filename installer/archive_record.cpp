#include "archive_record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "beneath.h"
#include "installer_state.h"
#include "parallel_pump.h"
#include "run_signals.h"
#include "tar_stream.h"
#include "temp_file.h"
#include "terminal_text.h"
#include "writing_apart.h"

namespace {

using tar_format::Entry;
using tar_format::EntryKind;
using tar_format::Rule;
using tar_format::Timestamp;

constexpr unsigned SEARCH_BITS = 0111;
constexpr unsigned OWNER_WRITE = 0200;
constexpr unsigned DEFAULT_FILE_MODE = 0644;
constexpr unsigned DEFAULT_DIRECTORY_MODE = 0755;
constexpr int TEMP_NAME_TRIES = 100;
// Files are written through a buffer of this size rather than stdio's 4 KiB:
// a sixteenth of the write calls, which shows where decoding is fast (zstd).
constexpr size_t FILE_BUFFER_SIZE = 64 * 1024;

// The access time is left as the making of the entry set it.
std::array<timespec, 2> entry_times(const Timestamp& mtime) {
    return {timespec{0, UTIME_OMIT}, timespec{static_cast<time_t>(mtime.seconds), mtime.nanoseconds}};
}

}  // namespace

// Makes the entries the tar reader hands over, beneath the working
// directory. A file's data goes to a new file under a temporary name that
// replaces the entry's name only once it is whole, so a failed or cut
// entry leaves any old file untouched and a running program or a mapped
// library keeps its own copy.
class ArchiveWriter final : public tar_format::EntryHandler {
public:
    void start();
    void entry(const Entry& entry) override;
    void data(const unsigned char* bytes, size_t count) override;
    void entry_end() override;
    void end_block() override;

    // Ends the archive: a stream cut short or damaged fails the record.
    void finish(const tar_format::TarStream& stream);
    int failed_entries() const { return failed_entries_; }
    bool write_failed() const { return write_failed_; }

private:
    // A directory the archive lists: its last header's mode and time, set
    // when the archive ends.
    struct ListedDirectory {
        unsigned mode;
        std::optional<Timestamp> mtime;
    };

    void fail(const char* message);
    void fail_writing();
    void make_entry(const Entry& entry, unsigned mode);
    void make_directory(int parent, const std::string& leaf, const Entry& entry, unsigned mode);
    void finish_directories();
    void finish_directory(const std::string& name, const ListedDirectory& listed);
    void start_file(int parent, const std::string& leaf, unsigned mode);
    void make_symbolic_link(int parent, const std::string& leaf, const std::string& target);
    void make_hard_link(int parent, const std::string& leaf, const std::string& target);
    bool next_temp_name();
    bool put_in_place(int parent, const std::string& leaf, const char* message);
    void drop_file();
    bool write_sparse(const unsigned char* bytes, size_t count);

    Beneath tree_;
    FILE* entry_file_ = nullptr;                        // null when the entry's data is dropped
    std::array<char, FILE_BUFFER_SIZE> file_buffer_{};  // entry_file_'s
    int entry_parent_ = -1;                             // the directory entry_file_ goes into
    std::string entry_leaf_;
    std::string entry_name_;  // printable
    std::string normal_name_;
    std::array<char, 48> temp_name_{};
    unsigned temp_serial_ = 0;
    std::optional<Timestamp> entry_mtime_;
    // A sparse file's regions, the next one to fill and what it still takes.
    std::vector<tar_format::SparseRegion> sparse_map_;
    std::optional<uint64_t> sparse_size_;
    size_t next_region_ = 0;
    uint64_t region_left_ = 0;
    std::unordered_set<std::string> made_;  // what hard links may name
    // By name, so that the deepest are finished first: a parent made
    // unsearchable would hide them.
    std::map<std::string, ListedDirectory> listed_;
    int failed_entries_ = 0;
    // A write failed: the disk is full or broken, so the writer takes
    // nothing more and the archive's decoding stops.
    bool write_failed_ = false;
};

// Entries are made from a descriptor of the working directory; without one
// none can be, and each fails on its own.
void ArchiveWriter::start() {
    if (!tree_.open_root()) std::printf("Error: cannot open the install directory: %s\n", std::strerror(errno));
}

void ArchiveWriter::fail(const char* message) {
    std::printf(message, entry_name_.c_str());
    ++failed_entries_;
}

void ArchiveWriter::fail_writing() {
    write_failed_ = true;
    fail("Error writing file %s\n");
}

// Unique to this process, so installations running at once never meet.
bool ArchiveWriter::next_temp_name() {
    const int n = std::snprintf(temp_name_.data(), temp_name_.size(), ".zkinstall-%ld-%u",
                                static_cast<long>(::getpid()), temp_serial_++);
    return n > 0 && static_cast<size_t>(n) < temp_name_.size();
}

// Renames the temporary name over the entry's; on failure removes it.
// Called with the run's signals held, so that the name is never left
// between the rename and forgetting it.
bool ArchiveWriter::put_in_place(int parent, const std::string& leaf, const char* message) {
    if (::renameat(parent, temp_name_.data(), parent, leaf.c_str()) == 0) {
        made_.insert(normal_name_);
        return true;
    }
    ::unlinkat(parent, temp_name_.data(), 0);
    fail(message);
    return false;
}

// Open to its owner until the archive ends, so that a directory listed
// read-only can still be filled; its own mode and time come then. The
// install directory itself is the user's, and keeps its mode.
void ArchiveWriter::make_directory(int parent, const std::string& leaf, const Entry& entry, unsigned mode) {
    if (leaf.empty()) return;
    if (::mkdirat(parent, leaf.c_str(), S_IRWXU) != 0) {
        struct stat status;
        const bool exists = errno == EEXIST && ::fstatat(parent, leaf.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0;
        if (!exists || !S_ISDIR(status.st_mode)) {
            return fail(exists && S_ISLNK(status.st_mode) ? "Unsafe path skipped: %s\n" : "Error creating dir %s\n");
        }
    }
    listed_[normal_name_] = ListedDirectory{mode, entry.mtime};
}

// Through the directory's own descriptor, reached as every entry is: a
// link swapped in for it is never followed.
void ArchiveWriter::finish_directory(const std::string& name, const ListedDirectory& listed) {
    int parent = -1;
    std::string leaf;
    if (tree_.lookup_parent(name, parent, leaf) != Resolved::found) return;
    const int fd = ::openat(parent, leaf.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    ::close(parent);
    if (fd < 0) return;
    if (::fchmod(fd, static_cast<mode_t>(listed.mode)) != 0) {
        std::printf("Failed to chmod(%s, %o)\n", terminal_text::printable(name).c_str(), listed.mode);
    }
    if (listed.mtime) ::futimens(fd, entry_times(*listed.mtime).data());
    ::close(fd);
}

// After every entry, so that no later one changes a directory's time.
void ArchiveWriter::finish_directories() {
    for (auto listed = listed_.rbegin(); listed != listed_.rend(); ++listed) {
        finish_directory(listed->first, listed->second);
    }
    listed_.clear();
}

// The mode is set before any data is written, so the mask does not apply.
void ArchiveWriter::start_file(int parent, const std::string& leaf, unsigned mode) {
    int fd = -1;
    {
        // A signal between making the name and noting it would leave it.
        const RunSignalsHeld held;
        for (int tries = 0; fd < 0 && tries < TEMP_NAME_TRIES && next_temp_name(); ++tries) {
            fd = ::openat(parent, temp_name_.data(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd < 0 && errno != EEXIST) break;
        }
        if (fd >= 0) note_unfinished_file(parent, temp_name_.data());
    }
    FILE* file = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
    if (file == nullptr || leaf.empty()) {
        if (fd >= 0) {
            if (file != nullptr)
                std::fclose(file);
            else
                ::close(fd);
            ::unlinkat(parent, temp_name_.data(), 0);
            forget_unfinished_file();
        }
        return fail("Cannot create file %s\n");
    }
    std::setvbuf(file, file_buffer_.data(), _IOFBF, file_buffer_.size());
    if (::fchmod(fd, static_cast<mode_t>(mode)) != 0) {
        std::printf("Failed to chmod(%s, %o)\n", entry_name_.c_str(), mode);
    }
    entry_file_ = file;
    entry_parent_ = parent;
    entry_leaf_ = leaf;
}

// The target is stored as written: the writer never follows a link.
void ArchiveWriter::make_symbolic_link(int parent, const std::string& leaf, const std::string& target) {
    const RunSignalsHeld held;
    if (leaf.empty() || !next_temp_name() || ::symlinkat(target.c_str(), parent, temp_name_.data()) != 0) {
        return fail("Cannot create link %s\n");
    }
    note_unfinished_file(parent, temp_name_.data());
    if (entry_mtime_) ::utimensat(parent, temp_name_.data(), entry_times(*entry_mtime_).data(), AT_SYMLINK_NOFOLLOW);
    put_in_place(parent, leaf, "Cannot create link %s\n");
    forget_unfinished_file();
}

// Only to an entry this archive made: anything else in the directory may
// be a link planted to a file elsewhere.
void ArchiveWriter::make_hard_link(int parent, const std::string& leaf, const std::string& target) {
    if (made_.count(tar_format::normal_name(target)) == 0) return fail("Unsafe path skipped: %s\n");
    int target_parent = -1;
    std::string target_leaf;
    const Resolved found = tree_.lookup_parent(target, target_parent, target_leaf);
    if (found == Resolved::unsafe) return fail("Unsafe path skipped: %s\n");
    const RunSignalsHeld held;
    const bool linked = found == Resolved::found && !leaf.empty() && next_temp_name() &&
                        ::linkat(target_parent, target_leaf.c_str(), parent, temp_name_.data(), 0) == 0;
    if (target_parent >= 0) ::close(target_parent);
    if (!linked) return fail("Cannot create link %s\n");
    note_unfinished_file(parent, temp_name_.data());
    // A rename between two names of one file changes nothing and keeps both.
    if (put_in_place(parent, leaf, "Cannot create link %s\n")) ::unlinkat(parent, temp_name_.data(), 0);
    forget_unfinished_file();
}

void ArchiveWriter::make_entry(const Entry& entry, unsigned mode) {
    // Directories the archive does not list get the entry's mode with search
    // permission, and write permission for their owner so that the next
    // file can be created in them.
    const unsigned parent_mode = mode | SEARCH_BITS | OWNER_WRITE;
    int parent = -1;
    std::string leaf;
    switch (tree_.parent_of(entry.name, parent_mode, true, parent, leaf)) {
        case Resolved::found: break;
        case Resolved::unsafe: return fail("Unsafe path skipped: %s\n");
        case Resolved::failed:
            return fail(entry.kind == EntryKind::directory ? "Error creating dir %s\n" : "Cannot create file %s\n");
    }
    switch (entry.kind) {
        case EntryKind::directory: return make_directory(parent, leaf, entry, mode);
        case EntryKind::symbolic_link: return make_symbolic_link(parent, leaf, entry.link_name);
        case EntryKind::hard_link: return make_hard_link(parent, leaf, entry.link_name);
        default: return start_file(parent, leaf, mode);
    }
}

void ArchiveWriter::entry(const Entry& entry) {
    if (write_failed_) return;
    entry_name_ = terminal_text::printable(entry.name);
    normal_name_ = tar_format::normal_name(entry.name);
    entry_mtime_ = entry.mtime;
    sparse_map_ = entry.sparse_map;
    sparse_size_ = entry.sparse_size;
    next_region_ = 0;
    region_left_ = 0;
    if (shows_progress()) {
        std::printf("Extracting %s .. %llu bytes\n", entry_name_.c_str(), static_cast<unsigned long long>(entry.size));
    }
    const bool directory = entry.kind == EntryKind::directory;
    const unsigned mode = entry.mode.value_or(directory ? DEFAULT_DIRECTORY_MODE : DEFAULT_FILE_MODE);
    const Rule rule = tar_format::decide(entry.kind, entry.name, entry.link_name).rule;
    if (rule == Rule::none) return make_entry(entry, mode);
    fail(rule == Rule::unsupported_type ? "Unsupported entry skipped: %s\n" : "Unsafe path skipped: %s\n");
}

// Each region's bytes at its offset; the file is left unwritten, a hole,
// in between.
bool ArchiveWriter::write_sparse(const unsigned char* bytes, size_t count) {
    while (count > 0) {
        while (region_left_ == 0 && next_region_ < sparse_map_.size()) {
            const tar_format::SparseRegion& region = sparse_map_[next_region_++];
            if (::fseeko(entry_file_, static_cast<off_t>(region.offset), SEEK_SET) != 0) return false;
            region_left_ = region.size;
        }
        // The reader has checked that the regions take exactly the data.
        const size_t n = static_cast<size_t>(std::min<uint64_t>(count, region_left_));
        if (n == 0 || std::fwrite(bytes, 1, n, entry_file_) != n) return false;
        region_left_ -= n;
        bytes += n;
        count -= n;
    }
    return true;
}

void ArchiveWriter::data(const unsigned char* bytes, size_t count) {
    if (entry_file_ == nullptr) return;
    if (sparse_size_ ? write_sparse(bytes, count) : std::fwrite(bytes, 1, count, entry_file_) == count) return;
    drop_file();
    fail_writing();
}

void ArchiveWriter::entry_end() {
    if (entry_file_ == nullptr) return;
    // A sparse file's size, holes at its end included.
    const bool write_failed =
        std::fflush(entry_file_) != 0 || std::ferror(entry_file_) != 0 ||
        (sparse_size_ && ::ftruncate(::fileno(entry_file_), static_cast<off_t>(*sparse_size_)) != 0);
    if (!write_failed && entry_mtime_) ::futimens(::fileno(entry_file_), entry_times(*entry_mtime_).data());
    const bool close_failed = std::fclose(entry_file_) != 0;
    entry_file_ = nullptr;
    // Forgotten only once the temporary name is gone, so that a signal in
    // between still removes it.
    if (write_failed || close_failed) {
        ::unlinkat(entry_parent_, temp_name_.data(), 0);
        forget_unfinished_file();
        return fail_writing();
    }
    const RunSignalsHeld held;
    put_in_place(entry_parent_, entry_leaf_, "Cannot create file %s\n");
    forget_unfinished_file();
}

void ArchiveWriter::end_block() {
    if (shows_progress() && !write_failed_) std::printf("Extracting  .. 0 bytes\n");
}

// A file whose data never came whole is removed.
void ArchiveWriter::drop_file() {
    if (entry_file_ == nullptr) return;
    std::fclose(entry_file_);
    entry_file_ = nullptr;
    ::unlinkat(entry_parent_, temp_name_.data(), 0);
    forget_unfinished_file();
}

void ArchiveWriter::finish(const tar_format::TarStream& stream) {
    drop_file();
    finish_directories();
    tree_.close();
    // Decoding stopped at a failed write, wherever the stream was. An
    // archive that lacks only its end block is whole: the decompressor has
    // seen its stream's end, and fails the record itself when it has not.
    const std::string problem = stream.problem();
    if (problem.empty() || write_failed_ || stream.lacks_only_end_block()) return;
    if (stream.last_entry().empty()) {
        std::printf("Archive damaged before its first entry: %s\n", problem.c_str());
    } else {
        std::printf("Archive damaged after entry %s: %s\n", terminal_text::printable(stream.last_entry()).c_str(),
                    problem.c_str());
    }
    ++failed_entries_;
}

ArchiveOutput::ArchiveOutput()
    : writer_(std::make_unique<ArchiveWriter>()), stream_(std::make_unique<tar_format::TarStream>(*writer_)) {
    writer_->start();
}

ArchiveOutput::~ArchiveOutput() = default;

bool ArchiveOutput::write(const unsigned char* bytes, size_t count) {
    if (!writer_->write_failed()) stream_->feed(bytes, count);
    return !writer_->write_failed();
}

int ArchiveOutput::finish() {
    writer_->finish(*stream_);
    return writer_->failed_entries();
}

int32_t archive_write(PumpContext* context, const unsigned char* source, int32_t count) {
    return session_sink<ArchiveOutput>(context).write(source, static_cast<size_t>(std::max(count, 0))) ? 0 : -1;
}

namespace {

// Under -gz the archive goes out as it is, and no directory is opened.
RecordResult stream_archive(package_format::PayloadReader& payload) {
    PumpSession session{&payload, nullptr};
    const bool pumped = bzunzip(&session, payload_read, stdout_write) == 0;
    return failed_if(!pumped || std::fflush(stdout) != 0);
}

}  // namespace

RecordResult file_extract(package_format::PayloadReader& payload) {
    if (installer_state.stream_only != 0) return stream_archive(payload);
    if (shows_progress()) std::printf("\n");
    ArchiveOutput output;
    PumpSession session{&payload, &output};
    // The block-parallel pump cuts bzip2 streams only; zstd decodes on one
    // thread and xz blocks on threads of liblzma's own, the files written
    // beside them.
    const bool bzip2 = payload_compression(payload) == payload_codec::Compression::bzip2;
    const int threads = decoding_threads();
    const int32_t pumped = threads == 1 ? bzunzip(&session, payload_read, archive_write)
                           : bzip2      ? parallel_bzunzip(threads, session, archive_write)
                                        : bzunzip_writing_apart(session, archive_write);
    const bool entries_failed = output.finish() != 0;
    return failed_if(pumped != 0 || entries_failed);
}
