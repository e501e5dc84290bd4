#!/bin/sh
# The package's type hints under mypy --strict. Exits 77 (skipped) without Debian's mypy.
#   run_mypy.sh PACKAGE_PARENT_DIR
command -v mypy >/dev/null || { echo "python_types: skipped: mypy is not installed (scripts/deps installs it)"; exit 77; }
cd "$1" || exit 1
exec mypy --strict --no-incremental --cache-dir=/dev/null halvex
