// Program record: a program carried in the package, written to the
// temporary file, run and removed.
#pragma once

// Results besides 0 and temp_file.h's RUN_NOT_STARTED. After either copy
// failure the partly written file is not run.
constexpr int COPY_WRITE_FAILED = -1;
constexpr int COPY_READ_FAILED = -2;

// Copies the payload at fd's position (length in the prefix's first four
// bytes) to the temporary file and runs it. A temporary file that cannot be
// created ends the process.
int file_run(int fd, const unsigned char* prefix);
