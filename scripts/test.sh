#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs every test. Set KORVID_TSAN=1 to run the concurrency tests under
# ThreadSanitizer as well.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/bootstrap.sh" asan

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp:print_suppressions=0}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

"$root/scripts/check-format.sh"

cd "$root/build/asan"
ctest --output-on-failure -j "$(nproc)" --timeout 300

if [ "${KORVID_TSAN:-0}" = 1 ]; then
  "$root/scripts/bootstrap.sh" tsan
  cd "$root/build/tsan"
  ctest --output-on-failure -j "$(nproc)" --timeout 600 -L concurrency
fi
