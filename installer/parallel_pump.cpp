#include "parallel_pump.h"

#include <processors.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "block_scanner.h"
#include "bzip2_decoder.h"
#include "run_signals.h"
#include "thread_start.h"

uint64_t planted_block_magic_bit = UINT64_MAX;

namespace {

constexpr int DEFAULT_MAX_THREADS = 8;
constexpr int MAX_THREADS = 64;
// Decoded output kept per block. A block that decodes to more (long runs of
// one byte) is only checked by its worker, and decoded again as it is
// delivered, so memory stays bounded whatever the data.
constexpr size_t KEPT_OUTPUT = size_t{1} << 20;
// Handing a block from thread to thread costs tens of microseconds, as much
// as decoding a few kilobytes: blocks whose output is that small, as a
// payload of many tiny streams has them, decode faster in turn on one
// thread. Compressors fill every block but a stream's last with at least
// 100 000 bytes, so an honest payload stays well above the mean.
constexpr uint64_t JUDGED_BLOCKS = 64;
constexpr uint64_t MIN_MEAN_OUTPUT = 64 * 1024;

enum class BlockState { waiting, decoded, checked, failed };

struct Block {
    std::vector<unsigned char> stream;  // one-block stream
    std::vector<unsigned char> output;  // all of it when decoded, none when only checked
    uint64_t output_size = 0;
    BlockState state = BlockState::waiting;
    bool closes_stream = false;       // the last block of a stream whose end is sound
    uint64_t next_stream_offset = 0;  // where the payload's next stream starts, when it does
};
using BlockPtr = std::shared_ptr<Block>;

enum class InputState { scanning, sound_end, doubt };
enum class Verdict { deliver, wait, stop };

// What the scanning thread, the decoders and the writer share, under one
// mutex; one condition variable wakes all of them on any change.
struct Pool {
    explicit Pool(size_t blocks_held) : in_flight(blocks_held) {}

    const size_t in_flight;  // blocks held at most, from their cut to the end of their writing
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<BlockPtr> undecoded;    // for the decoders, in order
    std::deque<BlockPtr> undelivered;  // for the writer, in order
    InputState input = InputState::scanning;
    // Read by the decoders without the mutex too: once the writer stops,
    // the block they decode is of no use.
    std::atomic<bool> writer_stopped{false};
    bool writing = false;  // the writer holds a block it took off undelivered
    bool decoders_stop = false;
    uint64_t delivered = 0;  // bytes handed to the write callback
    uint64_t blocks_delivered = 0;
    bool delivery_refused = false;  // nothing more is written, as bzunzip stops there too
    // The last stream boundary delivered up to: where bzunzip can take over.
    uint64_t boundary_offset = 0;
    uint64_t boundary_delivered = 0;
};

bool too_small_for_threads(const Pool& pool) {
    return pool.blocks_delivered >= JUDGED_BLOCKS && pool.delivered < pool.blocks_delivered * MIN_MEAN_OUTPUT;
}

// bzunzip drops the output of a decompressor call that fails, and one call
// may end one block and go on into the next ones for up to PUMP_OUTPUT_SIZE
// bytes. So a block is delivered only when the blocks after it decode and
// hold that much output, or a stream ends soundly after them (bzunzip
// delivers everything up to a stream's end, whatever follows).
Verdict judge_front(const Pool& pool) {
    if (pool.delivery_refused || too_small_for_threads(pool)) return Verdict::stop;
    if (pool.undelivered.empty()) return pool.input == InputState::scanning ? Verdict::wait : Verdict::stop;
    uint64_t following = 0;
    for (size_t i = 0; i < pool.undelivered.size(); ++i) {
        const Block& block = *pool.undelivered[i];
        if (block.state == BlockState::waiting) return Verdict::wait;
        if (block.state == BlockState::failed) return Verdict::stop;
        if (block.closes_stream) return Verdict::deliver;
        if (i > 0) following += block.output_size;
        if (following >= PUMP_OUTPUT_SIZE) return Verdict::deliver;
    }
    switch (pool.input) {
        case InputState::scanning:
            // Blocks that small leave no room for the ones that would
            // decide: only bzunzip can go on.
            return pool.undelivered.size() < pool.in_flight ? Verdict::wait : Verdict::stop;
        case InputState::sound_end: return Verdict::deliver;
        case InputState::doubt: break;
    }
    return Verdict::stop;
}

// Decodes a one-block stream, handing each piece of output to take, which
// returns false to stop; false when libbzip2 does not end the stream soundly.
// Each thread keeps libbzip2's memory from one block to the next.
template <typename Take>
bool decode_stream(std::vector<unsigned char>& stream, Take take) {
    using payload_codec::Step;
    thread_local bzip2_blocks::WorkAreas work_areas;
    payload_codec::Bzip2Decoder decoder(&work_areas);
    if (!decoder.start()) return false;
    const unsigned char* input = stream.data();
    size_t input_size = stream.size();
    std::array<unsigned char, PUMP_OUTPUT_SIZE> piece;
    for (;;) {
        unsigned char* output = piece.data();
        size_t room = piece.size();
        const Step step = decoder.decode(input, input_size, output, room);
        const size_t produced = piece.size() - room;
        if (step == Step::not_a_stream || step == Step::corrupt) return false;
        if (step == Step::more && produced == 0 && input_size == 0) return false;  // cut short
        if (!take(piece.data(), produced) || step == Step::stream_end) return step == Step::stream_end;
    }
}

void decode_block(Block& block, const std::atomic<bool>& abandoned) {
    uint64_t size = 0;
    std::vector<unsigned char> output;
    // Pages not written stay out of memory; those written are copied once.
    output.reserve(KEPT_OUTPUT);
    const bool sound = decode_stream(block.stream, [&](const unsigned char* data, size_t length) {
        if (size + length <= KEPT_OUTPUT) output.insert(output.end(), data, data + length);
        size += length;
        return !abandoned;
    });
    block.output_size = size;
    if (sound && size <= KEPT_OUTPUT) {
        block.output.swap(output);
        block.stream = {};
    }
    block.state = !sound ? BlockState::failed : size <= KEPT_OUTPUT ? BlockState::decoded : BlockState::checked;
}

void run_decoder(Pool& pool) {
    for (;;) {
        BlockPtr block;
        {
            std::unique_lock<std::mutex> lock(pool.mutex);
            pool.changed.wait(lock, [&] { return pool.decoders_stop || !pool.undecoded.empty(); });
            if (pool.decoders_stop) return;
            block = pool.undecoded.front();
            pool.undecoded.pop_front();
        }
        Block result;
        result.stream.swap(block->stream);
        decode_block(result, pool.writer_stopped);
        {
            // The scanner may have marked the block as closing its stream
            // meanwhile: only what decoding found is set.
            const std::lock_guard<std::mutex> lock(pool.mutex);
            block->stream.swap(result.stream);
            block->output.swap(result.output);
            block->output_size = result.output_size;
            block->state = result.state;
        }
        pool.changed.notify_all();
    }
}

// Writes in pieces the size bzunzip delivers, up to the first refusal.
void deliver(Pool& pool, PumpSession& session, PumpWrite write_fn, Block& block) {
    PumpContext context{&session, payload_read, write_fn};
    bool refused = false;
    const auto write = [&](const unsigned char* data, size_t length) {
        while (length > 0 && !refused) {
            const size_t n = std::min(length, PUMP_OUTPUT_SIZE);
            refused = write_fn(&context, data, static_cast<int32_t>(n)) != 0;
            data += n;
            length -= n;
        }
        return !refused;
    };
    if (block.state == BlockState::decoded) {
        write(block.output.data(), block.output.size());
    } else {
        decode_stream(block.stream, write);
    }
    const std::lock_guard<std::mutex> lock(pool.mutex);
    pool.writing = false;
    pool.delivered += block.output_size;
    ++pool.blocks_delivered;
    pool.delivery_refused |= refused;
    if (block.closes_stream) {
        pool.boundary_offset = block.next_stream_offset;
        pool.boundary_delivered = pool.delivered;
    }
}

void run_writer(Pool& pool, PumpSession& session, PumpWrite write_fn) {
    for (;;) {
        BlockPtr block;
        {
            std::unique_lock<std::mutex> lock(pool.mutex);
            Verdict verdict;
            pool.changed.wait(lock, [&] { return (verdict = judge_front(pool)) != Verdict::wait; });
            if (verdict == Verdict::stop) {
                pool.writer_stopped = true;
                pool.changed.notify_all();
                return;
            }
            block = pool.undelivered.front();
            pool.undelivered.pop_front();
            pool.writing = true;
        }
        deliver(pool, session, write_fn, *block);
        block.reset();
        pool.changed.notify_all();  // room for the scanner
    }
}

// Cuts blocks for the decoders; returns how the input ended. A block is cut
// only when fewer than pool.in_flight are held from their cut to the end of
// their writing, so no more than that are ever held at once.
InputState scan_blocks(Pool& pool, BlockScanner& scanner) {
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(pool.mutex);
            pool.changed.wait(lock, [&] {
                return pool.writer_stopped || pool.undelivered.size() + (pool.writing ? 1 : 0) < pool.in_flight;
            });
            if (pool.writer_stopped) return InputState::doubt;
        }
        auto block = std::make_shared<Block>();
        const ScanStep step = scanner.next(block->stream);
        if (step == ScanStep::sound_end) return InputState::sound_end;
        if (step == ScanStep::doubt) return InputState::doubt;
        if (step == ScanStep::stream_end) {
            // The stream's last block was handed out just before.
            const std::lock_guard<std::mutex> lock(pool.mutex);
            if (pool.undelivered.empty()) return InputState::doubt;
            pool.undelivered.back()->closes_stream = true;
            pool.undelivered.back()->next_stream_offset = scanner.next_stream_offset();
            continue;
        }
        {
            const std::lock_guard<std::mutex> lock(pool.mutex);
            pool.undelivered.push_back(block);
            pool.undecoded.push_back(block);
        }
        pool.changed.notify_all();
    }
}

struct SkippingWrite {
    uint64_t skip;
    PumpWrite write_fn;
    PumpSession* session;  // the one write_fn belongs to
};

int32_t skipping_write(PumpContext* context, const unsigned char* source, int32_t count) {
    auto& skipping = session_sink<SkippingWrite>(context);
    const auto skipped = static_cast<int32_t>(std::min<uint64_t>(skipping.skip, static_cast<uint64_t>(count)));
    skipping.skip -= static_cast<uint64_t>(skipped);
    if (skipped == count && count > 0) return 0;
    PumpContext own{skipping.session, payload_read, skipping.write_fn};
    return skipping.write_fn(&own, source + skipped, count - skipped);
}

// bzunzip over the payload from the last stream boundary delivered up to,
// where it would go on with a fresh decompressor as well; the bytes it
// decodes again are dropped: they went out already, and are the same.
int32_t continue_sequentially(PumpSession& session, uint64_t boundary_offset, uint64_t delivered_since,
                              PumpWrite write_fn) {
    session.payload->seek(boundary_offset);
    SkippingWrite skipping{delivered_since, write_fn, &session};
    PumpSession skipping_session{session.payload, &skipping};
    return bzunzip(&skipping_session, payload_read, skipping_write);
}

}  // namespace

int decoding_threads() {
    const char* setting = std::getenv("ZKINSTALL_THREADS");
    if (setting != nullptr && std::strlen(setting) <= 2 && std::strspn(setting, "0123456789") == std::strlen(setting)) {
        const int count = std::atoi(setting);
        if (count >= 1 && count <= MAX_THREADS) return count;
    }
    return bzip2_blocks::usable_processors(DEFAULT_MAX_THREADS);
}

int32_t parallel_bzunzip(int threads, PumpSession& session, PumpWrite write_fn) {
    BlockScanner scanner(*session.payload, planted_block_magic_bit);
    if (!scanner.start()) return continue_sequentially(session, 0, 0, write_fn);
    // Blocks held at once: one per decoder, one being written and one
    // decoded after it, by which it is judged. Each holds at most its
    // compressed bits (under 2 MiB, about 1 MB at level 9) and KEPT_OUTPUT
    // bytes of output, and each decoder's libbzip2 takes 3.6 MB at level 9
    // beside it: a few megabytes per thread, whatever the archive's size.
    Pool pool(static_cast<size_t>(threads) + 2);
    std::thread writer;
    if (!try_start_thread(writer, run_writer, std::ref(pool), std::ref(session), write_fn)) {
        return continue_sequentially(session, 0, 0, write_fn);
    }
    {
        // The writer alone takes the run's signals from here on: it makes
        // the names their clean-up removes, and holds them back until a
        // name is noted, which it could not do for another thread.
        const RunSignalsHeld held;
        std::vector<std::thread> decoders(static_cast<size_t>(threads));
        size_t started = 0;
        while (started < decoders.size() && try_start_thread(decoders[started], run_decoder, std::ref(pool))) ++started;
        decoders.resize(started);
        // Without a decoder nothing is cut, and the stream is read from its
        // start on this thread.
        const InputState ended = decoders.empty() ? InputState::doubt : scan_blocks(pool, scanner);
        {
            std::unique_lock<std::mutex> lock(pool.mutex);
            pool.input = ended;
            pool.changed.notify_all();
            pool.changed.wait(lock, [&] { return pool.writer_stopped.load(); });
            pool.decoders_stop = true;
            pool.changed.notify_all();
        }
        for (std::thread& decoder : decoders) decoder.join();
        writer.join();
    }
    if (pool.delivery_refused) return PUMP_FAILED;
    if (pool.input == InputState::sound_end && pool.undelivered.empty()) return 0;
    return continue_sequentially(session, pool.boundary_offset, pool.delivered - pool.boundary_delivered, write_fn);
}
