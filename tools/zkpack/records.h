// Setup records: what each kind of record option puts into the package.
#pragma once

#include "archive_check.h"
#include "compressed_payloads.h"
#include "options.h"
#include "output.h"
#include "tree_scan.h"

#include <ctime>
#include <optional>
#include <variant>

namespace zkpack {

struct TreeInput {
    Tree tree;
    std::optional<time_t> mtime;  // for every entry, or each file's own
};

// A record that passed its checks, with what the checks learnt about its
// input kept for the writing.
struct PreparedRecord {
    RecordSpec spec;
    std::variant<std::monostate, TreeInput, ArchiveInput> input;
};

// Refuses, before anything is written, a record the installer could not
// carry out as meant.
PreparedRecord prepare_record(const RecordSpec& record);

// Appends the record (prefix and payload) to the package.
void write_record(const PreparedRecord& record, const PackSettings& settings, PackageOutput& output);

}  // namespace zkpack
