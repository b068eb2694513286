#include "signature_check.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include <signature_file.h>

#include "fatal.h"
#include "input_file.h"
#include "installer_state.h"
#include "terminal_text.h"

namespace {

constexpr size_t KEY_FILE_MAX = 4096;
constexpr const char* SIGNATURE_SUFFIX = ".minisig";

// The hash is started only when a signature is to be checked.
struct PendingSignature {
    signing::PublicKey key;
    signing::SignatureFile signature;
    std::array<char, signing::SIGNATURE_FILE_MAX + 1> content;  // what signature's comment points into
    std::optional<signing::FileHash> hash;
};

PendingSignature pending;

[[noreturn]] void refuse(const std::string& subject, const char* reason) {
    std::fprintf(stderr, "Signature check failed: %s: %s\n", subject.c_str(), reason);
    fatal_exit();
}

std::string system_reason(const char* action) { return std::string(action) + ": " + std::strerror(errno); }

// Reads the whole file when it fits in the buffer with a byte to spare,
// otherwise the buffer's size, which no parser takes. Returns why it cannot
// be read (action and the system's reason, or that it is no regular file),
// or nothing.
std::string read_small_file(const std::string& path, const char* action, char* buffer, size_t capacity,
                            size_t& length) {
    const input_file::Opened opened = input_file::open_regular(path.c_str());
    if (opened.not_regular) return input_file::NOT_REGULAR;
    if (opened.fd < 0) return system_reason(action);
    length = 0;
    ssize_t count = 0;
    while (length < capacity && (count = ::read(opened.fd, buffer + length, capacity - length)) > 0) {
        length += static_cast<size_t>(count);
    }
    const std::string problem = count < 0 ? system_reason(action) : "";
    ::close(opened.fd);
    return problem;
}

// The key in base64 as it stands, else a key file of that name.
void load_key(const char* argument) {
    if (signing::parse_public_key(argument, pending.key) == nullptr) return;
    std::array<char, KEY_FILE_MAX + 1> content;
    size_t length = 0;
    const std::string unread = read_small_file(argument, "cannot open", content.data(), content.size(), length);
    if (!unread.empty()) {
        refuse(argument, ("neither a public key nor a key file that can be read (" + unread + ")").c_str());
    }
    if (const char* problem = signing::parse_public_key_file(std::string_view(content.data(), length), pending.key)) {
        refuse(argument, problem);
    }
}

void load_signature(const std::string& path) {
    size_t length = 0;
    const std::string unread =
        read_small_file(path, "cannot read", pending.content.data(), pending.content.size(), length);
    if (!unread.empty()) refuse(path, unread.c_str());
    const std::string_view content(pending.content.data(), length);
    if (const char* problem = signing::parse_signature_file(content, pending.signature)) refuse(path, problem);
}

std::string signature_path() {
    if (installer_state.signature_path != nullptr) return installer_state.signature_path;
    return std::string(installer_state.package_path) + SIGNATURE_SUFFIX;
}

}  // namespace

void load_package_signature() {
    if (installer_state.public_key == nullptr) return;
    load_key(installer_state.public_key);
    load_signature(signature_path());
    pending.hash.emplace();
}

std::string package_signer_id() {
    std::array<char, signing::SIGNATURE_FILE_MAX + 1> content;
    size_t length = 0;
    if (!read_small_file(signature_path(), "cannot read", content.data(), content.size(), length).empty()) return "";
    signing::SignatureFile signature;
    if (signing::parse_signature_file(std::string_view(content.data(), length), signature) != nullptr) return "";
    return signing::key_id_text(signature.key_id);
}

void hash_package_bytes(const unsigned char* bytes, size_t length) {
    if (pending.hash) pending.hash->add(bytes, length);
}

void check_package_signature() {
    if (!pending.hash) return;
    const signing::Hash hash = pending.hash->finish();
    if (const char* problem = signing::check_signature(pending.key, pending.signature, hash)) {
        refuse(signature_path(), problem);
    }
    if (shows_progress()) {
        std::fprintf(stderr, "Trusted comment: %s\n",
                     terminal_text::printable(pending.signature.trusted_comment, terminal_text::Tabs::kept).c_str());
    }
}
