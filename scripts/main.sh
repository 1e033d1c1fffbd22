#!/usr/bin/env bash
# The main job: installs what is missing, builds the tools, and runs the
# calibration tool.
# Without arguments: a live calibration of the accelerometers, gyroscope and
# magnetometer against the emulated hub (examples/hub-default.xml), with the
# virtual operator doing what the console asks, the new records written to the
# hub (-UpdateTSY), then the result files in out/calibration. With arguments:
# sensortrim runs with them against the emulated hub.
# Usage: scripts/main.sh [SENSORTRIM-ARGS...]
set -euo pipefail
case "${1:-}" in
  --help) echo "usage: $0 [SENSORTRIM-ARGS...]    (without arguments: a live AGM calibration watched step by step)"
             exit 0 ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" "$root/build"
cd "$root"
if [ $# -gt 0 ]; then
  exec env BUILD_DIR="$root/build" bash "$root/scripts/with-hub" "$root/examples/hub-default.xml" -- \
    "$root/build/sensortrim/sensortrim" "$@"
fi
out=out/calibration
# The tool makes the export folder itself, but only one level of it.
mkdir -p out
rm -rf "$out"
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
