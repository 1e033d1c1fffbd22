#!/usr/bin/env bash
# Builds the benchmarks (optimised) and prints their figures.
# Usage: scripts/bench.sh
set -euo pipefail
case "${1:-}" in
  -h|--help) echo "usage: $0    (builds the benchmarks into build-bench/ and prints their figures)"; exit 0 ;;
  "") ;;
  *) echo "usage: $0    (no arguments)" >&2; exit 2 ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DTESSARY_BENCH=ON -DTESSARY_TESTS=OFF >/dev/null
cmake --build "$root/build-bench" -j"$(nproc)"
for b in "$root"/build-bench/bench/bench_*; do
  # The live streaming figure needs hubsim: bench/live_stream.sh runs it.
  [ "$(basename "$b")" = bench_live_stream ] && continue
  [ -x "$b" ] && "$b"
done
bash "$root/bench/trace_collect.sh" "$root/build-bench"
bash "$root/bench/live_stream.sh" "$root/build-bench"
# The offline calibration's figures against wc -l, a plain reader and NumPy.
bash "$root/bench/figures.sh" "$root/build-bench"
