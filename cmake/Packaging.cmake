# Packages made with CPack: a Debian package from the Linux build, a tarball
# from the portable Linux build, a ZIP from the Windows build.

set(CPACK_PACKAGE_NAME countdown)
set(CPACK_PACKAGE_VENDOR "countdown developers")
set(CPACK_PACKAGE_CONTACT "countdown developers <maintainers@users.noreply.c-seed-2044bc07.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "write the numbers from 30 down to 1 and wait for a key")
set(CPACK_PACKAGE_DESCRIPTION
    "countdown writes a heading in Vietnamese and the numbers from 30 down to 1\n"
    "on one line, then waits for one key press on the terminal, without echo\n"
    "and without Enter, leaving the terminal as it found it.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Debian wants the manual page compressed and a copyright file and changelog
# beside it; a plain `cmake --install` keeps the page as it is.
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DebianStaging.cmake)
set(CPACK_COUNTDOWN_DEBIAN_DIR ${PROJECT_SOURCE_DIR}/packaging/debian)
set(CPACK_COUNTDOWN_STRIP ${CMAKE_STRIP})

if(WIN32)
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-windows-x86")
elseif(COUNTDOWN_STATIC)
  set(CPACK_PACKAGE_FILE_NAME "${CPACK_PACKAGE_NAME}-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}")
endif()
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)

include(CPack)
