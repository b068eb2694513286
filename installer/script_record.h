// Script record: a bzip2-compressed setup script, unpacked into the
// temporary file and run through the shell with INSTALL_ROOT set.
#pragma once

#include <cstdint>

#include "pump.h"
#include "record_result.h"

// Write callback into the script file that the session's sink holds.
// Returns -1 when the file refuses bytes, which stops the decoding.
int32_t script_write(PumpContext* context, const unsigned char* source, int32_t count);

// Sets INSTALL_ROOT (the install directory, else the working directory);
// under -gz does nothing more. Otherwise unpacks the payload, opens "sh -i"
// first under -d, and runs the script when it was unpacked whole. Fails
// when it was not (and is not run) or could not be started. A script file
// that cannot be created ends the process.
RecordResult file_run_compressed(package_format::PayloadReader& payload);
