#include "package_info.h"

#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "package_format.h"
#include "terminal_text.h"
#include "welcome_record.h"

using namespace package_format;

namespace {

constexpr std::string_view PRODUCT = "ZKINSTALL_PRODUCT=";
constexpr std::string_view PRODUCT_VERSION = "ZKINSTALL_PRODUCT_VERSION=";
constexpr std::string_view DEFAULT_DIR = "ZKINSTALL_DEFAULT_DIR=";

struct Facts {
    std::string product, version, default_dir, compression;
};

Facts facts;

#if defined(__x86_64__)
constexpr char ARCHITECTURE[] = "x86_64";
#elif defined(__aarch64__)
constexpr char ARCHITECTURE[] = "aarch64";
#elif defined(__i386__)
constexpr char ARCHITECTURE[] = "i686";
#else
constexpr char ARCHITECTURE[] = "unknown";
#endif

struct Magic {
    std::string_view bytes;
    const char* name;
};

constexpr Magic MAGICS[] = {
    {"BZh", "bzip2"},
    {std::string_view("\x28\xB5\x2F\xFD", 4), "zstd"},
    {std::string_view("\xFD\x37\x7A\x58\x5A\x00", 6), "xz"},
};

bool starts_with(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

void note_assignment(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    if (starts_with(text, PRODUCT)) facts.product = text.substr(PRODUCT.size());
    if (starts_with(text, PRODUCT_VERSION)) facts.version = text.substr(PRODUCT_VERSION.size());
    if (starts_with(text, DEFAULT_DIR)) facts.default_dir = text.substr(DEFAULT_DIR.size());
}

// Each method once, in the order the package first uses it.
void note_compression(std::string_view head) {
    const char* name = "unknown";
    for (const Magic& magic : MAGICS) {
        if (starts_with(head, magic.bytes)) name = magic.name;
    }
    if (facts.compression.find(name) != std::string::npos) return;
    if (!facts.compression.empty()) facts.compression += ", ";
    facts.compression += name;
}

void note_record(PositionalReader& package, const Record& record) {
    const RecordKind* known = record_kind(record.kind);
    if (known == nullptr) return;
    std::array<char, ENVIRONMENT_BUFFER_SIZE> text;
    const int32_t wanted = known->role == RecordRole::environment ? static_cast<int32_t>(MAX_ENVIRONMENT_PAYLOAD) : 6;
    PayloadReader payload(package, record);
    const int32_t got = payload.read(reinterpret_cast<unsigned char*>(text.data()), wanted);
    const std::string_view read(text.data(), got > 0 ? static_cast<size_t>(got) : 0);
    if (known->role == RecordRole::environment) note_assignment(read);
    if (known->compressed) note_compression(read);
}

void print_fact(const char* key, const std::string& value) {
    std::printf("%s: %s\n", key, value.empty() ? "none" : terminal_text::printable(value).c_str());
}

}  // namespace

bool is_package_fact(const char* assignment) {
    const std::string_view text(assignment);
    return starts_with(text, PRODUCT) || starts_with(text, PRODUCT_VERSION);
}

void gather_package_facts(PositionalReader& package, uint64_t start, uint64_t end) {
    walk_records(package, start, end, [&](const Record& record) {
        note_record(package, record);
        return true;
    });
}

void print_product_line() {
    if (facts.product.empty() && facts.version.empty()) return;
    const std::string line =
        facts.product + (facts.product.empty() || facts.version.empty() ? "" : " ") + facts.version;
    std::printf("%s\n", terminal_text::printable(line).c_str());
}

void print_package_info(uint64_t file_size, const char* installer_version, const char* key_id) {
    print_fact("product", facts.product);
    print_fact("version", facts.version);
    print_fact("installer version", installer_version);
    print_fact("architecture", ARCHITECTURE);
    print_fact("compression", facts.compression);
    std::printf("package size: %" PRIu64 "\n", file_size);
    std::printf("signed: %s\n", key_id[0] != '\0' ? "yes" : "no");
    print_fact("key id", key_id);
    print_fact("default directory", facts.default_dir.empty() ? default_install_dir() : facts.default_dir);
}
