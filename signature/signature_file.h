// Signature files in minisign's format: an untrusted comment; the Ed25519
// signature of the file's BLAKE2b-512 hash with the signing key's ID; a
// trusted comment; the signature of the first signature and that comment.
// Functions that can fail return null on success or the reason.
#pragma once

#include <sodium.h>

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "key_files.h"

namespace signing {

constexpr size_t HASH_SIZE = 64;
constexpr size_t SIGNATURE_SIZE = 64;
constexpr size_t TRUSTED_COMMENT_MAX = 8192;
// Four lines, two of them base64, and the comments at their longest.
constexpr size_t SIGNATURE_FILE_MAX = 3 * TRUSTED_COMMENT_MAX;

using Hash = std::array<unsigned char, HASH_SIZE>;

struct SignatureFile {
    KeyId key_id;
    std::array<unsigned char, SIGNATURE_SIZE> signature;
    std::string_view trusted_comment;  // within the parsed content
    std::array<unsigned char, SIGNATURE_SIZE> global_signature;
};

// The hash a signature covers, taken block by block.
class FileHash {
public:
    FileHash();
    void add(const unsigned char* bytes, size_t length);
    Hash finish();

private:
    crypto_generichash_state state_;
};

// Only the prehashed kind is taken: the legacy kind signs the whole file,
// which would have to be held in memory to be checked.
const char* parse_signature_file(std::string_view content, SignatureFile& signature);
// The key ID, the file's hash, then the trusted comment.
const char* check_signature(const PublicKey& key, const SignatureFile& signature, const Hash& hash);

// The trusted comment must hold no line end and be at most
// TRUSTED_COMMENT_MAX bytes long.
bool valid_trusted_comment(std::string_view comment);

std::string format_signature_file(const SecretKey& key, const Hash& hash, std::string_view trusted_comment);

}  // namespace signing
