#!/bin/sh
# Runs the C host against one stand-in camera. Inside a private network namespace (scripts/in-netns).
#   c_host_test.sh HXSIM C_HOST
set -u
HXSIM=$1
C_HOST=$2
NAME=c_host
. "$(dirname "$0")/../../support/beside_hxsim.sh"

start_hxsim "$HXSIM" --cameras 1 --sensor lupa-mono --memory 1G --time-scale 20
"$C_HOST"
