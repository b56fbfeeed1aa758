# Run by CPack on the staged files, before it builds a package: for the Debian
# package, strips the program as dh_strip does, compresses the manual page
# and adds the documents Debian requires.

if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()

set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(man "${root}/share/man/man1/countdown.1")
set(doc "${root}/share/doc/countdown")

# gzip -9n: best compression, no name or time stamp, so the package is the
# same from one build to the next.
function(gzip_into source destination)
  execute_process(COMMAND gzip -9n -c "${source}" OUTPUT_FILE "${destination}" RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "gzip ${source}: ${result}")
  endif()
endfunction()

# CPack's strip leaves the compiler's .comment and the .note section behind.
execute_process(COMMAND ${CPACK_COUNTDOWN_STRIP} --remove-section=.comment --remove-section=.note
                        --strip-unneeded "${root}/bin/countdown" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "strip ${root}/bin/countdown: ${result}")
endif()

gzip_into("${man}" "${man}.gz")
file(REMOVE "${man}")
file(MAKE_DIRECTORY "${doc}")
file(COPY "${CPACK_COUNTDOWN_DEBIAN_DIR}/copyright" DESTINATION "${doc}")
gzip_into("${CPACK_COUNTDOWN_DEBIAN_DIR}/changelog" "${doc}/changelog.gz")
