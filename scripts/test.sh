#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs every test; then runs the tests of the core's threads, task list, control
# store, settings and download manager under ThreadSanitizer. KORVID_TSAN=0 skips that second run.
# Warnings are errors here (KORVID_WERROR), and clang-tidy checks src/ (KORVID_TIDY=0 skips it).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/bootstrap.sh" asan -DKORVID_WERROR=ON

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp:print_suppressions=0}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

"$root/scripts/check-format.sh"
if [ "${KORVID_TIDY:-1}" = 1 ]; then
  "$root/scripts/tidy.sh" "$root/build/asan"
fi

cd "$root/build/asan"
"$root/scripts/ctest-retry-lsan.sh" --output-on-failure -j "$(nproc)" --timeout 300

if [ "${KORVID_TSAN:-1}" = 1 ]; then
  echo "test: the same threads under ThreadSanitizer"
  unset ASAN_OPTIONS LSAN_OPTIONS
  export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$root/tests/tsan.supp}
  KORVID_TARGETS="test_transfer test_tasks test_controls test_app test_download" "$root/scripts/bootstrap.sh" tsan -DKORVID_WERROR=ON
  cd "$root/build/tsan"
  ctest --output-on-failure -j "$(nproc)" --timeout 600 -L '^(transfer|tasks|controls|app|download)$'
fi
