// Directory trees: create a directory with its missing parents, and open a
// file creating the directories that should hold it.
#pragma once

#include <cstdio>

namespace zk {

int port_mkdir(const char* path, int mode);
int make_directory_tree2(char* path, int mode);
int make_directory_tree(const char* path, int mode);
FILE* mkdir_fopen(char* path, const char* fopen_mode, int dir_mode);
int mkdir_open(char* path, int flags, int mode);

}  // namespace zk
