# The installer program for aarch64, built beside the native one: this same
# source tree configured a second time with the cross toolchain, the
# installer its only target, linked statically as on this machine. It lands
# in the runtime output directory as zkinstall-aarch64, where zkpack create
# --arch aarch64 finds it, with its debug info beside it.

include(ExternalProject)

set(ZK_CROSS_DIR ${PROJECT_BINARY_DIR}/cross-aarch64)
ExternalProject_Add(zkinstall_aarch64
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${ZK_CROSS_DIR}
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/aarch64-linux-gnu.cmake
    -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
    -DZK_WERROR=${ZK_WERROR}
    -DZK_INSTALLER_ONLY=ON
  BUILD_COMMAND ${CMAKE_COMMAND} --build ${ZK_CROSS_DIR} --target zkinstall
  INSTALL_COMMAND ${CMAKE_COMMAND} -E copy_if_different ${ZK_CROSS_DIR}/bin/zkinstall
                  ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/zkinstall-aarch64
          COMMAND ${CMAKE_COMMAND} -E copy_if_different ${ZK_CROSS_DIR}/bin/zkinstall-aarch64.debug
                  ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}
  # Its sources are this project's: the inner build decides what is stale.
  BUILD_ALWAYS ON)

if(ZK_INSTALL)
  install(PROGRAMS ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/zkinstall-aarch64 DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
