#!/bin/sh
# hxcam from finding a camera to image files, as a user runs it: find by address, read and change
# the capture settings, arm, trigger, download recorded frames (the camera's TIFF and packed) and
# live images; every file written must open with this system's libtiff at the size set. Runs
# inside a private network namespace (scripts/in-netns); in the Windows build hxcam runs under
# Wine against the Linux hxsim, and hxsim.exe under Wine answers hxcam.exe and the Linux hxcam
# (at ADDRESS, 127.0.0.1 there).
#   hxcam_images_test.sh HXSIM HXCAM
set -u
NAME=hxcam_images
. "$(dirname "$0")/../../support/beside_hxsim.sh"
HXSIM=$1
HXCAM=$2
# Every NAME*.tif in the folder opens as a 256x64 image; at least COUNT of them.
images() {
  count=0
  for file in "$WORK/$1"/*.tif; do
    [ -e "$file" ] || break
    count=$((count + 1))
    tiffinfo "$file" 2>&1 | grep -q "Image Width: 256 Image Length: 64" || fail "$file is not a 256x64 TIFF"
  done
  [ $count -ge "$2" ] || fail "$1: $count image files, expected $2"
}

start_hxsim "$HXSIM" --sensor lux13hs-mono

run list 0 list
has list.out "^${ADDRESS:-127.0.0.2} "
run capture 0 set capture roi=256x64+0+0 record-mode=ltr length=20 fps=200
after capture
has capture.after "^roi=256x64+0+0$"
has capture.after "^length=20 "
run reread 0 get capture
has reread.out "^fps=200 "

run arm 0 arm
has arm.out "^state=armed$"
run trigger 0 trigger
wait_until in_review || fail "the recording never reached review"

mkdir "$WORK/tiff" "$WORK/packed" "$WORK/live"
run download 0 download --from 0 --to 4 --out "$WORK/tiff"
images tiff 5
run packed 0 download --from 5 --to 7 --format packed --out "$WORK/packed"
images packed 3
run live 0 live --frames 3 --out "$WORK/live"
images live 3

finish
