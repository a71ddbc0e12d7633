"""Every public name of both packages has its entry in the API reference, so a
new function cannot ship undocumented."""

from __future__ import annotations

import re
from pathlib import Path

import corvanis
import corvanis_fspl

API = Path(__file__).resolve().parents[2] / "docs" / "api"


def test_corvanis_functions_have_entries():
    text = (API / "corvanis.rst").read_text()
    documented = set(re.findall(r"^\.\. function:: (\w+)\(", text, flags=re.M))
    assert documented == set(corvanis.__all__)


def test_corvanis_fspl_names_have_entries():
    text = (API / "corvanis_fspl.rst").read_text()
    listed = set(re.findall(r"^   (\w+)$", text, flags=re.M))
    public = {name for name in corvanis_fspl.__all__ if not name.startswith("__")}
    assert public <= listed, sorted(public - listed)
