# The Debian package (scripts/package.sh): the four programs in /usr/bin, the Files and Index
# creator libraries in a private folder the programs find through their RUNPATH, the menu entry,
# icon, manual pages and the package's documents. Programs and libraries have their install()
# rules beside their targets; this file holds what belongs to the package as a whole.
include(GNUInstallDirs)

# Where the creator libraries go, and how the programs find them from /usr/bin. Not directly in
# /usr/lib/zelutil: CPack would then call ldconfig for them, which private libraries never need.
set(ZEL_PRIVATE_LIBDIR "lib/zelutil/creators")
set(ZEL_INSTALL_RPATH "\$ORIGIN/../${ZEL_PRIVATE_LIBDIR}")

set(ZEL_PACKAGE_MAINTAINER "ZelUtil maintainers <maintainers@users.noreply.c-seed-87314b55.example>"
  CACHE STRING "The Debian package's maintainer, as Name <address>")

# Manual pages and the changelog carry the version; Debian wants them compressed, without a
# time stamp in the gzip header so that two builds give the same package.
set(ZEL_PACKAGING_OUT "${CMAKE_BINARY_DIR}/packaging")
set(ZEL_MAN_PAGES zelutil zelutil-console zelcheck zel-demostation)
set(ZEL_PACKAGING_FILES)
foreach(page ${ZEL_MAN_PAGES})
  configure_file(${CMAKE_SOURCE_DIR}/packaging/man/${page}.1 ${ZEL_PACKAGING_OUT}/man/${page}.1 @ONLY)
  list(APPEND ZEL_PACKAGING_FILES ${ZEL_PACKAGING_OUT}/man/${page}.1.gz)
endforeach()
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${ZEL_PACKAGING_OUT}/changelog @ONLY)
list(APPEND ZEL_PACKAGING_FILES ${ZEL_PACKAGING_OUT}/changelog.gz)
foreach(gz ${ZEL_PACKAGING_FILES})
  string(REGEX REPLACE "\\.gz$" "" plain "${gz}")
  add_custom_command(OUTPUT ${gz}
    COMMAND gzip -9 -n -c ${plain} > ${gz}
    DEPENDS ${plain}
    COMMENT "Compressing ${plain}"
    VERBATIM)
endforeach()
add_custom_target(zel_packaging_files ALL DEPENDS ${ZEL_PACKAGING_FILES})

foreach(page ${ZEL_MAN_PAGES})
  install(FILES ${ZEL_PACKAGING_OUT}/man/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/packaging/zelutil.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/zelutil.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# The nightly and boot-time check of a till (zelutil-check@USER.timer), installed disabled: no
# maintainer script enables it.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/systemd/zelutil-check@.service
  ${CMAKE_SOURCE_DIR}/packaging/systemd/zelutil-check@.timer
  DESTINATION lib/systemd/system)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/packaging/systemd/zelutil-check DESTINATION lib/zelutil)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${ZEL_PACKAGING_OUT}/changelog.gz
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zelutil)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zelutil)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${ZEL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_VENDOR "ZelUtil")
set(CPACK_PACKAGE_DIRECTORY "${CMAKE_BINARY_DIR}/package")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "repairs the Paradox tables of a ZelPos till under Wine")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "ZelUtil is the repair button of a fuel station's point-of-sale PC that
runs the Windows POS program ZelPos under Wine. It clears the database
engine's stale lock files and checks every Paradox table under its
indexes, rebuilding indexes, replacing tables with new empty ones or
restoring them from the shift backup.
.
The package holds the window (zelutil), the same run for a terminal
(zelutil-console, also with a check that changes nothing), zelcheck,
which tells whether a table is usable and who holds a lock file, and
zel-demostation, which builds a demo station in a new Wine prefix.")
set(CPACK_DEBIAN_FILE_NAME "zelutil_${PROJECT_VERSION}_amd64.deb")
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE amd64)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps finds the package's own creator libraries in the build tree, not in Debian.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${CMAKE_BINARY_DIR}/creators")
# What shlibdeps cannot see: Qt loads its platform plugins (xcb for the window, offscreen for
# the console) at run time, and the window draws with Wine's and Liberation's fonts.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-wine, fonts-liberation")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
