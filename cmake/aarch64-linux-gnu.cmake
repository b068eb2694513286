# Cross compiling for aarch64 Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu); libraries come from the arm64 multiarch packages
# (libbz2-dev:arm64, libzstd-dev:arm64, liblzma-dev:arm64), headers from the shared /usr/include.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
