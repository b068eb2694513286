// Archive records (kinds 2 and 10): a bzip2-compressed tar archive of the
// product's files, unpacked into the working directory by a byte-driven
// writer, or copied to standard output under -gz.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "pump.h"
#include "record_result.h"

class ArchiveWriter;
namespace tar_format {
class TarStream;
}

// Fails when the pump failed, an entry could not be written whole, or
// (under -gz) standard output refused the bytes.
RecordResult file_extract(package_format::PayloadReader& payload);

// One archive being unpacked into the working directory, from its first
// header block on.
class ArchiveOutput {
public:
    ArchiveOutput();
    ~ArchiveOutput();
    ArchiveOutput(const ArchiveOutput&) = delete;
    ArchiveOutput& operator=(const ArchiveOutput&) = delete;

    // Takes the archive's bytes in pieces cut anywhere; false once a file
    // could not be written, which stops the decoding. Failed entries are
    // counted for finish.
    bool write(const unsigned char* bytes, size_t count);
    // Ends the archive: closes a file whose data was cut short (counting it
    // as failed). Returns the number of failed entries.
    int finish();

private:
    std::unique_ptr<ArchiveWriter> writer_;
    std::unique_ptr<tar_format::TarStream> stream_;
};

// Write callback of the pump into the session's ArchiveOutput: 0, or -1
// once a file could not be written.
int32_t archive_write(PumpContext* context, const unsigned char* source, int32_t count);
