# Installation layout and the Debian package.
#
#   bin/                                  trajix, trajix-gui, TrajixBinary (installed by their folders)
#   share/applications/trajix.desktop     the desktop entry
#   share/icons/hicolor/scalable/apps/    the icon
#   share/mime/packages/trajix.xml        the NMEA file type the desktop entry opens
#   share/man/man1/                       manual pages (gzip -9n, as Debian wants them)
#   share/bash-completion/completions/    completion for trajix and trajix-gui
#   share/trajix/examples/                the example route
#   share/trajix/gnss-sdr-gps-l1*.conf    GNSS-SDR configurations for the recordings (tools/)
#   share/doc/trajix/                     copyright and changelog
#
# The programs find the generator and the examples relative to their own folder
# (bin/../share/trajix), so any prefix works.
include(GNUInstallDirs)

set(TRAJIX_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(TRAJIX_GENERATED_DIR ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${TRAJIX_GENERATED_DIR})

install(FILES ${TRAJIX_PACKAGING_DIR}/trajix.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${TRAJIX_PACKAGING_DIR}/trajix.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${TRAJIX_PACKAGING_DIR}/trajix-mime.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages
        RENAME trajix.xml)
install(FILES ${TRAJIX_PACKAGING_DIR}/trajix.bash-completion DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
        RENAME trajix)
# trajix-gui completes through the same file, loaded on demand by its own name.
install(CODE "file(CREATE_LINK trajix \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/bash-completion/completions/trajix-gui\" SYMBOLIC)")
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/trajix/examples
        FILES_MATCHING PATTERN "*.kml" PATTERN "*.kmz" PATTERN "*.gpx" PATTERN "*.txt" PATTERN "*-out.txt" EXCLUDE)

# Manual pages and the changelog carry the project version; both are compressed the
# way Debian installs them (no timestamp in the gzip header, so builds repeat).
find_program(TRAJIX_GZIP gzip REQUIRED)
set(VERSION ${PROJECT_VERSION})
set(DATADIR ${CMAKE_INSTALL_FULL_DATADIR})
set(compressed_pages)
foreach(page trajix.1 trajix-gui.1 TrajixBinary.1)
  configure_file(${PROJECT_SOURCE_DIR}/man/${page} ${TRAJIX_GENERATED_DIR}/${page} @ONLY)
  add_custom_command(OUTPUT ${TRAJIX_GENERATED_DIR}/${page}.gz
                     COMMAND ${TRAJIX_GZIP} -9nkf ${TRAJIX_GENERATED_DIR}/${page}
                     DEPENDS ${TRAJIX_GENERATED_DIR}/${page} ${PROJECT_SOURCE_DIR}/man/${page} VERBATIM)
  list(APPEND compressed_pages ${TRAJIX_GENERATED_DIR}/${page}.gz)
endforeach()
configure_file(${TRAJIX_PACKAGING_DIR}/changelog ${TRAJIX_GENERATED_DIR}/changelog @ONLY)
add_custom_command(OUTPUT ${TRAJIX_GENERATED_DIR}/changelog.gz
                   COMMAND ${TRAJIX_GZIP} -9nkf ${TRAJIX_GENERATED_DIR}/changelog
                   DEPENDS ${TRAJIX_GENERATED_DIR}/changelog VERBATIM)
add_custom_target(trajix_docs ALL DEPENDS ${compressed_pages} ${TRAJIX_GENERATED_DIR}/changelog.gz)
install(FILES ${compressed_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${TRAJIX_PACKAGING_DIR}/copyright ${TRAJIX_GENERATED_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})

# The Debian package (scripts/package.sh): runtime dependencies come from the shared
# libraries the programs link, mapped to Debian package names by dpkg-shlibdeps.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME trajix)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Trajix developers")
set(CPACK_PACKAGE_CONTACT "Trajix developers <dev@trajix.invalid>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://trajix.invalid/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "GPS receiver trajectories as NMEA 0183 files")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Trajix drives a journey described as a path (KML, KMZ, GPX), a script of
motion commands, a data-logger file or a text list of positions under limits
on speed, acceleration and jerk, and writes it as an NMEA 0183 file at 20 Hz
or any other rate. It replays NMEA files in real time to a serial port, a
pseudo-terminal or the network, prepares scenarios for its GPS L1 C/A signal
generator, converts and edits 1-bit signal recordings, and handles GPS weeks
and almanacs. It has a command-line tool and a Qt desktop application.")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
