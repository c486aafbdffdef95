# The Windows installer, built by makensis from the staged tree (target
# installer, part of all): build/windows/Wardex-<version>-setup.exe. The
# NSIS script is dist/windows/wardex.nsi; the lists of the files it installs
# and removes are made from the stage after each staging.
find_program(WARDEX_MAKENSIS makensis REQUIRED)
set(WARDEX_INSTALLER ${CMAKE_BINARY_DIR}/Wardex-${PROJECT_VERSION}-setup.exe CACHE INTERNAL
    "The Windows installer")
set(_installer_dir ${CMAKE_BINARY_DIR}/installer)
set(_installer_defines -DSTAGE_FILES=${_installer_dir}/install.nsh
    -DUNINSTALL_FILES=${_installer_dir}/uninstall.nsh -DVERSION=${PROJECT_VERSION}
    -DOUTFILE=${WARDEX_INSTALLER})
if(TARGET wardex)
  list(APPEND _installer_defines -DAGENT)
endif()
set(_nsis_script ${PROJECT_SOURCE_DIR}/dist/windows/wardex.nsi)
add_custom_command(OUTPUT ${WARDEX_INSTALLER}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_installer_dir}
  COMMAND ${CMAKE_COMMAND} -DSTAGE=${WARDEX_STAGE_APP} -DOUTPUT=${_installer_dir}
          -P ${PROJECT_SOURCE_DIR}/cmake/installer_files.cmake
  COMMAND ${WARDEX_MAKENSIS} -V2 -NOCD ${_installer_defines} ${_nsis_script}
  DEPENDS ${_wardex_stage_outputs} ${_nsis_script} ${PROJECT_SOURCE_DIR}/cmake/installer_files.cmake
  COMMENT "Building the installer"
  VERBATIM)
add_custom_target(installer ALL DEPENDS ${WARDEX_INSTALLER})
