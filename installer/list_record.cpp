#include "list_record.h"

#include <unistd.h>

#include <zk/base/byteorder.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "check_record.h"
#include "package_format.h"
#include "tar_format.h"

using namespace package_format;

namespace {

// Escaped, so that a package cannot drive the terminal.
void print_visible(std::string_view text) { std::fputs(tar_format::printable_name(text).c_str(), stdout); }

// The assignment as set_env would take it: up to its first NUL. One too
// long for the installer is not shown; --check reports it.
void print_assignment(int fd, uint32_t length) {
    std::array<char, ENVIRONMENT_BUFFER_SIZE> text;
    if (length >= text.size() || ::read(fd, text.data(), length) != static_cast<ssize_t>(length)) return;
    std::fputs(": ", stdout);
    print_visible(std::string_view(text.data(), ::strnlen(text.data(), length)));
}

}  // namespace

int list_record(int fd, const unsigned char* prefix) {
    require_payload_in_file(fd, prefix);
    const unsigned char kind = prefix[PREFIX_KIND];
    const uint32_t length = zk::LGET32(prefix);
    const std::string_view name = kind_name(kind);
    std::printf("%.*s record, %lu bytes", static_cast<int>(name.size()), name.data(), static_cast<unsigned long>(length));
    if (kind == KIND_ENVIRONMENT) print_assignment(fd, length);
    std::putchar('\n');
    return 0;
}
