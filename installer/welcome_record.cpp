#include "welcome_record.h"

#include <sys/stat.h>
#include <unistd.h>

#include <zk/base/chk.h>
#include <zk/file/dirtree.h>
#include <zk/file/filename.h>
#include <zk/wild/simplify.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fatal.h"
#include "installer_state.h"

namespace {

constexpr size_t BLOCK_SIZE = 1024;
constexpr int WRAP_WIDTH = 75;
constexpr char DEFAULT_INSTALL_DIR[] = "/usr/local/zelkor";
constexpr int INSTALL_DIR_MODE = 0755;

constexpr int DIRECTORY_REPLY_LIMIT = 1023;  // fgets keeps at most 1022 characters of the line

bool is_space(unsigned char byte) { return std::isspace(byte) != 0; }

// A word is measured only as far as the block it starts in goes.
int word_length(const unsigned char* word, const unsigned char* block_end) {
    return static_cast<int>(std::find_if(word, block_end, is_space) - word);
}

// Writes one block, breaking the line before a word that would pass the wrap
// width. A word too long for any line is written whole where it starts a
// line, so the text goes on.
void write_wrapped(const unsigned char* block, size_t size, int& column) {
    for (size_t at = 0; at < size; ++at) {
        const unsigned char byte = block[at];
        const bool starts_word = at > 0 && !is_space(byte) && is_space(block[at - 1]);
        if (starts_word && column != 0 && column + word_length(block + at, block + size) > WRAP_WIDTH) {
            std::putchar('\n');
            column = 0;
        }
        std::putchar(byte);
        column = byte == '\n' ? 0 : column + 1;
    }
}

}  // namespace

void show_text(package_format::PayloadReader& payload, bool shown) {
    std::array<unsigned char, BLOCK_SIZE> block;
    uint64_t length = payload.remaining();
    int column = 0;
    while (length != 0) {
        const size_t size = static_cast<size_t>(std::min<uint64_t>(length, block.size()));
        if (!payload.read_whole(block.data(), size)) {
            std::fprintf(stderr, "Premature EOF detected\n");
            fatal_exit();
        }
        if (shown) write_wrapped(block.data(), size, column);
        length -= size;
    }
    std::fflush(stdout);
}

bool read_reply(Reply& reply, int limit) {
    std::fflush(stdout);
    if (std::fgets(reply.data(), limit, stdin) == nullptr) return false;
    if (std::strchr(reply.data(), '\n') == nullptr) {
        for (int c = std::getchar(); c != EOF && c != '\n';) c = std::getchar();
    }
    return true;
}

namespace {

// Prints the question; returns whether the reply is to be read. Under --yes
// the default answer follows as if typed (nothing at all under --quiet) and
// nothing is read.
bool pose(const char* question, const char* value, const char* default_answer) {
    if (installer_state.assume_yes && !shows_progress()) return false;
    std::printf(question, value);
    if (!installer_state.assume_yes) return true;
    std::printf("%s\n", default_answer);
    return false;
}

// The typed directory, trailing line feed removed, or the default for an
// empty line or end of input. Blanks and carriage returns are kept.
char* ask_install_dir() {
    const char* directory = default_install_dir();
    Reply reply;
    if (pose("Directory where to install software [%s]: ", directory, directory) &&
        read_reply(reply, DIRECTORY_REPLY_LIMIT) && reply[0] != '\0' && reply[0] != '\n') {
        reply[std::strcspn(reply.data(), "\n")] = '\0';
        directory = reply.data();
    }
    return zk::simplify_and_expand_filename(directory);
}

// Names that simplification leaves relative ("|x", or "~/x" when there is no
// home directory) are taken from the directory the installer started in, so
// that install_dir still names the directory once we are inside it.
char* make_absolute(char* directory) {
    if (directory == nullptr || directory[0] == '\0' || zk::is_absolute(directory)) return directory;
    const char* cwd = zk::get_cwd();
    char* absolute = zk::chk_makestr(cwd, std::strcmp(cwd, "/") == 0 ? "" : "/", directory, nullptr);
    zk::chk_free(directory);
    return absolute;
}

// End of input means yes.
void confirm_creation(const char* directory) {
    Reply reply;
    if (pose("\nThe install directory [%s] does not exist.\nDo you wish to create it [y/n] ? ", directory, "y") &&
        read_reply(reply, static_cast<int>(reply.size())) && reply[0] != 'y' && reply[0] != 'Y') {
        std::printf("\nInstallation aborted. Please try again.\n");
        fatal_exit();
    }
}

[[noreturn]] void directory_failed(const char* what, const char* directory) {
    const int error = errno;
    std::printf("%s       %s\n", what, directory);
    std::fflush(stdout);
    std::fprintf(stderr, "Create failed: %s\n", std::strerror(error));
    fatal_exit();
}

// An empty name fails as mkdir fails it, without the library's own message.
int make_install_dir(const char* directory) {
    if (directory[0] != '\0') return zk::make_directory_tree(directory, INSTALL_DIR_MODE);
    errno = ENOENT;
    return -1;
}

// The directory is made with its missing parents: one named on the command
// line without a question, one typed at the prompt or taken under --yes
// once the user agrees.
void enter_install_dir(char* expanded, bool named) {
    char* directory = make_absolute(expanded);
    if (directory == nullptr) fatal_exit();  // the allocator has said why
    // A second welcome text record replaces the first one's choice.
    zk::chk_free(installer_state.install_dir);
    installer_state.install_dir = directory;
    struct stat status {};
    if (::stat(directory, &status) != 0) {
        if (!named) confirm_creation(directory);
        if (make_install_dir(directory) < 0)
            directory_failed("Error: Failed to create the install directory.\n", directory);
    }
    if (::chdir(directory) != 0) directory_failed("Error: Cannot switch to the install directory.\n", directory);
    zk::get_cwd_changed_directory();
}

}  // namespace

RecordResult file_banner(package_format::PayloadReader& payload) {
    show_text(payload, !installer_state.stream_only && shows_progress());
    // Under --target the directory was entered before the first record.
    if (!installer_state.stream_only && installer_state.target_dir == nullptr) {
        enter_install_dir(ask_install_dir(), false);
    }
    return RecordResult::done;
}

// The package, or the user, may name the product's own default.
const char* default_install_dir() {
    const char* chosen = std::getenv("ZKINSTALL_DEFAULT_DIR");
    return chosen != nullptr && chosen[0] != '\0' ? chosen : DEFAULT_INSTALL_DIR;
}

void enter_named_directory() {
    const char* named =
        installer_state.target_dir != nullptr ? installer_state.target_dir : installer_state.extract_dir;
    if (named != nullptr) enter_install_dir(zk::simplify_and_expand_filename(named), true);
}
