#!/usr/bin/env bash
# The main job: installs what is missing, builds the tools, and runs the
# calibration tool against the emulated hub (examples/hub-default.xml).
# Without arguments it saves the device's calibration to out/calibration.xml;
# with arguments they are passed to sensortrim as they are.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" "$root/build"
cd "$root"
if [ $# -eq 0 ]; then
  set -- -ExportXml out/calibration.xml
fi
BUILD_DIR="$root/build" bash "$root/scripts/with-hub" "$root/examples/hub-default.xml" -- \
  "$root/build/sensortrim/sensortrim" "$@"
