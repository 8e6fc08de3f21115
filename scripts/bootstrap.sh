#!/usr/bin/env bash
# Installs the Debian packages Korvid needs (only those missing), then configures
# and builds one build profile incrementally. Safe to run again and again.
#
#   scripts/bootstrap.sh [release|debug|asan|tsan] [extra cmake arguments...]
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
profile=${1:-release}
[ $# -gt 0 ] && shift

missing_packages() {
  local pkg
  grep -v -E '^\s*(#|$)' "$root/scripts/packages.txt" | while read -r pkg; do
    dpkg-query -W -f='${Status}\n' "$pkg" 2>/dev/null | grep -q '^install ok installed$' || echo "$pkg"
  done
}

install_missing() {
  local missing
  missing=$(missing_packages | tr '\n' ' ')
  [ -z "${missing// /}" ] && return 0
  echo "bootstrap: installing $missing"
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  # shellcheck disable=SC2086
  $sudo apt-get install -y -qq --no-install-recommends $missing
}

configure_and_build() {
  local build="$root/build/$profile"
  local args=(-G Ninja -S "$root" -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON)
  case "$profile" in
    release) args+=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
    debug) args+=(-DCMAKE_BUILD_TYPE=Debug) ;;
    asan) args+=(-DCMAKE_BUILD_TYPE=Debug "-DKORVID_SANITIZE=address;undefined") ;;
    # The window and benchmarks are left out: this build is for the threads of the core.
    tsan) args+=(-DCMAKE_BUILD_TYPE=Debug -DKORVID_SANITIZE=thread -DKORVID_GUI=OFF -DKORVID_BENCH=OFF) ;;
    *) echo "bootstrap: unknown profile '$profile' (release, debug, asan, tsan)" >&2; exit 2 ;;
  esac
  if [ ! -f "$build/build.ninja" ] || [ $# -gt 0 ]; then
    cmake "${args[@]}" "$@" >/dev/null
  fi
  # KORVID_TARGETS (space separated) builds only those targets.
  local targets=()
  [ -n "${KORVID_TARGETS:-}" ] && read -r -a targets <<<"$KORVID_TARGETS"
  cmake --build "$build" -j "$(nproc)" ${targets[@]:+--target "${targets[@]}"}
}

install_missing
configure_and_build "$@"
