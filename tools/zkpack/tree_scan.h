// --tree, first step: the directory's contents as a list in archive order,
// each entry checked against what the installer can reproduce.
#pragma once

#include "entry_rules.h"

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace zkpack {

struct TreeEntry {
    std::string source;          // the path on disk
    std::string name;            // the name in the archive; a directory's ends in '/'
    tar_format::EntryKind kind;  // regular, directory, symbolic or hard link
    mode_t permissions;
    uint64_t size;
    time_t mtime;
    dev_t device;
    ino_t inode;
    nlink_t links;
    std::string link_target;  // a symbolic link's as written; a hard link's archive name
};

struct Tree {
    std::string root;
    std::vector<TreeEntry> entries;  // sorted bytewise by name, so each directory comes before what it holds
    uint64_t data_size = 0;          // bytes of all regular files
};

// Walks root without following links inside it, and fails, naming the
// path, at the first entry the installer could not reproduce. Symbolic
// links are stored as links; a file with several names in the tree is
// stored once, under its first name, its other names as hard links to it.
Tree scan_tree(const std::string& root);

}  // namespace zkpack
