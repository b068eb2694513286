#include "key_files.h"

#include <sodium.h>

#include <algorithm>
#include <cstdio>

#include "codec.h"

namespace signing {

namespace {

constexpr std::array<unsigned char, 2> SIGNATURE_ALGORITHM{'E', 'd'};
constexpr std::array<unsigned char, 2> KDF_SCRYPT{'S', 'c'};
constexpr std::array<unsigned char, 2> KDF_NONE{0, 0};
constexpr std::array<unsigned char, 2> CHECKSUM_BLAKE2B{'B', '2'};

// The public key: algorithm, key ID, key.
constexpr size_t PUBLIC_ID_OFFSET = 2;
constexpr size_t PUBLIC_KEY_OFFSET = 10;
constexpr size_t PUBLIC_BYTES = 42;

// The stored secret key. From the key ID to the end, the bytes are
// encrypted by XOR with a stream derived from the password.
constexpr size_t STORED_KDF_OFFSET = 2;
constexpr size_t STORED_CHECKSUM_ALGORITHM_OFFSET = 4;
constexpr size_t STORED_SALT_OFFSET = 6;
constexpr size_t SALT_SIZE = 32;
constexpr size_t STORED_OPSLIMIT_OFFSET = 38;  // 64-bit little-endian
constexpr size_t STORED_MEMLIMIT_OFFSET = 46;
constexpr size_t STORED_ID_OFFSET = 54;
constexpr size_t STORED_KEY_OFFSET = 62;
constexpr size_t STORED_CHECKSUM_OFFSET = 126;
constexpr size_t CHECKSUM_SIZE = 32;
constexpr size_t ENCRYPTED_SIZE = STORED_SECRET_KEY_SIZE - STORED_ID_OFFSET;

// What minisign asks of scrypt: minutes of an attacker's guessing per try.
constexpr uint64_t SCRYPT_OPSLIMIT = crypto_pwhash_scryptsalsa208sha256_OPSLIMIT_SENSITIVE;
constexpr uint64_t SCRYPT_MEMLIMIT = crypto_pwhash_scryptsalsa208sha256_MEMLIMIT_SENSITIVE;

template <size_t N>
bool starts_with(const unsigned char* bytes, const std::array<unsigned char, N>& expected) {
    return std::equal(expected.begin(), expected.end(), bytes);
}

uint64_t load_le64(const unsigned char* bytes) {
    uint64_t value = 0;
    for (size_t i = 8; i-- > 0;) value = value << 8 | bytes[i];
    return value;
}

void store_le64(unsigned char* bytes, uint64_t value) {
    for (size_t i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(value >> (8 * i));
}

// BLAKE2b-256 of the algorithm, the key ID and the secret key: tells a
// wrong password from the right one.
std::array<unsigned char, CHECKSUM_SIZE> key_checksum(const unsigned char* stored) {
    std::array<unsigned char, CHECKSUM_SIZE> checksum;
    crypto_generichash_state state;
    crypto_generichash_init(&state, nullptr, 0, checksum.size());
    crypto_generichash_update(&state, stored, SIGNATURE_ALGORITHM.size());
    crypto_generichash_update(&state, stored + STORED_ID_OFFSET, KEY_ID_SIZE + SECRET_KEY_SIZE);
    crypto_generichash_final(&state, checksum.data(), checksum.size());
    return checksum;
}

// XORs the encrypted part with the stream scrypt derives from the password;
// the same call encrypts and decrypts.
bool apply_password(unsigned char* stored, std::string_view password) {
    std::array<unsigned char, ENCRYPTED_SIZE> stream;
    if (crypto_pwhash_scryptsalsa208sha256(stream.data(), stream.size(), password.data(), password.size(),
                                           stored + STORED_SALT_OFFSET, load_le64(stored + STORED_OPSLIMIT_OFFSET),
                                           load_le64(stored + STORED_MEMLIMIT_OFFSET)) != 0) {
        return false;
    }
    for (size_t i = 0; i < stream.size(); ++i) stored[STORED_ID_OFFSET + i] ^= stream[i];
    sodium_memzero(stream.data(), stream.size());
    return true;
}

// The second line of a file whose first is an untrusted comment.
const char* key_line(std::string_view content, std::string_view& line) {
    const std::string_view comment = take_line(content);
    if (comment.substr(0, COMMENT_PREFIX.size()) != COMMENT_PREFIX) return "the first line is not an untrusted comment";
    line = take_line(content);
    if (!only_line_ends(content)) return "unexpected text after the key";
    return nullptr;
}

}  // namespace

SecretKey::~SecretKey() { sodium_memzero(key.data(), key.size()); }

StoredSecretKey::~StoredSecretKey() { sodium_memzero(bytes.data(), bytes.size()); }

std::string key_id_text(const KeyId& id) {
    char text[KEY_ID_SIZE * 2 + 1];
    std::snprintf(text, sizeof text, "%016llX", static_cast<unsigned long long>(load_le64(id.data())));
    return text;
}

const char* parse_public_key(std::string_view base64, PublicKey& key) {
    std::array<unsigned char, PUBLIC_BYTES> bytes;
    if (!decode_base64(base64, bytes.data(), bytes.size())) return "not a public key";
    if (!starts_with(bytes.data(), SIGNATURE_ALGORITHM)) return "unsupported public key algorithm";
    std::copy_n(bytes.begin() + PUBLIC_ID_OFFSET, KEY_ID_SIZE, key.id.begin());
    std::copy_n(bytes.begin() + PUBLIC_KEY_OFFSET, PUBLIC_KEY_SIZE, key.key.begin());
    return nullptr;
}

const char* parse_public_key_file(std::string_view content, PublicKey& key) {
    std::string_view line;
    if (const char* problem = key_line(content, line)) return problem;
    return parse_public_key(line, key);
}

std::string public_key_base64(const PublicKey& key) {
    std::array<unsigned char, PUBLIC_BYTES> bytes;
    std::copy(SIGNATURE_ALGORITHM.begin(), SIGNATURE_ALGORITHM.end(), bytes.begin());
    std::copy(key.id.begin(), key.id.end(), bytes.begin() + PUBLIC_ID_OFFSET);
    std::copy(key.key.begin(), key.key.end(), bytes.begin() + PUBLIC_KEY_OFFSET);
    return encode_base64(bytes.data(), bytes.size());
}

std::string format_public_key_file(const PublicKey& key) {
    return std::string(COMMENT_PREFIX) + "zkpack public key " + key_id_text(key.id) + "\n" + public_key_base64(key) +
           "\n";
}

const char* parse_secret_key_file(std::string_view content, StoredSecretKey& stored) {
    std::string_view line;
    if (const char* problem = key_line(content, line)) return problem;
    if (!decode_base64(line, stored.bytes.data(), stored.bytes.size())) return "not a secret key";
    const unsigned char* bytes = stored.bytes.data();
    if (!starts_with(bytes, SIGNATURE_ALGORITHM)) return "unsupported secret key algorithm";
    if (!starts_with(bytes + STORED_KDF_OFFSET, KDF_SCRYPT) && !starts_with(bytes + STORED_KDF_OFFSET, KDF_NONE)) {
        return "unsupported key derivation function";
    }
    if (!starts_with(bytes + STORED_CHECKSUM_ALGORITHM_OFFSET, CHECKSUM_BLAKE2B))
        return "unsupported checksum function";
    return nullptr;
}

bool is_encrypted(const StoredSecretKey& stored) {
    return starts_with(stored.bytes.data() + STORED_KDF_OFFSET, KDF_SCRYPT);
}

const char* open_secret_key(const StoredSecretKey& stored, std::string_view password, SecretKey& key) {
    if (!crypto_ready()) return "the crypto library cannot start";
    StoredSecretKey opened = stored;
    unsigned char* bytes = opened.bytes.data();
    if (is_encrypted(stored) && !apply_password(bytes, password)) {
        return "cannot derive the key from the password (out of memory)";
    }
    // minisign leaves an unencrypted key's checksum zero; any other value must hold.
    const unsigned char* stored_checksum = bytes + STORED_CHECKSUM_OFFSET;
    const bool checksum_expected = is_encrypted(stored) || !sodium_is_zero(stored_checksum, CHECKSUM_SIZE);
    if (checksum_expected && sodium_memcmp(key_checksum(bytes).data(), stored_checksum, CHECKSUM_SIZE) != 0) {
        return is_encrypted(stored) ? "wrong password for this key" : "damaged secret key (wrong checksum)";
    }
    std::copy_n(bytes + STORED_ID_OFFSET, KEY_ID_SIZE, key.id.begin());
    std::copy_n(bytes + STORED_KEY_OFFSET, SECRET_KEY_SIZE, key.key.begin());
    return nullptr;
}

const char* format_secret_key_file(const SecretKey& key, std::string_view password, std::string& content) {
    StoredSecretKey stored;
    unsigned char* bytes = stored.bytes.data();
    std::copy(SIGNATURE_ALGORITHM.begin(), SIGNATURE_ALGORITHM.end(), bytes);
    std::copy(CHECKSUM_BLAKE2B.begin(), CHECKSUM_BLAKE2B.end(), bytes + STORED_CHECKSUM_ALGORITHM_OFFSET);
    std::copy(key.id.begin(), key.id.end(), bytes + STORED_ID_OFFSET);
    std::copy(key.key.begin(), key.key.end(), bytes + STORED_KEY_OFFSET);
    const auto checksum = key_checksum(bytes);
    std::copy(checksum.begin(), checksum.end(), bytes + STORED_CHECKSUM_OFFSET);
    if (!password.empty()) {
        std::copy(KDF_SCRYPT.begin(), KDF_SCRYPT.end(), bytes + STORED_KDF_OFFSET);
        randombytes_buf(bytes + STORED_SALT_OFFSET, SALT_SIZE);
        store_le64(bytes + STORED_OPSLIMIT_OFFSET, SCRYPT_OPSLIMIT);
        store_le64(bytes + STORED_MEMLIMIT_OFFSET, SCRYPT_MEMLIMIT);
        if (!apply_password(bytes, password)) return "cannot derive a key from the password (out of memory)";
    }
    content = std::string(COMMENT_PREFIX) + (password.empty() ? "zkpack secret key" : "zkpack encrypted secret key") +
              "\n" + encode_base64(bytes, stored.bytes.size()) + "\n";
    return nullptr;
}

const char* generate_key_pair(PublicKey& public_key, SecretKey& secret_key) {
    if (!crypto_ready()) return "the crypto library cannot start";
    crypto_sign_keypair(public_key.key.data(), secret_key.key.data());
    randombytes_buf(public_key.id.data(), public_key.id.size());
    secret_key.id = public_key.id;
    return nullptr;
}

}  // namespace signing
