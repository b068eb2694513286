# zk_install_man_page(FILE): installs the man page FILE (section 1) with the
# project's version filled in where it says @PROJECT_VERSION@.
include_guard(GLOBAL)

function(zk_install_man_page file)
  get_filename_component(name ${file} NAME)
  configure_file(${file} ${CMAKE_CURRENT_BINARY_DIR}/${name} @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
