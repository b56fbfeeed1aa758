# Reads the table of processors, architectures.txt beside this file. Sets
# COUNTDOWN_NATIVE_ARCHITECTURE (the build machine's own), COUNTDOWN_ARCHITECTURES
# (the Debian names of the others, in the table's order) and, for every
# architecture ARCH, its columns: COUNTDOWN_ARCH_<ARCH>_TRIPLET, _QEMU,
# _QEMU_CPU, _TARBALL and _FILE_SAYS.
set(COUNTDOWN_ARCHITECTURE_TABLE ${CMAKE_CURRENT_LIST_DIR}/architectures.txt)

function(countdown_read_architectures)
  file(STRINGS ${COUNTDOWN_ARCHITECTURE_TABLE} lines REGEX "^[^#]")
  set(fields TRIPLET QEMU QEMU_CPU TARBALL FILE_SAYS)
  set(cross)
  foreach(line IN LISTS lines)
    string(REPLACE "|" ";" columns "${line}")
    list(TRANSFORM columns STRIP)
    list(LENGTH columns count)
    if(NOT count EQUAL 6)
      message(FATAL_ERROR "${COUNTDOWN_ARCHITECTURE_TABLE}: a line of ${count} columns, not 6: ${line}")
    endif()
    list(POP_FRONT columns arch)
    foreach(field value IN ZIP_LISTS fields columns)
      set(COUNTDOWN_ARCH_${arch}_${field} "${value}" PARENT_SCOPE)
    endforeach()
    list(GET columns 1 qemu)
    if(qemu STREQUAL "-")
      set(COUNTDOWN_NATIVE_ARCHITECTURE ${arch} PARENT_SCOPE)
    else()
      list(APPEND cross ${arch})
    endif()
  endforeach()
  set(COUNTDOWN_ARCHITECTURES ${cross} PARENT_SCOPE)
endfunction()

# Sets `result` to whether binfmt_misc hands this kernel the programs of qemu's
# processor `qemu` to run under qemu-user: an enabled entry qemu-<qemu>.
function(countdown_handed_to_qemu qemu result)
  set(handler /proc/sys/fs/binfmt_misc/qemu-${qemu})
  set(handed OFF)
  if(EXISTS ${handler})
    file(STRINGS ${handler} state LIMIT_COUNT 1)
    if(state STREQUAL "enabled")
      set(handed ON)
    endif()
  endif()
  set(${result} ${handed} PARENT_SCOPE)
endfunction()
