#!/bin/sh
# Runs the C host test against two stand-in cameras started with hxsim, inside the private
# network namespace the caller provides (scripts/in-netns).
#   c_host_test.sh HXSIM C_HOST_TEST
set -u
HXSIM=$1
HOST=$2
NAME=c_host
. "$(dirname "$0")/../../support/beside_hxsim.sh"

start_hxsim "$HXSIM" --cameras 2 --address 127.0.0.2 --sensor lux13hs
"$HOST" 127.0.0.2 127.0.0.3
status=$?
[ $status -eq 0 ] || { echo "c_host: camera log:"; tail -n 40 "$WORK/sim.log"; }
exit $status
