#!/usr/bin/env bash
# Runs the Python tests on every CPython from 3.9 to 3.13 that the machine has
# besides the default interpreter (which tests/run_all.sh covers). Each version
# gets a virtual environment in build/venvs/3.X holding the module built from
# this tree and the test dependencies. Run from anywhere:
#     bash tests/run_versions.sh [3.X ...]
# With arguments, only those versions run (the default one too, if named).
# Fails if any version's tests fail, or if pytest runs no test.
set -euo pipefail
cd "$(dirname "$0")/.."
PYTHON=${PYTHON:-python3}

# The interpreter of version $1 (e.g. 3.12) as an absolute path: python3.X on
# PATH if it runs, otherwise the newest pyenv installation of that version
# (pyenv's shims answer only for the active versions).
find_python() {
    local version=$1 candidate
    local check="import sys; assert '%d.%d' % sys.version_info[:2] == '$version'; print(sys.executable)"
    if candidate=$(command -v "python$version") && "$candidate" -c "$check" 2>/dev/null; then
        return 0
    fi
    if command -v pyenv >/dev/null; then
        for candidate in $(ls -d "$(pyenv root)/versions/$version".* 2>/dev/null | sort -rV); do
            if [ -x "$candidate/bin/python$version" ] &&
               "$candidate/bin/python$version" -c "$check" 2>/dev/null; then
                return 0
            fi
        done
    fi
    return 1
}

# Installs the test dependencies one by one, after ".[test]" as a whole could
# not be installed: one that has no release for this version is reported and
# left out (the tests that need it skip).
install_test_dependencies() {
    local requirement
    "$1" - <<'PY' | while IFS= read -r requirement; do
try:
    import tomllib
except ImportError:  # before 3.11
    from pip._vendor import tomli as tomllib
with open("pyproject.toml", "rb") as f:
    print("\n".join(tomllib.load(f)["project"]["optional-dependencies"]["test"]))
PY
        "$1" -m pip install -q --disable-pip-version-check "$requirement" || echo "warning: $requirement does not install here; tests that need it skip"
    done
}

default=$("$PYTHON" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
if [ "$#" -gt 0 ]; then
    versions=("$@")
else
    versions=()
    for version in 3.9 3.10 3.11 3.12 3.13; do
        if [ "$version" != "$default" ]; then versions+=("$version"); fi
    done
fi

# Builds the module for the interpreter $2 (version $1), installs it with the
# test dependencies in its own environment, and runs the tests there.
test_version() {
    local version=$1 python=$2 venv=build/venvs/$1 pip
    [ -x "$venv/bin/python" ] || "$python" -m venv "$venv" || return 1
    local vpython=$PWD/$venv/bin/python
    pip=("$vpython" -m pip install -q --disable-pip-version-check)
    if ! "${pip[@]}" ".[test]"; then
        "${pip[@]}" . || return 1
        install_test_dependencies "$vpython"
    fi
    # The tests must import the module installed in this environment. pytest's
    # "no tests" status (5) counts as a failure like any other non-zero one.
    cd tests/python || return 1
    "$vpython" -c "import corvanis, sys
assert corvanis.__file__.startswith(sys.prefix), corvanis.__file__" || return 1
    "$vpython" -m pytest -q -p no:cacheprovider .
}

unset PYTHONPATH
passed=()
failed=()
for version in "${versions[@]}"; do
    if ! python=$(find_python "$version"); then
        echo "== Python $version: not installed, skipped"
        continue
    fi
    echo "== Python $version: $python"
    if (test_version "$version" "$python"); then
        passed+=("$version")
    else
        failed+=("$version")
    fi
done

echo "== Python versions passed: ${passed[*]:-none}; failed: ${failed[*]:-none}"
[ "${#failed[@]}" -eq 0 ]
