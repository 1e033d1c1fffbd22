#!/usr/bin/env bash
# Configures and builds into a build folder (default: build): everything, or
# the targets named in BUILD_TARGETS (separated by spaces).
# Usage: scripts/build.sh [build-dir] [extra cmake options...]
set -euo pipefail
case "${1:-}" in
  -h|--help) echo "usage: $0 [build-dir] [extra cmake options...]"; exit 0 ;;
  -*) echo "usage: $0 [build-dir] [extra cmake options...]" >&2; exit 2 ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-"$root/build"}
shift || true
cmake -S "$root" -B "$dir" -DTESSARY_WERROR=ON "$@" >/dev/null
targets=()
for target in ${BUILD_TARGETS:-}; do
  targets+=(--target "$target")
done
cmake --build "$dir" -j"$(nproc)" "${targets[@]}"
