# Shell helpers for tests that run a host program beside hxsim inside a private network namespace
# (scripts/in-netns): a work folder, hxsim started and awaited, failures reported under the test's
# name, and everything stopped and removed when the script exits.
# Set NAME before sourcing this file. To use `run`, define host() to run the program under test;
# with HXCAM set, host() already runs that hxcam against the camera at $ADDRESS (127.0.0.2 unset).
#   start_hxsim HXSIM ARGS...  starts hxsim (its log in $WORK/sim.log); returns once it runs
#   wait_until COMMAND...      re-runs the command every tenth of a second until it succeeds;
#                              false after ten seconds
#   fail MESSAGE...            reports a failure; finish ends the script with "NAME: done" or 1
#   in_review                  whether the camera host() talks to reports the review state
#   run NAME STATUS ARGS...    runs host ARGS, output in $WORK/NAME.out and $WORK/NAME.err, and
#                              checks its exit status
#   has FILE TEXT, lacks FILE TEXT   whether a file of $WORK holds a line matching TEXT
#   after NAME                 the lines of a set command's output from its "# after" line on,
#                              in $WORK/NAME.after
#   BACKGROUND                 further process ids to stop at exit
WORK=$(mktemp -d)
FAILED=0
SIM=
BACKGROUND=
trap 'kill $SIM $BACKGROUND 2>/dev/null; wait 2>/dev/null; rm -rf "$WORK"' EXIT

fail() { echo "$NAME: FAILED: $*"; FAILED=1; }

host() { "$HXCAM" --address "${ADDRESS:-127.0.0.2}" "$@"; }
in_review() { host state 2>/dev/null | grep -q "^state=review$"; }

wait_until() {
  tries=0
  until "$@"; do
    tries=$((tries + 1))
    [ $tries -le 100 ] || return 1
    sleep 0.1
  done
}

sim_running() { grep -q "running" "$WORK/sim.log"; }

start_hxsim() {
  "$@" >"$WORK/sim.log" 2>&1 &
  SIM=$!
  wait_until sim_running || { cat "$WORK/sim.log"; echo "$NAME: FAILED: hxsim did not start"; exit 1; }
}

run() {
  name=$1; expected=$2; shift 2
  host "$@" >"$WORK/$name.out" 2>"$WORK/$name.err"
  status=$?
  [ $status -eq "$expected" ] || { fail "$name: exit $status, expected $expected"; cat "$WORK/$name.err"; }
}
has() { grep -q -- "$2" "$WORK/$1" || { fail "$1 lacks '$2'"; cat "$WORK/$1"; }; }
lacks() { ! grep -q -- "$2" "$WORK/$1" || fail "$1 has '$2'"; }
after() { sed -n '/^# after$/,$p' "$WORK/$1.out" >"$WORK/$1.after"; }

finish() {
  [ $FAILED -eq 0 ] && echo "$NAME: done"
  exit $FAILED
}
