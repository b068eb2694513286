// Source trees for the archive tests: built from a table, with exact modes.
#pragma once

#include "support.h"

#include <sys/types.h>

#include <string>
#include <vector>

namespace zkpacktest {

struct TreeItem {
    std::string name;  // relative; a directory's ends in '/'
    mode_t mode;
    std::string content;
};

// Creates the items below root (which must exist) in the order given, a
// directory before what it holds.
void make_tree(const std::string& root, const std::vector<TreeItem>& items);

// A product tree: nested directories, an empty one, empty files, sizes on
// and off 512-byte boundaries, modes 0755, 0644, 0600 and 0700, names that
// sort differently bytewise and by directory ("a-b", "a.txt", "a/").
std::vector<TreeItem> product_tree();

// Every entry below root as "name mode size" lines (mode in octal, a
// directory's name with '/'), sorted, followed by each file's content:
// two trees with the same text hold the same names, modes and bytes.
std::string describe_tree(const std::string& root);

}  // namespace zkpacktest
