#include "license_record.h"

#include <cstdio>

#include "fatal.h"
#include "installer_state.h"
#include "welcome_record.h"

namespace {

[[noreturn]] void refuse(const char* message) {
    std::fputs(message, installer_state.stream_only != 0 ? stderr : stdout);
    fatal_exit();
}

}  // namespace

RecordResult file_license(package_format::PayloadReader& payload) {
    const bool may_read = installer_state.assume_yes == 0 && installer_state.stream_only == 0;
    const bool asks = installer_state.accept_license == 0 && may_read;
    // Whoever is asked must be able to read what they accept, --quiet or not.
    show_text(payload, installer_state.stream_only == 0 && (asks || shows_progress()));
    if (installer_state.accept_license != 0) return RecordResult::done;
    if (!asks) refuse("Error: the license must be accepted with --accept\n");
    std::printf("\nDo you accept the license [y/n] ? ");
    Reply reply;
    if (!read_reply(reply, static_cast<int>(reply.size())) || (reply[0] != 'y' && reply[0] != 'Y')) {
        refuse("\nLicense not accepted. Installation aborted.\n");
    }
    return RecordResult::done;
}
