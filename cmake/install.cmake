# Installation and the Debian package: the program, its menu entry and icon, the user's manual
# with its pictures, the manual page, the bash completion, the licence as the package's
# copyright file and the changelogs.
include(GNUInstallDirs)

# Who answers for the package: its control file and its Debian changelog name this one person.
set(ZEL_MAINTAINER "zelupdate developers <zelupdate@users.noreply.github.com>")
# The package's own revision of an upstream version, and the date of its entry in the Debian
# changelog (fixed, so that two builds of one version give one package). When the version
# changes, the entry of the old one moves into packaging/changelog.Debian.in below the first.
set(ZEL_PACKAGE_RELEASE 1)
set(ZEL_PACKAGE_DATE "Mon, 07 Dec 2026 21:30:58 +0000")

set(zel_doc ${CMAKE_INSTALL_DATADIR}/doc/zelupdate)
set(zel_pkg ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${zel_pkg})

# The copyright file in the machine-readable format, its licence text taken from LICENSE:
# every line indented by one blank, an empty line written as " .".
file(READ ${CMAKE_SOURCE_DIR}/LICENSE zel_license)
string(REGEX REPLACE "^.*Copyright \\(c\\) [^\n]*\n\n" "" zel_license_terms "${zel_license}")
string(STRIP "${zel_license_terms}" zel_license_terms)
string(REPLACE "\n\n" "\n.\n" zel_license_terms "${zel_license_terms}")
string(REPLACE "\n" "\n " zel_license_terms "${zel_license_terms}")
configure_file(${CMAKE_SOURCE_DIR}/packaging/copyright.in ${zel_pkg}/copyright @ONLY)
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.Debian.in ${zel_pkg}/changelog.Debian @ONLY)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/LICENSE)

# Manual page and changelogs go into the package compressed, without a name or a time stamp in
# the gzip header, so that the package is the same for the same sources.
set(zel_compressed)
foreach(pair "${CMAKE_SOURCE_DIR}/docs/zelupdate.1|zelupdate.1.gz"
             "${CMAKE_SOURCE_DIR}/CHANGELOG.md|changelog.gz"
             "${zel_pkg}/changelog.Debian|changelog.Debian.gz")
  string(REPLACE "|" ";" pair "${pair}")
  list(GET pair 0 source)
  list(GET pair 1 target)
  add_custom_command(OUTPUT ${zel_pkg}/${target}
                     COMMAND sh -c "gzip -9 -n -c '${source}' > '${zel_pkg}/${target}'"
                     DEPENDS ${source} VERBATIM)
  list(APPEND zel_compressed ${zel_pkg}/${target})
endforeach()
add_custom_target(zel_package_files ALL DEPENDS ${zel_compressed})

install(TARGETS zelupdate RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/zelupdate.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/zelupdate.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${zel_pkg}/zelupdate.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/zelupdate.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME zelupdate)
# The manual beside its pictures, as its links name them; the window shows its own copy.
install(FILES ${ZEL_HELP_DIR}/manual.md ${CMAKE_SOURCE_DIR}/docs/window-run.png
              ${CMAKE_SOURCE_DIR}/docs/config.png ${CMAKE_SOURCE_DIR}/docs/window-run-win32.png
              ${CMAKE_SOURCE_DIR}/docs/window-menu.png ${CMAKE_SOURCE_DIR}/docs/window-menu-win32.png
              ${zel_pkg}/copyright ${zel_pkg}/changelog.gz
              ${zel_pkg}/changelog.Debian.gz
        DESTINATION ${zel_doc})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zelupdate)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZEL_PACKAGE_RELEASE})
set(CPACK_PACKAGE_CONTACT "${ZEL_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${ZEL_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "firmware update of ZEL digital-TV test receivers over RS-232
zelupdate updates the processor firmware and the DSP option firmware of
ZEL digital-TV test receivers over one serial line: it finds the
instrument's serial settings, identifies it, writes the flash programming
job for its hardware and erases, programs and verifies its flash.
.
It works in a desktop window or in the console, updates many instruments
at once, reaches instruments behind RFC 2217 terminal servers, keeps a
service record of every run and has a built-in simulated instrument.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries the program links (Qt, the C++ runtime) become the package's dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window needs a platform plugin of Qt besides its libraries (xcb, wayland).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                                GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_STRIP_FILES ON)
include(CPack)
