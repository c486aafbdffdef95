# Checks the rule of platform/windows_api.h: no name that a project header
# uses may still be a macro of the system's headers there, or <windows.h>
# would rewrite it in the Windows files alone (PostMessage into PostMessageW,
# WM_CLOSE into a number). The probe tests every such name right after
# windows_api.h, then compiles every header after it. Headers named for
# another system (_posix.h, _linux.h) are that system's alone.
file(GLOB probe_headers ${PROJECT_SOURCE_DIR}/src/*/*.h ${PROJECT_SOURCE_DIR}/sdk/include/wardex/*.h)
list(FILTER probe_headers EXCLUDE REGEX "_internal\\.h$|_posix\\.h$|_linux\\.h$|/windows_api\\.h$")

# The names in the headers' code, without comments, strings and preprocessor lines.
set(probe_names "")
foreach(header IN LISTS probe_headers)
  file(STRINGS ${header} lines)
  foreach(line IN LISTS lines)
    if(line MATCHES "^[ ]*#")
      continue()
    endif()
    string(REGEX REPLACE "//.*$" "" code "${line}")
    string(REGEX REPLACE "\"[^\"]*\"" "" code "${code}")
    string(REGEX MATCHALL "[A-Za-z_][A-Za-z0-9_]*" names "${code}")
    list(APPEND probe_names ${names})
  endforeach()
endforeach()
list(REMOVE_DUPLICATES probe_names)
list(REMOVE_ITEM probe_names and or not xor bitand bitor compl and_eq or_eq not_eq xor_eq)

# The standard library's own macros (UINT64_MAX, errno...) are meant as such.
set(probe_standard ${PROJECT_BINARY_DIR}/windows_header_probe_standard.cc)
file(WRITE ${probe_standard} "#include <cerrno>\n#include <climits>\n#include <cstddef>\n\
#include <cstdint>\n#include <cstdio>\n#include <cstdlib>\n#include <cstring>\n")
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -std=c++20 -dM -E ${probe_standard}
  OUTPUT_VARIABLE standard_macros COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL "#define [A-Za-z_][A-Za-z0-9_]*" standard_macros "${standard_macros}")
string(REPLACE "#define " "" standard_macros "${standard_macros}")
list(REMOVE_ITEM probe_names ${standard_macros} __declspec __stdcall)

set(probe_text "#include \"platform/windows_api.h\"\n")
foreach(name IN LISTS probe_names)
  string(APPEND probe_text "#ifdef ${name}\n#error \"${name}: a name of ours that the system's \
headers define as a macro; #undef it in platform/windows_api.h\"\n#endif\n")
endforeach()
foreach(header IN LISTS probe_headers)
  string(APPEND probe_text "#include \"${header}\"\n")
endforeach()
file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/windows_header_probe.cc CONTENT "${probe_text}")
add_library(windows_header_probe OBJECT ${PROJECT_BINARY_DIR}/windows_header_probe.cc)
target_include_directories(windows_header_probe PRIVATE ${PROJECT_SOURCE_DIR}/src
  ${PROJECT_SOURCE_DIR}/sdk/include)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${probe_headers})
