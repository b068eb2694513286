// Setup records: what each kind of record option puts into the package.
#pragma once

#include "options.h"
#include "output.h"

namespace zkpack {

// Refuses, before anything is written, a record the installer could not
// carry out as meant.
void check_record(const RecordSpec& record);

// Appends the record (prefix and payload) to the package.
void write_record(const RecordSpec& record, PackageOutput& output);

}  // namespace zkpack
