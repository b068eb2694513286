# Cross compiling for 32-bit x86 Linux with Debian's cross compiler
# (g++-i686-linux-gnu); libraries come from the i386 multiarch packages
# (libbz2-dev:i386, libzstd-dev:i386, liblzma-dev:i386, libsodium-dev:i386), headers from the shared
# /usr/include.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
# Where the kernel was built or booted without its 32-bit support, tests run
# the programs under qemu-user.
set(ZK_USER_EMULATOR /usr/bin/qemu-i386-static)
