// Script record: a bzip2-compressed setup script, unpacked into the
// temporary file and run through the shell with INSTALL_ROOT set.
#pragma once

#include <cstdint>

#include "pump.h"

// Write callback into the script file. Returns -1 when the file refuses
// bytes; those stay pending and are tried again first on the next call.
int32_t script_write(PumpContext* context, const unsigned char* source, int32_t count);

// Sets INSTALL_ROOT (the install directory, else the working directory);
// under -gz does nothing more. Otherwise unpacks the payload at fd's position
// (length in the prefix's first four bytes), opens "sh -i" first under -d,
// and runs the script when it was unpacked whole. Returns 0, PUMP_FAILED (the
// script is not run) or RUN_NOT_STARTED. A script file that cannot be
// created ends the process.
int file_run_compressed(int fd, const unsigned char* prefix);
