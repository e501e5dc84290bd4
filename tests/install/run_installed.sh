#!/bin/sh
# The installed programs at work, inside the private network namespace the caller provides
# (scripts/in-netns): the two example builds, and hxcam against the installed hxsim, down to a
# packed download that needs the installed packing library.
#   run_installed.sh PREFIX LIBDIR TWO_CLIENTS_CMAKE TWO_CLIENTS_PKG_CONFIG
set -u
PREFIX=$1
LIB=$2
HXCAM=$PREFIX/bin/hxcam
NAME=install
. "$(dirname "$0")/../support/beside_hxsim.sh"

start_hxsim "$PREFIX/bin/hxsim" --sensor lux13hs

for example in "$3" "$4"; do
  out=$WORK/$(basename "$example").out
  "$example" >"$out" 2>&1 || fail "$example: exit $?"
  grep -q "^two_clients: done" "$out" || { fail "$example did not finish"; tail -n 20 "$out"; }
  loaded=$(ldd "$example" | sed -n 's/.*libhalvex\.so\.[0-9]* => \([^ ]*\).*/\1/p')
  [ -n "$loaded" ] && [ "$(readlink -f "$loaded")" = "$(readlink -f "$LIB/${loaded##*/}")" ] ||
    { fail "$example does not load the installed library"; ldd "$example"; }
done

run info 0 info
has info.out "127.0.0.2"
# The library offers packed downloads only when it found libhlv_internal.so, beside itself.
run download-settings 0 get download
has download-settings.out "^format=.*# offered: .* packed"
run capture 0 set capture bit-mode=10a roi=256x64 fps=1000 record-mode=ltr length=16
run arm 0 arm
run trigger 0 trigger
wait_until in_review || fail "the recording never reached review"
run download 0 download --from 0 --to 3 --format packed --out "$WORK/frames"
[ "$(ls "$WORK/frames" | wc -l)" -eq 4 ] || fail "download wrote $(ls "$WORK/frames" | wc -l) files, not 4"
finish
