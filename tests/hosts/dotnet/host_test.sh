#!/bin/sh
# Runs a .NET program (dotnet test, or the example host) beside one stand-in camera. Inside a
# private network namespace (scripts/in-netns).   host_test.sh HXSIM COMMAND ARGS...
set -u
HXSIM=$1
shift
NAME=dotnet
. "$(dirname "$0")/../../support/beside_hxsim.sh"

start_hxsim "$HXSIM" --cameras 1 --sensor lince --memory 1G --time-scale 20
"$@" || fail "$* exited with status $?"
finish
