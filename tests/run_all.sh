#!/usr/bin/env bash
# Sets up and runs every test: the C++ kernel tests (GoogleTest, ctest) and the
# Python tests of the installed module (pytest). Run from anywhere:
#     bash tests/run_all.sh
# Set CORVANIS_SANITIZERS=1 to also run the Python tests against an
# AddressSanitizer/UBSan build of the module.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}
JOBS=${JOBS:-2}

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# GoogleTest for the C++ tests.
if [ ! -f /usr/include/gtest/gtest.h ]; then
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq libgtest-dev
fi

# The module and the Python test dependencies.
"$PYTHON" -m pip install -q ".[test]"

# C++ kernel tests.
cmake -S . -B build/cpp-tests -DCORVANIS_BUILD_MODULE=OFF -DCORVANIS_BUILD_TESTS=ON \
      -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/cpp-tests -j "$JOBS"
ctest --test-dir build/cpp-tests --output-on-failure --no-tests=error -j "$JOBS"

# Python tests of the installed module, run from outside the source tree so
# that the installed extension is the one imported. pytest's "no tests" exit
# status (5) fails this script like any other non-zero status.
(cd tests/python && "$PYTHON" -m pytest -q -p no:cacheprovider .)

if [ "${CORVANIS_SANITIZERS:-0}" = 1 ]; then
    bash tests/run_sanitizers.sh
fi
