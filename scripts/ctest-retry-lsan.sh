#!/usr/bin/env bash
# Runs ctest with the given arguments in the current build folder. LeakSanitizer's
# stop-the-world tracer now and then crashes at process exit on a loaded machine
# ("Tracer caught signal 11"), after a test has passed: such a test, and only
# such a test, is run once more. Any other failure fails the run as it stands.
set -uo pipefail
log=$(mktemp)
trap 'rm -f "$log"' EXIT

ctest "$@" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
[ "$status" = 0 ] && exit 0

failed=Testing/Temporary/LastTestsFailed.log
[ -s "$failed" ] || exit "$status"

# The block ctest prints for test NUMBER: its result line up to the next result or start line.
output_of() {
  awk -v number="$1" '
    $0 ~ "Test +#" number ":" { inside = 1; next }
    inside && ($0 ~ /^ *Start +[0-9]+:/ || $0 ~ /^ *[0-9]+\/[0-9]+ +Test +#/) { exit }
    inside { print }' "$log"
}

names=()
while IFS=: read -r number name; do
  block=$(output_of "$number")
  if ! grep -q 'LeakSanitizer has encountered a fatal error' <<<"$block" ||
    ! grep -q '\[  PASSED  \]' <<<"$block"; then
    echo "test: $name failed on its own account; no rerun" >&2
    exit "$status"
  fi
  names+=("$name")
done <"$failed"

echo "test: LeakSanitizer's tracer crashed after ${names[*]} passed; running once more" >&2
pattern=$(printf '%s|' "${names[@]}")
ctest --output-on-failure --timeout 300 -R "^(${pattern%|})\$"
