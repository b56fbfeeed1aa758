# Fails where the README's downloads or BUILDING.md's table of processors
# disagree with the table of processors. Run with
#   cmake -DSOURCE_DIR=<top of the source> -P check_architectures.cmake
cmake_minimum_required(VERSION 3.25)
include(${SOURCE_DIR}/cmake/Architectures.cmake)
countdown_read_architectures()
set(faults)

# What a document names against what the table says it should name, in any
# order.
function(expect_same document found expected)
  list(REMOVE_DUPLICATES found)
  list(SORT found)
  list(SORT expected)
  if(NOT found STREQUAL expected)
    list(JOIN found "\n    " found)
    list(JOIN expected "\n    " expected)
    set(faults ${faults} "${document} names\n    ${found}\n  where the table gives\n    ${expected}" PARENT_SCOPE)
  endif()
endfunction()

# The names that match `pattern` anywhere in the document; placeholders (ARCH,
# CPU) are in capitals and do not match.
function(expect_names document pattern expected)
  file(READ ${SOURCE_DIR}/${document} text)
  string(REGEX MATCHALL "${pattern}" found "${text}")
  expect_same(${document} "${found}" "${expected}")
  set(faults ${faults} PARENT_SCOPE)
endfunction()

set(packages)
set(tarballs)
foreach(arch IN ITEMS ${COUNTDOWN_NATIVE_ARCHITECTURE} ${COUNTDOWN_ARCHITECTURES})
  list(APPEND packages "countdown_VERSION_${arch}.deb")
  list(APPEND tarballs "countdown-VERSION-linux-${COUNTDOWN_ARCH_${arch}_TARBALL}.tar.gz")
endforeach()
expect_names(README.md "countdown_VERSION_[a-z0-9]+\\.deb" "${packages}")
expect_names(README.md "countdown-VERSION-linux-[a-z0-9_]+\\.tar\\.gz" "${tarballs}")

set(rows)
foreach(arch IN LISTS COUNTDOWN_ARCHITECTURES)
  set(cpu ${COUNTDOWN_ARCH_${arch}_QEMU_CPU})
  if(cpu STREQUAL "-")
    set(cpu "qemu's default")
  else()
    set(cpu "`${cpu}`")
  endif()
  list(APPEND rows "| ${arch} | ${COUNTDOWN_ARCH_${arch}_TRIPLET} | `${COUNTDOWN_ARCH_${arch}_TARBALL}` | ${cpu} |")
endforeach()
file(STRINGS ${SOURCE_DIR}/BUILDING.md found REGEX "^\\| [a-z0-9]+ \\| [a-z0-9_]+-linux-")
expect_same("BUILDING.md's table of processors" "${found}" "${rows}")

if(faults)
  list(JOIN faults "\n" faults)
  message(FATAL_ERROR "${faults}")
endif()
