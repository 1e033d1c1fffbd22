#!/usr/bin/env bash
# Builds the fuzz targets with clang (ASan and UBSan) and runs each, from its
# seeds (fuzz/corpus/<target>) and what earlier runs found (build-fuzz/corpus):
#   scripts/fuzz.sh [SECONDS | --runs N] [TARGET...]
# SECONDS per target (default 20), or N executions per target; all targets, or
# the ones named. Each target's figures (executions, time, rate) are printed
# and added to build-fuzz/fuzz-figures.txt. A crash or sanitizer report stops
# the script with the fuzzer's report; its input is written to build-fuzz/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: $0 [SECONDS | --runs N] [TARGET...]"
case "${1:-}" in -h|--help) echo "$usage"; exit 0 ;; esac
limit=(-max_total_time=20)
if [ "${1:-}" = "--runs" ]; then
  [[ "${2:-}" =~ ^[0-9]+$ ]] || { echo "$usage" >&2; exit 2; }
  limit=(-runs="$2")
  shift 2
elif [ -n "${1:-}" ] && [[ $1 =~ ^[0-9]+$ ]]; then
  limit=(-max_total_time="$1")
  shift
fi
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-fuzz" -DTESSARY_FUZZ=ON -DTESSARY_TESTS=OFF \
  -DTESSARY_WERROR=ON >/dev/null
cmake --build "$root/build-fuzz" -j"$(nproc)"
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for target in "$root"/build-fuzz/fuzz/fuzz_*; do
    [ -x "$target" ] && targets+=("$(basename "$target")")
  done
fi
figures="$root/build-fuzz/fuzz-figures.txt"
for name in "${targets[@]}"; do
  target="$root/build-fuzz/fuzz/$name"
  [ -x "$target" ] || { echo "no fuzz target $name" >&2; exit 2; }
  corpus="$root/build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  seeds=()
  [ -d "$root/fuzz/corpus/$name" ] && seeds=("$root/fuzz/corpus/$name")
  echo "== $name (${limit[*]}) =="
  log=$(mktemp)
  start=$(date +%s)
  # The tools' own output is not the fuzzer's: closed (-close_fd_mask=1).
  if ! (cd "$root/build-fuzz" && "$target" "${limit[@]}" -close_fd_mask=1 -print_final_stats=1 "$corpus" \
        "${seeds[@]}") > "$log" 2>&1; then
    tail -n 60 "$log"
    rm -f "$log"
    echo "fuzz target $name failed" >&2
    exit 1
  fi
  seconds=$(( $(date +%s) - start ))
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  rate=$(awk -v r="${runs:-0}" -v s="$seconds" 'BEGIN { printf "%d", (s > 0 ? r / s : r) }')
  echo "$name: ${runs:-?} runs in ${seconds} s (${rate}/s), no crash or report"
  echo "$(date -u +%Y-%m-%d) $name ${runs:-?} runs ${seconds} s" >> "$figures"
  rm -f "$log"
done
