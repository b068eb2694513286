#include "options.h"

#include "elf.h"
#include "format.h"
#include "io.h"

#include <signature_file.h>

#include <algorithm>
#include <string_view>

namespace zkpack {

const char HELP_TEXT[] =
    "Usage: zkpack create -o OUT [--arch ARCH | --stub FILE] [--default-dir DIR] [-1 ... -9] [-j N] [-q] [--sign SECFILE]\n"
    "                   [--product NAME] [--product-version VERSION] [--license FILE]\n"
    "                   [--ignore-script-status] RECORD...\n"
    "       zkpack list PKG\n"
    "       zkpack verify PKG...\n"
    "       zkpack verify [--pubkey PUBFILE | -P KEY] [--signature FILE] PKG\n"
    "       zkpack cat PKG N\n"
    "       zkpack keygen -p PUBFILE -s SECFILE [-W]\n"
    "       zkpack sign -s SECFILE [-t COMMENT] PKG\n"
    "\n"
    "Builds installers: the installer program (the stub) with a package of\n"
    "setup records appended, which the installer carries out in order.\n"
    "\n"
    "Commands:\n"
    "  create        write the installer OUT (mode 0755, replaced only when complete)\n"
    "  list          show the package header and one line per record\n"
    "  verify        check marker, size, checksum and record framing of each PKG;\n"
    "                silent when sound\n"
    "  cat           write record N's payload (counted from 0) to standard output,\n"
    "                decompressed for archive and script records\n"
    "  keygen        make a key pair in minisign's formats; the secret key is\n"
    "                encrypted with a password unless -W is given\n"
    "  sign          write the signature PKG.minisig, which minisign -V also checks\n"
    "\n"
    "Options of create:\n"
    "  -o OUT                 the installer to write\n"
    "  --arch ARCH            the installer program for ARCH (x86_64 or aarch64):\n"
    "                         zkinstall-ARCH beside zkpack (default: zkinstall, this machine's)\n"
    "  --stub FILE            the installer program to use, an ELF executable (wins over --arch)\n"
    "  --default-dir DIR      the install directory offered by default: an environment\n"
    "                         record ZKINSTALL_DEFAULT_DIR=DIR before all others\n"
    "  -1 ... -9              bzip2 block size of 100 kB ... 900 kB (default -9)\n"
    "  --compress C[:LEVEL]   compress with C: bzip2 (the default; LEVEL as -1 ... -9),\n"
    "                         zstd (1 ... 22, default 19) or xz (0 ... 9, default 6)\n"
    "  -j N                   compress on N threads (default: one per processor, at most 8);\n"
    "                         the package is the same whatever N\n"
    "  -q, --quiet            no progress bar (shown only on a terminal anyway)\n"
    "  --sign SECFILE         sign OUT as sign does, writing OUT.minisig\n"
    "  --product NAME         the product's name, which the installer's --info and\n"
    "                         --version show: an environment record ZKINSTALL_PRODUCT=NAME\n"
    "  --product-version VERSION\n"
    "                         the product's version: ZKINSTALL_PRODUCT_VERSION=VERSION\n"
    "  --license FILE         license record: FILE shown before everything else, which\n"
    "                         the person installing must accept (or the installer's --accept)\n"
    "  --ignore-script-status the installation does not fail when a program or\n"
    "                         script exits with a status other than 0\n"
    "\n"
    "Keys and signatures:\n"
    "  -p PUBFILE             keygen: the public key file to write\n"
    "  -s SECFILE             keygen: the secret key file to write (mode 0600); sign: the key\n"
    "  -W                     keygen: store the secret key unencrypted\n"
    "  -t COMMENT             sign: the trusted comment (default: time and file name)\n"
    "  --password-file FILE   the secret key's password is FILE's first line, not typed\n"
    "                         at the terminal\n"
    "  --pubkey PUBFILE       verify: check PKG's signature with this public key file\n"
    "  -P KEY                 verify: the same with the key in base64\n"
    "  --signature FILE       verify: the signature file (default: PKG.minisig)\n"
    "\n"
    "Records, in the order given:\n"
    "  --env NAME=VALUE       environment record: sets NAME during the installation\n"
    "  --welcome FILE         welcome text record: FILE shown before the directory prompt\n"
    "  --tree DIR             archive record: DIR's contents, unpacked in the install directory\n"
    "  --archive FILE         archive record from a .tar (compressed here) or a .tar.bz2\n"
    "  --script FILE          script record: FILE compressed, run by the shell at install time\n"
    "  --program FILE         program record: FILE is written out and run\n"
    "  --record KIND FILE     a record of kind KIND (0-255) holding FILE's bytes\n"
    "\n"
    "  -h, --help             show this text\n"
    "  --version              show zkpack's version\n"
    "\n"
    "SOURCE_DATE_EPOCH, when set, is the modification time of every --tree entry.\n"
    "Exit status: 0 on success, 1 on failure, an unsound package or a missing or bad\n"
    "signature, 2 on a usage error.\n";

namespace {

struct RecordOption {
    std::string_view name;
    unsigned kind;
    PayloadSource source;
};

constexpr RecordOption RECORD_OPTIONS[] = {
    {"--env", KIND_ENVIRONMENT, PayloadSource::assignment}, {"--program", KIND_PROGRAM, PayloadSource::file},
    {"--welcome", KIND_WELCOME, PayloadSource::file},       {"--tree", KIND_ARCHIVE, PayloadSource::tree},
    {"--archive", KIND_ARCHIVE, PayloadSource::archive},    {"--script", KIND_SCRIPT, PayloadSource::compressed},
};

// Hands out the arguments one by one; an option's value must be there.
class ArgumentReader {
public:
    explicit ArgumentReader(const std::vector<std::string>& args) : args_(args) {}
    bool done() const { return next_ == args_.size(); }
    const std::string& next() { return args_[next_++]; }
    const std::string& value_of(const std::string& option) {
        if (done()) throw UsageError{"option '" + option + "' needs an argument"};
        return next();
    }

private:
    const std::vector<std::string>& args_;
    size_t next_ = 0;
};

unsigned parse_kind(const std::string& text) {
    const bool digits_only =
        !text.empty() && text.size() <= 3 && text.find_first_not_of("0123456789") == std::string::npos;
    if (!digits_only || std::stoul(text) > MAX_KIND) {
        throw UsageError{"record kind '" + text + "' is not a number from 0 to " + std::to_string(MAX_KIND)};
    }
    return static_cast<unsigned>(std::stoul(text));
}

// -1 ... -9
bool is_block_size_option(const std::string& arg) {
    return arg.size() == 2 && arg[0] == '-' && arg[1] >= '1' && arg[1] <= '9';
}

// Far more threads than processors only costs memory.
constexpr int MAX_THREADS = 256;

int parse_threads(const std::string& text) {
    const bool digits_only =
        !text.empty() && text.size() <= 3 && text.find_first_not_of("0123456789") == std::string::npos;
    const int count = digits_only ? std::stoi(text) : 0;
    if (count < 1 || count > MAX_THREADS) {
        throw UsageError{"thread count '" + text + "' is not a number from 1 to " + std::to_string(MAX_THREADS)};
    }
    return count;
}

const RecordOption* find_record_option(const std::string& name) {
    for (const auto& option : RECORD_OPTIONS) {
        if (option.name == name) return &option;
    }
    return nullptr;
}

// A fact the package states about itself, shown on one line by the installer.
std::string fact_value(ArgumentReader& reader, const std::string& option) {
    const std::string& value = reader.value_of(option);
    if (value.empty() || value.find_first_of("\n\r") != std::string::npos) {
        throw UsageError{"option '" + option + "' needs a value of one line"};
    }
    return value;
}

void parse_create(ArgumentReader& reader, Options& options) {
    std::string default_dir;
    std::vector<RecordSpec> facts;
    std::string license;
    while (!reader.done()) {
        const std::string& arg = reader.next();
        if (arg == "-o") {
            options.output = reader.value_of(arg);
        } else if (arg == "--stub") {
            options.stub = reader.value_of(arg);
        } else if (arg == "--default-dir") {
            default_dir = reader.value_of(arg);
            if (default_dir.empty()) throw UsageError{"option '--default-dir' needs a directory"};
        } else if (arg == "--arch") {
            options.arch = reader.value_of(arg);
            if (!architecture_machine(options.arch)) {
                throw UsageError{"unknown architecture '" + options.arch + "' (" + ARCHITECTURE_NAMES + ")"};
            }
        } else if (is_block_size_option(arg)) {
            options.block_size = arg[1] - '0';
        } else if (arg == "--compress") {
            options.compression = parse_compression(reader.value_of(arg));
            if (options.compression.compression == payload_codec::Compression::bzip2) {
                options.block_size = options.compression.level;
            }
        } else if (arg == "-j") {
            options.threads = parse_threads(reader.value_of(arg));
        } else if (arg.compare(0, 2, "-j") == 0) {
            options.threads = parse_threads(arg.substr(2));
        } else if (arg == "-q" || arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--product") {
            facts.push_back(
                {KIND_ENVIRONMENT, PayloadSource::assignment, "ZKINSTALL_PRODUCT=" + fact_value(reader, arg)});
        } else if (arg == "--product-version") {
            facts.push_back(
                {KIND_ENVIRONMENT, PayloadSource::assignment, "ZKINSTALL_PRODUCT_VERSION=" + fact_value(reader, arg)});
        } else if (arg == "--license") {
            license = reader.value_of(arg);
        } else if (arg == "--ignore-script-status") {
            options.ignore_script_status = true;
        } else if (arg == "--sign") {
            options.secret_key_file = reader.value_of(arg);
        } else if (arg == "--password-file") {
            options.password_file = reader.value_of(arg);
        } else if (const RecordOption* record = find_record_option(arg)) {
            options.records.push_back({record->kind, record->source, reader.value_of(arg)});
        } else if (arg == "--record") {
            const unsigned kind = parse_kind(reader.value_of(arg));
            options.records.push_back({kind, PayloadSource::file, reader.value_of(arg)});
        } else {
            throw UsageError{"unknown option '" + arg + "'"};
        }
    }
    if (options.output.empty()) throw UsageError{"create needs -o OUT"};
    const bool has_welcome = std::any_of(options.records.begin(), options.records.end(),
                                         [](const RecordSpec& record) { return record.kind == KIND_WELCOME; });
    if (!default_dir.empty() && !has_welcome) {
        throw UsageError{
            "--default-dir needs a --welcome record: the install directory is chosen at the welcome "
            "text's prompt, so without one it would be ignored"};
    }
    if (options.records.empty()) throw UsageError{"create needs at least one record"};
    // First, so that it is set whatever else the package does first.
    if (!default_dir.empty()) {
        options.records.insert(options.records.begin(),
                               {KIND_ENVIRONMENT, PayloadSource::assignment, "ZKINSTALL_DEFAULT_DIR=" + default_dir});
    }
    // Before anything else, so that nothing is done before it is accepted.
    if (!license.empty()) options.records.insert(options.records.begin(), {KIND_LICENSE, PayloadSource::file, license});
    options.records.insert(options.records.begin(), facts.begin(), facts.end());
}

// Options that take a value, stored into a field of Options.
struct ValueOption {
    std::string_view name;
    std::string Options::*field;
};

constexpr ValueOption VERIFY_OPTIONS[] = {
    {"--pubkey", &Options::public_key_file},
    {"-P", &Options::public_key_text},
    {"--signature", &Options::signature_file},
};
constexpr ValueOption SIGN_OPTIONS[] = {
    {"-s", &Options::secret_key_file},
    {"-t", &Options::trusted_comment},
    {"--password-file", &Options::password_file},
};
constexpr ValueOption KEYGEN_OPTIONS[] = {
    {"-p", &Options::public_key_file},
    {"-s", &Options::secret_key_file},
    {"--password-file", &Options::password_file},
};

template <size_t N>
bool take_value_option(ArgumentReader& reader, const std::string& arg, const ValueOption (&table)[N],
                       Options& options) {
    for (const auto& option : table) {
        if (option.name == arg) {
            options.*option.field = reader.value_of(arg);
            return true;
        }
    }
    return false;
}

// The table's options, in any order, and the package, or with `several`
// one package or more.
template <size_t N>
void parse_with_package(ArgumentReader& reader, Options& options, const std::string& command,
                        const ValueOption (&table)[N], bool several = false) {
    while (!reader.done()) {
        const std::string& arg = reader.next();
        if (take_value_option(reader, arg, table, options)) continue;
        if (arg.size() > 1 && arg[0] == '-') throw UsageError{"unknown option '" + arg + "'"};
        if (!several && !options.packages.empty()) throw UsageError{"unexpected argument '" + arg + "'"};
        options.packages.push_back(arg);
    }
    if (options.packages.empty()) throw UsageError{command + " needs a package"};
    options.package = options.packages.front();
}

void parse_verify(ArgumentReader& reader, Options& options) {
    parse_with_package(reader, options, "verify", VERIFY_OPTIONS, true);
    if (!options.public_key_file.empty() && !options.public_key_text.empty()) {
        throw UsageError{"give either --pubkey or -P, not both"};
    }
    if (!options.signature_file.empty() && !options.checks_signature()) {
        throw UsageError{"--signature needs --pubkey or -P"};
    }
    if (options.packages.size() > 1 && options.checks_signature()) {
        throw UsageError{"a signature is checked on one package at a time"};
    }
}

void parse_sign(ArgumentReader& reader, Options& options) {
    parse_with_package(reader, options, "sign", SIGN_OPTIONS);
    if (options.secret_key_file.empty()) throw UsageError{"sign needs -s SECFILE"};
    if (!signing::valid_trusted_comment(options.trusted_comment)) {
        throw UsageError{"the trusted comment must be one line of at most 8192 bytes"};
    }
}

void parse_keygen(ArgumentReader& reader, Options& options) {
    while (!reader.done()) {
        const std::string& arg = reader.next();
        if (take_value_option(reader, arg, KEYGEN_OPTIONS, options)) continue;
        if (arg != "-W") throw UsageError{"unknown option '" + arg + "'"};
        options.unencrypted = true;
    }
    if (options.public_key_file.empty() || options.secret_key_file.empty()) {
        throw UsageError{"keygen needs -p PUBFILE and -s SECFILE"};
    }
}

void parse_package_argument(ArgumentReader& reader, Options& options, const std::string& command) {
    if (reader.done()) throw UsageError{command + " needs a package"};
    options.package = reader.next();
    if (!reader.done()) throw UsageError{"unexpected argument '" + reader.next() + "'"};
}

void parse_cat(ArgumentReader& reader, Options& options) {
    if (reader.done()) throw UsageError{"cat needs a package"};
    options.package = reader.next();
    if (reader.done()) throw UsageError{"cat needs a record index"};
    const std::string& index = reader.next();
    if (index.empty() || index.size() > 10 || index.find_first_not_of("0123456789") != std::string::npos) {
        throw UsageError{"record index '" + index + "' is not a number"};
    }
    options.record_index = std::stoull(index);
    if (!reader.done()) throw UsageError{"unexpected argument '" + reader.next() + "'"};
}

}  // namespace

Options parse_options(const std::vector<std::string>& args) {
    ArgumentReader reader(args);
    Options options;
    if (reader.done()) throw UsageError{"no command given"};
    const std::string& command = reader.next();
    if (command == "-h" || command == "--help") {
        options.command = Command::help;
    } else if (command == "--version") {
        options.command = Command::version;
    } else if (command == "create") {
        options.command = Command::create;
        parse_create(reader, options);
    } else if (command == "list") {
        options.command = Command::list;
        parse_package_argument(reader, options, command);
    } else if (command == "verify") {
        options.command = Command::verify;
        parse_verify(reader, options);
    } else if (command == "keygen") {
        options.command = Command::keygen;
        parse_keygen(reader, options);
    } else if (command == "sign") {
        options.command = Command::sign;
        parse_sign(reader, options);
    } else if (command == "cat") {
        options.command = Command::cat;
        parse_cat(reader, options);
    } else {
        throw UsageError{"unknown command '" + command + "'"};
    }
    return options;
}

}  // namespace zkpack
