#!/bin/sh
# The Windows archive as a user gets it: made by CPack, unpacked, and used from the unpacked folder
# alone. Every file the archive promises is there; a C host links against lib/halvex.lib and the
# CMake example finds the package (both with MinGW, which reads the same files Visual Studio does);
# both run under Wine against bin/hxsim.exe, and so does the viewer, bin/hxview.exe; and the demo
# runs with the folder's hxsim.exe and hxcam.exe, writing TIFF files this system's libtiff opens.
# Runs inside ctest's namespace (scripts/test windows); the demo makes one of its own, with a Wine
# prefix of its own.
#   archive_test.sh BUILD_DIR SOURCE_DIR VERSION
set -u
NAME=windows_archive
BUILD=$1
SOURCE=$2
VERSION=$3
. "$SOURCE/tests/support/beside_hxsim.sh"
WINE="$SOURCE/scripts/wine-in-netns"

(cd "$BUILD" && cpack --config CPackConfig.cmake -B "$WORK/packages") >"$WORK/cpack.log" 2>&1 ||
  { cat "$WORK/cpack.log"; fail "cpack"; finish; }
ZIP="$WORK/packages/halvex-$VERSION-win64.zip"
[ -f "$ZIP" ] || { fail "no $(basename "$ZIP")"; finish; }
unzip -q "$ZIP" -d "$WORK/unpacked" || { fail "unzip"; finish; }
ROOT="$WORK/unpacked/halvex-$VERSION-win64"
for file in bin/halvex.dll bin/libhlv_internal.dll bin/hxcam.exe bin/hxsim.exe bin/hxview.exe lib/halvex.lib lib/libhalvex.dll.a \
            lib/halvex.def lib/cmake/halvex/halvexConfig.cmake include/hx/hx.h examples/first_host.c \
            examples/CMakeLists.txt README-windows.txt; do
  [ -f "$ROOT/$file" ] || fail "the archive lacks $file"
done
"$SOURCE/scripts/check-dll-exports" "$ROOT/bin/halvex.dll" "$ROOT/include/hx/hx.h" "$ROOT/lib/halvex.def" ||
  fail "the archive's DLL, header and .def disagree"

# A C host against halvex.lib alone, placed beside the DLLs as the README says.
x86_64-w64-mingw32-gcc-posix -std=c11 -Wall -Werror -I"$ROOT/include" "$ROOT/examples/first_host.c" \
  "$ROOT/lib/halvex.lib" -o "$ROOT/bin/first_host.exe" 2>"$WORK/link.err" || { cat "$WORK/link.err"; fail "linking against halvex.lib"; }
# The CMake example, configured as its comment says, with MinGW instead of Visual Studio. The
# cross-compiling toolchain looks for packages below its own root only, so the package's folder is
# named outright (halvex_DIR) where Windows takes CMAKE_PREFIX_PATH.
cmake -S "$ROOT/examples" -B "$WORK/example" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$SOURCE/cmake/toolchains/x86_64-w64-mingw32.cmake" -Dhalvex_DIR="$ROOT/lib/cmake/halvex" \
  >"$WORK/example.log" 2>&1 && cmake --build "$WORK/example" >>"$WORK/example.log" 2>&1 ||
  { cat "$WORK/example.log"; fail "the CMake example does not build against the archive"; }

hxsim_exe() { exec "$WINE" "$ROOT/bin/hxsim.exe" "$@"; }
# At 127.0.0.1: Wine answers from there whatever loopback address a camera asks for.
start_hxsim hxsim_exe --address 127.0.0.1
for host in "$ROOT/bin/first_host.exe" "$WORK/example/first_host.exe"; do
  [ -f "$host" ] || continue
  "$WINE" "$host" 127.0.0.1 2>&1 | tr -d '\r' >"$WORK/host.out"
  grep -q "^127.0.0.1: hxsim" "$WORK/host.out" && grep -q "first_host: done" "$WORK/host.out" ||
    { cat "$WORK/host.out"; fail "$(basename "$(dirname "$host")")/first_host.exe against hxsim.exe"; }
done

# The viewer as docs/windows.md starts it, from the unpacked folder, on the same camera: its page,
# the camera listed, a live image, and that image's snapshot as a TIFF file libtiff opens. Wine
# hands SIGINT to it as Ctrl-C.
(cd "$ROOT" && exec "$WINE" bin/hxview.exe --address 127.0.0.1) >"$WORK/view.log" 2>&1 &
VIEW=$!
BACKGROUND="$BACKGROUND $VIEW"
API=http://127.0.0.1:8023/api/cameras/127.0.0.1
viewer_up() { grep -q "hxview: open http://127.0.0.1:8023/" "$WORK/view.log" 2>/dev/null; }
camera_listed() { curl -sf http://127.0.0.1:8023/api/cameras | grep -q '"address":"127.0.0.1"'; }
live_image() { curl -sf -D "$WORK/live.headers" -o "$WORK/live.raw" "$API/live.raw?after=0" && grep -qi "^X-Sequence:" "$WORK/live.headers"; }
if wait_until viewer_up; then
  curl -sf -o "$WORK/page.html" http://127.0.0.1:8023/ && grep -q "<title>" "$WORK/page.html" || fail "hxview.exe serves no page"
  wait_until camera_listed || fail "hxview.exe lists no camera at 127.0.0.1"
  curl -sf -X POST -d '{"on":true}' "$API/live" >/dev/null || fail "hxview.exe does not switch live on"
  if wait_until live_image; then
    sequence=$(sed -n 's/^[Xx]-[Ss]equence: *\([0-9]*\).*/\1/p' "$WORK/live.headers")
    curl -sf -o "$WORK/live.tif" "$API/snapshot.tif?sequence=$sequence" || fail "hxview.exe gives no live snapshot"
    tiffinfo "$WORK/live.tif" 2>&1 | grep -q "Image Width:" || fail "hxview.exe's live snapshot is no TIFF file libtiff reads"
  else
    fail "hxview.exe shows no live image of hxsim.exe"
  fi
  kill -INT $VIEW
  wait $VIEW || fail "hxview.exe did not stop cleanly"
  grep -q "hxview: stopped" "$WORK/view.log" || fail "hxview.exe did not stop on Ctrl-C"
else
  fail "hxview.exe did not start"
fi
[ $FAILED -eq 0 ] || cat "$WORK/view.log"

kill $SIM 2>/dev/null
wait $SIM 2>/dev/null
SIM=

WINEPREFIX="$WORK/wineprefix" "$SOURCE/scripts/demo" --windows --build-dir "$ROOT" --out "$WORK/demo" \
  >"$WORK/demo.out" 2>&1 || { cat "$WORK/demo.out"; tail -30 "$WORK/demo/demo.log"; fail "the Windows demo from the archive"; }
finish
