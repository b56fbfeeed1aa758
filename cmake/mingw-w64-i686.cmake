# Cross build for 32-bit Windows (i686) with MinGW-w64, on Debian's
# g++-mingw-w64-i686. The programs built here run on the build machine under
# wine, which CTest puts in front of each test command that runs one of them.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(mingw_prefix i686-w64-mingw32)
set(CMAKE_C_COMPILER ${mingw_prefix}-gcc)
set(CMAKE_CXX_COMPILER ${mingw_prefix}-g++)
set(CMAKE_RC_COMPILER ${mingw_prefix}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(COUNTDOWN_WINE wine)
if(COUNTDOWN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${COUNTDOWN_WINE})
endif()
