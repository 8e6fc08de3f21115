# One interface target carries the warning flags for every Korvid target.
add_library(korvid_warnings INTERFACE)
target_compile_options(korvid_warnings INTERFACE -Wall -Wextra -Werror)
