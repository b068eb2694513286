// Archive records (kinds 2 and 10): a bzip2-compressed tar archive of the
// product's files, unpacked into the working directory by a byte-driven
// writer, or copied to standard output under -gz.
#pragma once

#include <cstdint>

#include "pump.h"

constexpr int ARCHIVE_FAILED = -1;

// Unpacks the payload at fd's position (length in the prefix's first four
// bytes). Returns 0, or ARCHIVE_FAILED when the pump failed, an entry could
// not be written whole, or (under -gz) standard output refused the bytes.
int file_extract(int fd, const unsigned char* prefix);

// Starts a new archive: the next byte is the first of a header block.
void archive_reset();

// Write callback of the pump: takes the archive's bytes in pieces cut
// anywhere. Returns 0, or -1 once a file could not be written, which stops
// the decoding; failed entries are counted for archive_finish.
int32_t archive_write(PumpContext* context, const unsigned char* source, int32_t count);

// Ends the archive: closes a file whose data was cut short (counting it as
// failed). Returns the number of failed entries since archive_reset.
int archive_finish();
