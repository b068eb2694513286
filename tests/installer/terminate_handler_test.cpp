#include <gtest/gtest.h>

#include "support.h"

#include <exception>
#include <stdexcept>

namespace {

// The installer's own handler, linked into this test in place of the
// runtime's, must still say what was thrown.
TEST(TerminateHandler, NamesTheExceptionItsTextOrItsAbsence) {
    if (zktest::emulated()) GTEST_SKIP() << "qemu-user adds its own line to the output of an abort";
    EXPECT_DEATH(
        {
            try {
                throw std::runtime_error("disk on fire");
            } catch (...) {
                __gnu_cxx::__verbose_terminate_handler();
            }
        },
        "^terminate called after throwing an instance of 'St13runtime_error'\n  what\\(\\):  disk on fire\n$");
    EXPECT_DEATH(
        {
            try {
                throw 7;
            } catch (...) {
                __gnu_cxx::__verbose_terminate_handler();
            }
        },
        "^terminate called after throwing an instance of 'i'\n$");
    EXPECT_DEATH(__gnu_cxx::__verbose_terminate_handler(), "^terminate called without an active exception\n$");
}

}  // namespace
