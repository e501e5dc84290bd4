# The viewer page in headless chromium against hxview and two hxsim cameras, in the private network
# namespace this script runs in (scripts/in-netns). Checks the files the browser received (a ZIP
# of TIFF files, snapshots) and the server's download folder with libtiff's own reader. Skips (77)
# when chromium or the test's node modules are missing: scripts/deps installs both.
#   [STOP_SIGNAL=INT] viewer_test.sh HXSIM HXVIEW SCREENSHOT_DIR
# STOP_SIGNAL is the signal that asks hxview to stop (TERM unless set).
NAME=viewer_browser
. "$(dirname "$0")/../../support/beside_hxsim.sh"
HERE=$(cd "$(dirname "$0")" && pwd)
SHOTS=$3
CHROMIUM=${CHROMIUM:-/usr/bin/chromium}
if [ ! -x "$CHROMIUM" ] || [ ! -d "$HERE/node_modules/puppeteer-core" ] || ! command -v node >/dev/null; then
  echo "$NAME: skipped: needs chromium, node and the modules of tests/e2e/viewer (scripts/deps installs them)"
  exit 77
fi
mkdir -p "$SHOTS" "$WORK/browser"
rm -f "$SHOTS"/*.png

start_hxsim "$1" --scene --cameras 2
"$2" --listen 127.0.0.1:8023 --address 127.0.0.2 --address 127.0.0.3 --downloads "$WORK/downloads" >"$WORK/view.log" 2>&1 &
BACKGROUND=$!
viewer_up() { grep -q "hxview: open" "$WORK/view.log" 2>/dev/null; }
wait_until viewer_up || { cat "$WORK/view.log"; fail "hxview did not start"; finish; }

HOME="$WORK" CHROMIUM="$CHROMIUM" node "$HERE/viewer_test.mjs" http://127.0.0.1:8023/ "$SHOTS" "$SIM" "$WORK/browser" ||
  fail "the page test failed"

# A TIFF file libtiff reads as a 640x480 image.
tiff_640x480() { tiffinfo "$1" 2>&1 | grep -q "Image Width: 640 Image Length: 480"; }
files=$(ls "$WORK/downloads"/*.tif 2>/dev/null | wc -l)
[ "$files" -eq 5 ] || fail "the server's folder has $files TIFF files, not 5"
for file in "$WORK/downloads"/*.tif; do tiff_640x480 "$file" || fail "$file is no readable 640x480 TIFF"; done

zip=$(ls "$WORK/browser"/*.zip 2>/dev/null | head -1)
mkdir -p "$WORK/unzipped"
if [ -z "$zip" ] || ! unzip -q "$zip" -d "$WORK/unzipped"; then
  fail "the browser received no ZIP file that unzip opens"
fi
files=$(ls "$WORK/unzipped"/*.tif 2>/dev/null | wc -l)
[ "$files" -eq 5 ] || fail "the ZIP file holds $files TIFF files, not 5"
for file in "$WORK/unzipped"/*.tif; do tiff_640x480 "$file" || fail "$(basename "$file") in the ZIP is no readable 640x480 TIFF"; done
for snapshot in live review; do
  file=$(ls "$WORK/browser/$snapshot"-*.tif 2>/dev/null | head -1)
  [ -n "$file" ] && tiff_640x480 "$file" || fail "the $snapshot snapshot is no readable 640x480 TIFF"
done

kill -"${STOP_SIGNAL:-TERM}" "$BACKGROUND"
wait "$BACKGROUND" || fail "hxview did not stop cleanly"
grep -q "hxview: stopped" "$WORK/view.log" || { cat "$WORK/view.log"; fail "hxview did not stop cleanly"; }
finish
