# zk_cross_installer(ARCH TOOLCHAIN): the installer program for another
# processor, built beside the native one: this same source tree configured a
# second time with the cross toolchain, the installer its only target,
# linked statically as on this machine. It lands as zkinstall-ARCH among the
# native one's, where zkpack create --arch ARCH finds it, with its debug
# info beside it. The target is zkinstall_ARCH.

include(ExternalProject)

function(zk_cross_installer arch toolchain)
  set(cross_dir ${PROJECT_BINARY_DIR}/cross-${arch})
  set(program zkinstall-${arch})
  get_filename_component(built ${cross_dir}/bin/${ZK_STUB_DIR_FROM_BIN}/${program} ABSOLUTE)
  ExternalProject_Add(zkinstall_${arch}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${cross_dir}
    CMAKE_ARGS
      -DCMAKE_TOOLCHAIN_FILE=${toolchain}
      -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
      -DCMAKE_INSTALL_BINDIR=${CMAKE_INSTALL_BINDIR}
      -DCMAKE_INSTALL_LIBDIR=${CMAKE_INSTALL_LIBDIR}
      -DZK_WERROR=${ZK_WERROR}
      -DZK_INSTALLER_ONLY=ON
    BUILD_COMMAND ${CMAKE_COMMAND} --build ${cross_dir} --target zkinstall
    INSTALL_COMMAND ${CMAKE_COMMAND} -E copy_if_different ${built} ${built}.debug
                    ${ZK_STUB_OUTPUT_DIRECTORY}
    # Its sources are this project's: the inner build decides what is stale.
    BUILD_ALWAYS ON)

  if(ZK_INSTALL)
    install(PROGRAMS ${ZK_STUB_OUTPUT_DIRECTORY}/${program} DESTINATION ${ZK_STUB_INSTALL_DIR})
  endif()
endfunction()
