#!/usr/bin/env bash
# Configures and builds into a build folder (default: build).
# Usage: scripts/build.sh [build-dir] [extra cmake options...]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-"$root/build"}
shift || true
cmake -S "$root" -B "$dir" -DTESSARY_WERROR=ON "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
