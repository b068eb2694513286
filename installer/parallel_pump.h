// Block-parallel decoding of an archive payload. A bzip2 stream's blocks
// decode independently: the payload's bits are scanned for block magics,
// each block is rebuilt as a one-block stream and decoded on a pool of
// threads, and the output goes to the write callback in order from a thread
// of its own, so the file system's time overlaps the decoding.
//
// The result never differs from bzunzip's: output is delivered only where
// bzunzip would certainly deliver it too, and anything unexpected (a cut that
// does not decode, a damaged or truncated stream, bytes after the stream)
// hands the payload to bzunzip from its start, skipping the bytes already
// delivered. So do blocks too small on average to gain from threads, as a
// payload of many tiny streams holds them. A refused delivery ends it, as
// it ends bzunzip.
#pragma once

#include <cstdint>

#include "pump.h"

// How many threads decode: ZKINSTALL_THREADS when it holds a number from 1
// to 64, else one per processor, at most 8. 1 means bzunzip alone.
int decoding_threads();

// As bzunzip(&session, payload_read, write_fn), with `threads` decoders.
int32_t parallel_bzunzip(int threads, PumpSession& session, PumpWrite write_fn);

// Test seam: a bit offset in the payload that the scanner takes for a block
// magic, as compressed data can hold one by chance; UINT64_MAX for none.
extern uint64_t planted_block_magic_bit;
