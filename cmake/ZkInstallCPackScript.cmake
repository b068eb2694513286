# Run by cpack -G External once it has staged the install() rules (set up by
# ZkInstallCPack). The generator's JSON description is still empty at this
# point in CMake 3.25, so everything comes from the CPACK_* variables.

# zk_add_option(OPTION VARIABLE): OPTION and the variable's value, when it has one.
macro(zk_add_option option variable)
  if(NOT "${${variable}}" STREQUAL "")
    list(APPEND zk_args ${option} "${${variable}}")
  endif()
endmacro()

set(zk_installer "${CPACK_TOPLEVEL_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.run")
set(zk_built "${zk_installer}")
set(zk_args create --quiet -o "${zk_installer}"
  --product "${CPACK_PACKAGE_NAME}" --product-version "${CPACK_PACKAGE_VERSION}")
zk_add_option(--compress CPACK_ZKINSTALL_COMPRESS)
zk_add_option(--default-dir CPACK_ZKINSTALL_DEFAULT_DIR)
zk_add_option(--sign CPACK_ZKINSTALL_SIGN_KEY)
zk_add_option(--password-file CPACK_ZKINSTALL_SIGN_PASSWORD_FILE)
if(NOT "${CPACK_ZKINSTALL_SIGN_KEY}" STREQUAL "")
  list(APPEND zk_built "${zk_installer}.minisig")
endif()
zk_add_option(--welcome CPACK_ZKINSTALL_WELCOME_FILE)

# Each component is staged in a directory of its own and becomes an archive
# record of its own; the installer unpacks them all into the one install
# directory, which stands for the packaging prefix.
if(CPACK_COMPONENTS_ALL AND NOT CPACK_MONOLITHIC_INSTALL)
  list(TRANSFORM CPACK_COMPONENTS_ALL PREPEND "${CPACK_TEMPORARY_DIRECTORY}/" OUTPUT_VARIABLE zk_stages)
else()
  set(zk_stages "${CPACK_TEMPORARY_DIRECTORY}")
endif()
foreach(zk_stage IN LISTS zk_stages)
  # A component with nothing to install has no directory.
  if(IS_DIRECTORY "${zk_stage}${CPACK_PACKAGING_INSTALL_PREFIX}")
    list(APPEND zk_args --tree "${zk_stage}${CPACK_PACKAGING_INSTALL_PREFIX}")
  endif()
endforeach()
zk_add_option(--script CPACK_ZKINSTALL_SETUP_SCRIPT)

execute_process(COMMAND "${CPACK_ZKINSTALL_ZKPACK}" ${zk_args}
  RESULT_VARIABLE zk_status ERROR_VARIABLE zk_error ERROR_STRIP_TRAILING_WHITESPACE)
if(NOT zk_status EQUAL 0)
  # Indented, zkpack's lines are shown as they are rather than rewrapped.
  string(REPLACE "\n" "\n  " zk_error "${zk_error}")
  message(FATAL_ERROR "zkpack could not write ${CPACK_PACKAGE_FILE_NAME}.run (exit status ${zk_status}):\n  ${zk_error}")
endif()
# CPack copies these to the build tree (or cpack -B's directory).
set(CPACK_EXTERNAL_BUILT_PACKAGES ${zk_built})
