#include "writing_apart.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "run_signals.h"
#include "thread_start.h"

namespace {

// Large enough that handing a piece over costs nothing beside writing it,
// small enough that the pieces in flight stay about a megabyte.
constexpr size_t PIECE_SIZE = 256 * 1024;
constexpr size_t PIECES = 4;

using Piece = std::vector<unsigned char>;

struct Handoff {
    Handoff(PumpSession& session, PumpWrite write_fn) : session(session), write_fn(write_fn) {
        for (Piece& piece : pieces) piece.reserve(PIECE_SIZE);
        for (Piece& piece : pieces) spare.push_back(&piece);
        filling = spare.back();
        spare.pop_back();
    }

    PumpSession& session;
    const PumpWrite write_fn;
    std::array<Piece, PIECES> pieces;
    Piece* filling;  // the decoder's, outside the queues

    std::mutex mutex;
    std::condition_variable piece_full;   // the writer waits: a piece is queued, or decoding ended
    std::condition_variable piece_spare;  // the decoder waits: a piece is spare, or the writer stopped
    std::deque<Piece*> full;
    std::vector<Piece*> spare;
    bool decoding_ended = false;
    bool writer_stopped = false;  // a delivery was refused: nothing more is written
};

// Queues the piece being filled and takes a spare one; false once the
// writer has stopped.
bool hand_over(Handoff& handoff) {
    std::unique_lock<std::mutex> lock(handoff.mutex);
    handoff.full.push_back(handoff.filling);
    handoff.piece_full.notify_one();
    handoff.piece_spare.wait(lock, [&] { return handoff.writer_stopped || !handoff.spare.empty(); });
    if (handoff.writer_stopped) return false;
    handoff.filling = handoff.spare.back();
    handoff.spare.pop_back();
    return true;
}

int32_t handoff_write(PumpContext* context, const unsigned char* source, int32_t count) {
    Handoff& handoff = session_sink<Handoff>(context);
    const auto length = static_cast<size_t>(std::max(count, 0));
    if (handoff.filling->size() + length > PIECE_SIZE && !hand_over(handoff)) return -1;
    handoff.filling->insert(handoff.filling->end(), source, source + length);
    return 0;
}

// Writes a piece in deliveries of the size bzunzip makes; false at the
// first refusal.
bool write_piece(Handoff& handoff, const Piece& piece) {
    PumpContext context{&handoff.session, payload_read, handoff.write_fn};
    for (size_t at = 0; at < piece.size(); at += PUMP_OUTPUT_SIZE) {
        const size_t n = std::min(piece.size() - at, PUMP_OUTPUT_SIZE);
        if (handoff.write_fn(&context, piece.data() + at, static_cast<int32_t>(n)) != 0) return false;
    }
    return true;
}

void run_writer(Handoff& handoff) {
    for (;;) {
        Piece* piece;
        {
            std::unique_lock<std::mutex> lock(handoff.mutex);
            handoff.piece_full.wait(lock, [&] { return handoff.decoding_ended || !handoff.full.empty(); });
            if (handoff.full.empty()) return;
            piece = handoff.full.front();
            handoff.full.pop_front();
        }
        const bool written = write_piece(handoff, *piece);
        piece->clear();
        const std::lock_guard<std::mutex> lock(handoff.mutex);
        handoff.spare.push_back(piece);
        handoff.writer_stopped = !written;
        handoff.piece_spare.notify_one();
        if (!written) return;
    }
}

}  // namespace

int32_t bzunzip_writing_apart(PumpSession& session, PumpWrite write_fn) {
    Handoff handoff(session, write_fn);
    std::thread writer;
    if (!try_start_thread(writer, run_writer, std::ref(handoff))) return bzunzip(&session, payload_read, write_fn);
    int32_t decoded;
    {
        // The writer alone takes the run's signals from here on, as in the
        // block-parallel pump: it makes the names their clean-up removes.
        const RunSignalsHeld held;
        PumpSession decoding{session.payload, &handoff};
        decoded = bzunzip(&decoding, payload_read, handoff_write);
        const std::lock_guard<std::mutex> lock(handoff.mutex);
        // What bzunzip delivered before it ended goes out, as it would have.
        if (!handoff.filling->empty()) handoff.full.push_back(handoff.filling);
        handoff.decoding_ended = true;
        handoff.piece_full.notify_one();
    }
    writer.join();
    return decoded == 0 && !handoff.writer_stopped ? 0 : PUMP_FAILED;
}
