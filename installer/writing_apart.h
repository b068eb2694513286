// Decoding on the calling thread, the writes on a thread of their own, for
// payloads that one decoder reads in turn (zstd, and xz, whose blocks
// liblzma decodes on its own threads): the file system's time then overlaps
// the decoding, as it does in the block-parallel pump for bzip2.
//
// Output goes to the writer in pieces through a queue of a few of them, so
// memory stays bounded however far the decoding runs ahead. The result is
// bzunzip's: the same bytes delivered in the same order, the same failures;
// a refused delivery stops the decoding at the next piece.
#pragma once

#include <cstdint>

#include "pump.h"

// As bzunzip(&session, payload_read, write_fn).
int32_t bzunzip_writing_apart(PumpSession& session, PumpWrite write_fn);
