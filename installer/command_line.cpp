#include "command_line.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "installer_state.h"

namespace {

// Kept beside the table below, which it describes.
constexpr char USAGE[] =
    "Usage: %1$s [--target DIR | -gz] [--yes] [--quiet] [-d] [--accept] [-- ARG...]\n"
    "       %1$s --check | --list | --info\n"
    "       %1$s --extract DIR [--yes] [--accept] [--quiet]\n"
    "       %1$s --help | --version\n"
    "       any run but the last with --pubkey KEY [--signature FILE]\n";

constexpr char HELP[] =
    "\n"
    "Verifies the package this file carries and installs it, asking where.\n"
    "\n"
    "  --target DIR   install into DIR, made with its parents when missing,\n"
    "                 without asking; a damaged package ends the run\n"
    "  --yes          take every question's default answer without reading input;\n"
    "                 a damaged package ends the run\n"
    "  --accept       accept the package's license without showing it or asking;\n"
    "                 --yes alone does not\n"
    "  --quiet        no progress, no Extracting lines, no welcome text: only\n"
    "                 errors, questions asked and the final message\n"
    "  --check        verify the package and every compressed payload; silent\n"
    "                 when sound, else the reason and exit status 1\n"
    "  --list         one line per record and per archive entry\n"
    "  --info         what the package is: product, version, installer, compression,\n"
    "                 size, signature and default directory, one key: value a line\n"
    "  --extract DIR  unpack the archives into DIR and run nothing\n"
    "  --pubkey KEY   check the package's signature, PACKAGE.minisig, with KEY (a\n"
    "                 public key file or the key in base64) before anything runs\n"
    "  --signature FILE\n"
    "                 the signature file to check instead of PACKAGE.minisig\n"
    "  --help, -h, -help, -?\n"
    "                 show this text\n"
    "  --version      show the product's name and version, then the installer's\n"
    "  -d             open a shell before each setup script runs\n"
    "  -gz            write the decompressed archive to standard output\n"
    "  -program NAME  accepted for compatibility; NAME has no effect\n"
    "  -- ARG...      end of the options: every program and script is run with\n"
    "                 the ARGs as its arguments\n"
    "\n"
    "ZKINSTALL_DEFAULT_DIR, when set, is the directory offered by default.\n"
    "Exit status: 0 on success, 1 on failure, 2 on a usage error.\n";

constexpr unsigned runs(RunMode mode) { return 1u << static_cast<unsigned>(mode); }

constexpr unsigned ANY_RUN = ~0u;
constexpr unsigned INSTALLING = runs(RunMode::install) | runs(RunMode::stream);

struct Option {
    std::string_view name;
    bool takes_value;
    RunMode mode;      // the run it asks for; install when it only adjusts one
    unsigned allowed;  // the runs it makes sense in
    void (*apply)(char* value);
};

// Switches begin with one dash, long options with two. A switch that is not
// here is ignored, unless it spells a long option; a long option that is
// not here is refused.
constexpr Option OPTIONS[] = {
    {"-d", false, RunMode::install, INSTALLING, [](char*) { installer_state.debug_shell = 1; }},
    {"-gz", false, RunMode::stream, INSTALLING, [](char*) { installer_state.stream_only = 1; }},
    {"-program", true, RunMode::install, ANY_RUN, [](char* name) { installer_state.package_path = name; }},
    {"--target", true, RunMode::install, runs(RunMode::install),
     [](char* directory) { installer_state.target_dir = directory; }},
    {"--yes", false, RunMode::install, INSTALLING | runs(RunMode::extract),
     [](char*) { installer_state.assume_yes = 1; }},
    {"--accept", false, RunMode::install, INSTALLING | runs(RunMode::extract),
     [](char*) { installer_state.accept_license = 1; }},
    {"--quiet", false, RunMode::install, ANY_RUN, [](char*) { installer_state.quiet = 1; }},
    {"--check", false, RunMode::check, ANY_RUN, [](char*) {}},
    {"--list", false, RunMode::list, ANY_RUN, [](char*) {}},
    {"--info", false, RunMode::info, ANY_RUN, [](char*) {}},
    {"--extract", true, RunMode::extract, ANY_RUN, [](char* directory) { installer_state.extract_dir = directory; }},
    {"--pubkey", true, RunMode::install, ANY_RUN, [](char* key) { installer_state.public_key = key; }},
    {"--signature", true, RunMode::install, ANY_RUN, [](char* file) { installer_state.signature_path = file; }},
    {"--help", false, RunMode::help, ANY_RUN, [](char*) {}},
    {"-h", false, RunMode::help, ANY_RUN, [](char*) {}},
    {"-help", false, RunMode::help, ANY_RUN, [](char*) {}},
    {"-?", false, RunMode::help, ANY_RUN, [](char*) {}},
    {"--version", false, RunMode::version, ANY_RUN, [](char*) {}},
};

constexpr size_t OPTION_COUNT = sizeof OPTIONS / sizeof OPTIONS[0];
static_assert(OPTION_COUNT <= 32, "the options seen are kept as bits of one word");

// --help and --version answer whatever else the command line asks for.
bool answers_alone(RunMode mode) { return mode == RunMode::help || mode == RunMode::version; }

const Option* find_option(std::string_view name) {
    for (const Option& option : OPTIONS) {
        if (option.name == name) return &option;
    }
    return nullptr;
}

// As GNU tools do, a long option may be abbreviated to any prefix that only
// it begins with.
const Option* find_long_option(std::string_view name) {
    if (const Option* exact = find_option(name)) return exact;
    const Option* found = nullptr;
    for (const Option& option : OPTIONS) {
        if (option.name.substr(0, 2) != "--" || option.name.substr(0, name.size()) != name) continue;
        if (found != nullptr) return nullptr;
        found = &option;
    }
    return found;
}

bool is_long_option(const char* arg) { return arg[0] == '-' && arg[1] == '-' && arg[2] != '\0'; }

// Help is asked for in any of its spellings, wherever it stands.
const Option* help_switch(const char* arg) {
    const Option* option = find_option(arg);
    return option != nullptr && option->mode == RunMode::help ? option : nullptr;
}

// "-target" or "-target=DIR": a long option typed with one dash, which
// must not be ignored as other switches are and install somewhere else.
std::string_view long_option_spelt_short(const char* arg) {
    if (arg[0] != '-' || arg[1] == '-' || arg[1] == '\0' || find_option(arg) != nullptr) return {};
    const std::string_view name(arg, std::strcspn(arg, "="));
    for (const Option& option : OPTIONS) {
        if (option.name.size() == name.size() + 1 && option.name.substr(1) == name) return option.name;
    }
    return {};
}

class Parser {
public:
    Parser(int argc, char** argv) : argc_(argc), argv_(argv) {}

    int parse() {
        int first_word = argc_;
        for (int index = 1; index < argc_ && !refused_; ++index) {
            char* arg = argv_[index];
            if (std::strcmp(arg, "--") == 0) {
                installer_state.script_args = argv_ + index + 1;
                installer_state.script_arg_count = argc_ - index - 1;
                if (first_word == argc_) first_word = index + 1;
                break;
            }
            const std::string_view meant = long_option_spelt_short(arg);
            if (is_long_option(arg)) {
                index = take_long_option(index);
            } else if (const Option* help = help_switch(arg)) {
                use(*help, nullptr);
            } else if (!meant.empty()) {
                refuse_misspelt(arg, meant);
            } else if (first_word == argc_ && arg[0] == '-') {
                index = take_switch(index);
            } else if (first_word == argc_) {
                // Switches end here; long options are still read.
                first_word = index;
            }
        }
        if (!refused_) check_combinations();
        installer_state.run_mode = refused_ ? RunMode::usage_error : mode_;
        return first_word;
    }

private:
    int take_switch(int index) {
        const Option* option = find_option(argv_[index]);
        if (option == nullptr) return index;  // other switches are ignored without a word
        char* value = nullptr;
        if (option->takes_value && index + 1 < argc_) value = argv_[++index];
        if (!option->takes_value || value != nullptr) use(*option, value);
        return index;
    }

    // "--name VALUE" or "--name=VALUE".
    int take_long_option(int index) {
        char* arg = argv_[index];
        char* equals = std::strchr(arg, '=');
        const std::string_view name(arg, equals != nullptr ? static_cast<size_t>(equals - arg) : std::strlen(arg));
        const Option* option = find_long_option(name);
        char* value = equals != nullptr ? equals + 1 : nullptr;
        if (option == nullptr) {
            refuse("Unknown option: %.*s\n", arg);
        } else if (!option->takes_value && value != nullptr) {
            refuse("Option %.*s takes no value\n", option->name);
        } else {
            if (option->takes_value && value == nullptr && index + 1 < argc_) value = argv_[++index];
            if (option->takes_value && (value == nullptr || value[0] == '\0')) {
                refuse("Option %.*s needs a value\n", option->name);
            } else {
                use(*option, value);
            }
        }
        return index;
    }

    void use(const Option& option, char* value) {
        if (option.mode != RunMode::install && !answers_alone(mode_)) {
            const bool contradicts = mode_option_ != nullptr && option.mode != mode_ && !answers_alone(option.mode);
            if (contradicts) return refuse_pair(*mode_option_, option);
            mode_ = option.mode;
            mode_option_ = &option;
        }
        seen_ |= 1u << static_cast<unsigned>(&option - OPTIONS);
        option.apply(value);
    }

    // Only an option that chose another run can exclude one seen.
    void check_combinations() {
        if (answers_alone(mode_)) return;
        if (installer_state.signature_path != nullptr && installer_state.public_key == nullptr) {
            return refuse("Option %.*s needs --pubkey\n", "--signature");
        }
        for (size_t at = 0; at < OPTION_COUNT && !refused_; ++at) {
            const Option& option = OPTIONS[at];
            if ((seen_ & 1u << at) != 0 && (option.allowed & runs(mode_)) == 0) refuse_pair(*mode_option_, option);
        }
    }

    void refuse_pair(const Option& first, const Option& second) {
        std::fprintf(stderr, "Options %.*s and %.*s cannot be combined\n", static_cast<int>(first.name.size()),
                     first.name.data(), static_cast<int>(second.name.size()), second.name.data());
        refuse_with_usage();
    }

    void refuse_misspelt(const char* arg, std::string_view meant) {
        std::fprintf(stderr, "Unknown option: %.*s (did you mean %.*s?)\n", static_cast<int>(meant.size() - 1), arg,
                     static_cast<int>(meant.size()), meant.data());
        refuse_with_usage();
    }

    // format holds one "%.*s", for what.
    void refuse(const char* format, std::string_view what) {
        std::fprintf(stderr, format, static_cast<int>(what.size()), what.data());
        refuse_with_usage();
    }

    void refuse_with_usage() {
        std::fprintf(stderr, USAGE, argc_ > 0 ? argv_[0] : "zkinstall");
        refused_ = true;
    }

    int argc_;
    char** argv_;
    RunMode mode_ = RunMode::install;
    const Option* mode_option_ = nullptr;
    uint32_t seen_ = 0;
    bool refused_ = false;
};

}  // namespace

int parse_args(int argc, char** argv) { return Parser(argc, argv).parse(); }

bool print_help(const char* program) {
    std::printf(USAGE, program[0] != '\0' ? program : "zkinstall");
    std::fputs(HELP, stdout);
    return std::fflush(stdout) == 0;
}
