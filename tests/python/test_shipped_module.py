"""The built module as a program loads it: what it exports, and what it takes
from the environment at import."""

import os
import shutil
import subprocess
import sys
import textwrap

import pytest

import corvanis


def test_only_the_entry_point_is_exported():
    nm = shutil.which("nm")
    if nm is None:
        pytest.skip("nm is not installed")
    with open(corvanis.__file__, "rb") as module_file:
        if module_file.read(4) != b"\x7fELF":
            pytest.skip("not an ELF shared object")
    listing = subprocess.run([nm, "-D", "--defined-only", corvanis.__file__],
                             capture_output=True, text=True, check=True).stdout
    assert [line.split()[-1] for line in listing.splitlines()] == ["PyInit_corvanis"]


_PANIC_AFTER_ENVIRONMENT_CHANGE = textwrap.dedent("""
    import os, sys
    import corvanis
    if sys.argv[1] == "unset":
        os.environ.pop("CORVANIS_BACKTRACE", None)
    else:
        os.environ["CORVANIS_BACKTRACE"] = sys.argv[1]
    try:
        corvanis.discrete_flux_map_heyrovsky_magnification([1.0], 1.0, 0.1, [0.5], [])
    except BaseException:
        pass
""")


@pytest.mark.isolated
@pytest.mark.parametrize("at_import, after_import, backtrace", [
    (None, "1", False),
    ("1", "unset", True),
    ("0", "1", False),
])
def test_backtrace_setting_is_read_at_import(at_import, after_import, backtrace):
    env = dict(os.environ)
    env.pop("CORVANIS_BACKTRACE", None)
    if at_import is not None:
        env["CORVANIS_BACKTRACE"] = at_import
    module_dir = os.path.dirname(os.path.abspath(corvanis.__file__))
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [module_dir, env.get("PYTHONPATH")]))
    child = subprocess.run([sys.executable, "-c", _PANIC_AFTER_ENVIRONMENT_CHANGE, after_import],
                           env=env, capture_output=True, text=True, timeout=120)
    assert child.returncode == 0, child.stderr
    assert "panic in thread main" in child.stderr
    assert ("to print a backtrace" not in child.stderr) == backtrace
    printed = "stack backtrace:" in child.stderr or "no backtrace on this platform" in child.stderr
    assert printed == backtrace
