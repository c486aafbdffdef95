# The installed form, laid out after the FHS (`cmake --install` with DESTDIR;
# the Debian package uses it):
#   lib/wardex/          the staged installation tree as it is (same relative
#                        layout, so $ORIGIN RUNPATHs resolve), with wardex-reg
#                        and wardex-sign beside the agent
#   lib/wardex/install.cfg  a link to /etc/wardex/install.cfg, the
#                        administrator's file
#   bin/                 links to the four command-line programs
#   share/applications, share/icons/hicolor  the menu entry (staged) and its
#                        icon (staged at 32x32, drawn here at larger sizes)
#   share/man            the manual pages
# Trust anchors are not installed here: whoever signs the release ships its
# authority (debian/sign-release does).
include(GNUInstallDirs)

# The configuration the installed form ships: the release's, not the demo's.
set(WARDEX_INSTALL_CONFIG ${PROJECT_SOURCE_DIR}/dist/release/install.cfg CACHE FILEPATH
    "The install.cfg that the installed form ships in /etc/wardex")

set(WARDEX_INSTALL_FOLDER lib/wardex)
set(_wardex_sysconf ${CMAKE_INSTALL_FULL_SYSCONFDIR}/wardex)

install(DIRECTORY ${WARDEX_STAGE_APP}/ DESTINATION ${WARDEX_INSTALL_FOLDER}
        USE_SOURCE_PERMISSIONS
        PATTERN install.cfg EXCLUDE
        PATTERN share EXCLUDE)
# The staged desktop entry and 32x32 icon.
install(DIRECTORY ${WARDEX_STAGE_APP}/share/ DESTINATION ${CMAKE_INSTALL_DATADIR})
set_target_properties(wardex-reg wardex-sign PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS wardex-reg wardex-sign DESTINATION ${WARDEX_INSTALL_FOLDER})
install(FILES ${WARDEX_INSTALL_CONFIG} DESTINATION ${_wardex_sysconf} RENAME install.cfg)
# The links and the RUNPATHs of the installed tree (install_fixups.cmake).
find_program(WARDEX_READELF readelf REQUIRED)
install(CODE "
  set(WARDEX_INSTALL_FOLDER \"${WARDEX_INSTALL_FOLDER}\")
  set(WARDEX_INSTALL_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
  set(WARDEX_INSTALL_CONFIG_PATH \"${_wardex_sysconf}/install.cfg\")
  set(WARDEX_READELF \"${WARDEX_READELF}\")
")
install(SCRIPT ${PROJECT_SOURCE_DIR}/cmake/install_fixups.cmake)

install(FILES ${PROJECT_SOURCE_DIR}/docs/man/wardex.1 ${PROJECT_SOURCE_DIR}/docs/man/wardex-ipc.1
              ${PROJECT_SOURCE_DIR}/docs/man/wardex-reg.1 ${PROJECT_SOURCE_DIR}/docs/man/wardex-sign.1
        DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${PROJECT_SOURCE_DIR}/docs/man/wardex.conf.5 DESTINATION ${CMAKE_INSTALL_MANDIR}/man5)

# The icon at the theme's larger sizes, drawn from the same shield.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(_wardex_icons "")
foreach(size 48 64 128 256)
  set(_icon ${CMAKE_BINARY_DIR}/icons/${size}x${size}/apps/wardex.png)
  add_custom_command(OUTPUT ${_icon}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/icons/${size}x${size}/apps
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/scripts/make_tray_icons.py --png ${size} ${_icon}
    DEPENDS ${PROJECT_SOURCE_DIR}/scripts/make_tray_icons.py
    COMMENT "Drawing the ${size}x${size} icon"
    VERBATIM)
  list(APPEND _wardex_icons ${_icon})
endforeach()
add_custom_target(wardex_icons ALL DEPENDS ${_wardex_icons})
install(DIRECTORY ${CMAKE_BINARY_DIR}/icons/ DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
