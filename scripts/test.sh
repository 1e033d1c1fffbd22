#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds, runs every test.
# Usage: scripts/test.sh
set -euo pipefail
case "${1:-}" in
  -h|--help) echo "usage: $0    (installs what is missing, builds into build/, runs every test)"; exit 0 ;;
  "") ;;
  *) echo "usage: $0    (no arguments)" >&2; exit 2 ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" "$root/build"
cd "$root/build"
# The live tests mostly wait on the emulated hub's clock, not on a core: three
# at a time per core (at most 12).
jobs=$(( $(nproc) * 3 ))
[ "$jobs" -le 12 ] || jobs=12
ctest --output-on-failure -j"$jobs"
