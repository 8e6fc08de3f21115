#!/usr/bin/env bash
# The whole `korvid-cli danmaku` process on a generated 100,000-comment
# document, as XML and as raw deflate, under /usr/bin/time -v: wall time and
# maximum resident memory beside the document's size, median and range of
# ROUNDS runs.
#
#   bench/danmaku_bench.sh [ROUNDS=5]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
rounds=${1:-5}

source "$root/bench/bench_common.sh"
bench_programs bench_danmaku korvid-cli
work=$(mktemp -d /tmp/korvid-danmaku-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

"$bench_bin/bench_danmaku" --documents "$work"
doc_bytes=$(stat -c %s "$work/100k.xml")
echo "document $doc_bytes bytes ($(stat -c %s "$work/100k.deflate") bytes deflated)"
for input in 100k.xml 100k.deflate; do
  walls=()
  ratios=()
  for _ in $(seq "$rounds"); do
    /usr/bin/time -v -o "$work/time" "$bench_bin/korvid-cli" --home "$work/home" danmaku \
      "$work/$input" --cid 35306865840 --bvid BV1xx -o "$work/out.ass" 2>/dev/null
    wall=$(sed -n 's/.*Elapsed (wall clock) time.*: \(.*\)/\1/p' "$work/time" |
      awk -F: '{print ($1 * 60) + $2}')
    rss_kib=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time")
    walls+=("$wall")
    ratios+=("$(python3 -c "print($rss_kib * 1024 / $doc_bytes)")")
  done
  summarise "$input wall (goal < 0.1)" s "${walls[@]}"
  summarise "$input max RSS / document (goal <= 3)" x "${ratios[@]}"
done
