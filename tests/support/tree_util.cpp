#include "tree_util.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

namespace zkpacktest {

void make_tree(const std::string& root, const std::vector<TreeItem>& items) {
    for (const auto& item : items) {
        const std::string path = root + "/" + item.name;
        if (item.name.back() == '/') {
            ::mkdir(path.c_str(), 0700);
            ::chmod(path.c_str(), item.mode);
        } else {
            zktest::write_file(path, item.content, item.mode);
        }
    }
}

std::vector<TreeItem> product_tree() {
    return {
        {"etc/", 0700, ""},
        {"etc/secret", 0600, std::string(1024, 's')},
        {"etc/deep/", 0755, ""},
        {"etc/deep/er/", 0755, ""},
        {"etc/deep/er/file", 0644, std::string(513, 'f')},
        {"bin/", 0755, ""},
        {"bin/tool", 0755, "#!/bin/sh\n"},
        {"empty/", 0755, ""},
        {"a/", 0755, ""},
        {"a/x", 0700, std::string(1000, 'x')},
        {"a.txt", 0644, ""},
        {"a-b", 0644, std::string(512, 'b')},
    };
}

namespace {

void describe_into(const std::string& root, const std::string& prefix, std::vector<std::string>& lines,
                   std::string& contents) {
    std::vector<std::string> names;
    if (DIR* dir = ::opendir((root + "/" + prefix).c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        const std::string relative = prefix + name;
        const std::string path = root + "/" + relative;
        struct stat status;
        ::lstat(path.c_str(), &status);
        char line[64];
        std::snprintf(line, sizeof line, " %04o %lld", static_cast<unsigned>(status.st_mode & 07777),
                      static_cast<long long>(S_ISDIR(status.st_mode) ? 0 : status.st_size));
        if (S_ISDIR(status.st_mode)) {
            lines.push_back(relative + "/" + line);
            describe_into(root, relative + "/", lines, contents);
        } else {
            lines.push_back(relative + line + (S_ISREG(status.st_mode) ? "" : " not a regular file"));
            contents += relative + ":" + zktest::read_file(path) + "\n";
        }
    }
}

}  // namespace

std::string describe_tree(const std::string& root) {
    std::vector<std::string> lines;
    std::string contents;
    describe_into(root, "", lines, contents);
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text + contents;
}

}  // namespace zkpacktest
