# What the Windows program carries besides its code, made at build time from the sources:
#   zelupdate.ico   the program's icon (16 to 256 pixels) from packaging/zelupdate.svg, by
#                   rsvg-convert (Debian package librsvg2-bin) and icotool (icoutils); in the
#                   program's resources, its window, the task bar and the installer
#   manual.html     the user's manual as Windows users read it, as a page that a browser opens,
#                   by pandoc, beside the program with the manual's pictures: the window's Help
#                   opens it
#   manual.txt      the same as plain text: Help shows it where no browser opens the page
# Without the tools the program builds all the same: it takes the system's program icon, and
# Help says that the manual is missing.
find_program(ZEL_RSVG_CONVERT rsvg-convert)
find_program(ZEL_ICOTOOL icotool)
find_program(ZEL_PANDOC pandoc)

set(ZEL_ICON_FILE "")
if(ZEL_RSVG_CONVERT AND ZEL_ICOTOOL)
  set(ZEL_ICON_FILE ${CMAKE_BINARY_DIR}/zelupdate.ico)
  set(zel_icon_dir ${CMAKE_BINARY_DIR}/icon)
  set(zel_icon_commands COMMAND ${CMAKE_COMMAND} -E make_directory ${zel_icon_dir})
  set(zel_icon_small "")
  foreach(size 16 24 32 48 64)
    list(APPEND zel_icon_commands COMMAND ${ZEL_RSVG_CONVERT} -w ${size} -h ${size}
         -o ${zel_icon_dir}/${size}.png ${CMAKE_SOURCE_DIR}/packaging/zelupdate.svg)
    list(APPEND zel_icon_small ${zel_icon_dir}/${size}.png)
  endforeach()
  # The large picture stays PNG inside the icon file, as Windows Vista and later read it.
  list(APPEND zel_icon_commands COMMAND ${ZEL_RSVG_CONVERT} -w 256 -h 256
       -o ${zel_icon_dir}/256.png ${CMAKE_SOURCE_DIR}/packaging/zelupdate.svg
       COMMAND ${ZEL_ICOTOOL} -c -o ${ZEL_ICON_FILE} ${zel_icon_small} -r ${zel_icon_dir}/256.png)
  add_custom_command(OUTPUT ${ZEL_ICON_FILE} ${zel_icon_commands}
                     DEPENDS ${CMAKE_SOURCE_DIR}/packaging/zelupdate.svg VERBATIM)
  add_custom_target(zel_icon DEPENDS ${ZEL_ICON_FILE})
else()
  message(STATUS "rsvg-convert or icotool not found: zelupdate.exe takes the system's icon")
endif()

# The Windows reading of the manual shows the Windows windows only.
set(ZEL_MANUAL_PICTURES ${CMAKE_SOURCE_DIR}/docs/window-run-win32.png
                        ${CMAKE_SOURCE_DIR}/docs/config-win32.png
                        ${CMAKE_SOURCE_DIR}/docs/window-menu-win32.png)
if(ZEL_PANDOC)
  # The manual as Windows users read it (cmake/manual_for_system.cmake keeps the passages for
  # Windows and drops those for Linux), as a page and as plain text; the text, with Windows
  # line ends, is what Help shows where no browser opens the page, and what Notepad opens.
  # Its tables are laid out for a fixed-width font within 90 columns (the reader "markdown"
  # wraps a wide table's cells where "gfm" would not).
  set(zel_manual_windows ${CMAKE_BINARY_DIR}/manual-windows.md)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/manual.html ${CMAKE_BINARY_DIR}/manual.txt
    COMMAND ${CMAKE_COMMAND} -DSYSTEM=windows -DIN=${CMAKE_SOURCE_DIR}/docs/manual.md
            -DOUT=${zel_manual_windows} -P ${CMAKE_SOURCE_DIR}/cmake/manual_for_system.cmake
    COMMAND ${ZEL_PANDOC} --standalone --metadata title=zelupdate --from gfm --to html5
            -o ${CMAKE_BINARY_DIR}/manual.html ${zel_manual_windows}
    COMMAND ${ZEL_PANDOC} --from markdown-smart+gfm_auto_identifiers --to plain --columns=90
            --eol=crlf -o ${CMAKE_BINARY_DIR}/manual.txt ${zel_manual_windows}
    COMMAND ${CMAKE_COMMAND} -E copy ${ZEL_MANUAL_PICTURES} ${CMAKE_BINARY_DIR}
    DEPENDS ${CMAKE_SOURCE_DIR}/docs/manual.md ${CMAKE_SOURCE_DIR}/cmake/manual_for_system.cmake
            ${ZEL_MANUAL_PICTURES}
    VERBATIM)
  add_custom_target(zel_manual_html ALL DEPENDS ${CMAKE_BINARY_DIR}/manual.html
                                                ${CMAKE_BINARY_DIR}/manual.txt)
else()
  message(STATUS "pandoc not found: no manual.html beside zelupdate.exe")
endif()
