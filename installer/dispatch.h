// Which handler carries out which kind of setup record.
#pragma once

#include "record_result.h"

// Every handler reads its record's payload through the reader the walk
// made for it. Handlers keep the names they have always had (file_banner,
// file_run, file_run_compressed, file_extract, set_env); their files are
// named after the record they carry out.
using RecordHandler = RecordResult (*)(package_format::PayloadReader& payload);

struct RecordHandlerEntry {
    RecordHandler handler;
    bool result_counts;  // a failure marks the installation as failed
};

// The entry for a record kind in the run the command line chose, or null
// for a kind the installer rejects.
const RecordHandlerEntry* find_record_handler(unsigned char kind);
