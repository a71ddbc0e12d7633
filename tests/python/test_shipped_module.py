"""The built module as a program loads it."""

import shutil
import subprocess

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

