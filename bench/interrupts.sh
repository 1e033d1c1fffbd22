#!/usr/bin/env bash
# Live calibrations signalled at random moments (SIGINT, SIGINT twice, SIGTERM,
# SIGHUP, SIGINT to the process group), counting exit statuses, hangs, whole
# dumps and the records the runs left:
#   bash bench/interrupts.sh [RUNS] [BUILD_DIR] [SEED]     (default 1000 runs, build/)
# Exits 1 when a run hung, left a cut dump or no record of how it ended.
set -euo pipefail
case "${1:-}" in -h|--help) sed -n 2,6p "$0" | sed 's/^# \{0,1\}//'; exit 0 ;; esac
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:-1000}
build=${2:-"$root/build"}
seed=${3:-1}
[ -x "$build/sensortrim/sensortrim" ] || BUILD_TARGETS="sensortrim hubsim hubsim_shim hubop" bash "$root/scripts/build.sh" "$build"
exec /usr/bin/python3 "$root/bench/interrupts.py" "$build" "$runs" "$seed"
