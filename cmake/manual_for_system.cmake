# The user's manual as the users of one system read it, from docs/manual.md. The manual is
# written for Linux, where it is read as it is on the web, and carries the Windows reading of
# its system-bound passages in HTML comments, which a Markdown reader on the web hides:
#
#   <!-- linux -->                 a passage for Linux alone
#   ...
#   <!-- /linux -->
#   <!-- windows                   a passage for Windows alone
#   ...
#   -->
#
# Each marker stands alone on its line, indented as the passage is. This keeps the passages
# of SYSTEM (linux or windows), drops the others and every marker (the Qt window's Help shows
# what a comment holds), and fails on a marker left open or out of place.
# Run as: cmake -DSYSTEM=windows -DIN=docs/manual.md -DOUT=<file> -P manual_for_system.cmake
cmake_minimum_required(VERSION 3.22)
file(READ ${IN} text)
string(ASCII 1 linux_open)
string(ASCII 2 linux_close)
string(ASCII 3 windows_open)
string(ASCII 4 windows_close)
foreach(char ${linux_open} ${linux_close} ${windows_open} ${windows_close})
  if(text MATCHES "${char}")
    message(FATAL_ERROR "${IN}: a control character of the markers' stands in the text")
  endif()
endforeach()

# Each marker line becomes one character on its line.
string(REGEX REPLACE "(^|\n)[ ]*<!-- linux -->\n" "\\1${linux_open}\n" text "${text}")
string(REGEX REPLACE "(^|\n)[ ]*<!-- /linux -->\n" "\\1${linux_close}\n" text "${text}")
string(REGEX REPLACE "(^|\n)[ ]*<!-- windows\n" "\\1${windows_open}\n" text "${text}")
string(REGEX REPLACE "(^|\n)[ ]*-->\n" "\\1${windows_close}\n" text "${text}")

# Open and close in turn, never one within another.
string(REGEX REPLACE "[^${linux_open}${linux_close}${windows_open}${windows_close}]" "" markers
                     "${text}")
string(REGEX REPLACE "(${linux_open}${linux_close}|${windows_open}${windows_close})" "" unpaired
                     "${markers}")
if(NOT unpaired STREQUAL "")
  message(FATAL_ERROR "${IN}: a passage marker is left open, closed twice or nested")
endif()

if(SYSTEM STREQUAL "windows")
  string(REGEX REPLACE "${linux_open}[^${linux_close}]*${linux_close}\n" "" text "${text}")
  string(REPLACE "${windows_open}\n" "" text "${text}")
  string(REPLACE "${windows_close}\n" "" text "${text}")
elseif(SYSTEM STREQUAL "linux")
  string(REGEX REPLACE "${windows_open}[^${windows_close}]*${windows_close}\n" "" text "${text}")
  string(REPLACE "${linux_open}\n" "" text "${text}")
  string(REPLACE "${linux_close}\n" "" text "${text}")
else()
  message(FATAL_ERROR "SYSTEM is linux or windows, not '${SYSTEM}'")
endif()
if(text MATCHES "<!--|-->")
  message(FATAL_ERROR "${IN}: a comment that is no passage marker (markers stand alone on their line)")
endif()
file(WRITE ${OUT} "${text}")
