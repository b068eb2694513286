#include "tree_scan.h"

#include "io.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

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
    EntryKind checked_kind(const std::string& source, const std::string& stored_name, const struct stat& status,
                           const std::string& target);

    Tree& tree_;
};

EntryKind TreeWalk::checked_kind(const std::string& source, const std::string& stored_name, const struct stat& status,
                                 const std::string& target) {
    const std::optional<unsigned char> flag = type_flag(status.st_mode);
    if (!flag) fail(source, type_problem(S_ISSOCK(status.st_mode) ? "a socket" : "a file of unknown type"));
    const EntryKind kind = tar_format::entry_kind(*flag, stored_name);
    const std::string problem = entry_problem(kind, *flag, stored_name, target);
    if (!problem.empty()) fail(source, problem);
    return kind;
}

std::string link_target(const std::string& source, const struct stat& status) {
    std::string target(static_cast<size_t>(status.st_size) + 1, '\0');
    const ssize_t n = ::readlink(source.c_str(), target.data(), target.size());
    if (n < 0) fail_system(source, "cannot read the link");
    if (static_cast<size_t>(n) >= target.size()) fail(source, "changed while being packed");
    target.resize(static_cast<size_t>(n));
    return target;
}

// The first name of a file, in archive order, carries its data; the
// installer links the later ones to it.
void mark_hard_links(Tree& tree) {
    std::map<std::pair<dev_t, ino_t>, std::string> first_names;
    for (TreeEntry& entry : tree.entries) {
        if (entry.kind != EntryKind::regular || entry.links < 2) continue;
        const auto [first, added] = first_names.emplace(std::make_pair(entry.device, entry.inode), entry.name);
        if (added) continue;
        entry.kind = EntryKind::hard_link;
        entry.link_target = first->second;
        tree.data_size -= entry.size;
        entry.size = 0;
    }
}

void TreeWalk::walk(const std::string& directory, const std::string& prefix) {
    for (const std::string& name : names_in(directory)) {
        const std::string source = join(directory, name);
        struct stat status;
        if (::lstat(source.c_str(), &status) != 0) fail_system(source, "cannot read its status");
        const std::string stored_name = prefix + name + (S_ISDIR(status.st_mode) ? "/" : "");
        const std::string target = S_ISLNK(status.st_mode) ? link_target(source, status) : "";
        const EntryKind kind = checked_kind(source, stored_name, status, target);
        const uint64_t size = kind == EntryKind::regular ? static_cast<uint64_t>(status.st_size) : 0;
        tree_.entries.push_back(TreeEntry{source, stored_name, kind, status.st_mode & 07777, size, status.st_mtime,
                                          status.st_dev, status.st_ino, status.st_nlink, target});
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
    mark_hard_links(tree);
    return tree;
}

}  // namespace zkpack
