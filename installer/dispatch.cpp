#include "dispatch.h"

#include "archive_record.h"
#include "check_record.h"
#include "environment_record.h"
#include "installer_state.h"
#include "license_record.h"
#include "list_record.h"
#include "package_format.h"
#include "program_record.h"
#include "script_record.h"
#include "welcome_record.h"

namespace {

using namespace package_format;

// The walk reads every record itself, so a payload may be left unread.
RecordResult skip_record(PayloadReader&) { return RecordResult::done; }

// One row per record role, one column per run mode.
struct RoleHandlers {
    RecordRole role;
    RecordHandlerEntry install, extract, check, list;
};

constexpr RoleHandlers ROLE_HANDLERS[] = {
    {RecordRole::welcome, {file_banner, false}, {skip_record, false}, {check_plain, true}, {list_record, true}},
    {RecordRole::archive, {file_extract, true}, {file_extract, true}, {check_archive, true}, {list_record, true}},
    {RecordRole::program, {file_run, true}, {skip_record, false}, {check_plain, true}, {list_record, true}},
    {RecordRole::script,
     {file_run_compressed, true},
     {skip_record, false},
     {check_compressed, true},
     {list_record, true}},
    {RecordRole::environment, {set_env, false}, {skip_record, false}, {check_environment, true}, {list_record, true}},
    // Extracting puts the product's files on disk as installing does.
    {RecordRole::license, {file_license, false}, {file_license, false}, {check_plain, true}, {list_record, true}},
};

const RecordHandlerEntry& for_run_mode(const RoleHandlers& row, RunMode mode) {
    switch (mode) {
        case RunMode::extract: return row.extract;
        case RunMode::check: return row.check;
        case RunMode::list: return row.list;
        default: return row.install;
    }
}

}  // namespace

const RecordHandlerEntry* find_record_handler(unsigned char kind) {
    const RecordKind* known = record_kind(kind);
    if (known == nullptr) return nullptr;
    for (const auto& row : ROLE_HANDLERS) {
        if (row.role == known->role) return &for_run_mode(row, installer_state.run_mode);
    }
    return nullptr;
}
