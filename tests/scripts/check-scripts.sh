#!/usr/bin/env bash
# The project's scripts answer bad use with a usage line and status 2, and
# --help with their usage and status 0, running nothing; never a shell error.
#   check-scripts.sh ROOT
set -uo pipefail
root=$(cd "$1" && pwd)
failed=0
# expect STATUS TEXT COMMAND...: the command ends with the status, prints the
# text, and says nothing of unbound variables or other shell errors.
expect() {
  local status=$1 text=$2; shift 2
  local out code
  out=$(cd "$root" && timeout 20 "$@" 2>&1 < /dev/null)
  code=$?
  if [ "$code" != "$status" ] || ! grep -qF -- "$text" <<< "$out" ||
     grep -qE 'unbound variable|line [0-9]+:|command not found' <<< "$out"; then
    echo "FAIL: $* gave status $code (expected $status) and printed:" >&2
    echo "$out" >&2
    failed=1
  fi
}
expect 2 "usage: scripts/hubsim-start SCENARIO" scripts/hubsim-start
expect 2 "usage: scripts/hubsim-start SCENARIO" scripts/hubsim-start examples/hub-default.xml --socket
expect 2 "cannot read the scenario /nonexistent.xml" scripts/hubsim-start /nonexistent.xml
expect 0 "usage: scripts/hubsim-start SCENARIO" scripts/hubsim-start --help
expect 2 "cannot read the scenario /nonexistent.xml" scripts/with-hub /nonexistent.xml -- true
expect 2 "usage: scripts/with-hub SCENARIO" scripts/with-hub
expect 2 "usage: scripts/with-hub SCENARIO" scripts/with-hub examples/hub-default.xml --journal
expect 2 "usage: scripts/with-hub SCENARIO" scripts/with-hub examples/hub-default.xml --bogus x -- true
expect 2 "usage: scripts/with-hub SCENARIO" scripts/with-hub examples/hub-default.xml --
expect 0 "usage: scripts/with-hub SCENARIO" scripts/with-hub --help
for script in test.sh build.sh main.sh install-deps.sh bench.sh fuzz.sh; do
  expect 0 "usage: scripts/$script" bash "scripts/$script" --help
done
for script in test.sh install-deps.sh bench.sh; do
  expect 2 "usage: scripts/$script" bash "scripts/$script" extra
done
expect 2 "usage: scripts/build.sh" bash scripts/build.sh --bogus
expect 2 "usage: scripts/fuzz.sh" bash scripts/fuzz.sh --runs
expect 2 "usage: scripts/fuzz.sh" bash scripts/fuzz.sh --runs many
[ "$failed" = 0 ] && echo "scripts: all checks passed"
exit "$failed"
