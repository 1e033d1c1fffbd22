#!/usr/bin/env bash
# The installation and the Debian package, checked as a user meets them:
#   check-package.sh BUILD
# installs the build into a scratch prefix and runs every installed tool's usage
# from there (and a tool against the emulated hub through the installed
# with-hub), renders every manual page, completes options with the installed
# completion, then builds the .deb and checks its file list and dependencies
# and installs it into a scratch root with dpkg.
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# A command's output must hold the text; its exit status is its own business.
expect() {
  local text=$1; shift
  local out
  out=$("$@" 2>&1 < /dev/null) || true
  grep -qF -- "$text" <<< "$out" || fail "$* did not print \"$text\": $out"
}

usage_checks() {
  local bin=$1
  expect "Usage:" "$bin/sensortrim" -h
  expect "Usage: hubctl" "$bin/hubctl" -h
  expect "-SetPDT <bin-file-path>" "$bin/hubtable"
  expect "fwlogtap DOXI [continuous] [flush]" "$bin/fwlogtap"
  expect "fwlogsetup -setconfig config_file [volatile]" "$bin/fwlogsetup"
  expect "usage: calreport" "$bin/calreport" -h
  # Its package and the run record's schema are where the script finds them.
  expect '"schema": "tessary-run-record/1"' "$bin/calreport" "$bin/../share/tessary/examples/dumps/agm-full" --json -
  expect "usage: hubsim --scenario FILE" "$bin/hubsim"
  expect "usage: devicesim --out DIR" "$bin/devicesim"
  expect "usage:" "$bin/with-hub"
  # The scripts find hubsim, the operator and the shim where they were installed.
  expect "FW State: responding" "$bin/with-hub" "$bin/../share/tessary/examples/hub-default.xml" -- "$bin/hubctl" -INFO
}

echo "== cmake --install into a scratch prefix =="
cmake --install "$build" --prefix "$work/prefix" > /dev/null
usage_checks "$work/prefix/bin"

echo "== manual pages =="
for page in sensortrim hubctl hubtable fwlogtap fwlogsetup calreport hubsim with-hub hubsim-start devicesim; do
  file=$work/prefix/share/man/man1/$page.1.gz
  [ -e "$file" ] || fail "no manual page for $page"
  warnings=$(MANWIDTH=80 man --warnings=w -l "$file" 2>&1 > /dev/null)
  [ -z "$warnings" ] || fail "$page.1 renders with warnings: $warnings"
  text=$(MANWIDTH=80 man -l "$file" 2> /dev/null)
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" FILES EXAMPLES; do
    grep -q "^$section" <<< "$text" || fail "$page.1 has no $section section"
  done
done

echo "== bash completion =="
completions=$work/prefix/share/bash-completion/completions
complete_line() {
  # complete_line TOOL WORD... : the candidates for the last word
  local tool=$1; shift
  bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _$1; printf "%s\n" "${COMPREPLY[@]}"' \
    _ "$completions/$tool" "$tool" "$@"
}
[ "$(complete_line sensortrim -calibrateo | tr '\n' ' ')" = "-CalibrateOffline " ] || fail "sensortrim -calibrateo"
[ "$(complete_line sensortrim -Calibrate AG | tr '\n' ' ')" = "AG AGM " ] || fail "sensortrim -Calibrate AG"
[ "$(complete_line hubctl -B | tr '\n' ' ')" = "-BIST -BOM " ] || fail "hubctl -B"
[ "$(complete_line fwlogsetup -getConfig h | tr '\n' ' ')" = "header " ] || fail "fwlogsetup -getConfig h"
[ "$(complete_line fwlogtap D | tr '\n' ' ')" = "DOXI " ] || fail "fwlogtap D"
for tool in hubtable calreport; do
  [ -n "$(complete_line $tool -)" ] || fail "$tool completes nothing"
done

echo "== the Debian package =="
(cd "$build" && cpack -G DEB -B "$work/package" > "$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail cpack; }
deb=$(ls "$work"/package/tessary-tools_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for dependency in libtinyxml2.6.2v5 python3-matplotlib python3-numpy; do
  grep -q "$dependency" <<< "$depends" || fail "the package does not depend on $dependency: $depends"
done
files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for file in ./usr/bin/sensortrim ./usr/bin/hubctl ./usr/bin/hubtable ./usr/bin/fwlogtap ./usr/bin/fwlogsetup \
            ./usr/bin/calreport ./usr/bin/hubsim ./usr/bin/devicesim ./usr/bin/with-hub ./usr/lib/tessary/libhubsim-shim.so \
            ./usr/share/man/man1/sensortrim.1.gz ./usr/share/bash-completion/completions/sensortrim \
            ./usr/share/tessary/examples/hub-default.xml; do
  grep -qxF "$file" <<< "$files" || fail "the package lacks $file"
done
# The binaries are stripped: no symbol table, no debug sections.
unpacked=$work/unpacked
dpkg-deb -x "$deb" "$unpacked"
for binary in sensortrim hubctl hubtable fwlogtap fwlogsetup hubsim devicesim hubop; do
  sections=$(readelf -S -W "$unpacked/usr/bin/$binary")
  ! grep -qE '\.symtab|\.debug_' <<< "$sections" || fail "the package's $binary is not stripped"
done
root=$work/root
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status"
# The root's own package database knows none of the dependencies: the machine's
# libraries serve the tools.
dpkg --root="$root" --admindir="$root/var/lib/dpkg" --force-depends --force-script-chrootless \
  --log=/dev/null -i "$deb" > "$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i"; }
dpkg --root="$root" --admindir="$root/var/lib/dpkg" -s tessary-tools | grep -q "Status: install ok installed" ||
  fail "dpkg does not list the package as installed"
usage_checks "$root/usr/bin"
echo "installation and package: all checks passed"
