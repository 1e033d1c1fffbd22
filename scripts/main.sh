#!/usr/bin/env bash
# The main job: installs what is missing, builds the tools, and runs the
# calibration tool.
# Without arguments: a live calibration of the accelerometers, gyroscope and
# magnetometer against the emulated hub (examples/hub-default.xml), with the
# virtual operator doing what the console asks, the new records written to the
# hub (-UpdateTSY), then the result files in out/calibration (an earlier run's
# folder is kept as out/calibration-<time>). With arguments:
# sensortrim runs with them against the emulated hub.
# Usage: scripts/main.sh [SENSORTRIM-ARGS...]
set -euo pipefail
case "${1:-}" in
  --help) echo "usage: $0 [SENSORTRIM-ARGS...]    (without arguments: a live AGM calibration watched step by step)"
             exit 0 ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
# Only what the job runs: the calibration tool, the emulated hub, its device
# shim and the virtual operator (the test command builds the rest in the same
# folder).
BUILD_TARGETS="sensortrim hubsim hubsim_shim hubop" bash "$root/scripts/build.sh" "$root/build"
cd "$root"
if [ $# -gt 0 ]; then
  exec env BUILD_DIR="$root/build" bash "$root/scripts/with-hub" "$root/examples/hub-default.xml" -- \
    "$root/build/sensortrim/sensortrim" "$@"
fi
out=out/calibration
# An earlier run's folder is kept, named after its time.
if [ -e "$out" ]; then
  earlier="$out-$(date -r "$out" +%Y-%m-%d-%H%M%S)"
  n=2
  while [ -e "$earlier" ]; do earlier="$out-$(date -r "$out" +%Y-%m-%d-%H%M%S)-$n"; n=$((n + 1)); done
  mv "$out" "$earlier"
  echo "The earlier run's folder $out is now $earlier"
fi
env BUILD_DIR="$root/build" bash "$root/scripts/with-hub" "$root/examples/hub-default.xml" --operator -- \
  "$root/build/sensortrim/sensortrim" -Calibrate AGM -UpdateTSY -ExportAllFiles "$out"
echo
echo "Result files in $out:"
ls -l "$out"
echo
echo "== $out/resultCalibration.xml =="
cat "$out/resultCalibration.xml"
echo
# The run's report, to open in a browser.
/usr/bin/python3 "$root/calreport/calreport.py" "$out"
