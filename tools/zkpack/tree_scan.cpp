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

using tar_format::EntryKind;

// The tar type flag each kind of file is stored with; sockets have none.
struct FileType {
    mode_t format;
    unsigned char flag;
};

constexpr FileType FILE_TYPES[] = {
    {S_IFREG, '0'}, {S_IFDIR, '5'}, {S_IFLNK, '2'}, {S_IFCHR, '3'}, {S_IFBLK, '4'}, {S_IFIFO, '6'},
};

std::optional<unsigned char> type_flag(mode_t mode) {
    for (const auto& type : FILE_TYPES) {
        if ((mode & S_IFMT) == type.format) return type.flag;
    }
    return std::nullopt;
}

std::string join(const std::string& directory, const std::string& name) {
    return directory.empty() || directory.back() == '/' ? directory + name : directory + "/" + name;
}

class TreeWalk {
public:
    explicit TreeWalk(Tree& tree) : tree_(tree) {}
    void walk(const std::string& directory, const std::string& prefix);

private:
    EntryKind checked_kind(const std::string& source, const std::string& stored_name, const struct stat& status);
    void check_links(const std::string& source, const struct stat& status);

    Tree& tree_;
    // Files with more than one name, by identity: a second name in the tree
    // would be unpacked as a separate copy.
    std::map<std::pair<dev_t, ino_t>, std::string> linked_files_;
};

EntryKind TreeWalk::checked_kind(const std::string& source, const std::string& stored_name,
                                 const struct stat& status) {
    const std::optional<unsigned char> flag = type_flag(status.st_mode);
    if (!flag) fail(source, type_problem(S_ISSOCK(status.st_mode) ? "a socket" : "a file of unknown type"));
    const EntryKind kind = tar_format::entry_kind(*flag, stored_name);
    const std::string problem = entry_problem(kind, *flag, stored_name);
    if (!problem.empty()) fail(source, problem);
    return kind;
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
        const std::string stored_name = prefix + name + (S_ISDIR(status.st_mode) ? "/" : "");
        const EntryKind kind = checked_kind(source, stored_name, status);
        if (kind == EntryKind::regular) check_links(source, status);

        const uint64_t size = kind == EntryKind::regular ? static_cast<uint64_t>(status.st_size) : 0;
        tree_.entries.push_back(TreeEntry{source, stored_name, kind, status.st_mode & 07777, size,
                                          status.st_mtime, status.st_dev, status.st_ino});
        tree_.data_size += size;
        if (kind == EntryKind::directory) walk(source, stored_name);
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
