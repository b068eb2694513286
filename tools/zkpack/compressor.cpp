#include "compressor.h"

#include <bzlib.h>

#include <algorithm>
#include <string>
#include <utility>

namespace zkpack {

namespace {

// Work factor 0 takes libbzip2's default, so a chunk's block depends on the
// chunk and the block size alone.
void compress_chunk(int block_size, const std::vector<unsigned char>& input, std::vector<unsigned char>& output,
                    int& code) {
    // libbzip2's bound for incompressible input: 1 % more and 600 bytes.
    output.resize(input.size() + input.size() / 100 + 600);
    auto length = static_cast<unsigned>(output.size());
    code = BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(output.data()), &length,
                                    const_cast<char*>(reinterpret_cast<const char*>(input.data())),
                                    static_cast<unsigned>(input.size()), block_size, 0, 0);
    output.resize(code == BZ_OK ? length : 0);
}

}  // namespace

Compressor::Compressor(int block_size, int threads, ByteSink sink)
    : block_size_(block_size),
      max_in_flight_(2 * static_cast<size_t>(std::max(threads, 1))),
      sink_(std::move(sink)),
      joiner_(block_size) {
    filling_.reserve(chunk_size(block_size));
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
    for (;;) {
        std::shared_ptr<Chunk> chunk;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            work_ready_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
            if (stopping_) return;
            chunk = std::move(waiting_.front());
            waiting_.pop_front();
        }
        compress_chunk(block_size_, chunk->input, chunk->output, chunk->code);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            chunk->done = true;
        }
        chunk_done_.notify_all();
    }
}

void Compressor::submit_chunk() {
    auto chunk = std::make_shared<Chunk>();
    chunk->input.swap(filling_);
    filling_.reserve(chunk_size(block_size_));
    if (workers_.empty()) {
        compress_chunk(block_size_, chunk->input, chunk->output, chunk->code);
        chunk->done = true;
        in_order_.push_back(std::move(chunk));
    } else {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            in_order_.push_back(chunk);
            waiting_.push_back(std::move(chunk));
        }
        work_ready_.notify_one();
    }
    while (in_order_.size() >= max_in_flight_) join_oldest();
}

void Compressor::join_oldest() {
    std::shared_ptr<Chunk> chunk;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        chunk_done_.wait(lock, [this] { return in_order_.front()->done; });
        chunk = std::move(in_order_.front());
        in_order_.pop_front();
    }
    if (chunk->code != BZ_OK) {
        fail("bzip2 compressor", "BZ2_bzBuffToBuffCompress returned " + std::to_string(chunk->code));
    }
    if (!joiner_.add_block_stream(chunk->output.data(), chunk->output.size())) {
        fail("bzip2 compressor", "a chunk did not give exactly one block");
    }
    const std::vector<unsigned char> joined = joiner_.take_output();
    if (!joined.empty()) sink_(joined.data(), joined.size());
}

void Compressor::write(const unsigned char* data, size_t length) {
    const size_t capacity = chunk_size(block_size_);
    while (length > 0) {
        const size_t n = std::min(length, capacity - filling_.size());
        filling_.insert(filling_.end(), data, data + n);
        data += n;
        length -= n;
        if (filling_.size() == capacity) submit_chunk();
    }
}

void Compressor::finish() {
    if (!filling_.empty()) submit_chunk();
    while (!in_order_.empty()) join_oldest();
    joiner_.finish();
    const std::vector<unsigned char> last = joiner_.take_output();
    sink_(last.data(), last.size());
}

}  // namespace zkpack
