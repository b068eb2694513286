// The command line: commands, options and the help text that describes them.
#pragma once

#include <string>
#include <vector>

namespace zkpack {

enum class Command { help, create, list, verify };

// Where a record's payload comes from.
enum class PayloadSource {
    assignment,  // the option's text, "NAME=VALUE", and a NUL
    file,        // the file's bytes as they are
};

struct RecordSpec {
    unsigned kind;
    PayloadSource source;
    std::string argument;  // the assignment or the file name
};

struct Options {
    Command command = Command::help;
    std::string output;                // create: -o
    std::string stub;                  // create: --stub, empty for the default
    std::vector<RecordSpec> records;   // create: in the order given
    std::string package;               // list, verify
};

extern const char HELP_TEXT[];

// Throws UsageError for what cannot be parsed.
Options parse_options(const std::vector<std::string>& args);

}  // namespace zkpack
