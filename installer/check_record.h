// --check's record handlers: each record is examined as the installer
// would read it, and nothing is carried out.
#pragma once

#include <cstdint>

#include "tar_stream.h"

// Every handler gets the package descriptor positioned at the payload and the
// record's prefix, as the installing handlers do. A record that would fail
// is reported and ends the run with exit status 1; otherwise they return 0.

// Welcome texts and programs: the payload lies whole inside the file.
int check_plain(int fd, const unsigned char* prefix);
// Environment records: also short enough for the installer to take.
int check_environment(int fd, const unsigned char* prefix);
// Script records: also their compressed data decodes to its end.
int check_compressed(int fd, const unsigned char* prefix);
// Archive records: also the tar stream in it reads to its end block.
int check_archive(int fd, const unsigned char* prefix);

// Ends the run when the payload at fd's position runs past the file's end.
void require_payload_in_file(int fd, const unsigned char* prefix);

// fd's position: where the payload of the record being handled starts.
uint64_t payload_offset(int fd);

// Says on standard error that the compressed data of the record whose
// payload starts at that offset is damaged.
void report_damaged_payload(uint64_t payload_offset);

// Reads the archive record's payload at fd's position through handler.
// Returns false, after saying why on standard error, when its compressed
// data or the tar stream in it is damaged.
bool read_archive(int fd, const unsigned char* prefix, tar_format::EntryHandler& handler);
