// Every public name of the library, each taken with its exact type: this
// program compiles only when every declaration matches the library's
// interface, and links only when every name is defined.
#include <zk/zk.h>

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <type_traits>

namespace {

using AnyFunction = void (*)();

template <typename Signature>
AnyFunction name(Signature* function) {
    return reinterpret_cast<AnyFunction>(function);
}

const AnyFunction functions[] = {
    // byte order, checked allocation
    name<void(unsigned char*, unsigned)>(zk::LPUT8),
    name<void(unsigned char*, unsigned)>(zk::LPUT16),
    name<unsigned(const unsigned char*)>(zk::LGET16),
    name<void(unsigned char*, uint32_t)>(zk::LPUT24),
    name<uint32_t(const unsigned char*)>(zk::LGET24),
    name<void(unsigned char*, uint32_t)>(zk::LPUT32),
    name<uint32_t(const unsigned char*)>(zk::LGET32),
    name<void(unsigned char*, uint64_t)>(zk::LPUT64),
    name<uint64_t(const unsigned char*)>(zk::LGET64),
    name<void(unsigned char*, double)>(zk::LPUT_FLOAT),
    name<void(const unsigned char*, double*)>(zk::LGET_FLOAT),
    name<int(unsigned char*, int64_t)>(zk::LPUT_INTEGER),
    name<void(unsigned char*, unsigned)>(zk::LPUT_ID),
    name<unsigned(const unsigned char*)>(zk::LGET_ID),
    name<void(unsigned char*, unsigned)>(zk::LPUT_LIST),
    name<unsigned(const unsigned char*)>(zk::LGET_LIST),
    name<void(unsigned char*, uint32_t)>(zk::LPUT_PTR),
    name<uint32_t(const unsigned char*)>(zk::LGET_PTR),
    name<uint32_t(const unsigned char*)>(zk::LGET_OBJECT),
    name<int(int)>(zk::WGET16),
    name<uint32_t(uint32_t)>(zk::WGET32),
    name<void(uint32_t*, int)>(zk::swap_words),
    name<void()>(zk::chk_init),
    name<void*(size_t)>(zk::check_alloc),
    name<void*(size_t)>(zk::chk_alloc),
    name<void*(size_t, size_t)>(zk::chk_calloc),
    name<void*(size_t)>(zk::chk_zalloc),
    name<char*(const char*, ...)>(zk::chk_makestr),
    name<void*(void*, size_t)>(zk::chk_realloc),
    name<void(void*)>(zk::chk_free),
    name<void(void*)>(zk::chk_free_ptr),
    name<void()>(zk::chk_exit),
    name<void(void*)>(zk::chk_free_safe),
    name<char*(const char*)>(zk::chk_strdup),
    name<char*(const char*, size_t)>(zk::chk_strndup),
    name<void()>(zk::chk_error),
    name<void()>(zk::chk_dump),

    // CRC module
    name<void()>(zk::init_crc32),
    name<uint32_t(const unsigned char*, int)>(zk::crc32),
    name<uint32_t(const unsigned char*, int)>(zk::crc32_accum),
    name<uint32_t(uint32_t)>(zk::crc32_set),
    name<uint32_t(const unsigned char*, const unsigned char*, int)>(zk::crc32_monocase),

    // file names and the running executable
    name<char*(const char*, const char*)>(zk::find_exec_path),
    name<char*(const char*, const char*, int)>(zk::find_exec_path2),
    name<time_t(const char*, char**)>(zk::find_executable_mtime),
    name<const char*()>(zk::get_cwd),
    name<void()>(zk::get_cwd_changed_directory),
    name<char*(const char*)>(zk::tilde_expand),
    name<char*(const char*, const char*)>(zk::filename_append_filename),
    name<const char*()>(zk::filename_delimiter),
    name<const char*()>(zk::filename_path_delimiter),
    name<int(int)>(zk::filename_is_delim),
    name<int(const char*)>(zk::is_absolute),
    name<const char*(const char*)>(zk::filename_first_component),
    name<const char*(const char*)>(zk::filename_last_component),
    name<const char*(const char*, int)>(zk::filename_nth_first_component),
    name<const char*(const char*, int)>(zk::filename_nth_last_component),
    name<const char*(const char*)>(zk::filename_extension),
    name<const char*(const char*)>(zk::file_extension),
    name<const char*(const char*)>(zk::basename),
    name<const char*(const char*)>(zk::filename_basename),
    name<char*(const char*)>(zk::dirname),
    name<char*(const char*, int)>(zk::filename_dirname2),
    name<int(const char*, const char*)>(zk::filename_strcmp),
    name<int(const char*)>(zk::filename_get_drive),
    name<const char*(const char*)>(zk::filename_skip_drive),
    name<const char*(const char*)>(zk::filename_skip_unc),
    name<int(const char*)>(zk::is_unc_filename),
    name<char*(char*)>(zk::filename_normalize),
    name<char*(char*)>(zk::backslash_to_fwd),
    name<char*(char*)>(zk::forwardslash_to_back),
    name<void(char*)>(zk::monocase_filename),
    name<int(int)>(zk::filename_monocase_enable),
    name<char*(const char*)>(zk::filename_long_to_short),
    name<char*(const char*)>(zk::filename_short_to_long),
    name<char*(const char*)>(zk::string_normalize_quotes),
    name<int(const char*, struct stat*)>(zk::lstat64),
    name<int(int, struct stat*)>(zk::fstat64),
    name<int(const char*, struct stat*)>(zk::stat64),
    name<int(const char*, int, int)>(zk::open64),

    // directory trees and shims
    name<int(const char*, int)>(zk::port_mkdir),
    name<int(char*, int)>(zk::make_directory_tree2),
    name<int(const char*, int)>(zk::make_directory_tree),
    name<FILE*(char*, const char*, int)>(zk::mkdir_fopen),
    name<int(char*, int, int)>(zk::mkdir_open),
    name<int(int)>(zk::_chdrive),
    name<int(int)>(zk::closesocket),
    name<int(int, unsigned long, void*)>(zk::ioctlsocket),
    name<int(int)>(zk::setruid),
    name<int(int)>(zk::setrgid),
    name<int(int)>(zk::sighold),
    name<int(int)>(zk::sigrelse),
    name<int64_t(int, int64_t, int)>(zk::sys_lseek64),
    name<int(char*, size_t)>(zk::get_hostname),
    name<long()>(zk::my_gethostid),
    name<int(char*)>(zk::get_nodename),
    name<int(char*)>(zk::get_systemname),

    // dynamic strings
    name<unsigned char*(zk::DSTR*, int)>(zk::dstr_init),
    name<unsigned char*(zk::DSTR*, int)>(zk::dstr_zinit),
    name<void(zk::DSTR*, void*, int)>(zk::dstr_setup),
    name<void(zk::DSTR*)>(zk::dstr_clear),
    name<void(zk::DSTR*)>(zk::dstr_free),
    name<void(zk::DSTR*, int)>(zk::dstr_remove),
    name<void(zk::DSTR*, int)>(zk::dstr_reserve),
    name<void(zk::DSTR*, int)>(zk::dstr_reserve_zero),
    name<void(zk::DSTR*, int)>(zk::dstr_resize),
    name<void(zk::DSTR*, int)>(zk::dstr_size),
    name<void(zk::DSTR*, int)>(zk::dstr_set_size),
    name<void(zk::DSTR*, int)>(zk::dstr_set_space),
    name<int(zk::DSTR*, int)>(zk::dstr_add_char),
    name<void(zk::DSTR*, int, int)>(zk::dstr_add_nchar),
    name<void(zk::DSTR*, const void*, int)>(zk::dstr_add_mem),
    name<void(zk::DSTR*, const char*, int)>(zk::dstr_add_string),
    name<void(zk::DSTR*)>(zk::dstr_terminate),
    name<void(zk::DSTR*, const char*, int)>(zk::dstr_add_cstring),
    name<void(zk::DSTR*, int)>(zk::dstr_add_id),
    name<void(zk::DSTR*, int)>(zk::dstr_add_int16),
    name<void(zk::DSTR*, int32_t)>(zk::dstr_add_int24),
    name<void(zk::DSTR*, int32_t)>(zk::dstr_add_int32),
    name<void(zk::DSTR*, int64_t)>(zk::dstr_add_int64),
    name<int(zk::DSTR*, int32_t)>(zk::dstr_add_int),
    name<void(zk::DSTR*, int64_t)>(zk::dstr_add_integer),
    name<void(zk::DSTR*, double)>(zk::dstr_add_float),
    name<void(zk::DSTR*)>(zk::dstr_add_null),
    name<void(zk::DSTR*, int, uint32_t)>(zk::dstr_add_ptr),

    // sorting
    name<void(void*, size_t, size_t, int (*)(const void*, const void*))>(zk::qsort),

    // wildcard engine
    name<void()>(zk::wild_init),
    name<void(int)>(zk::wild_set_case_conversion),
    name<int(const char*, const char*, int)>(zk::wild_match),
    name<zk::GLOB_ENTRY*(const char*, int)>(zk::glob_filenames),
    name<int(const void*, const void*)>(zk::glob_compare),
    name<int(const char*, struct stat*, int)>(zk::wild_stat),

    // path simplification
    name<int(const char*)>(zk::is_wildcard),
    name<char*(const char*)>(zk::simplify_and_expand_filename),
    name<char*(const char*)>(zk::simplify_filename),
    name<void(char*)>(zk::wild_collapse),
    name<char*(const char*)>(zk::remove_dotdot),
    name<zk::GLOB_ENTRY*(const char*, int)>(zk::expand_directory_tree),

    // string utilities
    name<char*(char*, const char*)>(zk::overlap_strcpy),
    name<int(const char*, const char*)>(zk::strdictcmp),
    name<int(const char*, const char*, int)>(zk::strndictcmp),
    name<void(char*)>(zk::lower_case),
    name<zk::QWORD*(const char*, int*, int)>(zk::string_qword_split),
    name<char*(const char*)>(zk::string_unquote),
    name<char**(const char*)>(zk::string_wordize),
    name<void(const char*, ...)>(zk::trace_log),

    // brace and shell expansion
    name<char**(const char*, int)>(zk::shell_expand),
    name<zk::EXPANDED_WORD*(const char*, int*, int)>(zk::brace_expand_string),
    name<zk::BRACE*(const char*)>(zk::brace_expand),
    name<void(zk::BRACE*)>(zk::do_brace_expand),
    name<zk::BRACE*(char*)>(zk::do_brace_expand2),
    name<zk::BRACE*(const char*, int)>(zk::do_brace_enum),
    name<void(zk::BRACE*, zk::BRACE*, int)>(zk::brace_insert),
    name<void(zk::BRACE*, zk::BRACE*)>(zk::brace_append),
    name<char*(const char*)>(zk::wild_dollar_substitute),
    name<const char*(const char*)>(zk::expand_filename),
};

static_assert(std::is_same_v<decltype(zk::crc32_table), uint32_t[256]>);
static_assert(std::is_same_v<decltype(zk::wild_filename_delimiter), const char*>);
int* const int_variables[] = {&zk::wild_limit_timeout, &zk::wild_limit_max_count, &zk::wild_lstat, &zk::shell_error,
                              &zk::glob_sort_flags};

static_assert(zk::WILD_FILES == 0x0001 && zk::WILD_DIRS == 0x0002 && zk::WILD_DOTFILES == 0x0010);
static_assert(zk::WILD_ALLDIRS == 0x0020 && zk::WILD_SORT_NOCASE == 0x0040 && zk::WILD_SORT_DIRSFIRST == 0x0080);
static_assert(zk::WILD_NOSORT == 0x0100 && zk::WILD_NOCASE == 0x0400 && zk::WILD_LSTAT == 0x1000);
static_assert(zk::SHELL_KEEP_BLANKS == 0x0200);

// The records, their field types and their field order.
static_assert(std::is_same_v<decltype(zk::DSTR::dl_buf), unsigned char*>);
static_assert(std::is_same_v<decltype(zk::DSTR::dl_size), int32_t>);
static_assert(std::is_same_v<decltype(zk::DSTR::dl_len), int32_t>);
static_assert(offsetof(zk::DSTR, dl_buf) < offsetof(zk::DSTR, dl_size));
static_assert(offsetof(zk::DSTR, dl_size) < offsetof(zk::DSTR, dl_len));
static_assert(std::is_same_v<decltype(zk::GLOB_ENTRY::name), char*>);
static_assert(std::is_same_v<decltype(zk::GLOB_ENTRY::size), int32_t>);
static_assert(std::is_same_v<decltype(zk::GLOB_ENTRY::status), struct stat>);
static_assert(offsetof(zk::GLOB_ENTRY, name) < offsetof(zk::GLOB_ENTRY, size));
static_assert(offsetof(zk::GLOB_ENTRY, size) < offsetof(zk::GLOB_ENTRY, status));
static_assert(std::is_same_v<decltype(zk::QWORD::text), char*>);
static_assert(std::is_same_v<decltype(zk::QWORD::flags), int32_t>);
static_assert(offsetof(zk::QWORD, text) < offsetof(zk::QWORD, flags));
static_assert(std::is_same_v<decltype(zk::EXPANDED_WORD::text), char*>);
static_assert(std::is_same_v<decltype(zk::EXPANDED_WORD::literal), int32_t>);
static_assert(offsetof(zk::EXPANDED_WORD, text) < offsetof(zk::EXPANDED_WORD, literal));
static_assert(std::is_same_v<decltype(zk::BRACE::items), char**>);
static_assert(std::is_same_v<decltype(zk::BRACE::count), int32_t>);
static_assert(std::is_same_v<decltype(zk::BRACE::capacity), int32_t>);
static_assert(offsetof(zk::BRACE, items) < offsetof(zk::BRACE, count));
static_assert(offsetof(zk::BRACE, count) < offsetof(zk::BRACE, capacity));

}  // namespace

int main() {
    // Each reference is read through a volatile pointer, so none can be
    // optimised away before the link.
    size_t linked = 0;
    for (const AnyFunction& function : functions) {
        if (*static_cast<const volatile AnyFunction*>(&function) != nullptr) ++linked;
    }
    for (int* variable : int_variables) static_cast<void>(*static_cast<volatile int*>(variable));
    const volatile uint32_t* table = zk::crc32_table;
    const char* const volatile delimiter = zk::wild_filename_delimiter;
    std::printf("%zu functions, %zu variables\n", linked, std::size(int_variables) + 2);
    return linked == std::size(functions) && table != nullptr && delimiter != nullptr ? 0 : 1;
}
