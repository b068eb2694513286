#include "list_record.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "check_record.h"
#include "package_format.h"
#include "pump.h"
#include "tar_format.h"
#include "terminal_text.h"

using namespace package_format;

namespace {

// Escaped, so that a package cannot drive the terminal.
void print_visible(std::string_view text) { std::fputs(terminal_text::printable(text).c_str(), stdout); }

// The assignment as set_env would take it: up to its first NUL. One too
// long for the installer is not shown; --check reports it.
void print_assignment(package_format::PayloadReader& payload) {
    std::array<char, ENVIRONMENT_BUFFER_SIZE> text;
    const uint32_t length = payload.record().length;
    if (length >= text.size() || !payload.read_whole(reinterpret_cast<unsigned char*>(text.data()), length)) return;
    std::fputs(": ", stdout);
    print_visible(std::string_view(text.data(), ::strnlen(text.data(), length)));
}

char type_letter(tar_format::EntryKind kind, unsigned char type) {
    switch (kind) {
        case tar_format::EntryKind::directory: return 'd';
        case tar_format::EntryKind::symbolic_link: return 'l';
        case tar_format::EntryKind::hard_link: return 'h';
        default: break;
    }
    switch (type) {
        case '7': return 'C';  // contiguous: a file, but tar marks it
        case '3': return 'c';
        case '4': return 'b';
        case '6': return 'p';
        default: return '-';
    }
}

// "drwxr-xr-x", as ls and tar show a mode.
std::array<char, 11> mode_text(tar_format::EntryKind kind, unsigned char type, unsigned mode) {
    std::array<char, 11> text{};
    text[0] = type_letter(kind, type);
    constexpr char LETTERS[] = "rwxrwxrwx";
    for (unsigned bit = 0; bit < 9; ++bit) text[1 + bit] = (mode & (0400u >> bit)) != 0 ? LETTERS[bit] : '-';
    const auto special = [&](unsigned flag, size_t at, char with_x, char without_x) {
        if ((mode & flag) != 0) text[at] = text[at] == 'x' ? with_x : without_x;
    };
    special(04000, 3, 's', 'S');
    special(02000, 6, 's', 'S');
    special(01000, 9, 't', 'T');
    return text;
}

// One line per entry, as tar's verbose listing shows type, mode, size and name.
class EntryLister final : public tar_format::EntryHandler {
public:
    void entry(const tar_format::Entry& entry) override {
        std::printf("  %s %10llu ", mode_text(entry.kind, entry.type, entry.mode.value_or(0)).data(),
                    static_cast<unsigned long long>(entry.sparse_size.value_or(entry.size)));
        print_visible(entry.name);
        // A target only for links: other entries' link fields are stray bytes.
        if (entry.kind == tar_format::EntryKind::symbolic_link) std::fputs(" -> ", stdout);
        if (entry.kind == tar_format::EntryKind::hard_link) std::fputs(" link to ", stdout);
        if (entry.kind == tar_format::EntryKind::symbolic_link || entry.kind == tar_format::EntryKind::hard_link) {
            print_visible(entry.link_name);
        }
        std::putchar('\n');
    }
    void data(const unsigned char*, size_t) override {}
    void entry_end() override {}
    void end_block() override {}
};

}  // namespace

RecordResult list_record(package_format::PayloadReader& payload) {
    require_payload_in_file(payload);
    const unsigned char kind = payload.record().kind;
    const uint32_t length = payload.record().length;
    const std::string_view name = kind_name(kind);
    std::printf("%.*s record, %lu bytes", static_cast<int>(name.size()), name.data(),
                static_cast<unsigned long>(length));
    const RecordKind* known = record_kind(kind);
    const RecordRole role = known->role;
    if (role == RecordRole::environment) print_assignment(payload);
    if (known->compressed) std::printf(", %s", payload_codec::compression_name(payload_compression(payload)));
    std::putchar('\n');
    if (role != RecordRole::archive) return RecordResult::done;
    EntryLister lister;
    std::fflush(stdout);
    const bool whole = read_archive(payload, lister);
    std::fflush(stdout);
    return failed_if(!whole);
}
