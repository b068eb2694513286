#include "compressor.h"

#include <bzlib.h>

#include <algorithm>
#include <string>
#include <utility>

namespace zkpack {

namespace {

// libbzip2's bound for incompressible input: 1 % more and 600 bytes.
size_t output_bound(size_t input_size) { return input_size + input_size / 100 + 600; }

// As BZ2_bzBuffToBuffCompress, with the thread's kept work areas. Work
// factor 0 takes libbzip2's default, so a chunk's block depends on the chunk
// and the block size alone.
int compress_chunk(int block_size, bzip2_blocks::WorkAreas& areas, const std::vector<unsigned char>& input,
                   std::vector<unsigned char>& output, size_t& output_size) {
    output_size = 0;
    bz_stream stream{};
    stream.bzalloc = bzip2_blocks::WorkAreas::allocate;
    stream.bzfree = bzip2_blocks::WorkAreas::release;
    stream.opaque = &areas;
    int code = BZ2_bzCompressInit(&stream, block_size, 0, 0);
    if (code != BZ_OK) return code;
    stream.next_in = const_cast<char*>(reinterpret_cast<const char*>(input.data()));
    stream.avail_in = static_cast<unsigned>(input.size());
    stream.next_out = reinterpret_cast<char*>(output.data());
    stream.avail_out = static_cast<unsigned>(output.size());
    code = BZ2_bzCompress(&stream, BZ_FINISH);
    output_size = output.size() - stream.avail_out;
    BZ2_bzCompressEnd(&stream);
    if (code == BZ_STREAM_END) return BZ_OK;
    return code == BZ_FINISH_OK ? BZ_OUTBUFF_FULL : code;
}

}  // namespace

Compressor::Compressor(int block_size, int threads, ByteSink sink)
    : block_size_(block_size),
      max_in_flight_(2 * static_cast<size_t>(std::max(threads, 1))),
      sink_(std::move(sink)),
      joiner_(block_size) {
    filling_ = spare_chunk();
    if (threads <= 1) return;
    for (int i = 0; i < threads; ++i) workers_.emplace_back([this] { run_worker(); });
}

Compressor::~Compressor() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    work_ready_.notify_all();
    for (std::thread& worker : workers_) worker.join();
}

void Compressor::run_worker() {
    bzip2_blocks::WorkAreas areas;
    for (;;) {
        Chunk* chunk = nullptr;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            work_ready_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
            if (stopping_) return;
            chunk = waiting_.front();
            waiting_.pop_front();
        }
        chunk->code = compress_chunk(block_size_, areas, chunk->input, chunk->output, chunk->output_size);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            chunk->done = true;
        }
        chunk_done_.notify_all();
    }
}

// At most max_in_flight_ chunks are submitted and not joined, and one
// fills: no more chunks than that are ever made.
Compressor::Chunk* Compressor::spare_chunk() {
    if (spare_.empty()) {
        chunks_.push_back(std::make_unique<Chunk>());
        Chunk& chunk = *chunks_.back();
        chunk.input.reserve(chunk_size(block_size_));
        chunk.output.resize(output_bound(chunk_size(block_size_)));
        return &chunk;
    }
    Chunk* chunk = spare_.back();
    spare_.pop_back();
    chunk->input.clear();
    chunk->done = false;
    return chunk;
}

void Compressor::submit_chunk() {
    Chunk* chunk = std::exchange(filling_, nullptr);
    if (workers_.empty()) {
        chunk->code = compress_chunk(block_size_, own_work_areas_, chunk->input, chunk->output, chunk->output_size);
        chunk->done = true;
        in_order_.push_back(chunk);
    } else {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            in_order_.push_back(chunk);
            waiting_.push_back(chunk);
        }
        work_ready_.notify_one();
    }
    while (in_order_.size() >= max_in_flight_) join_oldest();
    filling_ = spare_chunk();
}

void Compressor::join_oldest() {
    Chunk* chunk = nullptr;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        chunk_done_.wait(lock, [this] { return in_order_.front()->done; });
        chunk = in_order_.front();
        in_order_.pop_front();
    }
    spare_.push_back(chunk);
    if (chunk->code != BZ_OK) {
        fail("bzip2 compressor", "libbzip2 returned " + std::to_string(chunk->code));
    }
    if (!joiner_.add_block_stream(chunk->output.data(), chunk->output_size)) {
        fail("bzip2 compressor", "a chunk did not give exactly one block");
    }
    joiner_.take_output(joined_);
    if (!joined_.empty()) sink_(joined_.data(), joined_.size());
}

void Compressor::write(const unsigned char* data, size_t length) {
    const size_t capacity = chunk_size(block_size_);
    while (length > 0) {
        std::vector<unsigned char>& input = filling_->input;
        const size_t n = std::min(length, capacity - input.size());
        input.insert(input.end(), data, data + n);
        data += n;
        length -= n;
        if (input.size() == capacity) submit_chunk();
    }
}

void Compressor::finish() {
    if (!filling_->input.empty()) submit_chunk();
    while (!in_order_.empty()) join_oldest();
    joiner_.finish();
    joiner_.take_output(joined_);
    sink_(joined_.data(), joined_.size());
}

}  // namespace zkpack
