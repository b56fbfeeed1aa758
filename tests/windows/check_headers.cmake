# Checks from the file alone that countdown.exe is a 32-bit console program
# that needs nothing beyond what every Windows machine has, and that it says
# what it is in a version resource.
# Usage: cmake -DOBJDUMP=... -DPROGRAM=... -DVERSION=... -P check_headers.cmake

execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE headers RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${PROGRAM} failed: ${result}")
endif()

set(failures "")
foreach(expected
    "file format pei-i386"
    "Magic[ \t]+010b[ \t]+\\(PE32\\)"
    "Subsystem[ \t]+00000003[ \t]+\\(Windows CUI\\)")
  if(NOT headers MATCHES "${expected}")
    string(APPEND failures "  no match for: ${expected}\n")
  endif()
endforeach()

string(REGEX MATCHALL "DLL Name: [^\n]+" dlls "${headers}")
if(NOT dlls STREQUAL "DLL Name: KERNEL32.dll;DLL Name: msvcrt.dll")
  string(APPEND failures "  imports from: ${dlls}\n")
endif()

# The console's routines from KERNEL32.dll, the runtime's own from msvcrt.dll,
# imported by name.
string(REGEX REPLACE ".*DLL Name: msvcrt.dll" "" imports_from_msvcrt "${headers}")
string(REGEX REPLACE ".*DLL Name: KERNEL32.dll(.*)DLL Name: msvcrt.dll.*" "\\1" imports_from_KERNEL32 "${headers}")
foreach(dll_routine IN ITEMS KERNEL32:ReadConsoleInputW KERNEL32:GetConsoleWindow KERNEL32:SetConsoleMode
                             msvcrt:puts msvcrt:vfprintf msvcrt:fflush)
  string(REPLACE ":" ";" dll_routine ${dll_routine})
  list(GET dll_routine 0 dll)
  list(GET dll_routine 1 routine)
  if(NOT imports_from_${dll} MATCHES "[ \t]${routine}\n")
    string(APPEND failures "  ${routine} is not imported from ${dll}.dll\n")
  endif()
endforeach()


# The version resource's strings, in the UTF-16 that Windows keeps them in.
file(READ ${PROGRAM} program_bytes HEX)
foreach(text "VS_VERSION_INFO" "OriginalFilename" "countdown.exe" "${VERSION}" "The countdown developers")
  string(HEX "${text}" ascii)
  string(REGEX REPLACE "(..)" "\\100" utf16 "${ascii}")
  string(FIND "${program_bytes}" "${utf16}" at)
  if(at EQUAL -1)
    string(APPEND failures "  no \"${text}\" in the version resource\n")
  endif()
endforeach()

if(failures)
  message(FATAL_ERROR "${PROGRAM}:\n${failures}")
endif()
message(STATUS "${PROGRAM}: PE32 i386 console program importing KERNEL32.dll and msvcrt.dll only")
