#include "signature_file.h"

#include <algorithm>

#include "codec.h"

namespace signing {

namespace {

constexpr std::array<unsigned char, 2> PREHASHED{'E', 'D'};
constexpr std::array<unsigned char, 2> LEGACY{'E', 'd'};

// The signature line: algorithm, key ID, signature.
constexpr size_t ID_OFFSET = 2;
constexpr size_t SIGNATURE_OFFSET = 10;
constexpr size_t SIGNATURE_BYTES = 74;

using SignedComment = std::array<unsigned char, SIGNATURE_SIZE + TRUSTED_COMMENT_MAX>;

// The global signature covers the file's signature followed by the comment.
size_t signed_comment(const std::array<unsigned char, SIGNATURE_SIZE>& signature, std::string_view comment,
                      SignedComment& bytes) {
    std::copy(signature.begin(), signature.end(), bytes.begin());
    std::copy(comment.begin(), comment.end(), bytes.begin() + SIGNATURE_SIZE);
    return SIGNATURE_SIZE + comment.size();
}

const char* parse_signature_line(std::string_view line, SignatureFile& signature) {
    std::array<unsigned char, SIGNATURE_BYTES> bytes;
    if (!decode_base64(line, bytes.data(), bytes.size())) return "the signature line is not a signature";
    if (std::equal(LEGACY.begin(), LEGACY.end(), bytes.begin())) {
        return "legacy signature (not prehashed), which is not supported: sign again without minisign's -l";
    }
    if (!std::equal(PREHASHED.begin(), PREHASHED.end(), bytes.begin())) return "unsupported signature algorithm";
    std::copy_n(bytes.begin() + ID_OFFSET, KEY_ID_SIZE, signature.key_id.begin());
    std::copy_n(bytes.begin() + SIGNATURE_OFFSET, SIGNATURE_SIZE, signature.signature.begin());
    return nullptr;
}

}  // namespace

FileHash::FileHash() {
    crypto_ready();
    crypto_generichash_init(&state_, nullptr, 0, HASH_SIZE);
}

void FileHash::add(const unsigned char* bytes, size_t length) { crypto_generichash_update(&state_, bytes, length); }

Hash FileHash::finish() {
    Hash hash;
    crypto_generichash_final(&state_, hash.data(), hash.size());
    return hash;
}

bool valid_trusted_comment(std::string_view comment) {
    return comment.size() <= TRUSTED_COMMENT_MAX && comment.find_first_of("\r\n") == std::string_view::npos;
}

const char* parse_signature_file(std::string_view content, SignatureFile& signature) {
    if (content.size() > SIGNATURE_FILE_MAX) return "too large to be a signature file";
    if (take_line(content).substr(0, COMMENT_PREFIX.size()) != COMMENT_PREFIX) {
        return "the first line is not an untrusted comment";
    }
    if (const char* problem = parse_signature_line(take_line(content), signature)) return problem;
    const std::string_view trusted = take_line(content);
    if (trusted.substr(0, TRUSTED_COMMENT_PREFIX.size()) != TRUSTED_COMMENT_PREFIX) {
        return "the third line is not a trusted comment";
    }
    signature.trusted_comment = trusted.substr(TRUSTED_COMMENT_PREFIX.size());
    if (!valid_trusted_comment(signature.trusted_comment)) return "the trusted comment is too long";
    if (!decode_base64(take_line(content), signature.global_signature.data(), signature.global_signature.size())) {
        return "the last line is not the trusted comment's signature";
    }
    if (!only_line_ends(content)) return "unexpected text after the signature";
    return nullptr;
}

const char* check_signature(const PublicKey& key, const SignatureFile& signature, const Hash& hash) {
    if (!crypto_ready()) return "the crypto library cannot start";
    if (signature.key_id != key.id) return "signed with another key (the key IDs differ)";
    if (crypto_sign_verify_detached(signature.signature.data(), hash.data(), hash.size(), key.key.data()) != 0) {
        return "the signature does not match the file";
    }
    SignedComment bytes;
    const size_t length = signed_comment(signature.signature, signature.trusted_comment, bytes);
    if (crypto_sign_verify_detached(signature.global_signature.data(), bytes.data(), length, key.key.data()) != 0) {
        return "the trusted comment does not match its signature";
    }
    return nullptr;
}

std::string format_signature_file(const SecretKey& key, const Hash& hash, std::string_view trusted_comment) {
    std::array<unsigned char, SIGNATURE_BYTES> bytes;
    std::copy(PREHASHED.begin(), PREHASHED.end(), bytes.begin());
    std::copy(key.id.begin(), key.id.end(), bytes.begin() + ID_OFFSET);
    std::array<unsigned char, SIGNATURE_SIZE> signature;
    crypto_sign_detached(signature.data(), nullptr, hash.data(), hash.size(), key.key.data());
    std::copy(signature.begin(), signature.end(), bytes.begin() + SIGNATURE_OFFSET);

    SignedComment comment_bytes;
    const size_t length = signed_comment(signature, trusted_comment, comment_bytes);
    std::array<unsigned char, SIGNATURE_SIZE> global_signature;
    crypto_sign_detached(global_signature.data(), nullptr, comment_bytes.data(), length, key.key.data());

    return std::string(COMMENT_PREFIX) + "signature from zkpack secret key\n" +
           encode_base64(bytes.data(), bytes.size()) + "\n" + std::string(TRUSTED_COMMENT_PREFIX) +
           std::string(trusted_comment) + "\n" + encode_base64(global_signature.data(), global_signature.size()) + "\n";
}

}  // namespace signing
