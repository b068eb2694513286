# ZkInstallCPack: cpack -G External writes a zkinstall installer of the
# project's install() rules (every component CPack packs), as
# ${CPACK_PACKAGE_FILE_NAME}.run beside the other packages.
#
#   find_package(zk CONFIG REQUIRED)
#   set(CPACK_GENERATOR External)
#   set(ZKINSTALL_WELCOME_FILE welcome.txt)
#   include(ZkInstallCPack)
#   include(CPack)
#
# The ZKINSTALL_* variables are read here, so they are set before the
# include; all are optional. Relative file names are taken from the current
# source directory.
#   ZKINSTALL_WELCOME_FILE        shown before the directory prompt
#   ZKINSTALL_DEFAULT_DIR         the install directory offered (needs the welcome file)
#   ZKINSTALL_SETUP_SCRIPT        run by the shell once the files are in place,
#                                 with INSTALL_ROOT set to the install directory
#   ZKINSTALL_COMPRESS            bzip2, zstd or xz, optionally with :LEVEL
#   ZKINSTALL_SIGN_KEY            the secret key that signs it, into .run.minisig
#   ZKINSTALL_SIGN_PASSWORD_FILE  the key's password, for keys that have one
# The product's name and version are CPACK_PACKAGE_NAME and CPACK_PACKAGE_VERSION.

if(CPack_CMake_INCLUDED)
  message(FATAL_ERROR "include(ZkInstallCPack) must come before include(CPack), which writes the CPack configuration")
endif()
if(NOT TARGET zk::zkpack)
  message(FATAL_ERROR "ZkInstallCPack needs zkpack, which is not installed with zk (${zk_DIR}): "
                      "install zk built with ZK_BUILD_PROGRAMS=ON")
endif()
if(NOT "${ZKINSTALL_DEFAULT_DIR}" STREQUAL "" AND "${ZKINSTALL_WELCOME_FILE}" STREQUAL "")
  message(FATAL_ERROR "ZKINSTALL_DEFAULT_DIR needs ZKINSTALL_WELCOME_FILE: "
                      "the installer offers the directory at the welcome text's prompt")
endif()

# CPack writes every CPACK_* variable into its configuration, which is all
# that the packing script sees.
get_target_property(CPACK_ZKINSTALL_ZKPACK zk::zkpack LOCATION)
foreach(name IN ITEMS WELCOME_FILE SETUP_SCRIPT SIGN_KEY SIGN_PASSWORD_FILE)
  set(CPACK_ZKINSTALL_${name} "")
  if(NOT "${ZKINSTALL_${name}}" STREQUAL "")
    get_filename_component(CPACK_ZKINSTALL_${name} "${ZKINSTALL_${name}}" ABSOLUTE
                           BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
  endif()
endforeach()
set(CPACK_ZKINSTALL_DEFAULT_DIR "${ZKINSTALL_DEFAULT_DIR}")
set(CPACK_ZKINSTALL_COMPRESS "${ZKINSTALL_COMPRESS}")

set(CPACK_EXTERNAL_ENABLE_STAGING ON)
set(CPACK_EXTERNAL_PACKAGE_SCRIPT "${CMAKE_CURRENT_LIST_DIR}/ZkInstallCPackScript.cmake")
