// file_banner called in-process, where the installer state can be looked at.
#include <fcntl.h>
#include <unistd.h>

#include <zk/base/byteorder.h>
#include <zk/file/filename.h>

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "installer_state.h"
#include "support.h"
#include "welcome_record.h"

namespace {

class WelcomeRecord : public ::testing::Test {
protected:
    // A payload file holding `text`, opened at its start; the prefix claims `length`.
    int payload(const std::string& text, uint32_t length) {
        zktest::write_file(dir / "payload", text);
        zk::LPUT32(prefix.data(), length);
        prefix[4] = 1;
        fd = ::open((dir / "payload").c_str(), O_RDONLY);
        return fd;
    }

    void TearDown() override {
        if (fd >= 0) ::close(fd);
        installer_state.stream_only = 0;
    }

    zktest::TempDir dir;
    std::array<unsigned char, 5> prefix{};
    int fd = -1;
};

TEST_F(WelcomeRecord, StreamModeReadsTheTextAndChoosesNothing) {
    const std::string text(3000, 'w');
    payload(text, static_cast<uint32_t>(text.size()));
    installer_state.stream_only = 1;
    installer_state.install_dir = nullptr;
    const std::string cwd = zk::get_cwd();

    testing::internal::CaptureStdout();
    EXPECT_EQ(file_banner(fd, prefix.data()), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 3000) << "the whole text is read";
    EXPECT_EQ(installer_state.install_dir, nullptr);
    EXPECT_EQ(zk::get_cwd(), cwd);
}

TEST_F(WelcomeRecord, TextShorterThanItsLengthEndsTheRun) {
    // The first block is whole; the second is one byte short.
    const std::string text(1500, 'w');
    payload(text, 1501);
    installer_state.stream_only = 1;
    EXPECT_EXIT(file_banner(fd, prefix.data()), ::testing::ExitedWithCode(1), "^Premature EOF detected\n$");
}

}  // namespace
