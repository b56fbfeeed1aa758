# Options shared by the program and everything built from its sources.

if(COUNTDOWN_SANITIZE)
  # Sanitizers for every target, the program included, so that the tests that
  # run the program run the instrumented one.
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

function(countdown_compiler_options target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  elseif(MSVC)
    target_compile_options(${target} PRIVATE /W4)
  endif()
  if(MINGW)
    # The runtime's own printf and puts, not MinGW's replacements, and no
    # runtime DLL beside the program but the system's msvcrt.dll.
    target_compile_definitions(${target} PRIVATE __USE_MINGW_ANSI_STDIO=0)
    target_link_options(${target} PRIVATE -static)
  endif()
endfunction()
