#!/usr/bin/env bash
# The C++ kernel tests and the Python tests again, built with clang (Debian's
# clang package, installed if missing) instead of the default compiler. The
# Python test dependencies are those tests/run_all.sh installs. Run from anywhere:
#     bash tests/run_clang.sh
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}
JOBS=${JOBS:-2}

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

if ! command -v clang++ >/dev/null; then
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang >/dev/null
fi
clang++ --version | head -n 1

# C++ kernel tests.
cmake -S . -B build/cpp-tests-clang -DCMAKE_CXX_COMPILER=clang++ -DCORVANIS_BUILD_MODULE=OFF \
      -DCORVANIS_BUILD_TESTS=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/cpp-tests-clang -j "$JOBS"
ctest --test-dir build/cpp-tests-clang --output-on-failure --no-tests=error -j "$JOBS"

# Python tests against the module built with clang (build/clang).
cmake -S . -B build/clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Release \
      -DPython_EXECUTABLE="$(command -v "$PYTHON")" >/dev/null
cmake --build build/clang -j "$JOBS" --target corvanis
bash tests/stage_fspl.sh build/clang
cd tests/python
export PYTHONPATH="$OLDPWD/build/clang"
"$PYTHON" -c "import corvanis, corvanis_fspl._core as c
for m in (corvanis, c): assert m.__file__.startswith('$PYTHONPATH/'), m.__file__"
"$PYTHON" -m pytest -q -p no:cacheprovider .
