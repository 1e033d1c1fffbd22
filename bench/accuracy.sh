#!/usr/bin/env bash
# The accuracy of the calibrations: every flow and sensor subset calibrates
# simulated devices whose errors each seed draws, live against hubsim, and the
# worst residual per flow and sensor is printed as a Markdown table.
#   bash bench/accuracy.sh [--seeds N] [--speed S]     (default 20 seeds, speed 100)
# Builds into build-bench (Release) first; takes about a quarter of an hour.
set -euo pipefail
case "${1:-}" in -h|--help) sed -n 2,6p "$0" | sed 's/^# \{0,1\}//'; exit 0 ;; esac
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DTESSARY_BENCH=ON -DTESSARY_TESTS=OFF >/dev/null
cmake --build "$root/build-bench" -j"$(nproc)" --target accuracy
"$root/build-bench/bench/accuracy" "$@"
