# Checks from the file alone that countdown.exe is a console program for its
# processor that needs nothing beyond what every Windows machine has, that it
# carries its application manifest, and that it says what it is in a version
# resource.
# Usage: cmake -DOBJDUMP=... -DPROGRAM=... -DPROCESSOR=i686|x86_64 -DMANIFEST=... -DVERSION=...
#        -P check_headers.cmake

execute_process(COMMAND ${OBJDUMP} -p ${PROGRAM} OUTPUT_VARIABLE headers RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${PROGRAM} failed: ${result}")
endif()

if(PROCESSOR STREQUAL "x86_64")
  set(format "file format pei-x86-64" "Magic[ \t]+020b[ \t]+\\(PE32\\+\\)" "HIGH_ENTROPY_VA")
else()
  set(format "file format pei-i386" "Magic[ \t]+010b[ \t]+\\(PE32\\)")
endif()
set(failures "")
foreach(expected IN LISTS format ITEMS "Subsystem[ \t]+00000003[ \t]+\\(Windows CUI\\)")
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

# The manifest, kept byte for byte as a resource, asks for the caller's rights
# and names Windows 7, 8, 8.1, and 10 and 11 as known.
file(READ ${PROGRAM} program_bytes HEX)
file(READ ${MANIFEST} manifest)
string(HEX "${manifest}" manifest_bytes)
string(FIND "${program_bytes}" "${manifest_bytes}" at)
if(at EQUAL -1)
  string(APPEND failures "  the manifest is not in the program\n")
endif()
foreach(expected IN ITEMS "level=\"asInvoker\"" "35138b9a-5d96-4fbd-8e2d-a2440225f93a"
                          "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38" "1f676c76-80e1-4239-95bb-83d0f6d0da78"
                          "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a")
  string(FIND "${manifest}" "${expected}" at)
  if(at EQUAL -1)
    string(APPEND failures "  the manifest lacks ${expected}\n")
  endif()
endforeach()

# The version resource's strings, in the UTF-16 that Windows keeps them in.
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
message(STATUS "${PROGRAM}: ${PROCESSOR} console program with its manifest, importing KERNEL32.dll and msvcrt.dll only")
