#include "environment_record.h"

#include <zk/base/chk.h>

#include <array>
#include <cstdio>
#include <cstdlib>

#include "fatal.h"
#include "installer_state.h"
#include "package_format.h"
#include "package_info.h"
#include "terminal_text.h"

RecordResult set_env(package_format::PayloadReader& payload) {
    std::array<char, package_format::ENVIRONMENT_BUFFER_SIZE> text;
    const uint32_t length = payload.record().length;
    if (length >= text.size()) {
        std::printf("Environment variable too long in setup file\n");
        fatal_exit();
    }
    if (!payload.read_whole(reinterpret_cast<unsigned char*>(text.data()), length)) {
        std::fprintf(stderr, "Premature EOF reading env var\n");
        fatal_exit();
    }
    // Packages often end the assignment with a NUL of its own; it simply ends the text.
    text[length] = '\0';
    if (!installer_state.stream_only && shows_progress() && !is_package_fact(text.data())) {
        std::printf("%s\n", terminal_text::printable(text.data()).c_str());
    }
    // The environment keeps the string for the rest of the run.
    ::putenv(zk::chk_strdup(text.data()));
    return RecordResult::done;
}
