#!/usr/bin/env bash
# Installs every Debian package the build, the tools, the calibration report
# (Python with matplotlib and NumPy), the tests (pytest, man for the manual
# pages) and the benchmarks (GNU time) need.
# Run as root on a fresh Debian machine; packages already present are skipped.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libtinyxml-dev
  clang libclang-rt-dev
  python3 python3-numpy python3-matplotlib python3-pytest
  man-db time
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y "${missing[@]}"
fi
