// Public and secret key files in minisign's formats: Ed25519 keys with an
// 8-byte key ID, the secret key optionally encrypted with a password
// through scrypt. Every function that can fail returns null on success or
// the reason, a fixed text.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace signing {

constexpr size_t KEY_ID_SIZE = 8;
constexpr size_t PUBLIC_KEY_SIZE = 32;
constexpr size_t SECRET_KEY_SIZE = 64;  // the seed, then the public key
constexpr size_t STORED_SECRET_KEY_SIZE = 158;

using KeyId = std::array<unsigned char, KEY_ID_SIZE>;

struct PublicKey {
    KeyId id;
    std::array<unsigned char, PUBLIC_KEY_SIZE> key;
};

// Wiped when it goes out of scope.
struct SecretKey {
    ~SecretKey();
    KeyId id{};
    std::array<unsigned char, SECRET_KEY_SIZE> key{};
};

// A secret key file's bytes, as stored: maybe encrypted.
struct StoredSecretKey {
    ~StoredSecretKey();
    std::array<unsigned char, STORED_SECRET_KEY_SIZE> bytes{};
};

// The 16 upper-case hex digits by which the tools show a key ID.
std::string key_id_text(const KeyId& id);

// The key as base64, as given on a command line or on a key file's second line.
const char* parse_public_key(std::string_view base64, PublicKey& key);
// A key file: an untrusted comment line, then the key.
const char* parse_public_key_file(std::string_view content, PublicKey& key);
std::string format_public_key_file(const PublicKey& key);
std::string public_key_base64(const PublicKey& key);

const char* parse_secret_key_file(std::string_view content, StoredSecretKey& stored);
bool is_encrypted(const StoredSecretKey& stored);
// Decrypts with the password (not used for an unencrypted key) and checks
// the key against its checksum.
const char* open_secret_key(const StoredSecretKey& stored, std::string_view password, SecretKey& key);
// An empty password stores the key unencrypted. Fails only when the
// password's key cannot be derived (out of memory).
const char* format_secret_key_file(const SecretKey& key, std::string_view password, std::string& content);

const char* generate_key_pair(PublicKey& public_key, SecretKey& secret_key);

}  // namespace signing
