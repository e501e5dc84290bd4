#!/bin/sh
# hxcam as a new user runs it, against two stand-in cameras: list, info, get capture, set capture
# (applied and refused), a camera that is not there, and usage errors; exit statuses and output
# as docs/cli.md promises. Runs inside a private network namespace (scripts/in-netns).
#   hxcam_cli_test.sh HXSIM HXCAM
set -u
HXSIM=$1
HXCAM=$2
NAME=hxcam_cli
. "$(dirname "$0")/../../support/beside_hxsim.sh"
host() { "$HXCAM" "$@"; }

# Both cameras are up once hxsim says it is running.
start_hxsim "$HXSIM" --cameras 2 --sensor lux19hs-mono

run help 0 --help
has help.out "usage: hxcam"
has help.out "fps=RATE"

run list 0 list --address 127.0.0.2 --address 127.0.0.3
has list.out "^ADDRESS"
has list.out "^127.0.0.2 .*hxsim qT"
has list.out "^127.0.0.3 "
lacks list.out "src/"

run info 0 --address 127.0.0.2 info
has info.out "^address=127.0.0.2$"
has info.out "^model=hxsim qT$"
has info.out "^manufacturer=halvex$"

run get 0 --address 127.0.0.2 get capture
has get.out "^roi=1920x1080+0+0$"
has get.out "^fps=[0-9]"
has get.out "^width=1920 .*# 64..1920 step 4"

run set 0 --address 127.0.0.2 set capture fps=1000 roi=1024x512+448+284 exposure=500
after set
has set.out "^# before$"
has set.after "^roi=1024x512+448+284$"
has set.after "^fps=1000 "
has set.after "^exposure=500 "
lacks set.after "refused"
run reread 0 --camera 127.0.0.2 get capture
has reread.out "^roi=1024x512+448+284$"

run refused 3 --address 127.0.0.3 set capture fps=99999 exposure=300
after refused
has refused.err "hxcam: refused: fps=99999"
has refused.after "^fps=[0-9]* .*\[refused\]"
has refused.after "^exposure=300 "

run absent 2 --address 127.0.0.9 info
has absent.err "no camera"

# A camera of another make answers: the log hxcam shows says who answered and that it is not
# supported.
"$HXSIM" --address 127.0.0.7 --wrong-manufacturer --model "Model 9" >"$WORK/foreign.log" 2>&1 &
BACKGROUND="$BACKGROUND $!"
foreign_running() { grep -q "running" "$WORK/foreign.log"; }
wait_until foreign_running || fail "the foreign camera did not start"
run foreign 2 list --address 127.0.0.7
has foreign.err "a camera answered at 127.0.0.7: maker \"Elsewhere Imaging\", model \"Model 9\"; not supported"
has foreign.err "no supported camera answers at 127.0.0.7"
run unknown-key 1 --address 127.0.0.2 set capture colour=red
has unknown-key.err "unknown capture setting 'colour'"
run no-camera 1 get capture
run unknown-command 1 frobnicate

finish
