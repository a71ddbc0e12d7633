#!/usr/bin/env bash
# Runs the Python tests under valgrind's memcheck against an -O1 -g build of
# the module (build/valgrind), so that reports name source lines.
#
# The interpreter allocates through malloc with its debug hooks
# (PYTHONMALLOC=malloc_debug): memcheck sees every object as its own block, so
# a use after free or an overrun of an object the module handles is reported,
# and the hooks fill new blocks, which keeps CPython 3.11's unset digit of a
# zero int (_PyLong_New) from being reported through every later use of 0.
# Uninitialised reads are thus checked in the module's own allocations only.
# CPython's suppression file is added where the system ships it (Debian:
# /usr/lib/valgrind/python3.supp, or name it in VALGRIND_PYTHON_SUPP), with
# tests/valgrind/python.supp for the interpreter and C library reports that it
# lacks. Leaks are left to the reference-leak mode (tests/refleak): the
# interpreter keeps much of its memory until exit. Any memcheck error fails
# the run (exit status 99). Further arguments go to pytest (default: the
# whole suite).
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$PWD
PYTHON=$("${PYTHON:-python3}" -c 'import sys; print(sys.executable)')
BUILD=build/valgrind

command -v valgrind >/dev/null || {
    if [ "$(id -u)" -eq 0 ]; then apt-get update -qq && apt-get install -y -qq valgrind >/dev/null
    else sudo apt-get update -qq && sudo apt-get install -y -qq valgrind >/dev/null; fi
}
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g -fno-omit-frame-pointer -DNDEBUG" \
      -DPython_EXECUTABLE="$PYTHON" >/dev/null
cmake --build "$BUILD" -j "${JOBS:-2}" --target corvanis

suppressions=(--suppressions="$ROOT/tests/valgrind/python.supp")
python_supp=${VALGRIND_PYTHON_SUPP:-}
if [ -z "$python_supp" ]; then
    for candidate in /usr/lib/valgrind/python3.supp /usr/lib/valgrind/python.supp; do
        if [ -f "$candidate" ]; then python_supp=$candidate; break; fi
    done
fi
if [ -n "$python_supp" ]; then
    suppressions+=(--suppressions="$python_supp")
fi

cd tests/python
# CORVANIS_VALGRIND: tests whose allocations must fail are skipped (valgrind
# aborts where operator new would throw), and so are tests that measure
# memory or only run other programs. Child processes run natively.
# The thread stress test runs for a set time: under valgrind, which runs one
# thread at a time and some 50 times slower, 3 s is too short for every thread
# to finish a call.
PYTHONMALLOC=malloc_debug CORVANIS_VALGRIND=1 PYTHONPATH="$ROOT/$BUILD" \
CORVANIS_STRESS_SECONDS="${CORVANIS_STRESS_SECONDS:-30}" \
    valgrind --tool=memcheck --error-exitcode=99 --leak-check=no --track-origins=yes \
             --num-callers=30 --child-silent-after-fork=yes --fair-sched=yes "${suppressions[@]}" \
             "$PYTHON" -m pytest -q -rs -p no:cacheprovider "${@:-.}"
