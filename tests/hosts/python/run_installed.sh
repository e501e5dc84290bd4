#!/bin/sh
# An installed halvex package at work beside hxsim, run from outside the source tree, inside the
# private network namespace the caller provides (scripts/in-netns): `python -m halvex list
# --address`, then a recording and a download whose frames are checked and kept in a list.
#   run_installed.sh HXSIM PYTHON
set -u
NAME=python-installed
. "$(dirname "$0")/../../support/beside_hxsim.sh"
unset HALVEX_LIBRARY PYTHONPATH
PYTHON=$2

start_hxsim "$1" --cameras 1 --sensor lince --memory 1G --time-scale 20
cd "$WORK" || exit 1

"$PYTHON" -m halvex list --address 127.0.0.2 >list.out 2>list.err || fail "list: exit $?"
has list.out "^127.0.0.2  hxsim"
[ ! -s list.err ] || { fail "list wrote to standard error"; cat list.err; }
lacks list.out "^[0-9]\{8\} [0-9]\{6\}"   # the library's lines go to logging, not to the terminal

cat >download.py <<'PY'
import warnings
import halvex

warnings.simplefilter("ignore", halvex.RecordLengthChanged)
with halvex.Client() as client:
    camera = client.camera("127.0.0.2")
    camera.capture.set(bit_mode=halvex.constants.BIT_MODE_8A, width=256, height=64, x_offset=0, y_offset=0)
    recorded = camera.record(length=16)
    frames = list(camera.download(0, 11, packet_delay=1000))
    wrong = [f.frame_id for f in frames if int(f.pixels.reshape(-1)[:4].view("<u4")[0]) != f.frame_id]
halvex.shutdown()
print(f"download: {len(frames)} frames of {recorded}, wrong {wrong}, library {halvex.library_file()}")
PY
"$PYTHON" download.py >download.out 2>download.err || { fail "download: exit $?"; cat download.err; }
has download.out "^download: 12 frames of [0-9]*, wrong \[\]"
[ ! -s download.err ] || { fail "the download wrote to standard error"; cat download.err; }
lacks download.out "^[0-9]\{8\} [0-9]\{6\}"
cat list.out download.out
finish
