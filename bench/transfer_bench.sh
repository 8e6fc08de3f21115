#!/usr/bin/env bash
# Download throughput against a loopback nginx serving a 1 GiB file from tmpfs:
# Korvid's engine beside the curl program (to disk and to /dev/null, the
# network ceiling), one at a time and 4 at a time, all in the same run.
#
#   bench/transfer_bench.sh [SIZE_MIB=1024] [PARALLEL=4] [ROUNDS=5]
#
# Installs nginx-light when it is missing (Debian); the program comes from
# build/release when built there, else from the benches' own build folder.
# The downloads go to build/bench-transfer (on disk; DISK=0 skips it) and then,
# with TMPFS=1, to show the engine's own cost without the disk's limit, to a
# tmpfs folder.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
size_mib=${1:-1024}
parallel=${2:-4}
rounds=${3:-5}

if ! command -v nginx >/dev/null && [ ! -x /usr/sbin/nginx ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends nginx-light curl >/dev/null
fi
nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)

source "$root/bench/bench_common.sh"
bench_programs bench_transfer

work=$(mktemp -d /tmp/korvid-bench.XXXXXX)
serve=$(mktemp -d /dev/shm/korvid-bench.XXXXXX)
out="$root/build/bench-transfer"
out_tmpfs="$serve-out"
nginx_pid=""
cleanup() {
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null || true
  rm -rf "$work" "$serve" "$out" "$out_tmpfs"
}
trap cleanup EXIT

head -c "$((size_mib * 1024 * 1024))" /dev/urandom >"$serve/file.bin"
chmod -R a+rX "$serve"
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
cat >"$work/nginx.conf" <<CONF
worker_processes 2;
error_log $work/error.log;
pid $work/nginx.pid;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  client_body_temp_path $work/body;
  proxy_temp_path $work/proxy;
  server {
    listen 127.0.0.1:$port;
    root $serve;
  }
}
CONF
"$nginx_bin" -p "$work" -c "$work/nginx.conf" -g 'daemon off;' &
nginx_pid=$!
for _ in $(seq 50); do
  curl -sf -o /dev/null -r 0-0 "http://127.0.0.1:$port/file.bin" && break
  sleep 0.1
done

echo "nginx $("$nginx_bin" -v 2>&1 | sed 's/.*\///'), curl $(curl --version | head -1 | cut -d' ' -f2), $(nproc) cores"
url="http://127.0.0.1:$port/file.bin"
if [ "${DISK:-1}" = 1 ]; then
  echo "== writing to disk ($out)"
  "$bench_bin/bench_transfer" "$url" "$out" "$parallel" "$rounds"
  rm -rf "$out"
fi
if [ "${TMPFS:-0}" = 1 ]; then
  echo "== writing to tmpfs ($out_tmpfs)"
  "$bench_bin/bench_transfer" "$url" "$out_tmpfs" "$parallel" "$rounds"
fi
