#!/usr/bin/env bash
# Builds the module with AddressSanitizer and UBSan and runs the Python tests
# against that build. The interpreter itself is not instrumented, so the ASan
# runtime is preloaded and leak detection (which would report the
# interpreter's own allocations) is off.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}
BUILD=build/sanitizers

cmake -S . -B "$BUILD" -DCORVANIS_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DPython_EXECUTABLE="$(command -v "$PYTHON")" >/dev/null
cmake --build "$BUILD" -j "${JOBS:-2}" --target corvanis
bash tests/stage_fspl.sh "$BUILD"

export LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd tests/python
PYTHONPATH="$OLDPWD/$BUILD" CORVANIS_SANITIZED=1 "$PYTHON" -m pytest -q -p no:cacheprovider .
