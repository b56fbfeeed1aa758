# Reads the table of processors, architectures.txt beside this file. Sets
# COUNTDOWN_NATIVE_ARCHITECTURE (the build machine's own), COUNTDOWN_ARCHITECTURES
# (the Debian names of the others, in the table's order) and, for every
# architecture ARCH, its columns: COUNTDOWN_ARCH_<ARCH>_TRIPLET, _QEMU,
# _QEMU_CPU, _TARBALL, _C_LIBRARY_PACKAGE, _FILE_SAYS and _PROCESSOR.
set(COUNTDOWN_ARCHITECTURE_TABLE ${CMAKE_CURRENT_LIST_DIR}/architectures.txt)

function(countdown_read_architectures)
  file(STRINGS ${COUNTDOWN_ARCHITECTURE_TABLE} lines REGEX "^[^#]")
  set(fields TRIPLET QEMU QEMU_CPU TARBALL C_LIBRARY_PACKAGE FILE_SAYS PROCESSOR)
  set(cross)
  foreach(line IN LISTS lines)
    string(REPLACE "|" ";" columns "${line}")
    list(TRANSFORM columns STRIP)
    list(LENGTH columns count)
    if(NOT count EQUAL 8)
      message(FATAL_ERROR "${COUNTDOWN_ARCHITECTURE_TABLE}: a line of ${count} columns, not 8: ${line}")
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

# The presets of every architecture but the native one, as JSON, in
# out_var: for ARCH, portable-ARCH (the static program), deb-ARCH (the
# Debian package's program) and ARCH (the native tests run against the
# portable program, under qemu-user, on the table's processor).
function(countdown_architecture_presets out_var)
  countdown_read_architectures()
  set(configure)
  set(build)
  set(test)
  set(workflow)
  foreach(arch IN LISTS COUNTDOWN_ARCHITECTURES)
    set(processor "${COUNTDOWN_ARCH_${arch}_PROCESSOR} (${arch})")
    string(APPEND configure [[
    {
      "name": "portable-@arch@",
      "displayName": "Statically linked, stripped program for Linux on @processor@",
      "inherits": "cross",
      "cacheVariables": {
        "COUNTDOWN_ARCH": "@arch@"
      }
    },
    {
      "name": "deb-@arch@",
      "displayName": "The Debian package's program for @arch@, with Debian's flags for it",
      "inherits": "deb-cross",
      "cacheVariables": {
        "COUNTDOWN_ARCH": "@arch@"
      }
    },
    {
      "name": "@arch@",
      "displayName": "The tests, run natively against the portable-@arch@ program, through qemu-user where the kernel needs it",
      "inherits": "emulated",
      "cacheVariables": {
        "COUNTDOWN_PROGRAMS_FOR": "@arch@"
      }
    },
]])
    foreach(preset IN ITEMS "portable-@arch@" "deb-@arch@" "@arch@")
      string(APPEND build "    {\n      \"name\": \"${preset}\",\n      \"configurePreset\": \"${preset}\"\n    },\n")
    endforeach()
    string(APPEND test "    {\n      \"name\": \"@arch@\",\n      \"configurePreset\": \"@arch@\",\n      \"inherits\": \"emulated\"\n    },\n")
    set(steps)
    foreach(step IN ITEMS configure build test)
      list(APPEND steps "        {\n          \"type\": \"${step}\",\n          \"name\": \"@arch@\"\n        }")
    endforeach()
    list(JOIN steps ",\n" steps)
    string(APPEND workflow "    {\n      \"name\": \"@arch@\",\n      \"steps\": [\n${steps}\n      ]\n    },\n")
    foreach(part IN ITEMS configure build test workflow)
      string(CONFIGURE "${${part}}" ${part} @ONLY)
    endforeach()
  endforeach()
  set(json "{\n  \"version\": 6,\n  \"include\": [\n    \"common.json\"\n  ],\n")
  foreach(part IN ITEMS configure build test workflow)
    # JSON allows no comma after the last entry.
    string(REGEX REPLACE ",\n$" "\n" ${part} "${${part}}")
    string(APPEND json "  \"${part}Presets\": [\n${${part}}  ],\n")
  endforeach()
  string(REGEX REPLACE ",\n$" "\n}\n" json "${json}")
  set(${out_var} "${json}" PARENT_SCOPE)
endfunction()
