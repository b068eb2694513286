// bzip2 compression as one stream, fed in pieces of any size, handing the
// compressed bytes to a sink as they come. The input is cut into chunks of a
// fixed size that one block always holds; each chunk is compressed on its
// own, on a pool of threads, and the blocks are joined in order into one
// standard stream. The cut depends on the input alone, so the output is the
// same whatever the number of threads.
#pragma once

#include "io.h"
#include "stream_compressors.h"

#include <bzip2_blocks.h>
#include <bzip2_work_areas.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace zkpack {

// Input bytes per chunk at a level: libbzip2's first run-length coding can
// grow its input by a quarter, and the block must still hold it.
constexpr size_t chunk_size(int block_size) { return (100000 * static_cast<size_t>(block_size) - 24) / 5 * 4; }

class Compressor final : public PayloadCompressor {
public:
    // block_size: 1 to 9, in units of 100 kB, as bzip2 -1 ... -9. threads:
    // how many compress at once; 1 compresses on the caller's thread.
    Compressor(int block_size, int threads, ByteSink sink);
    ~Compressor() override;
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;

    void write(const unsigned char* data, size_t length) override;
    void finish() override;

private:
    // Chunks and their buffers serve again once joined, so their memory is
    // touched once, not at every chunk.
    struct Chunk {
        std::vector<unsigned char> input;
        std::vector<unsigned char> output;  // a one-block stream in its first output_size bytes
        size_t output_size = 0;
        int code = 0;  // libbzip2's result
        bool done = false;
    };

    Chunk* spare_chunk();
    void submit_chunk();
    void join_oldest();
    void run_worker();

    const int block_size_;
    const size_t max_in_flight_;
    ByteSink sink_;
    bzip2_blocks::StreamJoiner joiner_;
    bzip2_blocks::WorkAreas own_work_areas_;  // for compressing on the caller's thread
    std::vector<std::unique_ptr<Chunk>> chunks_;
    std::vector<Chunk*> spare_;  // joined, ready to fill again
    Chunk* filling_ = nullptr;
    std::deque<Chunk*> in_order_;  // submitted, not yet joined
    std::deque<Chunk*> waiting_;   // submitted, not yet taken by a worker
    std::vector<unsigned char> joined_;
    std::mutex mutex_;
    std::condition_variable work_ready_;
    std::condition_variable chunk_done_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace zkpack
