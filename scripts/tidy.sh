#!/usr/bin/env bash
# Runs the committed .clang-tidy over every source file under src/, with the
# compile commands of the asan build (scripts/bootstrap.sh asan makes them).
# Fails when clang-tidy reports anything.
#
#   scripts/tidy.sh [build folder]     (default: build/asan)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build/asan}
if [ ! -f "$build/compile_commands.json" ]; then
  echo "tidy: no $build/compile_commands.json; run scripts/bootstrap.sh asan first" >&2
  exit 2
fi
runner=$(command -v run-clang-tidy || command -v run-clang-tidy-14 || true)
if [ -z "$runner" ]; then
  echo "tidy: run-clang-tidy is missing (Debian package clang-tidy)" >&2
  exit 2
fi
jobs=${KORVID_TIDY_JOBS:-2}
# Only the program's own files; the generated Qt files and the tests are left out.
"$runner" -quiet -p "$build" -j "$jobs" "^$root/src/.*\.cpp$" >"$build/tidy.log" 2>&1 || true
if grep -E '(warning|error): ' "$build/tidy.log" | grep -v '_autogen/' >/dev/null; then
  grep -E -A3 '(warning|error): ' "$build/tidy.log" | grep -v '_autogen/' >&2
  echo "tidy: clang-tidy found the problems above" >&2
  exit 1
fi
echo "tidy: clean"
