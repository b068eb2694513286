// --check's record handlers: each record is examined as the installer
// would read it, and nothing is carried out.
#pragma once

#include "record_result.h"
#include "tar_stream.h"

// A record that would fail is reported and ends the run with exit status 1;
// otherwise they are done.

// Welcome texts and programs: the payload lies whole inside the file.
RecordResult check_plain(package_format::PayloadReader& payload);
// Environment records: also short enough for the installer to take.
RecordResult check_environment(package_format::PayloadReader& payload);
// Script records: also their compressed data decodes to its end.
RecordResult check_compressed(package_format::PayloadReader& payload);
// Archive records: also the tar stream in it reads to its end block.
RecordResult check_archive(package_format::PayloadReader& payload);

// Ends the run when the payload runs past the file's end.
void require_payload_in_file(const package_format::PayloadReader& payload);

// Reads an archive record's payload through handler. Returns false, after
// saying why on standard error, when its compressed data or the tar stream
// in it is damaged.
bool read_archive(package_format::PayloadReader& payload, tar_format::EntryHandler& handler);
