#!/usr/bin/env bash
# The station store and the fleet report: the time to store one run
# (calreport FOLDER --store DB, as a process), and to draw the fleet report of
# 10,000 runs (calreport --fleet DB: yields, capability, proposed limits,
# drift alarms and device histories). The runs are real ones of sensortrim,
# offline from simulated dumps, stored again as the runs of many devices.
#   bash bench/fleet.sh [BUILD]          (default: build)
# KEEP=FOLDER keeps the store and the fleet report there.
set -euo pipefail
case "${1:-}" in -h|--help) sed -n 2,6p "$0" | sed 's/^# \{0,1\}//'; exit 0 ;; esac
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
calreport="/usr/bin/python3 $root/calreport/calreport.py"

# Real runs: full calibrations of devices with different errors (one held
# wrongly in a step, which fails), and four-steps tests.
folders=()
for seed in 1 2 3 4; do
  "$build/hubsim/devicesim" --out "$work/dumps$seed" --flow full --sensors A,G,M --seed "$seed" \
    --acc-offset "0.0$seed,-0.02,0.01" --gyro-scale "1.0$seed,0.98,1.01" > /dev/null
  "$build/sensortrim/sensortrim" -CalibrateOffline AGM -UseRawData "$work/dumps$seed" -ExportAllFiles "$work/cal$seed" > /dev/null
  folders+=("$work/cal$seed")
done
"$build/hubsim/devicesim" --out "$work/wrong" --flow full --sensors A,G,M --wrong-step 2 > /dev/null
"$build/sensortrim/sensortrim" -CalibrateOffline AGM -UseRawData "$work/wrong" -ExportAllFiles "$work/calwrong" > /dev/null || true
folders+=("$work/calwrong")
for seed in 5 6; do
  "$build/hubsim/devicesim" --out "$work/t$seed" --flow foursteps --sensors A,G --mode test --seed "$seed" \
    --acc-offset "0.0$((seed * 2)),0,0" > /dev/null
  "$build/sensortrim/sensortrim" -TestCalibration AG -FourSteps -UseRawData "$work/t$seed" -ExportAllFiles "$work/test$seed" > /dev/null || true
  folders+=("$work/test$seed")
done

echo "== storing one run (calreport FOLDER --store DB), 20 times into fresh stores =="
times=()
for n in $(seq 1 20); do
  start=$(date +%s%N)
  $calreport "${folders[$((n % ${#folders[@]}))]}" --store "$work/one$n.db" > /dev/null
  times+=($(( ($(date +%s%N) - start) / 1000000 )))
done
printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "store of one run: median %d ms, min %d ms, max %d ms\n", a[int((NR+1)/2)], a[1], a[NR]}'

echo "== the fleet report of 10,000 runs (calreport --fleet DB), 3 times =="
/usr/bin/python3 "$root/bench/fleet_store.py" "$work/fleet.db" 10000 "${folders[@]}"
times=()
for n in 1 2 3; do
  start=$(date +%s%N)
  $calreport --fleet "$work/fleet.db" -o "$work/fleet.html" --propose-limits "$work/TestingConfig.xml" > "$work/fleet.out"
  times+=($(( ($(date +%s%N) - start) / 1000000 )))
done
printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {printf "fleet report of 10,000 runs: median %d ms, min %d ms, max %d ms\n", a[int((NR+1)/2)], a[1], a[NR]}'
head -3 "$work/fleet.out"
grep -E "^  (drift alarms|checks below Cpk)|^proposed limits" "$work/fleet.out" || true
if [ -n "${KEEP:-}" ]; then
  mkdir -p "$KEEP"
  cp "$work/fleet.db" "$work/fleet.html" "$work/TestingConfig.xml" "$KEEP/"
fi
