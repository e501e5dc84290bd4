#!/bin/sh
# Runs the C host test against two stand-in cameras started with hxsim, inside the private
# network namespace the caller provides (scripts/in-netns).
#   c_host_test.sh HXSIM C_HOST_TEST
set -u
HXSIM=$1
HOST=$2
WORK=$(mktemp -d)

"$HXSIM" --cameras 2 --address 127.0.0.2 --sensor lux13hs >"$WORK/sim.log" 2>&1 &
SIM=$!
trap 'kill $SIM 2>/dev/null; wait $SIM 2>/dev/null; rm -rf "$WORK"' EXIT

# The cameras are up once hxsim says it is running; ten seconds at most.
tries=0
until grep -q "running" "$WORK/sim.log"; do
  tries=$((tries + 1))
  [ $tries -le 100 ] || { cat "$WORK/sim.log"; echo "c_host: FAILED: hxsim did not start"; exit 1; }
  sleep 0.1
done

"$HOST" 127.0.0.2 127.0.0.3
status=$?
[ $status -eq 0 ] || { echo "c_host: camera log:"; tail -n 40 "$WORK/sim.log"; }
exit $status
