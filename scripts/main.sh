#!/usr/bin/env bash
# The main job: installs what is missing, builds the tools and runs the
# calibration tool.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" "$root/build"
status=0
"$root/build/sensortrim/sensortrim" "$@" || status=$?
# Without a command the tool shows its usage and exits 255; that is the expected outcome here.
if [ $# -eq 0 ] && [ $status -eq 255 ]; then
  status=0
fi
exit $status
