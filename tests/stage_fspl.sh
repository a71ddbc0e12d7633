#!/usr/bin/env bash
# Builds corvanis_fspl's compiled core in the CMake build directory $1 and lays
# the package out there beside the corvanis module, so that a test run with
# PYTHONPATH=$1 imports both packages from that build (sanitizers, clang).
#     bash tests/stage_fspl.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=$1
cmake --build "$BUILD" -j "${JOBS:-2}" --target corvanis_fspl_core
rm -rf "$BUILD/corvanis_fspl"
cp -r python/corvanis_fspl "$BUILD/corvanis_fspl"
cp "$BUILD"/_core*.so "$BUILD/corvanis_fspl/"
