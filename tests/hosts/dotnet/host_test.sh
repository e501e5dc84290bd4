#!/bin/sh
# Runs the managed example host against one stand-in camera. Inside a private network namespace
# (scripts/in-netns).   host_test.sh HXSIM MONO CAMERA_HOST_EXE
set -u
HXSIM=$1
MONO=$2
HOST=$3
NAME=dotnet_host
. "$(dirname "$0")/../../support/beside_hxsim.sh"

start_hxsim "$HXSIM" --cameras 1 --sensor lince --memory 1G --time-scale 20
"$MONO" --debug "$HOST" 127.0.0.2 || fail "the host exited with status $?"
finish
