// --list's record handler: one line per record, and per archive entry, as
// the installer would read them; nothing is carried out.
#pragma once

#include "record_result.h"

// Prints "KIND record, LENGTH bytes", with ": ASSIGNMENT" for an environment
// record, and for an archive record one more line per entry: its type and
// mode, size and name (and link target) as tar's verbose listing shows them.
// Fails when the archive is damaged (said on standard error); a payload
// that runs past the file's end ends the run.
RecordResult list_record(package_format::PayloadReader& payload);
