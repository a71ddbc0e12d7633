#!/usr/bin/env bash
# Reference-leak mode: builds the module against Debian's debug interpreter
# into build/dbg and runs every test of tests/python repeatedly in one process
# (tests/refleak/run_refleak.py). Pass -R W:M to change the repetitions
# (default 3:3); further arguments go to pytest.
set -euo pipefail
cd "$(dirname "$0")/../.."
PYTHON_DBG=/usr/bin/python3.11-dbg
BUILD=build/dbg

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# The debug interpreter and its headers, and the test dependencies from
# Debian's packages (pure Python, or release-built extensions that the debug
# interpreter also loads).
packages=(python3.11-dbg libpython3.11-dbg python3-pytest python3-hypothesis python3-mpmath)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -gt 0 ]; then
    as_root apt-get update -qq
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

# Debian's debug include directory holds symbolic links into the release one;
# with -isystem the compiler follows them to the release pyconfig.h and builds
# without Py_DEBUG, whose reference bookkeeping the counts below rely on.
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPython_EXECUTABLE="$PYTHON_DBG" \
      -DCMAKE_NO_SYSTEM_FROM_IMPORTED=ON >/dev/null
cmake --build "$BUILD" -j "${JOBS:-2}" --target corvanis
"$PYTHON_DBG" - "$BUILD" <<'PY'
import glob, sys
# A module built without Py_DEBUG still imports, but its references would
# not be counted: refuse it.
(so,) = glob.glob(sys.argv[1] + "/corvanis.cpython-311d-*.so")
with open(so, "rb") as f:
    debug_build = b"_Py_RefTotal" in f.read()
if not debug_build:
    sys.exit(f"{so} was not built against the debug headers")
PY

cd tests/python
PYTHONPATH="$OLDPWD/$BUILD" "$PYTHON_DBG" ../refleak/run_refleak.py "$@" -q -p no:cacheprovider .
