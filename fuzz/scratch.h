// The scratch directories of the targets that write files: a root of the
// process's own, walked after each input to see that nothing was written
// where it should not be, and emptied again.
#pragma once

#include <string>
#include <vector>

namespace zkfuzz {

// Makes a fresh directory under TMPDIR (else /tmp) named after the target,
// removed again when the process exits normally.
std::string make_scratch_root(const char* target);

// The names in a directory, sorted, without "." and "..".
std::vector<std::string> list_directory(const std::string& path);

// Whether everything below path is a regular file, a directory or a
// symbolic link: the code under test makes no pipes or devices.
bool holds_no_pipes_or_devices(const std::string& path);

// Removes path and everything below it, whatever the modes of its
// directories. A missing path is no error.
void remove_tree(const std::string& path);

// Makes an empty directory at path, removing whatever was there.
void make_empty_directory(const std::string& path);

// How many descriptors the process has open.
int count_open_descriptors();

// Keeps the working directory of the moment; goes back to it when destroyed.
class CwdKeeper {
public:
    CwdKeeper();
    ~CwdKeeper();
    CwdKeeper(const CwdKeeper&) = delete;
    CwdKeeper& operator=(const CwdKeeper&) = delete;

private:
    int directory_fd_;
};

}  // namespace zkfuzz
