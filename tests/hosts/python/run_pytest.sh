#!/bin/sh
# Runs the Python host's tests: run_pytest.sh PYTHON TEST_DIR. Exits 77 (skipped) when NumPy or
# pytest is missing; scripts/deps installs both, so a prepared machine always runs them.
PYTHON=$1
TESTS=$2
if ! "$PYTHON" -c "import numpy, pytest" 2>/dev/null; then
  echo "python_host: skipped: $PYTHON lacks numpy or pytest (scripts/deps installs python3-numpy python3-pytest)"
  exit 77
fi
cd "$TESTS" || exit 1
exec "$PYTHON" -m pytest -q -p no:cacheprovider -o console_output_style=classic "$TESTS"
