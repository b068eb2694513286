// The archive writer on any bytes, cut into any pieces, in a fresh directory.
// Input: a count byte (its low 4 bits), that many piece-length bytes, the
// archive's bytes.
//
// The pieces take the lengths in turn until the archive's bytes run out: a
// byte below 128 is a length of 0 to 127, one above gives 32 to 4096 in
// steps of 32 (the most the pump hands over at once). Afterwards the scratch
// root holds the unpack directory and an empty sentinel directory beside it,
// nothing else, and the unpack directory only files and directories.
#include "fuzz_support.h"
#include "scratch.h"

#include "archive_record.h"
#include "pump.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using zkfuzz::require;

namespace {

constexpr size_t MAX_PIECE_LENGTHS = 16;
constexpr size_t LARGE_PIECE_STEP = 32;

std::string unpack_dir;
std::string sentinel_dir;
std::string scratch_root;

size_t piece_length(uint8_t code) { return code < 128 ? code : (code - 127) * LARGE_PIECE_STEP; }

std::vector<size_t> take_piece_lengths(zkfuzz::FuzzInput& input) {
    std::vector<size_t> lengths(input.take_byte() % MAX_PIECE_LENGTHS);
    size_t total = 0;
    for (size_t& length : lengths) total += length = piece_length(input.take_byte());
    // Only empty pieces would never get through the bytes.
    if (total == 0) lengths.assign(1, PUMP_OUTPUT_SIZE);
    return lengths;
}

// Returns the archive's count of failed entries.
int unpack(const std::string& archive, const std::vector<size_t>& lengths) {
    ArchiveOutput output;
    const auto* next = reinterpret_cast<const unsigned char*>(archive.data());
    size_t left = archive.size();
    for (size_t turn = 0; left > 0; ++turn) {
        const size_t count = std::min(lengths[turn % lengths.size()], left);
        require(output.write(next, count), "the archive takes every piece");
        next += count;
        left -= count;
    }
    return output.finish();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    scratch_root = zkfuzz::make_scratch_root("archive_writer");
    unpack_dir = scratch_root + "/unpack";
    sentinel_dir = scratch_root + "/sentinel";
    zkfuzz::make_empty_directory(sentinel_dir);
    // "Extracting ..." for every entry would drown the fuzzer's own output.
    require(std::freopen("/dev/null", "w", stdout) != nullptr, "standard output can be discarded");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zkfuzz::FuzzInput input(data, size);
    const std::vector<size_t> lengths = take_piece_lengths(input);
    const std::string archive = input.take_rest();

    const int descriptors = zkfuzz::count_open_descriptors();
    zkfuzz::make_empty_directory(unpack_dir);
    int failed;
    {
        zkfuzz::CwdKeeper keeper;
        require(::chdir(unpack_dir.c_str()) == 0, "the unpack directory can be entered");
        failed = unpack(archive, lengths);
    }
    require(failed >= 0, "finish counts failed entries");
    require(zkfuzz::count_open_descriptors() == descriptors, "no descriptor is left open");
    require(zkfuzz::list_directory(scratch_root) == std::vector<std::string>{"sentinel", "unpack"},
            "nothing is written beside the unpack directory");
    require(zkfuzz::list_directory(sentinel_dir).empty(), "nothing is written into the sentinel directory");
    require(zkfuzz::holds_no_pipes_or_devices(unpack_dir), "the writer makes no pipes or devices");
    zkfuzz::remove_tree(unpack_dir);
    return 0;
}
