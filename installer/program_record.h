// Program record: a program carried in the package, written to the
// temporary file, run and removed.
#pragma once

#include "record_result.h"

// Copies the payload to the temporary file and runs it. Fails when the
// payload cannot be read or written whole (the part written is not run) or
// the program could not be started. A temporary file that cannot be
// created ends the process.
RecordResult file_run(package_format::PayloadReader& payload);
