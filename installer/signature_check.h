// The package's signature, checked when --pubkey names a key. The key and
// the signature are read before verification begins, the file's hash is
// taken in verification's one pass over the file, and the signature is
// checked after that pass, before any prompt and any record. Every failure
// ends the run with one message and exit status 1.
#pragma once

#include <cstddef>
#include <string>

// Reads the key and the signature file; nothing without --pubkey.
void load_package_signature();

// Adds the next bytes of the file, in file order, to the hash.
void hash_package_bytes(const unsigned char* bytes, size_t length);

// Checks the signature against the hash and shows its trusted comment.
void check_package_signature();

// The ID of the key that signed the package, as the tools show it, from
// its signature file (--signature, else PACKAGE.minisig); empty when there
// is none that can be read. Nothing is checked.
std::string package_signer_id();
