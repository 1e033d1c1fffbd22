#!/usr/bin/env bash
# Installs every Debian package the build, the tools, the calibration report
# (Python with matplotlib and NumPy; psycopg2 for a PostgreSQL station store),
# the tests (pytest, jsonschema, a PostgreSQL server they start themselves, man
# for the manual pages, tmux for the operator's terminal) and the benchmarks (GNU time) need.
# Run as root on a fresh Debian machine; packages already present are skipped.
# Usage: scripts/install-deps.sh
set -euo pipefail
case "${1:-}" in
  -h|--help) echo "usage: $0    (installs the Debian packages the project needs; run as root)"; exit 0 ;;
  "") ;;
  *) echo "usage: $0    (no arguments)" >&2; exit 2 ;;
esac

packages=(
  cmake make g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libtinyxml-dev
  clang libclang-rt-dev
  python3 python3-numpy python3-matplotlib python3-pytest python3-psycopg2 python3-jsonschema postgresql
  man-db time tmux
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
