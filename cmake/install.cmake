# Installation and the Debian package: the program, its menu entry and icon, and the README
# that the window's Help button opens (share/doc/zelupdate beside bin/).
include(GNUInstallDirs)

install(TARGETS zelupdate RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/zelupdate.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/zelupdate.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${CMAKE_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zelupdate)
# The README's pictures, at the relative place its links name.
install(FILES ${CMAKE_SOURCE_DIR}/docs/window-run.png ${CMAKE_SOURCE_DIR}/docs/config.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/zelupdate/docs)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zelupdate)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "Firmware update of ZEL digital-TV test receivers over RS-232")
set(CPACK_PACKAGE_DESCRIPTION
    "Updates the processor firmware and the DSP option firmware of ZEL test receivers over one \
serial line, in a desktop window or in the console, with a built-in simulated instrument.")
set(CPACK_PACKAGE_CONTACT "zelupdate maintainers <zelupdate@localhost>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The libraries the program links (Qt, the C++ runtime) become the package's dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window needs a platform plugin of Qt besides its libraries (xcb, wayland).
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_STRIP_FILES ON)
include(CPack)
