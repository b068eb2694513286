#include <zk/file/filename.h>

#include <zk/base/chk.h>
#include "file_internal.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zk {

namespace {

constexpr mode_t file_type_mask = 0xF000;
constexpr mode_t directory_type = 0x4000;
constexpr mode_t symbolic_link_type = 0xA000;
constexpr mode_t any_execute_bits = 0x49;
constexpr mode_t owner_execute_bit = 0x40;

constexpr int path_list_separator = ':';
constexpr int max_links_followed = 100;
constexpr size_t cwd_buffer_size = 1024;
constexpr size_t link_buffer_size = 1024;

char* cwd_cache = nullptr;
// Either the environment's own HOME text or home_directory_copy.
const char* home_directory = nullptr;
char* home_directory_copy = nullptr;
char* scan_position = nullptr;

bool is_directory(const struct stat& status) { return (status.st_mode & file_type_mask) == directory_type; }

bool is_symbolic_link(const struct stat& status) { return (status.st_mode & file_type_mask) == symbolic_link_type; }

void end_path_scan() { scan_position = nullptr; }

void remove_double_quotes(char* text) {
    char* out = text;
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p != '"') {
            *out++ = *p;
        }
    }
    *out = '\0';
}

char* replace_with_tilde_expansion(char* name) {
    if (name[0] != '~') {
        return name;
    }
    char* expanded = tilde_expand(name);
    chk_free(name);
    return expanded;
}

// One path-list entry joined with the name searched for; an empty entry is ".".
char* join_path_entry(const char* entry, const char* name) {
    return replace_with_tilde_expansion(filename_append_filename(entry[0] == '\0' ? "." : entry, name));
}

char* resolve_link_target(const char* link_name, const char* target) {
    const char* last = filename_last_component(link_name);
    if (is_absolute(target) || last == nullptr) {
        return chk_strdup(target);
    }
    const auto kept = static_cast<size_t>(last - link_name + 1);
    const size_t target_length = std::strlen(target);
    auto* resolved = static_cast<char*>(chk_alloc(kept + target_length + 1));
    std::memcpy(resolved, link_name, kept);
    std::memcpy(resolved + kept, target, target_length + 1);
    return resolved;
}

// The home directory of the first password-file entry that `matches`, a new
// text, or null. The file is read directly: getpwnam and getpwuid would load
// name service modules, which a statically linked installer cannot.
template <typename Match>
char* home_from_password_file(Match matches) {
    FILE* file = std::fopen(password_file, "re");
    if (file == nullptr) {
        return nullptr;
    }
    char* home = nullptr;
    while (const struct passwd* entry = ::fgetpwent(file)) {
        if (matches(*entry)) {
            home = chk_strdup(entry->pw_dir);
            break;
        }
    }
    std::fclose(file);
    return home;
}

const char* find_home_directory() {
    if (home_directory != nullptr) {
        return home_directory;
    }
    if (const char* home = std::getenv("HOME")) {
        home_directory = home;
        return home_directory;
    }
    const uid_t uid = ::getuid();
    home_directory_copy = home_from_password_file([uid](const struct passwd& entry) { return entry.pw_uid == uid; });
    home_directory = home_directory_copy;
    return home_directory;
}

// ~user and ~user/rest: null when the user is unknown.
char* expand_user_home(const char* name) {
    const char* user = name + 1;
    const char* delimiter = filename_first_component(user);
    const size_t user_length = delimiter != nullptr ? static_cast<size_t>(delimiter - user) : std::strlen(user);
    char* home = home_from_password_file([user, user_length](const struct passwd& entry) {
        return std::strncmp(entry.pw_name, user, user_length) == 0 && entry.pw_name[user_length] == '\0';
    });
    if (home == nullptr) {
        return nullptr;
    }
    char* expanded = chk_makestr(home, "/", delimiter != nullptr ? delimiter + 1 : "", nullptr);
    chk_free(home);
    return expanded;
}

char* search_exec_path_list(const char* path_list, const char* name) {
    char* list = chk_strdup(path_list);
    char* found = nullptr;
    struct stat status;
    for (char* entry = next_path_entry(list, path_list_separator); entry != nullptr && found == nullptr;
         entry = next_path_entry(nullptr, path_list_separator)) {
        remove_double_quotes(entry);
        char* candidate = join_path_entry(entry, name);
        found = test_file(candidate, 0, &status);
        chk_free(candidate);
    }
    end_path_scan();
    chk_free(list);
    return found;
}

}  // namespace

const char* password_file = "/etc/passwd";

char* next_path_entry(char* text, int separator) {
    char* start = text != nullptr ? text : scan_position;
    if (start == nullptr) {
        return nullptr;
    }
    char* end = std::strchr(start, separator);
    if (end != nullptr) {
        *end = '\0';
        scan_position = end + 1;
    } else {
        scan_position = nullptr;
    }
    return start;
}

char* follow_symbolic_links(char* name, struct stat* status) {
    std::array<char, link_buffer_size> target;
    for (int followed = 0;; ++followed) {
        struct stat link_status;
        if (::lstat(name, &link_status) != 0) {
            break;
        }
        *status = link_status;
        if (!is_symbolic_link(link_status) || followed == max_links_followed) {
            break;
        }
        const ssize_t length = ::readlink(name, target.data(), target.size());
        // A target that fills the buffer may be cut short; the link's own
        // name still leads to the right file, a truncated target would not.
        if (length < 0 || static_cast<size_t>(length) >= target.size()) {
            break;
        }
        target[static_cast<size_t>(length)] = '\0';
        char* resolved = resolve_link_target(name, target.data());
        chk_free(name);
        name = resolved;
    }
    return name;
}

char* test_file(const char* candidate, int, struct stat* status) {
    const int fd = ::open(candidate, O_RDONLY);
    if (fd < 0) {
        return nullptr;
    }
    ::close(fd);
    if (::stat(candidate, status) != 0) {
        return nullptr;
    }
    if (candidate[0] == '.' && filename_is_delim(candidate[1])) {
        candidate += 2;
    }
    if (is_directory(*status)) {
        return nullptr;
    }
    char* resolved = follow_symbolic_links(chk_strdup(candidate), status);
    if ((status->st_mode & any_execute_bits) == 0) {
        chk_free(resolved);
        return nullptr;
    }
    return resolved;
}

char* find_exec_path(const char* path_list, const char* name) { return find_exec_path2(path_list, name, 0); }

char* find_exec_path2(const char* path_list, const char* name, int) {
    if (path_list == nullptr) {
        return nullptr;
    }
    if (filename_first_component(name) == nullptr) {
        return search_exec_path_list(path_list, name);
    }
    struct stat status;
    if (is_absolute(name)) {
        return test_file(name, 0, &status);
    }
    while (name[0] == '.' && filename_is_delim(name[1])) {
        name += 2;
    }
    char* joined = filename_append_filename(get_cwd(), name);
    char* found = test_file(joined, 0, &status);
    chk_free(joined);
    return found;
}

time_t search_path_mtime(const char* path_list, const char* name, char** dir_out) {
    if (path_list == nullptr) {
        return 0;
    }
    char* list = chk_strdup(path_list);
    bool found = false;
    struct stat status;
    char* entry = next_path_entry(list, path_list_separator);
    for (; entry != nullptr; entry = next_path_entry(nullptr, path_list_separator)) {
        char* candidate = join_path_entry(entry, name);
        found = ::stat(candidate, &status) == 0 && !is_directory(status) && (status.st_mode & owner_execute_bit) != 0;
        chk_free(candidate);
        if (found) {
            break;
        }
    }
    end_path_scan();
    if (found && dir_out != nullptr) {
        chk_free(*dir_out);
        const char* directory = entry[0] == '\0' ? "." : entry;
        *dir_out = directory[0] == '~' ? tilde_expand(directory) : chk_strdup(directory);
    }
    chk_free(list);
    return found ? status.st_mtime : 0;
}

time_t find_executable_mtime(const char* name, char** dir_out) {
    if (const char* last = filename_last_component(name)) {
        if (dir_out != nullptr) {
            const auto length = static_cast<size_t>(last - name);
            *dir_out = static_cast<char*>(chk_alloc(length + 1));
            std::memcpy(*dir_out, name, length);
            (*dir_out)[length] = '\0';
        }
        struct stat status;
        return ::stat(name, &status) == 0 ? status.st_mtime : 0;
    }
    const time_t mtime = search_path_mtime(std::getenv("PATH"), name, dir_out);
    return mtime != 0 ? mtime : search_path_mtime(std::getenv("ZKPATH"), name, dir_out);
}

char* current_directory() {
    for (size_t size = cwd_buffer_size;; size *= 2) {
        auto* buffer = static_cast<char*>(chk_alloc(size));
        if (buffer == nullptr) return nullptr;
        if (::getcwd(buffer, size) != nullptr) return buffer;
        chk_free(buffer);
        if (errno != ERANGE) return nullptr;
    }
}

const char* get_cwd() {
    if (cwd_cache == nullptr || cwd_cache[0] == '\0') {
        char* directory = current_directory();
        chk_free(cwd_cache);
        cwd_cache = filename_normalize(directory != nullptr ? directory : chk_strdup("/DIRECTORY-REMOVED"));
    }
    return cwd_cache;
}

void get_cwd_changed_directory() {
    chk_free(cwd_cache);
    cwd_cache = nullptr;
}

char* tilde_expand(const char* name) {
    if (name[0] != '~') {
        return chk_strdup(name);
    }
    if (name[1] == '\0' || filename_is_delim(name[1])) {
        const char* home = find_home_directory();
        if (home == nullptr) {
            return chk_strdup(name);
        }
        return chk_makestr(home, "/", name[1] != '\0' ? name + 2 : "", nullptr);
    }
    char* expanded = expand_user_home(name);
    return expanded != nullptr ? expanded : chk_strdup(name);
}

void forget_home_directory() {
    chk_free(home_directory_copy);
    home_directory_copy = nullptr;
    home_directory = nullptr;
}

}  // namespace zk
