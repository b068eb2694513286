// File names and the running executable: delimiter rules, joining, "~"
// expansion, the cached working directory and the search along a path list.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#include <ctime>

namespace zk {

extern const char* wild_filename_delimiter;

char* find_exec_path(const char* path_list, const char* name);
char* find_exec_path2(const char* path_list, const char* name, int flag);
time_t find_executable_mtime(const char* name, char** dir_out);
const char* get_cwd();
void get_cwd_changed_directory();
char* tilde_expand(const char* name);

char* filename_append_filename(const char* dir, const char* name);
const char* filename_delimiter();
const char* filename_path_delimiter();
int filename_is_delim(int ch);
int is_absolute(const char* name);

// These return pointers into their argument; the char* overloads keep
// callers that hold writable text from casting.
const char* filename_first_component(const char* name);
const char* filename_last_component(const char* name);
const char* filename_nth_first_component(const char* name, int n);
const char* filename_nth_last_component(const char* name, int n);
const char* filename_extension(const char* name);
const char* file_extension(const char* name);
const char* basename(const char* name);
const char* filename_basename(const char* name);
inline char* filename_first_component(char* name) {
    return const_cast<char*>(filename_first_component(static_cast<const char*>(name)));
}
inline char* filename_last_component(char* name) {
    return const_cast<char*>(filename_last_component(static_cast<const char*>(name)));
}

char* dirname(const char* name);
char* filename_dirname2(const char* name, int n);
int filename_strcmp(const char* a, const char* b);
int filename_get_drive(const char* name);
const char* filename_skip_drive(const char* name);
const char* filename_skip_unc(const char* name);
int is_unc_filename(const char* name);
char* filename_normalize(char* name);
char* backslash_to_fwd(char* name);
char* forwardslash_to_back(char* name);
void monocase_filename(char* name);
int filename_monocase_enable(int value);
char* filename_long_to_short(const char* name);
char* filename_short_to_long(const char* name);
char* string_normalize_quotes(const char* text);

int lstat64(const char* path, struct stat* status);
int fstat64(int fd, struct stat* status);
int stat64(const char* path, struct stat* status);
int open64(const char* path, int flags, int mode);

}  // namespace zk
