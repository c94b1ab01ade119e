# Optimised builds, the package's among them, are hardened as Debian hardens its
# packages: source fortification, the strong stack protector, full RELRO with immediate
# binding, and position-independent executables. The flags are Debian's own, asked of
# dpkg-buildflags, so they follow what the distribution uses; the build type keeps
# choosing the optimisation and debug information (dpkg-buildflags' -g -O2 is stripped).
# Sanitized and fuzzing builds stay as they are: their runtimes replace the same checks.
# Unoptimised builds too: fortification needs the optimiser. Asked at every configure,
# not cached, so that a build folder switched to Debug is not left with the flags.
option(TARROW_HARDENING "Harden optimised builds with Debian's flags (dpkg-buildflags)" ON)
if(TARROW_HARDENING AND NOT TARROW_SANITIZE AND NOT TARROW_BUILD_FUZZ
   AND CMAKE_BUILD_TYPE MATCHES "^(Release|RelWithDebInfo|MinSizeRel)$")
  set(_tarrow_harden ON)
else()
  set(_tarrow_harden OFF)
endif()

# Position-independent code everywhere, so executables link as PIE also where the
# compiler does not default to it (Debian's GCC does; dpkg-buildflags then adds nothing).
include(CheckPIESupported)
check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

if(_tarrow_harden)
  find_program(TARROW_DPKG_BUILDFLAGS dpkg-buildflags)
  if(NOT TARROW_DPKG_BUILDFLAGS)
    message(FATAL_ERROR "TARROW_HARDENING needs dpkg-buildflags (package dpkg-dev); "
                        "configure with -DTARROW_HARDENING=OFF to build without it")
  endif()
  # DEB_BUILD_OPTIONS (noopt, ...) speaks to the optimisation, which is not taken from here.
  foreach(_var CPPFLAGS CXXFLAGS CFLAGS LDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env --unset=DEB_BUILD_OPTIONS
              "DEB_BUILD_MAINT_OPTIONS=hardening=+all reproducible=-all"
              "DEB_${_var}_MAINT_STRIP=-g -O2" ${TARROW_DPKG_BUILDFLAGS} --get ${_var}
      OUTPUT_VARIABLE _flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(_flags UNIX_COMMAND "${_flags}")
    set(TARROW_HARDENING_${_var} ${_flags})
  endforeach()
  list(JOIN TARROW_HARDENING_CXXFLAGS " " _compiled)
  list(JOIN TARROW_HARDENING_LDFLAGS " " _linked)
  message(STATUS "Hardening: ${TARROW_HARDENING_CPPFLAGS} ${_compiled}, linked with ${_linked}")
  add_compile_options(${TARROW_HARDENING_CPPFLAGS})
  foreach(_lang CXX C)
    foreach(_flag IN LISTS TARROW_HARDENING_${_lang}FLAGS)
      add_compile_options("$<$<COMPILE_LANGUAGE:${_lang}>:${_flag}>")
    endforeach()
  endforeach()
  add_link_options(${TARROW_HARDENING_LDFLAGS})
endif()
