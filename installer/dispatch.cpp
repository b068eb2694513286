#include "dispatch.h"

#include "archive_record.h"
#include "check_record.h"
#include "environment_record.h"
#include "installer_state.h"
#include "list_record.h"
#include "package_format.h"
#include "program_record.h"
#include "script_record.h"
#include "welcome_record.h"

namespace {

using namespace package_format;

using HandlerTable = RecordHandlerEntry[6];

constexpr HandlerTable install_handlers = {
    {KIND_WELCOME, file_banner, false},       {KIND_ARCHIVE, file_extract, true},
    {KIND_PROGRAM, file_run, true},           {KIND_ARCHIVE_ALT, file_extract, true},
    {KIND_SCRIPT, file_run_compressed, true}, {KIND_ENVIRONMENT, set_env, false},
};

// The walk seeks to every record itself, so a payload may be left unread.
int skip_record(int, const unsigned char*) { return 0; }

constexpr HandlerTable extract_handlers = {
    {KIND_WELCOME, skip_record, false},     {KIND_ARCHIVE, file_extract, true}, {KIND_PROGRAM, skip_record, false},
    {KIND_ARCHIVE_ALT, file_extract, true}, {KIND_SCRIPT, skip_record, false},  {KIND_ENVIRONMENT, skip_record, false},
};

constexpr HandlerTable check_handlers = {
    {KIND_WELCOME, check_plain, true},     {KIND_ARCHIVE, check_archive, true},
    {KIND_PROGRAM, check_plain, true},     {KIND_ARCHIVE_ALT, check_archive, true},
    {KIND_SCRIPT, check_compressed, true}, {KIND_ENVIRONMENT, check_environment, true},
};

constexpr HandlerTable list_handlers = {
    {KIND_WELCOME, list_record, true},     {KIND_ARCHIVE, list_record, true}, {KIND_PROGRAM, list_record, true},
    {KIND_ARCHIVE_ALT, list_record, true}, {KIND_SCRIPT, list_record, true},  {KIND_ENVIRONMENT, list_record, true},
};

const HandlerTable& handlers_for(RunMode mode) {
    switch (mode) {
        case RunMode::extract: return extract_handlers;
        case RunMode::check: return check_handlers;
        case RunMode::list: return list_handlers;
        default: return install_handlers;
    }
}

}  // namespace

const RecordHandlerEntry* find_record_handler(unsigned char kind) {
    for (const auto& entry : handlers_for(installer_state.run_mode)) {
        if (entry.kind == kind) return &entry;
    }
    return nullptr;
}
