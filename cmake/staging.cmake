# Stages the demo installation side by side under the build folder:
#   stage/app   the installation tree: the wardex executable, the libraries it
#               links and loads, wardex-ipc, install.cfg, product.cfg, language/*.ini,
#               modules/<Name>/<Name>.so, modules/consolemodule/ConsoleModule.so,
#               modules/consolemodule/wardex-console (the Console process),
#               modules/common/kvl_ipc32.so, the starter stand-in
#               briskostart; every library signed; share/applications/
#               org.wardex.Console.desktop (the Console's application id) and
#               share/icons/hicolor/<size>/apps/wardex.png at the sizes the
#               package installs, which a package puts under /usr/share
#   stage/root  the demo's machine root (WARDEX_ROOT): etc/wardex/trust/ with
#               the test authority (0644), var/lib/wardex/common (1777)
# On Windows stage/app has the same layout with the Windows names (Wardex.exe,
# wardex-ipc.exe, libkaosal.dll, modules/common/kvl_ipc32.dll...), the
# compiler's runtime DLLs beside the programs, and no Console process, starter
# stand-in or desktop files; there is no stage/root, as the machine's root
# store holds the trust anchors. Windows targets that are not built yet are left out.
# Every file is copied by a command that re-runs when its input changes.

set(WARDEX_STAGE_DIR ${CMAKE_BINARY_DIR}/stage CACHE INTERNAL "The staged demo installation")
set(WARDEX_STAGE_APP ${WARDEX_STAGE_DIR}/app)
set(WARDEX_STAGE_ROOT ${WARDEX_STAGE_DIR}/root)
set(_wardex_stage_outputs "")

# _wardex_stage_file(SOURCE DESTINATION [SIGN] [RUNPATH value] [DEPENDS ...]):
# copies SOURCE to stage/app/DESTINATION; RUNPATH (for a built ELF file)
# replaces the build tree's RUNPATH with |value|, or removes it when |value| is
# NONE; SIGN then signs the copy with the test publisher.
macro(_wardex_stage_file source destination)
  cmake_parse_arguments(_STAGE "SIGN" "RUNPATH" "DEPENDS" ${ARGN})
  set(_output ${WARDEX_STAGE_APP}/${destination})
  get_filename_component(_folder ${_output} DIRECTORY)
  set(_runpath_command "")
  if(_STAGE_RUNPATH AND NOT WIN32)
    set(_runpath "${_STAGE_RUNPATH}")
    if(_runpath STREQUAL "NONE")
      set(_runpath "")
    endif()
    set(_runpath_command COMMAND ${CMAKE_COMMAND} -DFILE=${_output} "-DRUNPATH=${_runpath}"
                                 -P ${PROJECT_SOURCE_DIR}/cmake/set_runpath.cmake)
    list(APPEND _STAGE_DEPENDS ${PROJECT_SOURCE_DIR}/cmake/set_runpath.cmake)
  endif()
  set(_sign_command "")
  # Windows files are signed as they are linked, and copies keep their signature.
  if(_STAGE_SIGN AND NOT WIN32)
    # As in wardex_sign_library: a sanitizer build's leak report must not fail the step.
    set(_sign_command COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
                              $<TARGET_FILE:wardex-sign> --key ${WARDEX_PKI_DIR}/publisher.key
                              --cert ${WARDEX_PKI_DIR}/publisher.pem ${_output})
    list(APPEND _STAGE_DEPENDS wardex-sign ${WARDEX_PKI_DIR}/pki.stamp)
  endif()
  add_custom_command(OUTPUT ${_output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_folder}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${_output}
    ${_runpath_command}
    ${_sign_command}
    DEPENDS ${source} ${_STAGE_DEPENDS}
    COMMENT "Staging ${destination}"
    VERBATIM)
  list(APPEND _wardex_stage_outputs ${_output})
endmacro()

# _wardex_stage_target(TARGET DESTINATION [RUNPATH value]): a built target's
# file, DESTINATION with the platform's suffix for the target's type (.so or
# .dll, none or .exe); the target is a dependency, so a relink re-copies it. A
# target that this platform does not build (yet) is left out. The build tree's
# RUNPATH never travels: the tree must work wherever it is installed. Without
# RUNPATH the entry is removed: the libraries the agent loads after the trust
# check are mapped from /proc/self/fd/N, where $ORIGIN names no folder of ours,
# and find libkaosal.so and libcrashlog.so already loaded. Every library is
# signed again after the change.
macro(_wardex_stage_target target destination)
  cmake_parse_arguments(_TARGET "" "RUNPATH" "" ${ARGN})
  if(TARGET ${target})
    if(NOT _TARGET_RUNPATH)
      set(_TARGET_RUNPATH NONE)
    endif()
    get_target_property(_type ${target} TYPE)
    set(_sign "")
    set(_suffix ${CMAKE_EXECUTABLE_SUFFIX})
    if(NOT _type STREQUAL "EXECUTABLE")
      set(_sign SIGN)
      set(_suffix ${CMAKE_SHARED_LIBRARY_SUFFIX})
    endif()
    _wardex_stage_file($<TARGET_FILE:${target}> ${destination}${_suffix} ${_sign}
                       RUNPATH ${_TARGET_RUNPATH} DEPENDS ${target})
  endif()
endmacro()

# The layout below is the installed one (/usr/lib/wardex/ in the package):
# the executables find libkaosal.so and libcrashlog.so beside them ($ORIGIN),
# and libcrashlog.so finds libkaosal.so so too. wardex-ipc beside wardex finds
# the channel in install.cfg and the IPC library in modules/common.
if(WIN32)
  _wardex_stage_target(wardex Wardex)
else()
  _wardex_stage_target(wardex wardex RUNPATH "$ORIGIN")
endif()
_wardex_stage_target(wardex-ipc wardex-ipc RUNPATH "$ORIGIN")
_wardex_stage_target(kaosal libkaosal)
_wardex_stage_target(crashlog libcrashlog RUNPATH "$ORIGIN")
_wardex_stage_target(kpitrack kpitrack)
_wardex_stage_target(velogger VeLogger)
_wardex_stage_target(vestyler VeStyler)
_wardex_stage_target(kvl_ipc32 modules/common/kvl_ipc32)
_wardex_stage_target(ConsoleModule modules/consolemodule/ConsoleModule)
_wardex_stage_target(wardex-console modules/consolemodule/wardex-console)
foreach(module HandsetLinkModule WardexModule SnapCheckModule TurboModule)
  _wardex_stage_target(${module} modules/${module}/${module})
endforeach()
foreach(file install.cfg product.cfg language/Texts.ini language/Texts_de.ini)
  _wardex_stage_file(${PROJECT_SOURCE_DIR}/dist/${file} ${file})
endforeach()
if(WIN32)
  # The compiler's runtime, one copy for the whole process (decision 030).
  foreach(runtime libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                    OUTPUT_VARIABLE _runtime_path OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(_runtime_path ${_runtime_path} REALPATH)
    _wardex_stage_file(${_runtime_path} ${runtime})
  endforeach()
  add_custom_target(stage ALL DEPENDS ${_wardex_stage_outputs})
  return()
endif()
_wardex_stage_file(${PROJECT_SOURCE_DIR}/dist/briskostart briskostart)
_wardex_stage_file(${PROJECT_SOURCE_DIR}/dist/org.wardex.Console.desktop
                   share/applications/org.wardex.Console.desktop)
_wardex_stage_file(${PROJECT_SOURCE_DIR}/dist/icons/wardex.png
                   share/icons/hicolor/32x32/apps/wardex.png)
# The larger sizes, drawn from the same shield, so that search results and
# dialogs are not scaled up from 32 pixels.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
foreach(size 48 64 128 256)
  set(_icon ${WARDEX_STAGE_APP}/share/icons/hicolor/${size}x${size}/apps/wardex.png)
  add_custom_command(OUTPUT ${_icon}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${WARDEX_STAGE_APP}/share/icons/hicolor/${size}x${size}/apps
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/make_tray_icons.py --png ${size} ${_icon}
    DEPENDS ${PROJECT_SOURCE_DIR}/scripts/make_tray_icons.py
    COMMENT "Drawing the ${size}x${size} icon"
    VERBATIM)
  list(APPEND _wardex_stage_outputs ${_icon})
endforeach()

# The machine root: folders with the modes the package would give them.
set(_wardex_trust ${WARDEX_STAGE_ROOT}/etc/wardex/trust)
add_custom_command(OUTPUT ${_wardex_trust}/root-ca.pem
  COMMAND install -d -m 0755 ${WARDEX_STAGE_ROOT} ${WARDEX_STAGE_ROOT}/etc
          ${WARDEX_STAGE_ROOT}/etc/wardex ${_wardex_trust}
          ${WARDEX_STAGE_ROOT}/var ${WARDEX_STAGE_ROOT}/var/lib ${WARDEX_STAGE_ROOT}/var/lib/wardex
  COMMAND install -d -m 1777 ${WARDEX_STAGE_ROOT}/var/lib/wardex/common
  COMMAND install -m 0644 ${WARDEX_PKI_DIR}/root-ca.pem ${_wardex_trust}/root-ca.pem
  DEPENDS ${WARDEX_PKI_DIR}/pki.stamp
  COMMENT "Staging the demo's machine root"
  VERBATIM)
list(APPEND _wardex_stage_outputs ${_wardex_trust}/root-ca.pem)

add_custom_target(stage ALL DEPENDS ${_wardex_stage_outputs})
add_dependencies(stage wardex_test_pki)
