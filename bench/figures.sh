#!/usr/bin/env bash
# The offline calibration's speed and memory, side by side with their
# references, as one table:
#   bash bench/figures.sh [BUILD]    (BUILD: a Release build with benchmarks,
#                                     default build-bench; scripts/bench.sh makes it)
# Recordings are made by devicesim under $TMPDIR; each time is the best of three
# runs (five for the reader and the fit). NumPy is Debian's (python3-numpy).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
work=${TMPDIR:-/tmp}/tessary-figures
sensortrim=$build/sensortrim/sensortrim
devicesim=$build/hubsim/devicesim
figures=$build/bench/bench_figures
rm -rf "$work"
mkdir -p "$work"

# Best wall time (ms) and peak memory (KB) of three runs of a command.
measure() {
  local best_ms=999999999 best_kb=0
  for _ in 1 2 3; do
    rm -rf "$work/out"
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" > "$work/console" 2>&1 || {
      cat "$work/console" >&2
      echo "failed: $*" >&2
      exit 1
    }
    read -r secs kb < "$work/time"
    local ms
    ms=$(awk -v s="$secs" 'BEGIN { printf "%d", s * 1000 }')
    [ "$ms" -lt "$best_ms" ] && best_ms=$ms
    [ "$kb" -gt "$best_kb" ] && best_kb=$kb
  done
  echo "$best_ms $best_kb"
}

# Best of five of a command's wall time in ms (for wc -l).
wall_ms() {
  local best=999999999
  for _ in 1 2 3 4 5; do
    local start end
    start=$(date +%s%N)
    "$@" > /dev/null
    end=$(date +%s%N)
    local ms=$(( (end - start) / 1000000 ))
    [ "$ms" -lt "$best" ] && best=$ms
  done
  echo "$best"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) b = 0.1; printf "%.2f", a / b }'; }
# Whether a figure meets its goal; a goal missed is also noted for the
# summary at the end, so that a benchmark that falls short says so.
short="$work/short"
met() {
  local verdict
  verdict=$(awk -v v="$1" -v g="$2" -v dir="$3" 'BEGIN {
    ok = dir == "<=" ? v <= g : dir == "<" ? v < g : v >= g
    print ok ? "yes" : "no"
  }')
  [ "$verdict" = yes ] || echo "$1 against the goal $3 $2" >> "$short"
  echo "$verdict"
}

echo "Offline accelerometer calibration, four steps at 1 kHz (sensortrim -CalibrateOffline A -FourSteps)"
echo
echo "| holds | rows | sensortrim | peak memory | bytes per row | plain reader, reading only | sensortrim / plain reader |"
echo "|---|---|---|---|---|---|---|"
declare -A time_of
for hold in 60 120 240 480; do
  "$devicesim" --out "$work/a$hold" --flow foursteps --sensors A --hold "$hold" --period 1 --seed 1 > /dev/null
  dump=$work/a$hold/dataDumpAccelerometer.csv
  rows=$(( $(wc -l < "$dump") - 2 ))
  read -r ms kb < <(measure "$sensortrim" -CalibrateOffline A -FourSteps -UseRawData "$work/a$hold/" -ExportAllFiles "$work/out")
  grep -q "Calibration process completed successfully" "$work/console" || { cat "$work/console"; exit 1; }
  read -r plain _ < <("$figures" plain "$dump")
  time_of[$hold]=$ms
  per_row=$(awk -v kb="$kb" -v r="$rows" 'BEGIN { printf "%.0f", kb * 1024 / r }')
  echo "| $hold s | $rows | $ms ms | $(( kb / 1024 )) MB | $per_row | $plain ms | $(ratio "$ms" "$plain") |"
  [ "$hold" = 240 ] && { big_ms=$ms; big_plain=$plain; big_row=$per_row; big_dump=$dump; }
done
echo
growth_a=$(ratio "${time_of[240]}" "${time_of[60]}")
growth_b=$(ratio "${time_of[480]}" "${time_of[120]}")
half=$(ratio "$big_ms" "$big_plain")
echo "| goal | figure | met |"
echo "|---|---|---|"
echo "| four times the rows cost at most 4.5 times the time | 60 s to 240 s: x$growth_a, 120 s to 480 s: x$growth_b | $(met "$growth_a" 4.5 "<=") / $(met "$growth_b" 4.5 "<=") |"
echo "| 240 s holds in at most half the plain reader's reading time | x$half of it | $(met "$half" 0.5 "<=") |"
echo "| peak memory under 80 bytes per row (240 s holds) | $big_row | $(met "$big_row" 80 "<") |"
echo

read -r ours rows < <("$figures" read "$big_dump")
read -r plain _ < <("$figures" plain "$big_dump")
wc_ms=$(wall_ms wc -l "$big_dump")
echo "Reading the 240 s dump alone ($rows rows)"
echo
echo "| reader | time | goal | met |"
echo "|---|---|---|---|"
echo "| sensortrim's dump reader | $ours ms | | |"
echo "| plain getline + strtod reader | $plain ms | at least 8 times ours: x$(ratio "$plain" "$ours") | $(met "$(ratio "$plain" "$ours")" 8 ">=") |"
echo "| wc -l | $wc_ms ms | ours within 12 times it: x$(ratio "$ours" "$wc_ms") | $(met "$(ratio "$ours" "$wc_ms")" 12 "<=") |"
echo

echo "Ellipsoid fit (the magnetometer's model, nine parameters) against NumPy's least squares of the same model"
echo
echo "| samples | sensortrim's fit | NumPy lstsq | NumPy / ours | goal: at least 5 | centre x, ours / NumPy |"
echo "|---|---|---|---|---|---|"
for n in 100000 1000000; do
  read -r ours centre < <("$figures" fit "$n" "$work/samples.bin")
  read -r numpy numpy_centre < <(/usr/bin/python3 "$root/bench/fit_numpy.py" "$work/samples.bin")
  echo "| $n | $ours ms | $numpy ms | $(ratio "$numpy" "$ours") | $(met "$(ratio "$numpy" "$ours")" 5 ">=") | $centre / $numpy_centre |"
done
echo

"$devicesim" --out "$work/agm" --flow full --sensors A,G,M --hold 62 --turn 20 --period 10 --seed 4 > /dev/null
rows=$(( $(wc -l < "$work/agm/dataDumpAccelerometer.csv") - 2 ))
read -r ms kb < <(measure "$sensortrim" -CalibrateOffline AGM -UseRawData "$work/agm/" -ExportAllFiles "$work/out")
grep -q "Calibration process completed successfully" "$work/console" || { cat "$work/console"; exit 1; }
echo "Offline AGM calibration, full flow, 100 Hz per sensor, $rows rows per sensor ($(( rows / 6000 )) minutes): $ms ms, peak memory $(( kb / 1024 )) MB"
echo
echo "Measured $(date +%Y-%m-%d) on $(nproc) cores, the $(grep -m1 '^CMAKE_BUILD_TYPE' "$build/CMakeCache.txt" | cut -d= -f2) build in $build"
if [ -s "$short" ]; then
  echo "FALLS SHORT of $(wc -l < "$short") goal(s):"
  sed 's/^/  /' "$short"
else
  echo "Every goal met."
fi
rm -rf "$work"
