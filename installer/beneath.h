// Names resolved beneath the install directory, one component at a time
// from a descriptor of it, never by path: a symbolic link met on the way,
// there before the run or swapped in during it, stops the name instead of
// leading elsewhere. The last directory used stays open, so the files of one
// directory cost one lookup.
#pragma once

#include <string>
#include <string_view>

enum class Resolved {
    found,   // the parent's descriptor and the last component are set
    unsafe,  // a symbolic link stands on the way
    failed,  // a directory on the way cannot be made or opened; errno says why
};

class Beneath {
public:
    Beneath() = default;
    ~Beneath();
    Beneath(const Beneath&) = delete;
    Beneath& operator=(const Beneath&) = delete;

    // Starts at the working directory. False when it cannot be opened.
    bool open_root();
    void close();

    // The directory that holds `name`'s last component, with the missing
    // directories before it made with `mode` when `make` is set. `parent`
    // stays valid until the next call; `leaf` is empty when the name is the
    // root itself.
    Resolved parent_of(std::string_view name, unsigned mode, bool make, int& parent, std::string& leaf);

    // Like parent_of, but in a descriptor of the caller's own (closed by
    // the caller), leaving the kept directory as it is; never makes any.
    Resolved lookup_parent(std::string_view name, int& parent, std::string& leaf);

private:
    Resolved walk(std::string_view directory, unsigned mode, bool make, int& fd);

    int root_ = -1;
    int last_ = -1;          // the last directory resolved, or -1
    std::string last_path_;  // its path below the root, components joined by '/'
};
