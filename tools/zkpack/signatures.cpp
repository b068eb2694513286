#include "signatures.h"

#include "io.h"
#include "password.h"
#include "terminal_text.h"
#include "writer.h"

#include <signature_file.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace zkpack {

namespace {

constexpr size_t KEY_FILE_MAX = 4096;

std::string read_small_file(const std::string& path, size_t limit) {
    const FileDescriptor file = open_for_reading(path);
    std::string content(limit + 1, '\0');
    content.resize(read_at(file.get(), reinterpret_cast<unsigned char*>(content.data()), content.size(), 0, path));
    if (content.size() > limit) fail(path, "too large for a key or signature file");
    return content;
}

void check(const std::string& subject, const char* problem) {
    if (problem != nullptr) fail(subject, problem);
}

void write_content(int fd, const std::string& path, const std::string& content) {
    write_all_at(fd, reinterpret_cast<const unsigned char*>(content.data()), content.size(), 0, path);
}

// A key file is never replaced: the key it holds may be the only copy. A
// dangling link counts too, as the key would be written where it points.
void check_absent(const std::string& path) {
    struct stat status;
    if (::lstat(path.c_str(), &status) == 0) errno = EEXIST;
    if (errno != ENOENT) fail_system(path, "cannot create");
}

// Removes the file unless kept, so a failed keygen leaves nothing.
class PendingFile {
public:
    PendingFile(const std::string& path, const std::string& content, mode_t mode) : path_(path + ".XXXXXX") {
        const FileDescriptor file(::mkstemp(path_.data()));
        if (file.get() < 0) fail_system(path, "cannot create");
        try {
            write_content(file.get(), path_, content);
            if (::fchmod(file.get(), mode) != 0) fail_system(path_, "cannot write");
        } catch (const Failure&) {
            ::unlink(path_.c_str());
            throw;
        }
    }
    ~PendingFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // Never over a file made since check_absent looked.
    void move_to(const std::string& path) {
        if (::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) != 0) {
            fail_system(path, "cannot create");
        }
        path_ = path;
    }
    void keep() { path_.clear(); }

private:
    std::string path_;
};

// Complete under a temporary name first, so a failure leaves the old file.
void replace_file(const std::string& path, const std::string& content) {
    std::string temp_path = path + ".XXXXXX";
    const FileDescriptor file(::mkstemp(temp_path.data()));
    if (file.get() < 0) fail_system(path, "cannot create");
    try {
        write_content(file.get(), temp_path, content);
        if (::fchmod(file.get(), 0644) != 0 || ::rename(temp_path.c_str(), path.c_str()) != 0) {
            fail_system(path, "cannot write");
        }
    } catch (const Failure&) {
        ::unlink(temp_path.c_str());
        throw;
    }
}

signing::Hash hash_of(const std::string& path) {
    const FileDescriptor file = open_for_reading(path);
    signing::FileHash hash;
    for_each_block(file.get(), path, 0, size_of(file.get(), path), [&](const unsigned char* block, size_t length) {
        hash.add(block, length);
        return true;
    });
    return hash.finish();
}

std::string default_trusted_comment(const std::string& package) {
    return "timestamp:" + std::to_string(static_cast<long long>(std::time(nullptr))) +
           "\tfile:" + package.substr(package.rfind('/') + 1) + "\thashed";
}

void load_public_key(const Options& options, signing::PublicKey& key) {
    if (!options.public_key_text.empty()) {
        check("public key", signing::parse_public_key(options.public_key_text, key));
    } else {
        check(options.public_key_file,
              signing::parse_public_key_file(read_small_file(options.public_key_file, KEY_FILE_MAX), key));
    }
}

}  // namespace

void generate_keys(const Options& options) {
    check_absent(options.secret_key_file);
    check_absent(options.public_key_file);
    const std::string password = options.unencrypted ? "" : read_password(options.password_file, true);
    if (!options.unencrypted && password.empty()) fail(options.secret_key_file, "empty password (give -W for none)");
    signing::PublicKey public_key;
    signing::SecretKey secret_key;
    check(options.secret_key_file, signing::generate_key_pair(public_key, secret_key));
    std::string secret_content;
    check(options.secret_key_file, signing::format_secret_key_file(secret_key, password, secret_content));
    PendingFile secret(options.secret_key_file, secret_content, 0600);
    PendingFile public_file(options.public_key_file, signing::format_public_key_file(public_key), 0644);
    secret.move_to(options.secret_key_file);
    public_file.move_to(options.public_key_file);
    secret.keep();
    public_file.keep();
    std::printf("Public key: %s\n", signing::public_key_base64(public_key).c_str());
}

void load_secret_key(const std::string& path, const std::string& password_file, signing::SecretKey& key) {
    signing::StoredSecretKey stored;
    check(path, signing::parse_secret_key_file(read_small_file(path, KEY_FILE_MAX), stored));
    const std::string password = signing::is_encrypted(stored) ? read_password(password_file, false) : "";
    check(path, signing::open_secret_key(stored, password, key));
}

void sign_package(const std::string& package, const signing::SecretKey& key, const std::string& trusted_comment) {
    const std::string comment = trusted_comment.empty() ? default_trusted_comment(package) : trusted_comment;
    replace_file(package + ".minisig", signing::format_signature_file(key, hash_of(package), comment));
}

void create_signed_package(const Options& options) {
    if (options.secret_key_file.empty()) return create_package(options);
    signing::SecretKey key;
    load_secret_key(options.secret_key_file, options.password_file, key);
    create_package(options);
    sign_package(options.output, key, "");
}

void verify_signature(const Options& options) {
    signing::PublicKey key;
    load_public_key(options, key);
    const std::string signature_path =
        options.signature_file.empty() ? options.package + ".minisig" : options.signature_file;
    const std::string content = read_small_file(signature_path, signing::SIGNATURE_FILE_MAX);
    signing::SignatureFile signature;
    check(signature_path, signing::parse_signature_file(content, signature));
    check(signature_path, signing::check_signature(key, signature, hash_of(options.package)));
    std::printf("Trusted comment: %s\n",
                terminal_text::printable(signature.trusted_comment, terminal_text::Tabs::kept).c_str());
}

}  // namespace zkpack
