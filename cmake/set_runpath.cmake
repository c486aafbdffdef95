# cmake -DFILE=<elf> -DRUNPATH=<path> -P set_runpath.cmake
# Sets the RUNPATH of a staged file that has one; an empty RUNPATH removes the
# entry. The build tree's paths must not travel with an installation.
file(READ_ELF "${FILE}" RUNPATH current)
if(current)
  file(RPATH_SET FILE "${FILE}" NEW_RPATH "${RUNPATH}")
endif()
