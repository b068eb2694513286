// Keys and signatures of packages, in minisign's formats: keygen, sign,
// create --sign and verify --pubkey.
#pragma once

#include "options.h"

#include <key_files.h>

#include <string>

namespace zkpack {

// keygen: the public key file and the secret key file, neither replacing
// an existing file.
void generate_keys(const Options& options);

// Reads the secret key, asking for its password when it is encrypted.
void load_secret_key(const std::string& path, const std::string& password_file, signing::SecretKey& key);

// Writes PKG.minisig; an empty comment stands for the time and the file's name.
void sign_package(const std::string& package, const signing::SecretKey& key, const std::string& trusted_comment);

// create, then with --sign the signature; the key is read first, so that a
// wrong password costs no packing.
void create_signed_package(const Options& options);

// verify --pubkey: checks the package's signature and prints its trusted
// comment.
void verify_signature(const Options& options);

}  // namespace zkpack
