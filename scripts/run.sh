#!/usr/bin/env bash
# Installs what is missing, builds Korvid and starts it. Arguments go to korvid.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/scripts/bootstrap.sh" release
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run: no display found (DISPLAY is not set); the window cannot open here." >&2
  echo "run: use the headless front end instead: $root/build/release/korvid-cli --help" >&2
  exit 1
fi
exec "$root/build/release/korvid" "$@"
