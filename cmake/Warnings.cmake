# Every target of ours gets the same warnings. CI and the README's test command turn
# them into errors (TARROW_WERROR=ON) so they stay clean; a packager's build with
# another compiler or optimisation level is not stopped by a new warning.
option(TARROW_WERROR "Treat compiler warnings as errors" OFF)
add_library(tarrow_warnings INTERFACE)
target_compile_options(tarrow_warnings INTERFACE -Wall -Wextra -Wpedantic)
# Clang checks what each lock guards where the code says it (base/ThreadSafety.h).
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  target_compile_options(tarrow_warnings INTERFACE -Wthread-safety)
endif()
if(TARROW_WERROR)
  target_compile_options(tarrow_warnings INTERFACE -Werror)
endif()
# GCC 12 at -O3 reports overlapping copies inside std::string's operator+ that cannot
# happen (GCC bug 105329, fixed in 13): "x" + std::to_string(i) trips it.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(tarrow_warnings INTERFACE -Wno-restrict)
endif()
