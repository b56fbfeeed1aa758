# Cross build for Linux on another processor: COUNTDOWN_ARCH names it as
# Debian does (arm64, armel, ...), and the table of processors beside this
# file gives the GNU triplet of Debian's cross compiler for it (the package
# g++-TRIPLET). The programs built here run on the build machine through
# qemu-user, which binfmt_misc hands them to.

include(${CMAKE_CURRENT_LIST_DIR}/Architectures.cmake)
countdown_read_architectures()
if(NOT COUNTDOWN_ARCH IN_LIST COUNTDOWN_ARCHITECTURES)
  list(JOIN COUNTDOWN_ARCHITECTURES ", " known)
  message(FATAL_ERROR "COUNTDOWN_ARCH is '${COUNTDOWN_ARCH}': give one of the architectures of"
                      " ${COUNTDOWN_ARCHITECTURE_TABLE}: ${known}")
endif()
# The checks that CMake compiles in a project of their own need it too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES COUNTDOWN_ARCH)
set(triplet ${COUNTDOWN_ARCH_${COUNTDOWN_ARCH}_TRIPLET})

set(CMAKE_SYSTEM_NAME Linux)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR "${triplet}")

set(CMAKE_C_COMPILER ${triplet}-gcc)
set(CMAKE_CXX_COMPILER ${triplet}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
