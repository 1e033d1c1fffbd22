#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a short while.
# Usage: scripts/fuzz.sh [seconds-per-target]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" -DTESSARY_FUZZ=ON -DTESSARY_TESTS=OFF \
  -DTESSARY_WERROR=ON >/dev/null
cmake --build "$root/build-fuzz" -j"$(nproc)"
for target in "$root"/build-fuzz/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="$root/build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds="$root/fuzz/corpus/$name"
  echo "== $name (${seconds}s) =="
  if [ -d "$seeds" ]; then
    "$target" -max_total_time="$seconds" -print_final_stats=0 "$corpus" "$seeds" 2>&1 | tail -n 2
  else
    "$target" -max_total_time="$seconds" -print_final_stats=0 "$corpus" 2>&1 | tail -n 2
  fi
done
