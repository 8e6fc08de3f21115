# One interface target carries the warning flags for every Korvid target.
# -Werror is an option: scripts/test.sh (and so CI) turns it on, while a build
# on a user's newer compiler is not stopped by a warning that compiler adds.
option(KORVID_WERROR "Treat warnings as errors" OFF)
add_library(korvid_warnings INTERFACE)
target_compile_options(korvid_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wold-style-cast -Wnon-virtual-dtor -Woverloaded-virtual)
if(KORVID_WERROR)
  target_compile_options(korvid_warnings INTERFACE -Werror)
endif()
