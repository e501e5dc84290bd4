#!/bin/sh
# hxcam against cameras that misbehave: a camera whose write acknowledges come back short (so
# every write of any settings record looks failed though the camera applied it), a camera the
# library does not recognise, and one that never acknowledges. hxcam must not report a success
# that did not happen, nor a refusal where the exchange failed. A download over a stream that
# loses packets fetches its incomplete frames again. Runs inside a private network namespace.
#   hxcam_faults_test.sh HXSIM HXCAM
set -u
HXSIM=$1
HXCAM=$2
NAME=hxcam_faults
. "$(dirname "$0")/../../support/beside_hxsim.sh"
ADDRESS=127.0.0.2

cat >"$WORK/cameras.json" <<'JSON'
{
  "defaults": { "sensor": "lux13hs-mono" },
  "cameras": [
    { "name": "short", "faults": { "control": { "wrong-index": 1 } } },
    { "name": "plain", "model": "hxsim plain" },
    { "name": "deaf", "faults": { "control": { "drop": 1 } } },
    { "name": "lossy", "time_scale": 20, "faults": { "stream": { "drop": 0.03 } } }
  ]
}
JSON
start_hxsim "$HXSIM" --scenario "$WORK/cameras.json"

# The camera applies what it acknowledges short: hxcam reads back and says so.
run fps 0 set capture fps=200
has fps.err "timed out: fps=200"
lacks fps.err "refused"
after fps
has fps.after "^fps=200 "
run arm 2 arm
has arm.err "timed out"
lacks arm.err "did not follow"
# The other settings records are read back the same way (a write of one register is judged by
# its status alone, so these write two or more).
run io 0 set io trigger-out=on trigger-out-pulse=5
has io.err "timed out: trigger-out=on"
has io.err "timed out: trigger-out-pulse=5"
after io
has io.after "^trigger-out-pulse=5 "
run stream 0 set stream delay=300 jpeg=80
has stream.err "timed out: delay=300"
lacks stream.err "refused"
run download 0 set download jpeg=80
has download.err "timed out: jpeg=80"

ADDRESS=127.0.0.3
run plain 2 state
has plain.err "state could not be read"
lacks plain.out "^state="
run plainarm 2 arm
lacks plainarm.out "^state="

ADDRESS=127.0.0.4
run deaf 2 state
lacks deaf.out "^state="
run deaflens 2 get lens
has deaflens.err "did not answer"
lacks deaflens.err "no lens control"

# 3% of the stream's packets lost (seeded, so the same frames break each run): a few frames
# arrive incomplete, and the retries bring them whole.
ADDRESS=127.0.0.5
run lossyset 0 set capture width=256 height=64 record-mode=ltr length=40
run lossyarm 0 arm
run lossytrigger 0 trigger
wait_until in_review || fail "the recording never reached review"
run once 2 download --from 0 --to 39 --out "$WORK/once" --retries 0
has once.err "frames could not be downloaded whole"
run retried 0 download --from 0 --to 39 --out "$WORK/retried" --stats
has retried.out "^download: 40 frames"
has retried.out "frames whole in the first pass; .* recovered in [0-9]* more pass.*; none lost"
[ "$(ls "$WORK/retried" | wc -l)" -eq 40 ] || fail "not every frame was written"

finish
