# Sourced by the bench scripts.
#
# bench_programs TARGET...: sets bench_bin to the folder holding the programs.
# build/release is used as it is when it has every one of them (nothing is
# rebuilt in the checkout); otherwise they are built in a folder of the
# benches' own, $KORVID_BENCH_BUILD (default build/bench), without the window.
# KORVID_BENCH_BIN names a folder of programs to use as they are (an older
# build to compare with).
bench_programs() {
  local release="$root/build/release" target
  if [ -n "${KORVID_BENCH_BIN:-}" ]; then
    bench_bin=$KORVID_BENCH_BIN
    return 0
  fi
  bench_bin=$release
  for target in "$@"; do
    [ -x "$release/$target" ] || bench_bin=""
  done
  [ -n "$bench_bin" ] && return 0
  bench_bin=${KORVID_BENCH_BUILD:-$root/build/bench}
  if [ ! -f "$bench_bin/build.ninja" ]; then
    cmake -G Ninja -S "$root" -B "$bench_bin" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DKORVID_GUI=OFF >/dev/null
  fi
  cmake --build "$bench_bin" -j "$(nproc)" --target "$@" >/dev/null
}

# summarise NAME UNIT VALUE...: "NAME median M UNIT (range A-B, N rounds)".
summarise() {
  python3 - "$@" <<'PY'
import statistics, sys
name, unit, values = sys.argv[1], sys.argv[2], [float(v) for v in sys.argv[3:]]
print(f"{name}: median {statistics.median(values):.3f} {unit} "
      f"(range {min(values):.3f}-{max(values):.3f}, {len(values)} rounds)")
PY
}
