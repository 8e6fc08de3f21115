#!/usr/bin/env bash
# A large download over a line that drops: korvid-cli download of one video
# whose media file is padded to SIZE_MIB, first with the fake site closing the
# connection after every DROP_MIB of an answer, then undisturbed. Each drop is
# resumed with Range, so the bytes the site sent should stay close to the file
# size.
#
#   bench/resume_bench.sh [SIZE_MIB=1024] [DROP_MIB=100]
#
# Prints, per run: wall time, media bytes the site sent / file size, and the
# number of media requests.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
size_mib=${1:-1024}
drop_mib=${2:-100}

source "$root/bench/bench_common.sh"
bench_programs korvid-cli korvid-fakesite
build=$bench_bin
work=$(mktemp -d /tmp/korvid-resume-bench.XXXXXX)
trap 'exec 3>&- 2>/dev/null || true; rm -rf "$work"' EXIT

# One run: fault spec ("" for none) -> "seconds sent requests".
run() {
  local fault=$1 name=$2
  rm -f "$work/site-in"
  mkfifo "$work/site-in"
  "$build/korvid-fakesite" --port 0 --stdin-lifetime --media-size $((size_mib * 1048576)) \
    $([ -n "$fault" ] && echo "--fault /media/=$fault") \
    <"$work/site-in" >"$work/site-out" 2>"$work/site-err" &
  local site_pid=$!
  exec 3>"$work/site-in"
  for _ in $(seq 100); do grep -q listening "$work/site-out" && break; sleep 0.1; done
  local base
  base=$(sed -n 's/^listening on //p' "$work/site-out")
  [ -n "$base" ] || { echo "bench: the fake site did not start" >&2; exit 1; }
  # The padded file is made before timing.
  curl -s -r 0-0 -o /dev/null "$base/media/progressive/1-1-80.mp4"
  rm -rf "$work/$name"
  local start end
  start=$(date +%s.%N)
  KORVID_WEB_BASE=$base KORVID_API_BASE=$base KORVID_COMMENT_BASE=$base \
    KORVID_PASSPORT_BASE=$base KORVID_SPACE_BASE=$base \
    "$build/korvid-cli" --home "$work/home" download BV1Ks411D7aa --dir "$work/$name" \
    >"$work/$name.log" 2>&1 || { cat "$work/$name.log" >&2; exit 1; }
  end=$(date +%s.%N)
  exec 3>&-
  wait "$site_pid"
  local sent
  sent=$(sed -n 's/^media bytes sent //p' "$work/site-out")
  # Minus the one byte fetched above to make the file.
  echo "$(python3 -c "print($end - $start)") $((sent - 1))"
}

size=$((size_mib * 1048576))
read -r dropped_s dropped_sent < <(run "drop:$((drop_mib * 1048576))" dropped)
read -r whole_s whole_sent < <(run "" whole)
echo "one video of $size_mib MiB; the connection dropped every $drop_mib MiB of an answer"
python3 -c "
import sys
size = $size
for name, wall, sent in (('dropping', $dropped_s, $dropped_sent), ('undisturbed', $whole_s, $whole_sent)):
    print(f'{name:<12} {wall:7.2f} s   sent/size {sent / size:.4f}')
print(f'wall time dropping / undisturbed: {$dropped_s / $whole_s:.2f}')
"
