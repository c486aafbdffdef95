# The installed form, laid out after the FHS (`cmake --install` with DESTDIR;
# the Debian package uses it):
#   lib/wardex/          the staged installation tree as it is (same relative
#                        layout, so $ORIGIN RUNPATHs resolve), with wardex-reg
#                        and wardex-sign beside the agent
#   lib/wardex/install.cfg  a link to /etc/wardex/install.cfg, the
#                        administrator's file
#   bin/                 links to the four command-line programs
#   share/applications, share/icons/hicolor  the menu entry and its icon at
#                        every size, as staged
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
# The staged desktop entry and icons.
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
