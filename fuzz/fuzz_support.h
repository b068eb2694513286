// What the fuzz targets share: taking an input apart, and stopping with a
// finding when a property fails.
#pragma once

#include <sanitizer/common_interface_defs.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace zkfuzz {

// Leading bytes for flags and modes, then texts separated by NUL bytes.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size) : next_(data), end_(data + size) {}

    // The next byte, 0 once the input is used up.
    uint8_t take_byte() { return next_ == end_ ? 0 : *next_++; }

    // The bytes up to the next NUL (dropped) or the end.
    std::string take_text() {
        const uint8_t* start = next_;
        while (next_ != end_ && *next_ != 0) ++next_;
        std::string text(start, next_);
        if (next_ != end_) ++next_;
        return text;
    }

    // Every byte not taken yet, NUL bytes included.
    std::string take_rest() {
        std::string rest(next_, end_);
        next_ = end_;
        return rest;
    }

private:
    const uint8_t* next_;
    const uint8_t* end_;
};

// libFuzzer saves the input that aborts as a crash. The sanitizer's report
// channel still reaches the log when run.sh closes the target's stderr.
inline void require(bool holds, const char* property) {
    if (holds) return;
    const std::string report = "property failed: " + std::string(property);
    __sanitizer_report_error_summary(report.c_str());
    std::abort();
}

}  // namespace zkfuzz
