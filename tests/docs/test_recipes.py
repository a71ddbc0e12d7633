"""The scale-out recipes shown on the threads page run as they are shown."""

from __future__ import annotations

import importlib.util
import subprocess
import sys
from pathlib import Path

import pytest

RECIPES = Path(__file__).resolve().parents[2] / "docs" / "recipes"


@pytest.mark.parametrize("name, needs", [("scale_out_processes.py", None),
                                         ("scale_out_dask.py", "distributed")])
def test_recipe_runs(name, needs, tmp_path):
    if needs and importlib.util.find_spec(needs) is None:
        pytest.skip(f"{needs} is not installed")
    done = subprocess.run([sys.executable, str(RECIPES / name)], cwd=tmp_path,
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "30 light curves of 2001 epochs"
