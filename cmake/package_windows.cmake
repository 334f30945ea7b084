# The Windows packages, made by the target package_windows in the cross build:
#   zelupdate-VERSION-win64.zip            the console program zelupdate.exe, the window program
#                                           zelupdatew.exe, the user's manual (page with its
#                                           pictures, plain text), the licence and the changelog,
#                                           in one folder
#   zelupdate-VERSION-win64-installer.exe  the same, installed by NSIS (makensis, Debian package nsis)
find_program(ZEL_MAKENSIS makensis)

set(zel_win_name zelupdate-${PROJECT_VERSION}-win64)
set(zel_win_stage ${CMAKE_BINARY_DIR}/packages/${zel_win_name})
set(zel_win_zip ${CMAKE_BINARY_DIR}/packages/${zel_win_name}.zip)
set(zel_win_installer ${CMAKE_BINARY_DIR}/packages/${zel_win_name}-installer.exe)

# Text files with Windows line ends, so that Notepad shows the licence as lines.
set(zel_win_commands
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${zel_win_stage}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${zel_win_stage}
    # The console program and the window program (no console window beside it).
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:zelupdate> ${zel_win_stage}/zelupdate.exe
    COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:zelupdatew> ${zel_win_stage}/zelupdatew.exe
    # Without their debugging information the programs are a few MB instead of some 40.
    COMMAND ${CMAKE_STRIP} --strip-debug ${zel_win_stage}/zelupdate.exe
    COMMAND ${CMAKE_STRIP} --strip-debug ${zel_win_stage}/zelupdatew.exe
    # The manual as Windows users read it: a page that any browser opens (Windows has no
    # viewer for Markdown) with its pictures, and its plain text; and the program's icon for
    # the installer.
    COMMAND ${CMAKE_COMMAND} -E copy ${ZEL_MANUAL_PICTURES} ${CMAKE_BINARY_DIR}/manual.html
            ${CMAKE_BINARY_DIR}/manual.txt ${ZEL_ICON_FILE} ${CMAKE_SOURCE_DIR}/CHANGELOG.md
            ${zel_win_stage}
    COMMAND sh -c "sed 's/$/\\r/' '${CMAKE_SOURCE_DIR}/LICENSE' > '${zel_win_stage}/LICENSE.txt'"
    COMMAND ${CMAKE_COMMAND} -E chdir ${CMAKE_BINARY_DIR}/packages
            ${CMAKE_COMMAND} -E tar cf ${zel_win_zip} --format=zip ${zel_win_name})
set(zel_win_outputs ${zel_win_zip})
if(ZEL_MAKENSIS)
  list(APPEND zel_win_commands
       COMMAND ${ZEL_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} -DSTAGE=${zel_win_stage}
               -DOUTFILE=${zel_win_installer} ${CMAKE_SOURCE_DIR}/packaging/windows/zelupdate.nsi)
  list(APPEND zel_win_outputs ${zel_win_installer})
else()
  message(STATUS "makensis not found: package_windows makes the zip only")
endif()
add_custom_command(
  OUTPUT ${zel_win_outputs}
  ${zel_win_commands}
  DEPENDS zelupdate zelupdatew zel_manual_html ${CMAKE_SOURCE_DIR}/packaging/windows/zelupdate.nsi ${CMAKE_SOURCE_DIR}/LICENSE
          ${CMAKE_SOURCE_DIR}/docs/manual.md ${CMAKE_SOURCE_DIR}/CHANGELOG.md
  VERBATIM)
if(ZEL_PANDOC AND ZEL_ICON_FILE)
  add_custom_target(package_windows DEPENDS ${zel_win_outputs})
else()
  add_custom_target(package_windows
                    COMMAND ${CMAKE_COMMAND} -E echo
                            "package_windows needs pandoc for the manual, rsvg-convert and icotool for the icon (Debian packages pandoc librsvg2-bin icoutils)"
                    COMMAND ${CMAKE_COMMAND} -E false)
endif()
