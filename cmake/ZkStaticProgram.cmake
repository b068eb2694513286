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
  zk_split_debug_info(${target})
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

# zk_split_debug_info(TARGET): moves TARGET's debug info to a file beside it,
# named after the program (which the installer programs name their
# processor in), and links the program to it, where gdb
# and addr2line find it. The program is copied into every package, which
# should not carry megabytes of debug info.
#
# Sanitizer builds keep it in the program, compressed: their reports, and
# the leak suppressions that name functions, need the inlined frames it
# describes, also from the program's copy in a package.
function(zk_split_debug_info target)
  if(NOT CMAKE_OBJCOPY)
    message(STATUS "${target}: keeps its debug info, as there is no objcopy")
    return()
  endif()
  set(program $<TARGET_FILE:${target}>)
  if(ZK_SANITIZE OR ZK_SANITIZE_THREAD OR ZK_FUZZ)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_OBJCOPY} --compress-debug-sections=zlib ${program}
      VERBATIM)
    return()
  endif()
  set(debug_name $<TARGET_FILE_NAME:${target}>.debug)
  # --add-gnu-debuglink records the base name of the path it is given, so it
  # runs in the program's directory.
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug ${program} $<TARGET_FILE_DIR:${target}>/${debug_name}
    COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=${debug_name} ${program}
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${target}>
    VERBATIM)
endfunction()
