#!/usr/bin/env bash
# Adding the fake site's 1,000-video favourites folder as 按钮_解析下载 does,
# ROUNDS times, each in a fresh process (so no connection is kept from an
# earlier round): the TCP connections the site accepted, the wall time and the
# share of it outside the network wait, median and range.
#
#   bench/favourites_bench.sh [ROUNDS=3] [FOLDER=31000]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
rounds=${1:-3}
folder=${2:-31000}

source "$root/bench/bench_common.sh"
bench_programs bench_favourites_add korvid-fakesite

connections=()
walls=()
shares=()
for round in $(seq "$rounds"); do
  out=$("$bench_bin/bench_favourites_add" --folder "$folder" --fakesite "$bench_bin/korvid-fakesite")
  echo "round $round:"
  echo "$out" | sed 's/^/  /'
  connections+=("$(echo "$out" | sed -n 's/.* \([0-9-]*\) connections$/\1/p')")
  walls+=("$(echo "$out" | sed -n 's/^wall \([0-9.]*\) ms.*/\1/p')")
  shares+=("$(echo "$out" | sed -n 's/.*outside it [0-9.]* ms (\([0-9.]*\) %).*/\1/p')")
done
summarise "connections accepted (goal: one per worker and host)" "" "${connections[@]}"
summarise "wall" ms "${walls[@]}"
summarise "share outside the network wait (goal < 5)" % "${shares[@]}"
