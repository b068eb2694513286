# The installer programs for other processors, built beside the native one.
#
# zk_find_cross_toolchain(ARCH LIBRARY_ARCHITECTURE DEBIAN_ARCH): whether
# Debian's cross compiler ARCH-linux-gnu-g++ and the static libraries the
# installer links (from the DEBIAN_ARCH multiarch packages, in
# /usr/lib/LIBRARY_ARCHITECTURE) are there; looked for at each configure, so
# installing them later is enough. If so, ARCH joins ZK_CROSS_ARCHITECTURES
# and ZK_<ARCH>_INSTALLER is ON; if not, configure says what is missing.
# -DZK_CROSS_<ARCH>=OFF leaves it out.
#
# zk_cross_installer(ARCH [LIBRARY_TESTS]): this same source tree configured
# a second time with the toolchain file cmake/ARCH-linux-gnu.cmake, the
# installer its only program, linked statically as on this machine. It
# lands as zkinstall-ARCH among the native one's, where zkpack create --arch
# ARCH finds it, with its debug info beside it. The target is
# zkinstall_ARCH. With LIBRARY_TESTS, the same build makes the library's
# unit tests for ARCH, and the CTest test ARCH.library_tests runs them: only
# for a processor this machine's kernel runs directly.

include(ExternalProject)

function(zk_find_cross_toolchain arch library_architecture debian_arch)
  string(TOUPPER ${arch} upper)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL arch)
    return()
  endif()
  option(ZK_CROSS_${upper} "Also build the installer for ${arch} when its cross compiler and libraries are there" ON)
  if(NOT ZK_CROSS_${upper})
    return()
  endif()
  find_program(ZK_${upper}_CXX ${arch}-linux-gnu-g++)
  set(there ON)
  foreach(lib libbz2.a libzstd.a liblzma.a libsodium.a)
    if(NOT EXISTS /usr/lib/${library_architecture}/${lib})
      set(there OFF)
    endif()
  endforeach()
  if(ZK_${upper}_CXX AND there)
    set(ZK_${upper}_INSTALLER ON PARENT_SCOPE)
    set(ZK_CROSS_ARCHITECTURES ${ZK_CROSS_ARCHITECTURES} ${arch} PARENT_SCOPE)
  else()
    set(ZK_${upper}_INSTALLER OFF PARENT_SCOPE)
    message(STATUS "zkinstall-${arch} skipped: it needs g++-${arch}-linux-gnu, libbz2-dev:${debian_arch}, "
                   "libzstd-dev:${debian_arch}, liblzma-dev:${debian_arch} and libsodium-dev:${debian_arch} "
                   "(scripts/deps.sh installs them)")
  endif()
endfunction()

function(zk_cross_installer arch)
  cmake_parse_arguments(ARG "LIBRARY_TESTS" "" "" ${ARGN})
  if(NOT ZK_BUILD_TESTS)
    set(ARG_LIBRARY_TESTS FALSE)
  endif()
  set(cross_dir ${PROJECT_BINARY_DIR}/cross-${arch})
  set(program zkinstall-${arch})
  get_filename_component(built ${cross_dir}/bin/${ZK_STUB_DIR_FROM_BIN}/${program} ABSOLUTE)
  set(targets --target zkinstall)
  if(ARG_LIBRARY_TESTS)
    list(APPEND targets zk_library_tests)
  endif()
  ExternalProject_Add(zkinstall_${arch}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${cross_dir}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/${arch}-linux-gnu.cmake
      -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
      -DCMAKE_INSTALL_BINDIR=${CMAKE_INSTALL_BINDIR}
      -DCMAKE_INSTALL_LIBDIR=${CMAKE_INSTALL_LIBDIR}
      -DZK_WERROR=${ZK_WERROR}
      -DZK_INSTALLER_ONLY=ON
      # Each library compiled as a few sources rather than one per file: a
      # third less time, and the native build still compiles each file
      # alone, which keeps every file's includes honest.
      -DCMAKE_UNITY_BUILD=ON
      -DZK_BUILD_TESTS=${ARG_LIBRARY_TESTS}
    BUILD_COMMAND ${CMAKE_COMMAND} --build ${cross_dir} ${targets}
    INSTALL_COMMAND ${CMAKE_COMMAND} -E copy_if_different ${built} ${built}.debug
                    ${ZK_STUB_OUTPUT_DIRECTORY}
    # Its sources are this project's: the inner build decides what is stale.
    BUILD_ALWAYS ON)

  if(ARG_LIBRARY_TESTS)
    add_test(NAME ${arch}.library_tests COMMAND ${CMAKE_CTEST_COMMAND} --test-dir ${cross_dir} --output-on-failure)
    set_tests_properties(${arch}.library_tests PROPERTIES LABELS unit)
  endif()
  if(ZK_INSTALL)
    install(PROGRAMS ${ZK_STUB_OUTPUT_DIRECTORY}/${program} DESTINATION ${ZK_STUB_INSTALL_DIR})
  endif()
endfunction()
