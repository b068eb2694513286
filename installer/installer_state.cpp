#include "installer_state.h"

InstallerState installer_state;

bool shows_progress() {
    const RunMode mode = installer_state.run_mode;
    return installer_state.quiet == 0 && mode != RunMode::check && mode != RunMode::list && mode != RunMode::info &&
           mode != RunMode::version;
}

bool may_ask() {
    const RunMode mode = installer_state.run_mode;
    return installer_state.assume_yes == 0 && installer_state.target_dir == nullptr && mode != RunMode::check &&
           mode != RunMode::list && mode != RunMode::info;
}
