#include "dispatch.h"

#include "archive_record.h"
#include "environment_record.h"
#include "package_format.h"
#include "program_record.h"
#include "script_record.h"
#include "welcome_record.h"

namespace {

constexpr RecordHandlerEntry record_handlers[] = {
    {package_format::KIND_WELCOME, file_banner, false},
    {package_format::KIND_ARCHIVE, file_extract, true},
    {package_format::KIND_PROGRAM, file_run, true},
    {package_format::KIND_ARCHIVE_ALT, file_extract, true},
    {package_format::KIND_SCRIPT, file_run_compressed, true},
    {package_format::KIND_ENVIRONMENT, set_env, false},
};

}  // namespace

const RecordHandlerEntry* find_record_handler(unsigned char kind) {
    for (const auto& entry : record_handlers) {
        if (entry.kind == kind) return &entry;
    }
    return nullptr;
}
