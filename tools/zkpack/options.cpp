#include "options.h"

#include "format.h"
#include "io.h"

#include <string_view>

namespace zkpack {

const char HELP_TEXT[] =
    "Usage: zkpack create -o OUT [--stub FILE] [-1 ... -9] [-j N] [-q] RECORD...\n"
    "       zkpack list PKG\n"
    "       zkpack verify PKG\n"
    "       zkpack cat PKG N\n"
    "\n"
    "Builds installers: the installer program (the stub) with a package of\n"
    "setup records appended, which the installer carries out in order.\n"
    "\n"
    "Commands:\n"
    "  create        write the installer OUT (mode 0755, replaced only when complete)\n"
    "  list          show the package header and one line per record\n"
    "  verify        check marker, size, checksum and record framing; silent when sound\n"
    "  cat           write record N's payload (counted from 0) to standard output,\n"
    "                decompressed for archive and script records\n"
    "\n"
    "Options of create:\n"
    "  -o OUT                 the installer to write\n"
    "  --stub FILE            the installer program (default: zkinstall beside zkpack)\n"
    "  -1 ... -9              bzip2 block size of 100 kB ... 900 kB (default -9)\n"
    "  -j N                   compress on N threads (default: one per processor, at most 8);\n"
    "                         the package is the same whatever N\n"
    "  -q, --quiet            no progress bar (shown only on a terminal anyway)\n"
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
    "\n"
    "SOURCE_DATE_EPOCH, when set, is the modification time of every --tree entry.\n"
    "Exit status: 0 on success, 1 on failure or an unsound package, 2 on a usage error.\n";

namespace {

struct RecordOption {
    std::string_view name;
    unsigned kind;
    PayloadSource source;
};

constexpr RecordOption RECORD_OPTIONS[] = {
    {"--env", KIND_ENVIRONMENT, PayloadSource::assignment},
    {"--program", KIND_PROGRAM, PayloadSource::file},
    {"--welcome", KIND_WELCOME, PayloadSource::file},
    {"--tree", KIND_ARCHIVE, PayloadSource::tree},
    {"--archive", KIND_ARCHIVE, PayloadSource::archive},
    {"--script", KIND_SCRIPT, PayloadSource::compressed},
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
    const bool digits_only = !text.empty() && text.size() <= 3 &&
                             text.find_first_not_of("0123456789") == std::string::npos;
    if (!digits_only || std::stoul(text) > MAX_KIND) {
        throw UsageError{"record kind '" + text + "' is not a number from 0 to " + std::to_string(MAX_KIND)};
    }
    return static_cast<unsigned>(std::stoul(text));
}

// -1 ... -9
bool is_block_size_option(const std::string& arg) { return arg.size() == 2 && arg[0] == '-' && arg[1] >= '1' && arg[1] <= '9'; }

// Far more threads than processors only costs memory.
constexpr int MAX_THREADS = 256;

int parse_threads(const std::string& text) {
    const bool digits_only = !text.empty() && text.size() <= 3 &&
                             text.find_first_not_of("0123456789") == std::string::npos;
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

void parse_create(ArgumentReader& reader, Options& options) {
    while (!reader.done()) {
        const std::string& arg = reader.next();
        if (arg == "-o") {
            options.output = reader.value_of(arg);
        } else if (arg == "--stub") {
            options.stub = reader.value_of(arg);
        } else if (is_block_size_option(arg)) {
            options.block_size = arg[1] - '0';
        } else if (arg == "-j") {
            options.threads = parse_threads(reader.value_of(arg));
        } else if (arg.compare(0, 2, "-j") == 0) {
            options.threads = parse_threads(arg.substr(2));
        } else if (arg == "-q" || arg == "--quiet") {
            options.quiet = true;
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
    } else if (command == "create") {
        options.command = Command::create;
        parse_create(reader, options);
    } else if (command == "list" || command == "verify") {
        options.command = command == "list" ? Command::list : Command::verify;
        parse_package_argument(reader, options, command);
    } else if (command == "cat") {
        options.command = Command::cat;
        parse_cat(reader, options);
    } else {
        throw UsageError{"unknown command '" + command + "'"};
    }
    return options;
}

}  // namespace zkpack

