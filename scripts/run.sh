#!/usr/bin/env bash
# Installs what is missing, builds Korvid and starts it. Arguments go to korvid;
# --demo runs korvid-cli --demo instead (no display needed).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# The programs only; scripts/test.sh builds the tests.
KORVID_TARGETS="korvid korvid-cli korvid-fakesite" "$root/scripts/bootstrap.sh" release
# The whole download against the loopback fake site; needs no display.
if [ "${1:-}" = "--demo" ]; then
  exec "$root/build/release/korvid-cli" --demo
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run: no display (DISPLAY is not set), so no window can open; use the headless front end: $root/build/release/korvid-cli --help" >&2
  exit 1
fi
exec "$root/build/release/korvid" "$@"
