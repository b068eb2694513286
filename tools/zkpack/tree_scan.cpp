#include "tree_scan.h"

#include "io.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>
#include <optional>
#include <utility>

namespace zkpack {

namespace {

using DirectoryHandle = std::unique_ptr<DIR, int (*)(DIR*)>;

// Sorted, so the walk and its refusals do not depend on the file system's order.
std::vector<std::string> names_in(const std::string& directory) {
    DirectoryHandle handle(::opendir(directory.c_str()), ::closedir);
    if (!handle) fail_system(directory, "cannot read the directory");
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* entry = ::readdir(handle.get())) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
        errno = 0;
    }
    if (errno != 0) fail_system(directory, "cannot read the directory");
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<EntryType> type_of(mode_t mode) {
    switch (mode & S_IFMT) {
        case S_IFREG: return EntryType::regular;
        case S_IFDIR: return EntryType::directory;
        case S_IFLNK: return EntryType::symbolic_link;
        case S_IFCHR: return EntryType::character_device;
        case S_IFBLK: return EntryType::block_device;
        case S_IFIFO: return EntryType::fifo;
        case S_IFSOCK: return EntryType::socket;
        default: return std::nullopt;
    }
}

std::string join(const std::string& directory, const std::string& name) {
    return directory.empty() || directory.back() == '/' ? directory + name : directory + "/" + name;
}

class TreeWalk {
public:
    explicit TreeWalk(Tree& tree) : tree_(tree) {}
    void walk(const std::string& directory, const std::string& prefix);

private:
    EntryType checked_type(const std::string& source, const struct stat& status);
    void check_links(const std::string& source, const struct stat& status);

    Tree& tree_;
    // Files with more than one name, by identity: a second name in the tree
    // would be unpacked as a separate copy.
    std::map<std::pair<dev_t, ino_t>, std::string> linked_files_;
};

EntryType TreeWalk::checked_type(const std::string& source, const struct stat& status) {
    const std::optional<EntryType> type = type_of(status.st_mode);
    if (!type) fail(source, type_problem("a file of unknown type"));
    const std::string problem = type_problem(*type);
    if (!problem.empty()) fail(source, problem);
    return *type;
}

void TreeWalk::check_links(const std::string& source, const struct stat& status) {
    if (status.st_nlink < 2) return;
    const auto [known, added] = linked_files_.emplace(std::make_pair(status.st_dev, status.st_ino), source);
    if (!added) fail(source, type_problem("a hard link to " + known->second));
}

void TreeWalk::walk(const std::string& directory, const std::string& prefix) {
    for (const std::string& name : names_in(directory)) {
        const std::string source = join(directory, name);
        struct stat status;
        if (::lstat(source.c_str(), &status) != 0) fail_system(source, "cannot read its status");
        const EntryType type = checked_type(source, status);
        const std::string stored_name = prefix + name + (type == EntryType::directory ? "/" : "");
        std::string problem = name_problem(stored_name);
        if (problem.empty() && type == EntryType::regular) {
            problem = size_problem(static_cast<uint64_t>(status.st_size));
            check_links(source, status);
        }
        if (!problem.empty()) fail(source, problem);

        const uint64_t size = type == EntryType::regular ? static_cast<uint64_t>(status.st_size) : 0;
        tree_.entries.push_back(TreeEntry{source, stored_name, type, status.st_mode & 07777, size,
                                          status.st_mtime, status.st_dev, status.st_ino});
        tree_.data_size += size;
        if (type == EntryType::directory) walk(source, stored_name);
    }
}

}  // namespace

Tree scan_tree(const std::string& root) {
    struct stat status;
    if (::stat(root.c_str(), &status) != 0) fail_system(root, "cannot read its status");
    if (!S_ISDIR(status.st_mode)) fail(root, "not a directory");
    Tree tree;
    tree.root = root;
    TreeWalk(tree).walk(root, "");
    std::sort(tree.entries.begin(), tree.entries.end(),
              [](const TreeEntry& a, const TreeEntry& b) { return a.name < b.name; });
    return tree;
}

}  // namespace zkpack
