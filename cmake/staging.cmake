# Stages the demo installation side by side under the build folder:
#   stage/app   the installation tree: the wardex executable, the libraries it
#               links and loads, wardex-ipc, install.cfg, product.cfg, language/*.ini,
#               modules/<Name>/<Name>.so, modules/consolemodule/ConsoleModule.so,
#               modules/consolemodule/wardex-console (the Console process),
#               modules/common/kvl_ipc32.so, the starter stand-in
#               briskostart; every library signed; share/applications/
#               wardex.desktop and share/icons/hicolor/32x32/apps/wardex.png,
#               which a package puts under /usr/share
#   stage/root  the demo's machine root (WARDEX_ROOT): etc/wardex/trust/ with
#               the test authority (0644), var/lib/wardex/common (1777)
# Every file is copied by a command that re-runs when its input changes.

set(WARDEX_STAGE_DIR ${CMAKE_BINARY_DIR}/stage CACHE INTERNAL "The staged demo installation")
set(WARDEX_STAGE_APP ${WARDEX_STAGE_DIR}/app)
set(WARDEX_STAGE_ROOT ${WARDEX_STAGE_DIR}/root)
set(_wardex_stage_outputs "")

# _wardex_stage_file(SOURCE DESTINATION [SIGN] [DEPENDS ...]): copies SOURCE to
# stage/app/DESTINATION; SIGN signs the copy with the test publisher (for the
# linked libraries, whose build output is not signed).
macro(_wardex_stage_file source destination)
  cmake_parse_arguments(_STAGE "SIGN" "" "DEPENDS" ${ARGN})
  set(_output ${WARDEX_STAGE_APP}/${destination})
  get_filename_component(_folder ${_output} DIRECTORY)
  set(_sign_command "")
  if(_STAGE_SIGN)
    # As in wardex_sign_library: a sanitizer build's leak report must not fail the step.
    set(_sign_command COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0
                              $<TARGET_FILE:wardex-sign> --key ${WARDEX_PKI_DIR}/publisher.key
                              --cert ${WARDEX_PKI_DIR}/publisher.pem ${_output})
    list(APPEND _STAGE_DEPENDS wardex-sign ${WARDEX_PKI_DIR}/pki.stamp)
  endif()
  add_custom_command(OUTPUT ${_output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${_folder}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${_output}
    ${_sign_command}
    DEPENDS ${source} ${_STAGE_DEPENDS}
    COMMENT "Staging ${destination}"
    VERBATIM)
  list(APPEND _wardex_stage_outputs ${_output})
endmacro()

# A built target's file; the target is a dependency, so a relink re-copies it.
macro(_wardex_stage_target target destination)
  _wardex_stage_file($<TARGET_FILE:${target}> ${destination} ${ARGN} DEPENDS ${target})
endmacro()

# The executable comes with the agent's own target. wardex-ipc beside it finds
# the channel in install.cfg and the IPC library in modules/common.
if(TARGET wardex)
  _wardex_stage_target(wardex wardex)
endif()
_wardex_stage_target(wardex-ipc wardex-ipc)
_wardex_stage_target(kaosal libkaosal.so SIGN)
_wardex_stage_target(crashlog libcrashlog.so SIGN)
_wardex_stage_target(kpitrack kpitrack.so)
_wardex_stage_target(velogger VeLogger.so)
_wardex_stage_target(vestyler VeStyler.so)
_wardex_stage_target(kvl_ipc32 modules/common/kvl_ipc32.so)
_wardex_stage_target(ConsoleModule modules/consolemodule/ConsoleModule.so)
_wardex_stage_target(wardex-console modules/consolemodule/wardex-console)
foreach(module WardexModule SnapCheckModule TurboModule)
  _wardex_stage_target(${module} modules/${module}/${module}.so)
endforeach()
foreach(file install.cfg product.cfg language/Texts.ini language/Texts_de.ini briskostart)
  _wardex_stage_file(${PROJECT_SOURCE_DIR}/dist/${file} ${file})
endforeach()
_wardex_stage_file(${PROJECT_SOURCE_DIR}/dist/wardex.desktop share/applications/wardex.desktop)
_wardex_stage_file(${PROJECT_SOURCE_DIR}/dist/icons/wardex.png
                   share/icons/hicolor/32x32/apps/wardex.png)

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
