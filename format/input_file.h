// Files named on a command line (keys, signatures, the packer's inputs),
// taken only when they are what they claim to be: regular files. The open
// does not wait, so a FIFO without a writer cannot hold a program before
// its first message.
#pragma once

namespace input_file {

constexpr const char NOT_REGULAR[] = "not a regular file";

struct Opened {
    int fd = -1;               // open for reading (O_NONBLOCK means nothing to a regular file)
    bool not_regular = false;  // else, with fd -1, errno says why it did not open
};

// flags are added to the open's own, as O_NOFOLLOW.
Opened open_regular(const char* path, int flags = 0);

}  // namespace input_file
