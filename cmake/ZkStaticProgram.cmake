# zk_link_static_program(TARGET): links an executable that needs no shared
# library and no dynamic loader, so that it starts on any Linux machine of its
# architecture. Libraries that TARGET links by plain name (bz2, not a path to
# a .so) then resolve to their static archives, as do glibc, libstdc++ and
# libgcc. Static-pie where the toolchain links it from objects compiled as
# usual (Debian's compilers make PIE objects), plain static otherwise; unused
# sections are dropped to keep the program small.
#
# Sanitizer and fuzzing builds keep the dynamic link: their runtimes need it.
include_guard(GLOBAL)
include(CheckLinkerFlag)

function(zk_link_static_program target)
  if(ZK_SANITIZE OR ZK_SANITIZE_THREAD OR ZK_FUZZ)
    message(STATUS "${target}: linked dynamically, as the sanitizer runtimes need")
    return()
  endif()
  check_linker_flag(CXX "-static-pie" ZK_LINKER_HAS_STATIC_PIE)
  if(ZK_LINKER_HAS_STATIC_PIE)
    target_link_options(${target} PRIVATE -static-pie)
  else()
    target_link_options(${target} PRIVATE -static)
  endif()
  target_link_options(${target} PRIVATE -Wl,--gc-sections)
endfunction()
