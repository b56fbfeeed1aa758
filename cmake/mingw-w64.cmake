# Cross build for Windows with MinGW-w64, on Debian's g++-mingw-w64-i686 (32-bit,
# the default) or g++-mingw-w64-x86-64: COUNTDOWN_WINDOWS_PROCESSOR is i686 or
# x86_64. The programs built here run on the build machine under wine, which
# CTest puts in front of each test command that runs one of them: wine64
# itself for 64-bit programs, which then start in a second, and the wine
# script, which picks the 32-bit loader, for 32-bit ones.

if(NOT COUNTDOWN_WINDOWS_PROCESSOR)
  set(COUNTDOWN_WINDOWS_PROCESSOR i686)
endif()
if(NOT COUNTDOWN_WINDOWS_PROCESSOR MATCHES "^(i686|x86_64)$")
  message(FATAL_ERROR "COUNTDOWN_WINDOWS_PROCESSOR is '${COUNTDOWN_WINDOWS_PROCESSOR}': give i686 or x86_64")
endif()
# The checks that CMake compiles in a project of their own need it too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES COUNTDOWN_WINDOWS_PROCESSOR)

set(CMAKE_SYSTEM_NAME Windows)
if(COUNTDOWN_WINDOWS_PROCESSOR STREQUAL "i686")
  set(CMAKE_SYSTEM_PROCESSOR x86)
else()
  set(CMAKE_SYSTEM_PROCESSOR AMD64)
endif()

set(mingw_prefix ${COUNTDOWN_WINDOWS_PROCESSOR}-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_prefix}-gcc)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++)
set(CMAKE_RC_COMPILER ${mingw_prefix}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

if(COUNTDOWN_WINDOWS_PROCESSOR STREQUAL "x86_64")
  find_program(COUNTDOWN_WINE wine64 PATHS /usr/lib/wine)
else()
  find_program(COUNTDOWN_WINE wine)
endif()
if(COUNTDOWN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${COUNTDOWN_WINE})
endif()
