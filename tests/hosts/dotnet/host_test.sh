#!/bin/sh
# Runs a .NET program (dotnet test, or the example host) beside one stand-in camera. Inside a
# private network namespace (scripts/in-netns).   host_test.sh HXSIM COMMAND ARGS...
set -u
HXSIM=$1
shift
NAME=dotnet
. "$(dirname "$0")/../../support/beside_hxsim.sh"

# With HX_TEST_FOREIGN_CAMERA set, a camera of another make answers at that address too.
if [ -n "${HX_TEST_FOREIGN_CAMERA:-}" ]; then
  "$HXSIM" --address "$HX_TEST_FOREIGN_CAMERA" --wrong-manufacturer --model "Model 9" >"$WORK/foreign.log" 2>&1 &
  BACKGROUND=$!
  foreign_running() { grep -q "running" "$WORK/foreign.log"; }
  wait_until foreign_running || { cat "$WORK/foreign.log"; echo "$NAME: FAILED: the foreign camera did not start"; exit 1; }
fi
start_hxsim "$HXSIM" --cameras 1 --sensor lince --memory 1G --time-scale 20
"$@" || fail "$* exited with status $?"
finish
