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
ctest --output-on-failure -j"$(nproc)"
