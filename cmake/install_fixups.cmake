# Runs at install time (install(SCRIPT), after the files are in place) with
# WARDEX_INSTALL_FOLDER, WARDEX_INSTALL_BINDIR, WARDEX_INSTALL_CONFIG_PATH and
# WARDEX_READELF set by cmake/install.cmake.

set(_prefix "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
set(_top "${_prefix}/${WARDEX_INSTALL_FOLDER}")

# The agent finds install.cfg beside itself; the administrator's file is in
# /etc.
file(CREATE_LINK "${WARDEX_INSTALL_CONFIG_PATH}" "${_top}/install.cfg" SYMBOLIC)

# The programs on the PATH: links, so that each still finds its installation
# folder through /proc/self/exe.
file(MAKE_DIRECTORY "${_prefix}/${WARDEX_INSTALL_BINDIR}")
foreach(_tool wardex wardex-ipc wardex-reg wardex-sign)
  file(CREATE_LINK "../${WARDEX_INSTALL_FOLDER}/${_tool}" "${_prefix}/${WARDEX_INSTALL_BINDIR}/${_tool}"
       SYMBOLIC)
endforeach()

# The linked libraries sit at the top of the installation folder: every
# program and library that has a RUNPATH gets the one that points there from
# its own folder, whatever the build wrote (no build folder may remain in it).
file(GLOB_RECURSE _files LIST_DIRECTORIES false "${_top}/*")
foreach(_file ${_files})
  if(IS_SYMLINK "${_file}")
    continue()
  endif()
  execute_process(COMMAND "${WARDEX_READELF}" -d "${_file}" OUTPUT_VARIABLE _dynamic ERROR_QUIET)
  if(NOT _dynamic MATCHES "\\((RUNPATH|RPATH)\\)")
    continue()
  endif()
  get_filename_component(_folder "${_file}" DIRECTORY)
  file(RELATIVE_PATH _up "${_folder}" "${_top}")
  string(REGEX REPLACE "/$" "" _up "${_up}")
  if(_up STREQUAL "")
    set(_runpath "$ORIGIN")
  else()
    set(_runpath "$ORIGIN/${_up}")
  endif()
  file(RPATH_SET FILE "${_file}" NEW_RPATH "${_runpath}")
endforeach()
