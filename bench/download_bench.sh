#!/usr/bin/env bash
# The whole download against the loopback fake site: korvid-cli download of
# VIDEOS one-page videos whose media file is padded to SIZE_MIB, PARALLEL at a
# time (NFO, fan art, danmaku, size check and the streamed media), beside the
# curl program fetching the same media addresses in PARALLEL processes
# (xargs -P), in the same run, ROUNDS times.
#
#   bench/download_bench.sh [VIDEOS=100] [SIZE_MIB=20] [PARALLEL=4] [THROTTLE=10485760] [ROUNDS=3]
#
# THROTTLE: bytes per second per connection for the media (0: loopback speed),
# to play a media server that is slower than the disk. With the defaults the
# ideal is VIDEOS * SIZE_MIB / (PARALLEL * 10 MiB/s) = 50 s.
#
# Prints per round: wall time, MB/s (MiB of media per second of wall time), CPU
# time (user + system) and peak resident memory (for curl: the largest
# process); then the median and range of both wall times and of their ratio.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
videos=${1:-100}
size_mib=${2:-20}
parallel=${3:-4}
throttle=${4:-10485760}
rounds=${5:-3}

source "$root/bench/bench_common.sh"
bench_programs korvid-cli korvid-fakesite
build=$bench_bin
work=$(mktemp -d /tmp/korvid-download-bench.XXXXXX)
cleanup() {
  exec 3>&- 2>/dev/null || true
  [ -n "${site_pid:-}" ] && wait "$site_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The fake site lives until its stdin (fd 3 here) closes.
mkfifo "$work/site-in"
"$build/korvid-fakesite" --port 0 --stdin-lifetime --media-size $((size_mib * 1048576)) \
  $([ "$throttle" -gt 0 ] && echo "--fault /media/=throttle:$throttle") \
  <"$work/site-in" >"$work/site-out" 2>"$work/site-err" &
site_pid=$!
exec 3>"$work/site-in"
for _ in $(seq 100); do grep -q listening "$work/site-out" && break; sleep 0.1; done
base=$(sed -n 's/^listening on //p' "$work/site-out")
[ -n "$base" ] || { echo "bench: the fake site did not start" >&2; exit 1; }

links=()
for k in $(seq "$videos"); do links+=("$(printf 'BV1fc%07d' "$k")"); done

# The media addresses the site hands out for those videos (view, then playurl).
python3 - "$base" "${links[@]}" >"$work/urls" <<'PY'
import json, sys, urllib.request
base = sys.argv[1]
for bvid in sys.argv[2:]:
    view = json.load(urllib.request.urlopen(f"{base}/x/web-interface/view?bvid={bvid}"))["data"]
    play = json.load(urllib.request.urlopen(
        f"{base}/x/player/playurl?avid={view['aid']}&cid={view['cid']}&qn=1&otype=json&platform=html5"))
    print(play["data"]["durl"][0]["url"])
PY
curl -s -r 0-0 -o /dev/null "$(head -1 "$work/urls")"  # the padded file is made before timing

report() {  # name, seconds user system maxrss_kib
  python3 -c "
import sys
name, wall, user, sys_, rss = sys.argv[1], *map(float, sys.argv[2:6])
mib = $videos * $size_mib
print(f'{name:<28} {wall:7.2f} s  {mib / wall:8.1f} MB/s  CPU {user + sys_:6.2f} s  peak {rss / 1024:7.1f} MiB')
" "$@"
}

export KORVID_WEB_BASE=$base KORVID_API_BASE=$base KORVID_COMMENT_BASE=$base \
  KORVID_PASSPORT_BASE=$base KORVID_SPACE_BASE=$base
echo "$videos videos x $size_mib MiB, $parallel at a time, from $base (throttle $throttle B/s per connection)"
korvid_walls=()
curl_walls=()
ratios=()
for round in $(seq "$rounds"); do
  rm -rf "$work/korvid" "$work/curl" "$work/home"
  mkdir -p "$work/korvid" "$work/curl"
  /usr/bin/time -f "%e %U %S %M" -o "$work/korvid.time" \
    "$build/korvid-cli" --home "$work/home" download "${links[@]}" --max "$parallel" \
    --dir "$work/korvid" >"$work/korvid.log" 2>&1 || { tail -20 "$work/korvid.log"; exit 1; }
  korvid_bytes=$(find "$work/korvid" -name '*.mp4' -printf '%s\n' | awk '{s+=$1} END {print s}')
  /usr/bin/time -f "%e %U %S %M" -o "$work/curl.time" \
    sh -c "nl -ba '$work/urls' | xargs -P '$parallel' -L 1 sh -c 'curl -s -f -o \"$work/curl/\$0.mp4\" \"\$1\"'"
  curl_bytes=$(find "$work/curl" -name '*.mp4' -printf '%s\n' | awk '{s+=$1} END {print s}')
  echo "round $round: media bytes korvid $korvid_bytes, curl $curl_bytes"
  report "korvid-cli download" $(cat "$work/korvid.time")
  report "curl, $parallel processes" $(cat "$work/curl.time")
  korvid_walls+=("$(cut -d' ' -f1 "$work/korvid.time")")
  curl_walls+=("$(cut -d' ' -f1 "$work/curl.time")")
  ratios+=("$(python3 -c "print(${korvid_walls[-1]} / ${curl_walls[-1]})")")
done
summarise "korvid-cli download wall" s "${korvid_walls[@]}"
summarise "curl xargs -P$parallel wall" s "${curl_walls[@]}"
summarise "korvid / curl wall (goal <= 1.10)" x "${ratios[@]}"
