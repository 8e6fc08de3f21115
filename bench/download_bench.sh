#!/usr/bin/env bash
# The whole download against the loopback fake site: korvid-cli download of
# 20 one-page videos whose media file is padded to 50 MB, 4 at a time (NFO,
# fan art, danmaku, size check and the streamed media, started by the
# scheduler's one-second tick), beside the curl program fetching the same
# media addresses in 4 parallel processes, in the same run.
#
#   bench/download_bench.sh [VIDEOS=20] [SIZE_MIB=50] [PARALLEL=4] [THROTTLE=0]
#
# THROTTLE: bytes per second per connection for the media (0: loopback speed),
# to play a media server that is slower than the disk.
#
# Prints wall time, MB/s (MiB of media per second of wall time), CPU time
# (user + system) and peak resident memory (for curl: the largest process).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
videos=${1:-20}
size_mib=${2:-50}
parallel=${3:-4}
throttle=${4:-0}

KORVID_TARGETS="korvid-cli korvid-fakesite" "$root/scripts/bootstrap.sh" release >/dev/null
build="$root/build/release"
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
for k in $(seq "$videos"); do links+=("$(printf 'BV1sa%07d' "$k")"); done

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
mkdir -p "$work/korvid" "$work/curl"
/usr/bin/time -f "%e %U %S %M" -o "$work/korvid.time" \
  "$build/korvid-cli" --home "$work/home" download "${links[@]}" --max "$parallel" \
  --dir "$work/korvid" >"$work/korvid.log" 2>&1 || { cat "$work/korvid.log"; exit 1; }
korvid_bytes=$(find "$work/korvid" -name '*.mp4' -printf '%s\n' | awk '{s+=$1} END {print s}')
/usr/bin/time -f "%e %U %S %M" -o "$work/curl.time" \
  sh -c "nl -ba '$work/urls' | xargs -P '$parallel' -L 1 sh -c 'curl -s -f -o \"$work/curl/\$0.mp4\" \"\$1\"'"
curl_bytes=$(find "$work/curl" -name '*.mp4' -printf '%s\n' | awk '{s+=$1} END {print s}')

echo "$videos videos x $size_mib MiB, $parallel at a time, from $base (throttle $throttle B/s per connection)"
echo "media bytes: korvid $korvid_bytes, curl $curl_bytes"
report "korvid-cli download" $(cat "$work/korvid.time")
report "curl, $parallel processes" $(cat "$work/curl.time")
