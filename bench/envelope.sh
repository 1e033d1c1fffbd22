#!/usr/bin/env bash
# The envelope of the calibration, as a production test is judged: simulated
# devices with errors drawn on every axis, at stations of every dip from -75 to
# +75 degrees, any heading and fields of 220 and 620 mG, with typical and
# noisy parts and each sensor at nine tenths of its noise limit, calibrated
# offline in the full flow; per cell the
# runs that calibrate true, the false accepts, the runs that fail naming the
# part's noise, and the false rejects, as a Markdown table.
#   bash bench/envelope.sh [--seeds N] [--jobs J]   (default 15 runs per cell: 1,050 calibrations)
# Exit status 1 when any run is a false accept or a false reject.
set -euo pipefail
case "${1:-}" in -h|--help) sed -n 2,9p "$0" | sed 's/^# \{0,1\}//'; exit 0 ;; esac
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DTESSARY_BENCH=ON -DTESSARY_TESTS=OFF >/dev/null
cmake --build "$root/build-bench" -j"$(nproc)" --target envelope
"$root/build-bench/bench/envelope" "$@"
