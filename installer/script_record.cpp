#include "script_record.h"

#include <unistd.h>

#include <zk/base/chk.h>
#include <zk/file/filename.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fatal.h"
#include "installer_state.h"
#include "shell_command.h"
#include "temp_file.h"

namespace {

constexpr size_t SCRIPT_BUFFER_SIZE = 2048;

// The script being unpacked and the bytes not yet written to it.
struct ScriptOutput {
    FILE* script_file;
    std::array<unsigned char, SCRIPT_BUFFER_SIZE> script_buf;
    int32_t script_fill;
};

bool flush_script_buf(ScriptOutput& output) {
    if (std::fwrite(output.script_buf.data(), static_cast<size_t>(output.script_fill), 1, output.script_file) != 1) {
        std::fprintf(stderr, "zkinstall: error writing to output stream\n");
        return false;
    }
    output.script_fill = 0;
    return true;
}

// The environment keeps the string for the rest of the run; each script
// record adds a fresh one.
void set_install_root() {
    const char* root = installer_state.install_dir != nullptr ? installer_state.install_dir : zk::get_cwd();
    const size_t size = std::strlen(root) + 32;
    auto* assignment = static_cast<char*>(zk::chk_alloc(size));
    if (assignment == nullptr) return;  // the allocator has said so
    std::snprintf(assignment, size, "INSTALL_ROOT=%s", root);
    ::putenv(assignment);
}

// Mode 0666 before the file-creation mask, as fopen would create it.
bool open_script_file(ScriptOutput& output) {
    const int fd = create_temp_file(0666);
    if (fd < 0) return false;
    output.script_file = ::fdopen(fd, "w");
    output.script_fill = 0;
    if (output.script_file == nullptr) ::close(fd);
    return output.script_file != nullptr;
}

// A close that loses buffered bytes leaves the script cut short.
bool close_script_file(ScriptOutput& output) {
    if (std::fclose(output.script_file) == 0) return true;
    std::fprintf(stderr, "zkinstall: error writing to output stream\n");
    return false;
}

[[noreturn]] void script_create_failed() {
    print_temp_path("Error: cannot create script file %s\n");
    fatal_exit();
}

void open_debug_shell() {
    print_temp_path("%s created...waiting\n");
    run_shell_command("sh -i");
}

}  // namespace

int32_t script_write(PumpContext* context, const unsigned char* source, int32_t count) {
    auto& output = session_sink<ScriptOutput>(context);
    while (count > 0) {
        const int32_t n = std::min(static_cast<int32_t>(SCRIPT_BUFFER_SIZE) - output.script_fill, count);
        std::memcpy(output.script_buf.data() + output.script_fill, source, static_cast<size_t>(n));
        output.script_fill += n;
        source += n;
        count -= n;
        if (output.script_fill == static_cast<int32_t>(SCRIPT_BUFFER_SIZE) && !flush_script_buf(output)) return -1;
    }
    if (output.script_fill != 0 && !flush_script_buf(output)) return -1;
    return 0;
}

RecordResult file_run_compressed(package_format::PayloadReader& payload) {
    set_install_root();
    if (installer_state.stream_only) return RecordResult::done;
    TempPath path;
    if (!make_temp_path(path)) script_create_failed();
    if (shows_progress()) print_temp_path("Extract script to %s\n");
    ScriptOutput output;
    if (!open_script_file(output)) script_create_failed();
    PumpSession session{&payload, &output};
    const bool unpacked = bzunzip(&session, payload_read, script_write) == 0;
    const bool closed = close_script_file(output);
    if (installer_state.debug_shell) open_debug_shell();
    if (!unpacked || !closed) return RecordResult::failed;
    return ended_if(!make_temp_file_executable() || !run_temp_file(path.data(), "Setup script"));
}
