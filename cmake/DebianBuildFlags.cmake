# The compiler and linker flags that Debian's own packages are built with,
# hardening included (fortify, stack protector, PIE, RELRO and BIND_NOW), as
# dpkg-buildflags reports them for this source tree and the architecture
# built for: a cross build's flags are those of its target.

find_program(DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
set(host_architecture)
if(CMAKE_CROSSCOMPILING)
  # The cross toolchain's target, by its Debian name.
  set(host_architecture DEB_HOST_ARCH=${COUNTDOWN_ARCH})
endif()

function(countdown_dpkg_buildflags variable result)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all ${host_architecture}
                          ${DPKG_BUILDFLAGS} --get ${variable}
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
                  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE
                  RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "dpkg-buildflags --get ${variable} failed: ${status}")
  endif()
  set(${result} "${flags}" PARENT_SCOPE)
endfunction()

countdown_dpkg_buildflags(CPPFLAGS cppflags)
countdown_dpkg_buildflags(CXXFLAGS cxxflags)
countdown_dpkg_buildflags(LDFLAGS ldflags)
string(APPEND CMAKE_CXX_FLAGS " ${cppflags} ${cxxflags}")
string(APPEND CMAKE_EXE_LINKER_FLAGS " ${ldflags}")
message(STATUS "Debian build flags: ${cppflags} ${cxxflags} ${ldflags}")
