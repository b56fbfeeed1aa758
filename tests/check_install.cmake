# Installs the build into a scratch folder, with both a prefix and DESTDIR, and
# checks that the program and its manual pages, English and Vietnamese, land
# where they belong, each page naming the project's version.
# Usage: cmake -DBUILD_DIR=... -DSCRATCH=... -DVERSION=... -P check_install.cmake

file(REMOVE_RECURSE "${SCRATCH}")
# cmake --install lists what it installed in the build's install manifest:
# the user's own install's list, which uninstalling reads, is put back.
set(manifest "${BUILD_DIR}/install_manifest.txt")
set(users_manifest "${SCRATCH}-users-manifest")
if(EXISTS "${manifest}")
  file(COPY_FILE "${manifest}" "${users_manifest}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${SCRATCH}
                        ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix /opt/countdown
                RESULT_VARIABLE result OUTPUT_QUIET)
if(EXISTS "${users_manifest}")
  file(RENAME "${users_manifest}" "${manifest}")
else()
  file(REMOVE "${manifest}")
endif()
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

file(GLOB_RECURSE installed RELATIVE "${SCRATCH}" "${SCRATCH}/*")
list(SORT installed)
set(expected
    "opt/countdown/bin/countdown;opt/countdown/share/man/man1/countdown.1;opt/countdown/share/man/vi/man1/countdown.1")
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed: ${installed}\nexpected: ${expected}")
endif()
foreach(page IN ITEMS man1 vi/man1)
  file(STRINGS "${SCRATCH}/opt/countdown/share/man/${page}/countdown.1" title REGEX "^\\.TH ")
  if(NOT title MATCHES "\"countdown ${VERSION}\"")
    message(FATAL_ERROR "the ${page} manual page's title does not name version ${VERSION}: ${title}")
  endif()
endforeach()
file(REMOVE_RECURSE "${SCRATCH}")
