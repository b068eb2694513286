#include "installer_state.h"

InstallerState installer_state;
