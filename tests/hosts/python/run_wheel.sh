#!/bin/sh
# The wheel as a user gets it: built from the build folder (bindings/python/build-wheel), installed
# with pip into a fresh virtual environment of Debian's Python (NumPy from the system), then used
# from outside the source tree beside hxsim (run_installed.sh), with the library inside the wheel.
# Runs inside a private network namespace (scripts/in-netns). Exits 77 without venv or pip.
#   run_wheel.sh BUILD_DIR HXSIM PYTHON VERSION
set -u
BUILD=$1
HXSIM=$2
PYTHON=$3
VERSION=$4
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "python-wheel: FAILED: $*"; exit 1; }

"$PYTHON" -c "import ensurepip, setuptools, wheel" 2>/dev/null ||
  { echo "python-wheel: skipped: $PYTHON lacks venv, setuptools or wheel (scripts/deps installs them)"; exit 77; }
sh "$here/../../../bindings/python/build-wheel" "$BUILD" "$work/dist" "$PYTHON" >"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; fail "building the wheel"; }
wheel=$(ls "$work"/dist/halvex-"$VERSION"-py3-none-*.whl 2>/dev/null) || { cat "$work/build.log"; fail "no halvex-$VERSION wheel"; }
echo "wheel: ${wheel##*/}"
"$PYTHON" -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$wheel" >"$work/contents"
for file in halvex/_lib/libhalvex.so.2 halvex/_lib/libhlv_internal.so halvex/py.typed; do
  grep -qx "$file" "$work/contents" || { cat "$work/contents"; fail "the wheel lacks $file"; }
done

"$PYTHON" -m venv --system-site-packages "$work/venv" >"$work/venv.log" 2>&1 || { cat "$work/venv.log"; fail "venv"; }
"$work/venv/bin/python" -m pip install --no-index --no-deps --disable-pip-version-check -q "$wheel" \
  >"$work/pip.log" 2>&1 || { cat "$work/pip.log"; fail "pip install"; }

cd "$work" || exit 1
env -u HALVEX_LIBRARY -u PYTHONPATH "$work/venv/bin/python" -c \
  'import halvex; print(halvex.__version__, halvex.library_file())' >version.out 2>&1 || { cat version.out; fail "import"; }
read -r version library <version.out
[ "$version" = "$VERSION" ] || fail "halvex.__version__ is $version, not $VERSION"
case "$library" in
  "$work"/venv/*/halvex/_lib/libhalvex.so.2) ;;
  *) fail "the installed package loads $library, not the library inside it" ;;
esac
sh "$here/run_installed.sh" "$HXSIM" "$work/venv/bin/python" || fail "the installed wheel beside hxsim"
echo "python-wheel: done"
