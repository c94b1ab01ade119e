if(TARROW_SANITIZE)
  string(REPLACE "," ";" _sanitizers "${TARROW_SANITIZE}")
  foreach(_s IN LISTS _sanitizers)
    add_compile_options(-fsanitize=${_s})
    add_link_options(-fsanitize=${_s})
  endforeach()
  add_compile_options(-fno-omit-frame-pointer -fno-sanitize-recover=all)
  # What the sanitizers recommend, and half the compile time of -O2 -g on the large test
  # files: line tables are all a report's stack needs. Later options win over the build
  # type's.
  add_compile_options(-O1 -g1)
  add_link_options(-fno-sanitize-recover=all)
endif()

# GCC's flow analysis sees the sanitizers' instrumentation and reports variables of
# the standard library (<regex>) as maybe uninitialised; the normal build keeps the check.
if(TARROW_SANITIZE AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options(-Wno-maybe-uninitialized)
endif()
