#!/bin/sh
# Installs the build into a temporary prefix and uses it as a user would: checks the installed
# files, builds examples/two_clients.c out of tree through find_package and through pkg-config, and
# runs both programs and the installed tools beside the installed hxsim in a private network
# namespace. Nothing is written outside the temporary folder but the install manifest that
# `cmake --install` always leaves in the build folder.
#   install_test.sh CMAKE BUILD_DIR SOURCE_DIR C_COMPILER LIBDIR VERSION MANPAGES(0|1)
set -u
CMAKE=$1
BUILD=$2
SOURCE=$3
CC=$4
LIBDIR=$5
VERSION=$6
MANPAGES=$7
MAJOR=${VERSION%%.*}

skip() { echo "install: SKIPPED: $* (scripts/deps installs it)"; exit 77; }
for tool in pkg-config readelf ninja; do
  command -v $tool >/dev/null || skip "$tool is not installed"
done

TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
PREFIX=$TMP/prefix
LIB=$PREFIX/$LIBDIR
FAILED=0
fail() { echo "install: FAILED: $*"; FAILED=1; }
# step NAME COMMAND...: runs a build step with its output in $TMP/NAME.log, shown when it fails.
step() {
  name=$1; shift
  "$@" >"$TMP/$name.log" 2>&1 || { cat "$TMP/$name.log"; echo "install: FAILED: $name"; exit 1; }
}

step install "$CMAKE" --install "$BUILD" --prefix "$PREFIX"

# The shared library under its full version, found by its soname, and linked under its plain name.
real=$LIB/libhalvex.so.$VERSION
[ -f "$real" ] && [ ! -L "$real" ] || fail "$real is missing"
readelf -d "$real" | grep -q "(SONAME).*\[libhalvex\.so\.$MAJOR\]" || fail "libhalvex's soname is not libhalvex.so.$MAJOR"
[ "$(readlink "$LIB/libhalvex.so.$MAJOR")" = "libhalvex.so.$VERSION" ] || fail "libhalvex.so.$MAJOR does not link the library"
[ "$(readlink "$LIB/libhalvex.so")" = "libhalvex.so.$MAJOR" ] || fail "libhalvex.so does not link libhalvex.so.$MAJOR"
for file in "$LIB/libhlv_internal.so" "$PREFIX/bin/hxcam" "$PREFIX/bin/hxsim" "$PREFIX/bin/hxview" \
            "$LIB/cmake/halvex/halvexConfig.cmake" "$LIB/cmake/halvex/halvexConfigVersion.cmake" \
            "$LIB/pkgconfig/halvex.pc" "$PREFIX/share/doc/halvex/getting-started.md"; do
  [ -f "$file" ] || fail "${file#$PREFIX/} is not installed"
done
cmp -s "$SOURCE/include/hx/hx.h" "$PREFIX/include/hx/hx.h" || fail "include/hx/hx.h is not the public header"
if [ "$MANPAGES" = 1 ]; then
  for tool in hxcam hxsim hxview; do
    page=$PREFIX/share/man/man1/$tool.1.gz
    gzip -dc "$page" 2>/dev/null | grep -q "^\.SH" || fail "no manual page for $tool"
  done
fi
# Installed programs find their libraries relative to themselves, never in the build tree.
for file in "$real" "$LIB/libhlv_internal.so" "$PREFIX/bin/hxcam" "$PREFIX/bin/hxsim" "$PREFIX/bin/hxview"; do
  ! readelf -d "$file" | grep -E "RUNPATH|RPATH" | grep -qF "$BUILD" || fail "${file#$PREFIX/} still names the build folder"
done
[ $FAILED -eq 0 ] || exit 1

# A host through the CMake package.
step cmake-configure "$CMAKE" -S "$SOURCE/tests/install/consumer" -B "$TMP/cmake" -G Ninja \
  -DCMAKE_C_COMPILER="$CC" -DCMAKE_PREFIX_PATH="$PREFIX" -DHX_PREFIX="$PREFIX" -DHX_EXAMPLES="$SOURCE/examples" \
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF
step cmake-build "$CMAKE" --build "$TMP/cmake"

# A host through pkg-config, with the prefix's library folder as its run path.
export PKG_CONFIG_PATH="$LIB/pkgconfig"
[ "$(pkg-config --modversion halvex)" = "$VERSION" ] || fail "pkg-config gives version $(pkg-config --modversion halvex)"
pkg-config --exists "halvex >= 2.12" || fail "pkg-config does not accept halvex >= 2.12"
libdir=$(pkg-config --variable=libdir halvex)
[ "$(cd "$libdir" && pwd -P)" = "$(cd "$LIB" && pwd -P)" ] || fail "halvex.pc's libdir $libdir is not $LIB"
# shellcheck disable=SC2046 # the flags are separate words
step pkg-config-build "$CC" -std=c11 -Wall -Wextra -Werror $(pkg-config --cflags halvex) \
  "$SOURCE/examples/two_clients.c" -o "$TMP/two_clients_pc" $(pkg-config --libs halvex) -Wl,-rpath,"$libdir"
[ $FAILED -eq 0 ] || exit 1

"$SOURCE/scripts/in-netns" sh "$SOURCE/tests/install/run_installed.sh" "$PREFIX" "$LIB" \
  "$TMP/cmake/two_clients" "$TMP/two_clients_pc"
