#!/usr/bin/env bash
# Runs the worker pool's C++ tests under ThreadSanitizer (build/tsan-cpp), then
# builds both packages with ThreadSanitizer into build/tsan and runs the thread
# stress test and corvanis_fspl's calls on 1, 2 and 3 threads against them, with
# the pool active. The interpreter is not instrumented: the TSan
# runtime is preloaded, it sees the module's own memory accesses and the
# interpreter's locking (the GIL is a pthread mutex and condition variable),
# and tests/tsan/suppressions.txt silences reports whose every frame lies in
# the interpreter. Any report fails the run (exitcode 66).
set -euo pipefail
cd "$(dirname "$0")/../.."
# The interpreter binary itself (not a wrapper script such as a pyenv shim,
# which would run under the preloaded runtime too).
PYTHON=$("${PYTHON:-python3}" -c 'import sys; print(sys.executable)')
BUILD=build/tsan

# A forked child cannot start threads under TSan; that test skips itself.
cmake -S . -B build/tsan-cpp -DCORVANIS_SANITIZE=thread -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCORVANIS_BUILD_MODULE=OFF -DCORVANIS_BUILD_TESTS=ON >/dev/null
cmake --build build/tsan-cpp -j "${JOBS:-2}"
setarch "$(uname -m)" -R build/tsan-cpp/tests/cpp/corvanis_cpp_tests \
    --gtest_filter='ParallelFor*:ThreadBudget*' --gtest_brief=1

cmake -S . -B "$BUILD" -DCORVANIS_SANITIZE=thread -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DPython_EXECUTABLE="$PYTHON" >/dev/null
cmake --build "$BUILD" -j "${JOBS:-2}" --target corvanis
bash tests/stage_fspl.sh "$BUILD"

export LD_PRELOAD="$(g++ -print-file-name=libtsan.so)"
# Reports go to files (pytest captures the standard error of the test).
rm -f "$BUILD"/report.*
export TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1:suppressions=$PWD/tests/tsan/suppressions.txt:log_path=$PWD/$BUILD/report"
cd tests/python
# PYTHONMALLOC=malloc: objects come from malloc, whose reuse of freed memory
# TSan tracks (the interpreter's own allocator hides it and reads as races).
# setarch -R: TSan's shadow layout needs the address space without the
# kernel's largest randomisation.
status=0
PYTHONMALLOC=malloc PYTHONPATH="$OLDPWD/$BUILD" CORVANIS_STRESS_SECONDS=${CORVANIS_STRESS_SECONDS:-5} \
    CORVANIS_NUM_THREADS=${CORVANIS_NUM_THREADS:-2} \
    setarch "$(uname -m)" -R "$PYTHON" -m pytest -q -p no:cacheprovider test_thread_stress.py \
    "test_fspl_behaviour.py::test_same_bits_on_every_thread_count" \
    || status=$?
cd "$OLDPWD"
if compgen -G "$BUILD/report.*" >/dev/null; then
    cat "$BUILD"/report.*
    echo "ThreadSanitizer reported the above" >&2
    exit 1
fi
exit "$status"
