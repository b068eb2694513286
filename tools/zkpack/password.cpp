#include "password.h"

#include "io.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <string_view>

namespace zkpack {

namespace {

constexpr size_t PASSWORD_MAX = 1024;
constexpr const char* TERMINAL = "/dev/tty";

// Echo is off from here until the guard goes, whatever ends the reading.
class EchoOff {
public:
    explicit EchoOff(int fd) : fd_(fd) {
        active_ = ::tcgetattr(fd_, &saved_) == 0;
        if (!active_) return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(fd_, TCSAFLUSH, &quiet);
    }
    ~EchoOff() {
        if (active_) ::tcsetattr(fd_, TCSAFLUSH, &saved_);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

void put(int fd, const char* text) {
    for (size_t left = std::strlen(text); left > 0;) {
        const ssize_t n = ::write(fd, text, left);
        if (n <= 0) return;
        text += n;
        left -= static_cast<size_t>(n);
    }
}

// A password ends at its first line feed, carriage return or NUL, as
// minisign reads it.
std::string first_line(std::string_view text) {
    return std::string(text.substr(0, text.find_first_of(std::string_view("\r\n\0", 3))));
}

std::string ask(int tty, const char* prompt) {
    put(tty, prompt);
    std::string line;
    {
        EchoOff echo_off(tty);
        char c;
        while (::read(tty, &c, 1) == 1 && c != '\n') {
            if (line.size() == PASSWORD_MAX) fail(TERMINAL, "password longer than 1024 bytes");
            line += c;
        }
    }
    put(tty, "\n");
    return first_line(line);
}

std::string password_from_file(const std::string& path) {
    const FileDescriptor file = open_for_reading(path);
    std::array<char, PASSWORD_MAX + 1> text{};
    const size_t n = read_at(file.get(), reinterpret_cast<unsigned char*>(text.data()), text.size(), 0, path);
    const std::string line = first_line(std::string_view(text.data(), n));
    if (line.size() > PASSWORD_MAX) fail(path, "password longer than 1024 bytes");
    return line;
}

}  // namespace

std::string read_password(const std::string& password_file, bool confirm) {
    if (!password_file.empty()) return password_from_file(password_file);
    const FileDescriptor tty(::open(TERMINAL, O_RDWR | O_CLOEXEC | O_NOCTTY));
    if (tty.get() < 0) fail(TERMINAL, "no terminal to read the password from (give --password-file FILE)");
    const std::string password = ask(tty.get(), "Password: ");
    if (confirm && ask(tty.get(), "Password (one more time): ") != password) fail(TERMINAL, "the passwords differ");
    return password;
}

}  // namespace zkpack
