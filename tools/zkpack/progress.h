// Progress of a long compression, as a bar on standard error: only on a
// terminal, so that scripts and logs see nothing but errors.
#pragma once

#include <cstdint>
#include <string>

namespace zkpack {

// Whether create shows progress: standard error is a terminal and --quiet
// was not given.
bool progress_wanted(bool quiet);

class Progress {
public:
    Progress(bool shown, std::string label, uint64_t total);
    // Ends a bar left unfinished, so an error message starts a line of its own.
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void add(uint64_t bytes);
    void finish();

private:
    void draw();

    bool shown_;
    std::string label_;
    uint64_t total_;
    uint64_t done_ = 0;
    int drawn_percent_ = -1;
    uint64_t drawn_done_ = 0;
    bool finished_ = false;
};

}  // namespace zkpack
