# Fails when a source file includes a header of a layer above its own, when a front end
# includes anything but the toolkit, the run state and the platform, when Qt appears
# outside the desktop window, or when a POSIX or Linux header appears outside the files that
# speak to the system (so that every other file builds on Windows as it is).
# Run as: cmake -DROOT=<source folder> -P check_layers.cmake
cmake_minimum_required(VERSION 3.22)
set(layers platform ui trace run serial sim flash dsp instrument app frontends cli)
set(frontend_may platform ui run frontends)
set(failures "")

# Headers of POSIX, Linux and Windows, and where they may be included: the platform's files
# of each system, the local backends' folders (with their system's local ports and their
# inventory), and the network backend's socket part (not its codec, which is pure).
set(system_header_regex
    "^#include <((unistd|termios|fcntl|poll|signal|pwd|grp|dirent|netdb|strings|pthread|dlfcn|spawn|pty|sched|libgen|glob|fnmatch|syslog|ifaddrs|windows|winsock2|ws2tcpip|setupapi|io)\\.h|(sys|arpa|netinet|net|linux|asm)/)")
set(system_header_places "^platform/posix/" "^platform/win32/" "^serial/termios/" "^serial/win32/"
    "^serial/rfc2217/" "^frontends/win32/win32_")
set(system_header_pure "^serial/rfc2217/rfc2217_codec\\.")
function(system_header_may name result)
  set(${result} FALSE PARENT_SCOPE)
  foreach(place ${system_header_places})
    if(name MATCHES "${place}" AND NOT name MATCHES "${system_header_pure}")
      set(${result} TRUE PARENT_SCOPE)
    endif()
  endforeach()
endfunction()
foreach(layer ${layers})
  list(FIND layers ${layer} own_rank)
  file(GLOB_RECURSE files ${ROOT}/${layer}/*.h ${ROOT}/${layer}/*.cpp)
  foreach(file ${files})
    file(RELATIVE_PATH name ${ROOT} ${file})
    file(STRINGS ${file} includes REGEX "^#include [\"<]")
    foreach(line ${includes})
      if(line MATCHES "^#include \"([a-z_]+)/")
        set(target ${CMAKE_MATCH_1})
        list(FIND layers ${target} target_rank)
        if(target_rank GREATER own_rank)
          list(APPEND failures "${name} includes ${target}/ from a layer above it")
        elseif(layer STREQUAL "frontends" AND NOT target IN_LIST frontend_may)
          list(APPEND failures "${name}: a front end includes ${target}/")
        endif()
      elseif(line MATCHES "^#include <Q" AND NOT name MATCHES "^frontends/qt/")
        list(APPEND failures "${name} includes Qt outside the desktop window")
      elseif(line MATCHES "${system_header_regex}")
        system_header_may(${name} may)
        if(NOT may)
          string(REGEX REPLACE "^#include " "" header "${line}")
          list(APPEND failures
               "${name} includes the system header ${header}: system calls belong in platform/posix/ or platform/win32/")
        endif()
      endif()
    endforeach()
  endforeach()
endforeach()
if(failures)
  list(JOIN failures "\n" text)
  message(FATAL_ERROR "${text}")
endif()
