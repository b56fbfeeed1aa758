# Cross build for Linux on another processor, with Debian's cross compiler
# for the GNU triplet in COUNTDOWN_TARGET (g++-aarch64-linux-gnu for
# aarch64-linux-gnu, and so on). The programs built here run on the build
# machine through qemu-user, which binfmt_misc hands them to.

if(NOT COUNTDOWN_TARGET)
  message(FATAL_ERROR "COUNTDOWN_TARGET names no target: give the GNU triplet, such as aarch64-linux-gnu")
endif()
# The checks that CMake compiles in a project of their own need it too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES COUNTDOWN_TARGET)

set(CMAKE_SYSTEM_NAME Linux)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR "${COUNTDOWN_TARGET}")

set(CMAKE_C_COMPILER ${COUNTDOWN_TARGET}-gcc)
set(CMAKE_CXX_COMPILER ${COUNTDOWN_TARGET}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${COUNTDOWN_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
