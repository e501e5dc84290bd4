#!/bin/sh
# Runs the C host against one stand-in camera. Inside a private network namespace (scripts/in-netns).
#   c_host_test.sh HXSIM C_HOST
set -u
HXSIM=$1
C_HOST=$2
LOG=$(mktemp)
"$HXSIM" --cameras 1 --sensor lupa-mono --memory 1G --time-scale 20 >"$LOG" 2>&1 &
SIM=$!
trap 'kill $SIM 2>/dev/null; wait $SIM 2>/dev/null; rm -f "$LOG"' EXIT
# The camera is up once hxsim says it runs; ten seconds at most.
tries=0
until grep -q "running" "$LOG"; do
  tries=$((tries + 1))
  [ $tries -le 100 ] || { cat "$LOG"; echo "c_host: FAILED: hxsim did not start"; exit 1; }
  sleep 0.1
done
"$C_HOST"
