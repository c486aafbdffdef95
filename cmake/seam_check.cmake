# Keeps the platform seam: a header named for one system (platform/*_posix.h,
# *_linux.h) may be included only by that system's files, those named for it
# or for a library only it has, and by the platform layer's private headers.
# Everything else sees neutral headers alone. Checked at each configure.
file(GLOB_RECURSE seam_files ${PROJECT_SOURCE_DIR}/src/*.h ${PROJECT_SOURCE_DIR}/src/*.cc
     ${PROJECT_SOURCE_DIR}/sdk/*.h)
list(FILTER seam_files EXCLUDE
     REGEX "_(posix|linux|openssl|sqlite|curl|iconv|png)\\.cc$|_(posix|linux|internal)\\.h$")
foreach(file IN LISTS seam_files)
  file(STRINGS ${file} includes REGEX "^#include \"platform/[a-z_]+_(posix|linux)\\.h\"")
  if(includes)
    file(RELATIVE_PATH name ${PROJECT_SOURCE_DIR} ${file})
    string(REPLACE "#include " "" includes "${includes}")
    message(FATAL_ERROR "${name} is neutral but includes ${includes}: "
                        "call the system through a neutral header")
  endif()
endforeach()
