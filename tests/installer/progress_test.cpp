#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <zk/base/crc.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "support.h"
#include "verify_internal.h"

namespace {

// Standard error, sent to a file for the guard's lifetime.
class StderrCapture {
public:
    explicit StderrCapture(const std::string& path) : saved_(::dup(2)) {
        std::fflush(stderr);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~StderrCapture() {
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
    }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

private:
    int saved_;
};

// Until the reader has taken everything written so far, or for at most
// ten seconds, so that a reader that stopped early fails the test instead
// of hanging it.
void wait_until_drained(int write_fd) {
    int pending = 0;
    for (int waited = 0; waited < 10000 && ::ioctl(write_fd, FIONREAD, &pending) == 0 && pending > 0; ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// The progress line needs the clock's second to turn during the pass: the
// image arrives through a pipe whose writer pauses after the first third,
// and holds the last third back until the second has been read, as the pass
// reads whatever the pipe holds.
TEST(ChecksumProgress, ReportsRoundedDownShareAfterTheSecondTurns) {
    zktest::TempDir dir;
    const std::string image(3072, 'i');
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    std::thread writer([&] {
        ::write(pipe_fds[1], image.data(), 1024);
        std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        ::write(pipe_fds[1], image.data() + 1024, 1024);
        wait_until_drained(pipe_fds[1]);
        ::write(pipe_fds[1], image.data() + 2048, 1024);
        ::close(pipe_fds[1]);
    });
    std::optional<package_format::Checksum> checksum;
    {
        StderrCapture capture(dir / "err");
        checksum = checksum_program_image(pipe_fds[0], static_cast<uint32_t>(image.size()));
    }
    writer.join();
    ::close(pipe_fds[0]);

    const auto* bytes = reinterpret_cast<const unsigned char*>(image.data());
    EXPECT_EQ(checksum->value(), zk::crc32(bytes, static_cast<int>(image.size())))
        << "the checksum holds the whole image";
    const std::string err = zktest::read_file(dir / "err");
    EXPECT_NE(err.find("(processing .. 66% complete)\n"), std::string::npos) << err;
    // Other turns of the second, before or after the pause, may add lines of the same form.
    for (size_t at = 0; at < err.size(); at = err.find('\n', at) + 1) {
        EXPECT_EQ(err.compare(at, 15, "(processing .. "), 0) << err;
    }
}

}  // namespace
