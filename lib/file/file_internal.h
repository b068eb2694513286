// Helpers of the executable search that tests and the globbing engine
// reach directly; not installed.
#pragma once

#include <sys/stat.h>
#include <ctime>

namespace zk {

// Splits a path list in place: a text starts a scan, null continues it.
// One scan at a time for the whole process.
char* next_path_entry(char* text, int separator);

// The usable executable that `candidate` names, its symbolic links resolved
// (a new text), or null. `flag` is ignored; `status` is overwritten.
char* test_file(const char* candidate, int flag, struct stat* status);

// Resolves the symbolic links of the heap text `name` by rewriting it,
// following at most 100; returns the resolved heap text (`name` is consumed).
// `status` holds the most recent successful lstat.
char* follow_symbolic_links(char* name, struct stat* status);

time_t search_path_mtime(const char* path_list, const char* name, char** dir_out);

// The password file that ~ and ~user are looked up in; tests point it elsewhere.
extern const char* password_file;

// The working directory's name in a new text, however long, or null when
// the system cannot name it (the directory was removed).
char* current_directory();

// Forgets the cached home directory so that a test can change HOME.
void forget_home_directory();

}  // namespace zk
