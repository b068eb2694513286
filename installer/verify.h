// Verification of the package inside the installer's own file: the marker
// and its header, the package length and the whole-file checksum.
#pragma once

#include <cstdint>

// Returns the marker offset. A wrong length or checksum is reported and the
// user may go on with a bare Enter; every other failure ends the process.
// The bytes read are kept in a sealed copy, which becomes
// installer_state.package_fd; `file_size`, the file's size at the start,
// becomes the copy's.
uint32_t verify_package(int fd, uint64_t& file_size);
