# The two readings of the user's manual: each speaks of its own system only.
# Run as: cmake -DROOT=<source folder> -DWORK=<folder> -P manual_readings.cmake
cmake_minimum_required(VERSION 3.22)
set(failures "")
foreach(system linux windows)
  execute_process(COMMAND ${CMAKE_COMMAND} -DSYSTEM=${system} -DIN=${ROOT}/docs/manual.md
                          -DOUT=${WORK}/manual-${system}.md -P ${ROOT}/cmake/manual_for_system.cmake
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "the ${system} reading of the manual cannot be made")
  endif()
  file(READ ${WORK}/manual-${system}.md text_${system})
endforeach()

# What each reading must say, and what belongs to the other system only.
set(windows_says "%LOCALAPPDATA%\\zelupdate\\history.jsonl" "%LOCALAPPDATA%\\zelupdate\\zelupdate.ini"
    "Ports (COM & LPT)" "Latency Timer (msec)" "zelupdatew.exe" "Ctrl-Break" "command prompt"
    "window-run-win32.png" "config-win32.png")
set(windows_never "/usr/share/doc" "~/.config" "~/.local/state" "/dev/ttyS0" "dialout" "man zelupdate"
    "(right mouse\nbutton)" "<!--" "-->")
set(linux_says "~/.local/state/zelupdate/history.jsonl" "~/.config/zelupdate/zelupdate.ini" "dialout"
    "/usr/share/doc/zelupdate/manual.md" "config.png")
set(linux_never "%LOCALAPPDATA%" "zelupdatew.exe" "Ctrl-Break" "config-win32.png" "<!--" "-->")
foreach(system linux windows)
  foreach(text IN LISTS ${system}_says)
    string(FIND "${text_${system}}" "${text}" at)
    if(at EQUAL -1)
      list(APPEND failures "the ${system} reading does not say '${text}'")
    endif()
  endforeach()
  foreach(text IN LISTS ${system}_never)
    string(FIND "${text_${system}}" "${text}" at)
    if(NOT at EQUAL -1)
      list(APPEND failures "the ${system} reading says '${text}'")
    endif()
  endforeach()
endforeach()
if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "\n  ${text}")
endif()
