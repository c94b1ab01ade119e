# Every target of ours gets the same warnings; warnings are errors so they stay clean.
add_library(tarrow_warnings INTERFACE)
target_compile_options(tarrow_warnings INTERFACE -Wall -Wextra -Wpedantic -Werror)
