#include "progress.h"

#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <utility>

namespace zkpack {

namespace {

constexpr int BAR_WIDTH = 30;

int percent_of(uint64_t done, uint64_t total) {
    if (total == 0 || done >= total) return 100;
    return static_cast<int>(done * 100 / total);
}

}  // namespace

bool progress_wanted(bool quiet) { return !quiet && ::isatty(STDERR_FILENO) == 1; }

Progress::Progress(bool shown, std::string label, uint64_t total)
    : shown_(shown), label_(std::move(label)), total_(total) {
    draw();
}

Progress::~Progress() {
    if (shown_ && !finished_) std::fputc('\n', stderr);
}

void Progress::add(uint64_t bytes) {
    done_ += bytes;
    // Redrawn only when the figure changes, so a big input costs a hundred lines at most.
    if (percent_of(done_, total_) != drawn_percent_) draw();
}

void Progress::finish() {
    if (!shown_ || finished_) return;
    finished_ = true;
    if (drawn_done_ != done_) draw();
    std::fputc('\n', stderr);
}

void Progress::draw() {
    if (!shown_) return;
    drawn_percent_ = percent_of(done_, total_);
    drawn_done_ = done_;
    const int filled = drawn_percent_ * BAR_WIDTH / 100;
    std::fprintf(stderr, "\r%s [%s%s] %3d%% %" PRIu64 "/%" PRIu64 " bytes", label_.c_str(),
                 std::string(static_cast<size_t>(filled), '#').c_str(),
                 std::string(static_cast<size_t>(BAR_WIDTH - filled), '.').c_str(), drawn_percent_, done_, total_);
    std::fflush(stderr);
}

}  // namespace zkpack
