// file_banner called in-process, where the installer state can be looked at.
#include <fcntl.h>
#include <unistd.h>

#include <zk/file/filename.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "installer_state.h"
#include "support.h"
#include "welcome_record.h"

namespace {

class WelcomeRecord : public ::testing::Test {
protected:
    // A welcome text record whose payload holds `text` and claims `length`.
    package_format::PayloadReader& payload(const std::string& text, uint32_t length) {
        zktest::write_file(dir / "payload", std::string(package_format::PREFIX_SIZE, 'P') + text);
        fd = ::open((dir / "payload").c_str(), O_RDONLY);
        file = package_format::DescriptorReader(fd);
        reader.emplace(file, package_format::Record{0, 0, length, package_format::KIND_WELCOME});
        return *reader;
    }

    void TearDown() override {
        if (fd >= 0) ::close(fd);
        installer_state.stream_only = 0;
    }

    zktest::TempDir dir;
    int fd = -1;
    package_format::DescriptorReader file{-1};
    std::optional<package_format::PayloadReader> reader;
};

TEST_F(WelcomeRecord, StreamModeReadsTheTextAndChoosesNothing) {
    const std::string text(3000, 'w');
    package_format::PayloadReader& text_record = payload(text, static_cast<uint32_t>(text.size()));
    installer_state.stream_only = 1;
    installer_state.install_dir = nullptr;
    const std::string cwd = zk::get_cwd();

    testing::internal::CaptureStdout();
    EXPECT_EQ(file_banner(text_record), RecordResult::done);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(text_record.remaining(), 0u) << "the whole text is read";
    EXPECT_EQ(installer_state.install_dir, nullptr);
    EXPECT_EQ(zk::get_cwd(), cwd);
}

TEST_F(WelcomeRecord, TextShorterThanItsLengthEndsTheRun) {
    // The first block is whole; the second is one byte short.
    const std::string text(1500, 'w');
    package_format::PayloadReader& text_record = payload(text, 1501);
    installer_state.stream_only = 1;
    EXPECT_EXIT((void)file_banner(text_record), ::testing::ExitedWithCode(1), "^Premature EOF detected\n$");
}

}  // namespace
