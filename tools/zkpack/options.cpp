#include "options.h"

#include "elf.h"
#include "format.h"
#include "io.h"

#include <signature_file.h>

#include <getopt.h>

#include <algorithm>
#include <string_view>

namespace zkpack {

namespace {

// Each command's usage and the options it takes, shown together by
// `zkpack COMMAND --help` and one after the other by `zkpack --help`.
constexpr char CREATE_USAGE[] =
    "zkpack create -o OUT [--arch ARCH | --stub FILE] [--default-dir DIR] [-1 ... -9] [-j N] [-q]\n"
    "                   [--sign SECFILE [--password-file FILE]] [--compress C[:LEVEL]]\n"
    "                   [--product NAME] [--product-version VERSION] [--license FILE]\n"
    "                   [--ignore-script-status] RECORD...\n";
constexpr char LIST_USAGE[] = "zkpack list PKG\n";
constexpr char VERIFY_USAGE[] =
    "zkpack verify PKG...\n"
    "       zkpack verify [--pubkey PUBFILE | -P KEY] [--signature FILE] PKG\n";
constexpr char CAT_USAGE[] = "zkpack cat PKG N\n";
constexpr char KEYGEN_USAGE[] = "zkpack keygen -p PUBFILE -s SECFILE [-W | --password-file FILE]\n";
constexpr char SIGN_USAGE[] = "zkpack sign -s SECFILE [-t COMMENT] [--password-file FILE] PKG\n";

constexpr char INTRODUCTION[] =
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
    "  sign          write the signature PKG.minisig, which minisign -V also checks\n";

constexpr char CREATE_OPTIONS[] =
    "\n"
    "Options of create:\n"
    "  -o OUT                 the installer to write\n"
    "  --arch ARCH            the installer program for ARCH (x86_64, aarch64 or i686),\n"
    "                         from lib/zkinstall installed with zkpack (default: this\n"
    "                         machine's)\n"
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
    "Records, in the order given:\n"
    "  --env NAME=VALUE       environment record: sets NAME during the installation\n"
    "  --welcome FILE         welcome text record: FILE shown before the directory prompt\n"
    "  --tree DIR             archive record: DIR's contents, unpacked in the install directory\n"
    "  --archive FILE         archive record from a .tar (compressed here), or a .tar.bz2,\n"
    "                         .tar.zst or .tar.xz (kept as it is)\n"
    "  --script FILE          script record: FILE compressed, run by the shell at install time\n"
    "  --program FILE         program record: FILE is written out and run\n"
    "  --record KIND FILE     a record of kind KIND (0-255) holding FILE's bytes\n";

constexpr char KEY_OPTIONS[] =
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
    "  --signature FILE       verify: the signature file (default: PKG.minisig)\n";

constexpr char GENERAL_OPTIONS[] =
    "\n"
    "  -h, --help             show this text (after a command: that command's usage)\n"
    "  --version              show zkpack's version\n"
    "\n"
    "SOURCE_DATE_EPOCH, when set, is the modification time of every --tree entry.\n"
    "Options take their value as --opt VALUE or --opt=VALUE; -- ends the options.\n"
    "Exit status: 0 on success, 1 on failure, an unsound package or a missing or bad\n"
    "signature, 2 on a usage error.\n";

// Values of the long options, above every short option's character, so
// that an error's optopt tells a long option from a short one.
enum LongOption : int {
    HELP = 256,
    QUIET,
    STUB,
    ARCH,
    DEFAULT_DIR,
    COMPRESS,
    PRODUCT,
    PRODUCT_VERSION,
    LICENSE,
    IGNORE_SCRIPT_STATUS,
    SIGN,
    PASSWORD_FILE,
    ENV,
    PROGRAM,
    WELCOME,
    TREE,
    ARCHIVE,
    SCRIPT,
    RECORD,
    PUBKEY,
    SIGNATURE,
};

constexpr option CREATE_LONG[] = {
    {"help", no_argument, nullptr, HELP},
    {"quiet", no_argument, nullptr, QUIET},
    {"stub", required_argument, nullptr, STUB},
    {"arch", required_argument, nullptr, ARCH},
    {"default-dir", required_argument, nullptr, DEFAULT_DIR},
    {"compress", required_argument, nullptr, COMPRESS},
    {"product", required_argument, nullptr, PRODUCT},
    {"product-version", required_argument, nullptr, PRODUCT_VERSION},
    {"license", required_argument, nullptr, LICENSE},
    {"ignore-script-status", no_argument, nullptr, IGNORE_SCRIPT_STATUS},
    {"sign", required_argument, nullptr, SIGN},
    {"password-file", required_argument, nullptr, PASSWORD_FILE},
    {"env", required_argument, nullptr, ENV},
    {"program", required_argument, nullptr, PROGRAM},
    {"welcome", required_argument, nullptr, WELCOME},
    {"tree", required_argument, nullptr, TREE},
    {"archive", required_argument, nullptr, ARCHIVE},
    {"script", required_argument, nullptr, SCRIPT},
    {"record", required_argument, nullptr, RECORD},
    {nullptr, 0, nullptr, 0},
};
constexpr option VERIFY_LONG[] = {
    {"help", no_argument, nullptr, HELP},
    {"pubkey", required_argument, nullptr, PUBKEY},
    {"signature", required_argument, nullptr, SIGNATURE},
    {nullptr, 0, nullptr, 0},
};
constexpr option KEY_LONG[] = {
    {"help", no_argument, nullptr, HELP},
    {"password-file", required_argument, nullptr, PASSWORD_FILE},
    {nullptr, 0, nullptr, 0},
};
constexpr option HELP_ONLY_LONG[] = {
    {"help", no_argument, nullptr, HELP},
    {nullptr, 0, nullptr, 0},
};

// The leading ':' has getopt_long return ':' for a missing value.
constexpr char CREATE_SHORT[] = ":ho:qj:123456789";
constexpr char VERIFY_SHORT[] = ":hP:";
constexpr char KEYGEN_SHORT[] = ":hp:s:W";
constexpr char SIGN_SHORT[] = ":hs:t:";
// Stops at the package: cat's record index is never an option, even as -1.
constexpr char OPERANDS_SHORT[] = "+:h";

struct RecordOption {
    int code;
    unsigned kind;
    PayloadSource source;
};

constexpr RecordOption RECORD_OPTIONS[] = {
    {ENV, KIND_ENVIRONMENT, PayloadSource::assignment}, {PROGRAM, KIND_PROGRAM, PayloadSource::file},
    {WELCOME, KIND_WELCOME, PayloadSource::file},       {TREE, KIND_ARCHIVE, PayloadSource::tree},
    {ARCHIVE, KIND_ARCHIVE, PayloadSource::archive},    {SCRIPT, KIND_SCRIPT, PayloadSource::compressed},
};

// One command's arguments through getopt_long; errors become UsageError
// naming the option as it was typed.
class OptionScanner {
public:
    OptionScanner(const std::vector<std::string>& args, const char* short_options, const option* long_options)
        : words_(args), short_options_(short_options), long_options_(long_options) {
        for (std::string& word : words_) argv_.push_back(word.data());
        argv_.push_back(nullptr);
        // 0 starts getopt_long afresh, argv_[0] being the command.
        optind = 0;
        opterr = 0;
    }

    // The next option's value (HELP, a LongOption or a short option's character), -1 after the last.
    int next() {
        const int code = ::getopt_long(argc(), argv_.data(), short_options_, long_options_, nullptr);
        if (code == '?') throw UsageError{refusal()};
        if (code == ':') throw UsageError{"option '" + spelling(optopt) + "' needs an argument"};
        return code == 'h' ? HELP : code;
    }

    const char* value() const { return optarg; }
    // The word after an option's value, for --record's second one.
    std::string second_value(int code) {
        if (optind >= argc()) throw UsageError{"option '" + spelling(code) + "' needs an argument"};
        return argv_[optind++];
    }
    // What is left after the options, in order.
    std::vector<std::string> operands() const { return {argv_.begin() + optind, argv_.end() - 1}; }

    std::string spelling(int code) const {
        if (code < HELP) return std::string("-") + static_cast<char>(code);
        for (const option* entry = long_options_; entry->name != nullptr; ++entry) {
            if (entry->val == code) return std::string("--") + entry->name;
        }
        return "--";
    }

private:
    int argc() const { return static_cast<int>(argv_.size() - 1); }

    std::string refusal() const {
        if (optopt >= HELP) return "option '" + spelling(optopt) + "' takes no argument";
        if (optopt != 0) return "unknown option '" + spelling(optopt) + "'";
        // An unknown or ambiguous long option: getopt_long has passed it.
        const std::string word = argv_[optind - 1];
        const std::string name = word.substr(0, word.find('='));
        int matches = 0;
        for (const option* entry = long_options_; entry->name != nullptr; ++entry) {
            if (std::string_view(entry->name).substr(0, name.size() - 2) == name.substr(2)) ++matches;
        }
        return matches > 1 ? "option '" + name + "' is ambiguous" : "unknown option '" + name + "'";
    }

    std::vector<std::string> words_;
    std::vector<char*> argv_;
    const char* short_options_;
    const option* long_options_;
};

unsigned parse_kind(const std::string& text) {
    const bool digits_only =
        !text.empty() && text.size() <= 3 && text.find_first_not_of("0123456789") == std::string::npos;
    if (!digits_only || std::stoul(text) > MAX_KIND) {
        throw UsageError{"record kind '" + text + "' is not a number from 0 to " + std::to_string(MAX_KIND)};
    }
    return static_cast<unsigned>(std::stoul(text));
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

const RecordOption* find_record_option(int code) {
    for (const auto& option : RECORD_OPTIONS) {
        if (option.code == code) return &option;
    }
    return nullptr;
}

// A fact the package states about itself, shown on one line by the installer.
std::string fact_value(const OptionScanner& scanner, int code) {
    const std::string value = scanner.value();
    if (value.empty() || value.find_first_of("\n\r") != std::string::npos) {
        throw UsageError{"option '" + scanner.spelling(code) + "' needs a value of one line"};
    }
    return value;
}

void refuse_operands(const OptionScanner& scanner, size_t allowed) {
    const std::vector<std::string> operands = scanner.operands();
    if (operands.size() > allowed) throw UsageError{"unexpected argument '" + operands[allowed] + "'"};
}

// What create gathers besides the records, placed before them at the end.
struct CreateExtras {
    std::string default_dir;
    std::vector<RecordSpec> facts;
    std::string license;
};

void take_create_option(OptionScanner& scanner, int code, Options& options, CreateExtras& extras) {
    switch (code) {
        case 'o': options.output = scanner.value(); return;
        case STUB: options.stub = scanner.value(); return;
        case DEFAULT_DIR:
            extras.default_dir = scanner.value();
            if (extras.default_dir.empty()) throw UsageError{"option '--default-dir' needs a directory"};
            return;
        case ARCH:
            options.arch = scanner.value();
            if (!architecture_machine(options.arch)) {
                throw UsageError{"unknown architecture '" + options.arch + "' (" + ARCHITECTURE_NAMES + ")"};
            }
            return;
        case COMPRESS:
            options.compression = parse_compression(scanner.value());
            if (options.compression.compression == payload_codec::Compression::bzip2) {
                options.block_size = options.compression.level;
            }
            return;
        case 'j': options.threads = parse_threads(scanner.value()); return;
        case 'q':
        case QUIET: options.quiet = true; return;
        case PRODUCT:
            extras.facts.push_back(
                {KIND_ENVIRONMENT, PayloadSource::assignment, "ZKINSTALL_PRODUCT=" + fact_value(scanner, code)});
            return;
        case PRODUCT_VERSION:
            extras.facts.push_back({KIND_ENVIRONMENT, PayloadSource::assignment,
                                    "ZKINSTALL_PRODUCT_VERSION=" + fact_value(scanner, code)});
            return;
        case LICENSE: extras.license = scanner.value(); return;
        case IGNORE_SCRIPT_STATUS: options.ignore_script_status = true; return;
        case SIGN: options.secret_key_file = scanner.value(); return;
        case PASSWORD_FILE: options.password_file = scanner.value(); return;
        case RECORD: {
            const unsigned kind = parse_kind(scanner.value());
            options.records.push_back({kind, PayloadSource::file, scanner.second_value(code)});
            return;
        }
        default: break;
    }
    if (code >= '1' && code <= '9') {
        options.block_size = code - '0';
    } else if (const RecordOption* record = find_record_option(code)) {
        options.records.push_back({record->kind, record->source, scanner.value()});
    }
}

void finish_create(Options& options, const CreateExtras& extras) {
    if (options.output.empty()) throw UsageError{"create needs -o OUT"};
    const bool has_welcome = std::any_of(options.records.begin(), options.records.end(),
                                         [](const RecordSpec& record) { return record.kind == KIND_WELCOME; });
    if (!extras.default_dir.empty() && !has_welcome) {
        throw UsageError{
            "--default-dir needs a --welcome record: the install directory is chosen at the welcome "
            "text's prompt, so without one it would be ignored"};
    }
    if (options.records.empty()) throw UsageError{"create needs at least one record"};
    // First, so that it is set whatever else the package does first.
    if (!extras.default_dir.empty()) {
        options.records.insert(options.records.begin(), {KIND_ENVIRONMENT, PayloadSource::assignment,
                                                         "ZKINSTALL_DEFAULT_DIR=" + extras.default_dir});
    }
    // Before anything else, so that nothing is done before it is accepted.
    if (!extras.license.empty()) {
        options.records.insert(options.records.begin(), {KIND_LICENSE, PayloadSource::file, extras.license});
    }
    options.records.insert(options.records.begin(), extras.facts.begin(), extras.facts.end());
}

// Returns false when --help was asked for.
bool parse_create(OptionScanner& scanner, Options& options) {
    CreateExtras extras;
    for (int code = scanner.next(); code != -1; code = scanner.next()) {
        if (code == HELP) return false;
        take_create_option(scanner, code, options, extras);
    }
    refuse_operands(scanner, 0);
    finish_create(options, extras);
    return true;
}

// The packages: one, or with `several` one or more.
void take_packages(const OptionScanner& scanner, Options& options, const std::string& command, bool several) {
    options.packages = scanner.operands();
    if (options.packages.empty()) throw UsageError{command + " needs a package"};
    if (!several) refuse_operands(scanner, 1);
    options.package = options.packages.front();
}

bool parse_verify(OptionScanner& scanner, Options& options) {
    for (int code = scanner.next(); code != -1; code = scanner.next()) {
        if (code == HELP) return false;
        if (code == PUBKEY) options.public_key_file = scanner.value();
        if (code == 'P') options.public_key_text = scanner.value();
        if (code == SIGNATURE) options.signature_file = scanner.value();
    }
    take_packages(scanner, options, "verify", true);
    if (!options.public_key_file.empty() && !options.public_key_text.empty()) {
        throw UsageError{"give either --pubkey or -P, not both"};
    }
    if (!options.signature_file.empty() && !options.checks_signature()) {
        throw UsageError{"--signature needs --pubkey or -P"};
    }
    if (options.packages.size() > 1 && options.checks_signature()) {
        throw UsageError{"a signature is checked on one package at a time"};
    }
    return true;
}

bool parse_sign(OptionScanner& scanner, Options& options) {
    for (int code = scanner.next(); code != -1; code = scanner.next()) {
        if (code == HELP) return false;
        if (code == 's') options.secret_key_file = scanner.value();
        if (code == 't') options.trusted_comment = scanner.value();
        if (code == PASSWORD_FILE) options.password_file = scanner.value();
    }
    take_packages(scanner, options, "sign", false);
    if (options.secret_key_file.empty()) throw UsageError{"sign needs -s SECFILE"};
    if (!signing::valid_trusted_comment(options.trusted_comment)) {
        throw UsageError{"the trusted comment must be one line of at most 8192 bytes"};
    }
    return true;
}

bool parse_keygen(OptionScanner& scanner, Options& options) {
    for (int code = scanner.next(); code != -1; code = scanner.next()) {
        if (code == HELP) return false;
        if (code == 'p') options.public_key_file = scanner.value();
        if (code == 's') options.secret_key_file = scanner.value();
        if (code == 'W') options.unencrypted = true;
        if (code == PASSWORD_FILE) options.password_file = scanner.value();
    }
    refuse_operands(scanner, 0);
    if (options.public_key_file.empty() || options.secret_key_file.empty()) {
        throw UsageError{"keygen needs -p PUBFILE and -s SECFILE"};
    }
    return true;
}

// list and cat take no option but --help.
bool parse_operands_only(OptionScanner& scanner) {
    for (int code = scanner.next(); code != -1; code = scanner.next()) {
        if (code == HELP) return false;
    }
    return true;
}

bool parse_list(OptionScanner& scanner, Options& options) {
    if (!parse_operands_only(scanner)) return false;
    take_packages(scanner, options, "list", false);
    return true;
}

bool parse_cat(OptionScanner& scanner, Options& options) {
    if (!parse_operands_only(scanner)) return false;
    const std::vector<std::string> operands = scanner.operands();
    if (operands.empty()) throw UsageError{"cat needs a package"};
    options.package = operands[0];
    if (operands.size() < 2) throw UsageError{"cat needs a record index"};
    const std::string& index = operands[1];
    if (index.empty() || index.size() > 10 || index.find_first_not_of("0123456789") != std::string::npos) {
        throw UsageError{"record index '" + index + "' is not a number"};
    }
    options.record_index = std::stoull(index);
    refuse_operands(scanner, 2);
    return true;
}

struct CommandSyntax {
    std::string_view name;
    Command command;
    const char* usage;
    const char* option_help;  // empty for a command without options
    const char* short_options;
    const option* long_options;
    bool (*parse)(OptionScanner&, Options&);
};

constexpr CommandSyntax COMMANDS[] = {
    {"create", Command::create, CREATE_USAGE, CREATE_OPTIONS, CREATE_SHORT, CREATE_LONG, parse_create},
    {"list", Command::list, LIST_USAGE, "", OPERANDS_SHORT, HELP_ONLY_LONG, parse_list},
    {"verify", Command::verify, VERIFY_USAGE, KEY_OPTIONS, VERIFY_SHORT, VERIFY_LONG, parse_verify},
    {"cat", Command::cat, CAT_USAGE, "", OPERANDS_SHORT, HELP_ONLY_LONG, parse_cat},
    {"keygen", Command::keygen, KEYGEN_USAGE, KEY_OPTIONS, KEYGEN_SHORT, KEY_LONG, parse_keygen},
    {"sign", Command::sign, SIGN_USAGE, KEY_OPTIONS, SIGN_SHORT, KEY_LONG, parse_sign},
};

std::string full_help() {
    std::string text;
    for (const CommandSyntax& syntax : COMMANDS)
        text += (text.empty() ? "Usage: " : "       ") + std::string(syntax.usage);
    return text + INTRODUCTION + CREATE_OPTIONS + KEY_OPTIONS + GENERAL_OPTIONS;
}

std::string command_help(const CommandSyntax& syntax) {
    return "Usage: " + std::string(syntax.usage) + syntax.option_help + "\n  -h, --help             show this text\n";
}

}  // namespace

Options parse_options(const std::vector<std::string>& args) {
    Options options;
    if (args.empty()) throw UsageError{"no command given"};
    const std::string& command = args.front();
    if (command == "-h" || command == "--help") {
        options.command = Command::help;
        options.help = full_help();
        return options;
    }
    if (command == "--version") {
        options.command = Command::version;
        return options;
    }
    for (const CommandSyntax& syntax : COMMANDS) {
        if (syntax.name != command) continue;
        OptionScanner scanner(args, syntax.short_options, syntax.long_options);
        options.command = syntax.command;
        if (!syntax.parse(scanner, options)) {
            options = Options{};
            options.help = command_help(syntax);
        }
        return options;
    }
    throw UsageError{"unknown command '" + command + "'"};
}

}  // namespace zkpack
