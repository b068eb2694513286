// System shims: the blocked-signal set, system names and the 64-bit calls.
#include <zk/zk.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

#include "support.h"

namespace {

class SignalMaskGuard {
public:
    SignalMaskGuard() { ::sigprocmask(SIG_BLOCK, nullptr, &saved_); }
    ~SignalMaskGuard() { ::sigprocmask(SIG_SETMASK, &saved_, nullptr); }
    SignalMaskGuard(const SignalMaskGuard&) = delete;
    SignalMaskGuard& operator=(const SignalMaskGuard&) = delete;

private:
    sigset_t saved_;
};

sigset_t blocked_now() {
    sigset_t blocked;
    ::sigprocmask(SIG_BLOCK, nullptr, &blocked);
    return blocked;
}

bool is_blocked(int signal_number) {
    const sigset_t blocked = blocked_now();
    return ::sigismember(&blocked, signal_number) == 1;
}

bool same_set(const sigset_t& a, const sigset_t& b) {
    for (int s = 1; s < NSIG; ++s) {
        if (::sigismember(&a, s) != ::sigismember(&b, s)) return false;
    }
    return true;
}

TEST(Signals, HoldAndReleaseChangeOnlyTheirSignal) {
    SignalMaskGuard guard;
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);

    EXPECT_EQ(zk::sighold(SIGUSR1), 0);
    EXPECT_EQ(zk::sighold(SIGUSR2), 0);
    EXPECT_EQ(zk::sighold(31), 0);
    EXPECT_TRUE(is_blocked(SIGUSR1));
    EXPECT_TRUE(is_blocked(SIGUSR2));
    EXPECT_TRUE(is_blocked(31));
    EXPECT_FALSE(is_blocked(SIGHUP));

    EXPECT_EQ(zk::sigrelse(SIGUSR1), 0);
    EXPECT_FALSE(is_blocked(SIGUSR1));
    EXPECT_TRUE(is_blocked(SIGUSR2));
    EXPECT_TRUE(is_blocked(31));
    EXPECT_EQ(zk::sigrelse(SIGUSR1), 0);
    EXPECT_TRUE(is_blocked(SIGUSR2));
}

TEST(Signals, NumbersOutsideOneToThirtyOneAreRefused) {
    SignalMaskGuard guard;
    zk::sighold(SIGUSR2);
    const sigset_t before = blocked_now();
    const int refused[] = {0, 32, 33, -1, 64};
    for (int signal_number : refused) {
        SCOPED_TRACE(signal_number);
        errno = 0;
        EXPECT_EQ(zk::sighold(signal_number), 0);
        EXPECT_EQ(errno, EINVAL);
        errno = 0;
        EXPECT_EQ(zk::sigrelse(signal_number), 0);
        EXPECT_EQ(errno, EINVAL);
        EXPECT_TRUE(same_set(blocked_now(), before));
    }
}

TEST(SystemNames, NodeAndSystemNameFromUname) {
    struct utsname names;
    ASSERT_EQ(::uname(&names), 0);
    char buffer[256];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(zk::get_nodename(buffer), 0);
    EXPECT_STREQ(buffer, names.nodename);
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(zk::get_systemname(buffer), 0);
    EXPECT_STREQ(buffer, names.sysname);

    char host[HOST_NAME_MAX + 1];
    char expected_host[HOST_NAME_MAX + 1];
    ASSERT_EQ(::gethostname(expected_host, sizeof expected_host), 0);
    EXPECT_EQ(zk::get_hostname(host, sizeof host), 0);
    EXPECT_STREQ(host, expected_host);
    EXPECT_EQ(zk::my_gethostid(), ::gethostid());
}

TEST(PassThrough, LargeFileCalls) {
    zktest::TempDir dir;
    const std::string file = dir / "f";
    const std::string link = dir / "l";
    const int fd = zk::open64(file.c_str(), O_RDWR | O_CREAT | O_EXCL, 0640);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::symlink(file.c_str(), link.c_str()), 0);

    // Beyond 32 bits, so a narrowing anywhere would show.
    const int64_t far = int64_t{5} << 30;
    EXPECT_EQ(zk::sys_lseek64(fd, far, SEEK_SET), far);
    ASSERT_EQ(::write(fd, "z", 1), 1);

    struct stat status;
    ASSERT_EQ(zk::fstat64(fd, &status), 0);
    EXPECT_EQ(status.st_size, far + 1);
    ASSERT_EQ(zk::stat64(link.c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    ASSERT_EQ(zk::lstat64(link.c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_EQ(zk::lstat64((dir / "missing").c_str(), &status), -1);
    EXPECT_EQ(zk::sys_lseek64(fd, -1, SEEK_SET), -1);
    ::close(fd);
}

}  // namespace
