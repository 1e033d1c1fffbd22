#!/usr/bin/env bash
# The README's picture of the fleet report, drawn again: the store of the
# process-control tests (three stations of real sensortrim runs, station C's
# fixture growing magnetised), its fleet report, and the top of that page as
# headless Chromium shows it. Needs a build (default: build) and Debian's
# chromium (apt-get install -y chromium); it is not part of the test suite.
#   bash docs/screenshots.sh [BUILD]
set -euo pipefail
case "${1:-}" in -h|--help) sed -n 2,7p "$0" | sed 's/^# \{0,1\}//'; exit 0 ;; esac
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
command -v chromium > /dev/null || { echo "screenshots.sh: chromium is not installed (apt-get install -y chromium)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The store is the tests' own; keeping pytest's folder keeps it.
(cd "$root/calreport/tests" && TESSARY_BUILD="$build" /usr/bin/python3 -m pytest -q -p no:cacheprovider \
  --basetemp="$work/tests" -k drifting_station test_fleet_control.py > "$work/pytest.out") \
  || { cat "$work/pytest.out" >&2; exit 1; }
db=$(find "$work/tests" -name line.db | head -n 1)
/usr/bin/python3 "$root/calreport/calreport.py" --fleet "$db" -o "$work/fleet.html" > /dev/null
chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1280,2200 \
  --screenshot="$root/docs/fleet-report.png" "file://$work/fleet.html" 2> /dev/null
echo "docs/fleet-report.png: the top of the fleet report of $db's runs"
