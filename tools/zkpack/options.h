// The command line: commands, options and the help text that describes them.
#pragma once

#include "stream_compressors.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zkpack {

enum class Command { help, version, create, list, verify, cat, keygen, sign };

// Where a record's payload comes from.
enum class PayloadSource {
    assignment,  // the option's text, "NAME=VALUE", and a NUL
    file,        // the file's bytes as they are
    compressed,  // the file's bytes as one bzip2 stream
    tree,        // a directory's contents as a tar stream, as one bzip2 stream
    archive,     // a tar archive compressed as one bzip2 stream, or a .tar.bz2 as it is
};

struct RecordSpec {
    unsigned kind;
    PayloadSource source;
    std::string argument;  // the assignment or the file name
};

struct Options {
    Command command = Command::help;
    std::string help;                 // help: the text to show
    std::string output;               // create: -o
    std::string stub;                 // create: --stub, empty for the default
    std::string arch;                 // create: --arch, empty for this machine's installer
    std::vector<RecordSpec> records;  // create: in the order given
    int block_size = 9;               // create: -1 ... -9, bzip2's block size
    CompressionChoice compression;    // create: --compress; bzip2's level is block_size
    bool quiet = false;               // create: --quiet
    bool ignore_script_status = false;  // create: programs' and scripts' exit statuses mean nothing
    int threads = 0;                  // create: -j N, 0 for one per processor
    std::string package;              // list, verify, cat, sign
    uint64_t record_index = 0;        // cat
    std::string secret_key_file;      // keygen -s, sign -s, create --sign
    std::string public_key_file;      // keygen -p, verify --pubkey
    std::string public_key_text;      // verify -P: the key in base64
    std::string signature_file;       // verify --signature, empty for PKG.minisig
    std::string trusted_comment;      // sign -t, empty for the time and the file's name
    std::string password_file;        // keygen, sign, create --sign: else the terminal
    bool unencrypted = false;         // keygen -W

    std::vector<std::string> packages;  // verify: each one named, the first also in package

    bool checks_signature() const { return !public_key_file.empty() || !public_key_text.empty(); }
};

// Throws UsageError for what cannot be parsed.
Options parse_options(const std::vector<std::string>& args);

}  // namespace zkpack
