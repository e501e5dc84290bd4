#!/bin/sh
# hxcam's camera commands as a user runs them against a stand-in camera: state, arm, trigger,
# watch (ended by an interrupt), play and stop, get and set of the other settings; exit statuses
# and output as docs/cli.md promises. Runs inside a private network namespace (scripts/in-netns).
#   hxcam_commands_test.sh HXSIM HXCAM
set -u
HXSIM=$1
HXCAM=$2
NAME=hxcam_commands
. "$(dirname "$0")/../../support/beside_hxsim.sh"
watch_shows_state() { grep -q "^state state=idle" "$WORK/watch.out"; }

start_hxsim "$HXSIM" --sensor lux13hs-mono

run idle 0 state
has idle.out "^state=idle$"
has idle.out "^commands=live,arm$"
run capture 0 set capture record-mode=ltr length=50 fps=100

# The events of everything below, until the watch is interrupted.
"$HXCAM" --address 127.0.0.2 watch >"$WORK/watch.out" 2>"$WORK/watch.err" &
BACKGROUND=$!
wait_until watch_shows_state || fail "watch showed no state"

run arm 0 arm
has arm.out "^state=armed$"
run trigger 0 trigger
run again 3 trigger
has again.err "did not follow the command"
wait_until in_review || fail "the recording never reached review"

run step 0 play --pause --frame 7
has step.out "mode=pause frame=7 last=49"
run forward 0 play --from 5 --to 20 --interval 2
has forward.out "mode=forward frame=5 last=49 range=5..20 interval=2"
run stop 0 stop
has stop.out "mode=pause"
run beyond 3 play --pause --frame 50

kill -INT $BACKGROUND
wait $BACKGROUND
status=$?
BACKGROUND=
[ $status -eq 0 ] || fail "watch ended with $status after an interrupt"
has watch.out "^state state=armed commands=live,trigger$"
has watch.out "^progress recorded=[0-9]* total=50 trigger=0$"
has watch.out "^progress recorded=50 total=50"
has watch.out "^state state=review"
# Another process changed the playback: its mode and range reach this one by the camera's events.
has watch.out "^playback mode=forward .* range=5..20 interval=2"

run getio 0 get io
has getio.out "^trigger-out-pulse=2 *# 1\.\.8$"
run setio 0 set io trigger-out=on trigger-out-pulse=5
has setio.out "^# after$"
after setio
has setio.after "^trigger-out=on"
has setio.after "^trigger-out-pulse=5 "
run stream 3 set stream jpeg=101 delay=300
has stream.err "refused: jpeg=101"
run dng 3 set download format=dng
has dng.err "refused: format=dng"
run lens 2 get lens
has lens.err "no lens"
run badkey 1 set io bogus=1
run badvalue 1 set io trigger-out=maybe
run badoption 1 play --fast

finish
