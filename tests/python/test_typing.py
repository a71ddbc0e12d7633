"""The installed type stubs: mypy accepts typed use of every function,
rejects wrong use, and the stubbed signatures match the module's own."""

from __future__ import annotations

import ast
import importlib.util
import inspect
import os
import subprocess
import sys
from pathlib import Path

import pytest

import corvanis

HERE = Path(__file__).resolve().parent

pytestmark = [
    pytest.mark.skipif(importlib.util.find_spec("mypy") is None,
                       reason="mypy is not installed (it is in the 'test' extra)"),
    # The stubs do not depend on the build; the sanitizer run would only run
    # mypy itself under the preloaded sanitizer runtime.
    pytest.mark.skipif(bool(os.environ.get("CORVANIS_SANITIZED")),
                       reason="type stubs are checked in the regular run"),
    # mypy runs in child processes, outside memcheck, and the stubs are not
    # installed beside the build the valgrind run imports.
    pytest.mark.skipif(bool(os.environ.get("CORVANIS_VALGRIND")),
                       reason="type stubs are checked in the regular run"),
]


def run_mypy(path: Path) -> subprocess.CompletedProcess[str]:
    # The interpreter running the tests is the one the module is installed
    # in, so mypy looks for the stubs in its site-packages.
    return subprocess.run(
        [sys.executable, "-m", "mypy", "--strict", "--no-incremental",
         "--python-executable", sys.executable, "--show-error-codes", str(path)],
        capture_output=True, text=True, cwd=path.parent, timeout=300)


def installed_stub() -> Path:
    for entry in sys.path:
        candidate = Path(entry) / "corvanis-stubs" / "__init__.pyi"
        if candidate.is_file():
            return candidate
    pytest.fail("corvanis-stubs/__init__.pyi is not installed beside the module")


@pytest.mark.parametrize("usage", ["typing_usage.py", "typing_usage_fspl.py"])
def test_typed_usage_passes_mypy(usage):
    if usage.endswith("fspl.py"):
        pytest.importorskip("numpy")
    result = run_mypy(HERE / usage)
    assert result.returncode == 0, result.stdout + result.stderr


@pytest.mark.parametrize("line, error", [
    ("corvanis.witt_mao_magnification('1.5', 1.0, 0.1)", "arg-type"),
    ("corvanis.witt_mao_magnification({1.0}, 1.0, 0.1)", "arg-type"),
    ("corvanis.integrated_heyrovsky_magnification([1.0], '1', 0.1)", "arg-type"),
    ("corvanis.heyrovsky_magnification([1.0], 0.5, 1.0, 0.1)", "arg-type"),
    ("x: list[float] = corvanis.heyrovsky_magnification(1.0, 0.5, 1.0, 0.1)", "assignment"),
    ("x: float = corvanis.witt_mao_magnification([1.0], 1.0, 0.1)", "assignment"),
    ("corvanis.witt_mao_magnification([1.0], 1.0)", "call-arg"),
    ("corvanis.discrete_flux_map_heyrovsky_magnification([1.0], 1.0, 0.1, bl=[0.5])", "call-arg"),
    ("corvanis.integrated_witt_mao_magnification(l=[1.0], re=1.0, radius=0.1)", "call-arg"),
    ("corvanis.no_such_function([1.0], 1.0, 0.1)", "attr-defined"),
])
def test_wrong_usage_is_rejected(tmp_path, line, error):
    source = tmp_path / "wrong.py"
    source.write_text(f"import corvanis\n{line}\n")
    result = run_mypy(source)
    assert result.returncode == 1, result.stdout
    assert f"[{error}]" in result.stdout, result.stdout
    assert "import-not-found" not in result.stdout and "import-untyped" not in result.stdout


def test_stub_signatures_match_module():
    tree = ast.parse(installed_stub().read_text())
    stubbed = {node.name: [a.arg for a in node.args.args]
               for node in tree.body if isinstance(node, ast.FunctionDef)}
    runtime = {name: list(inspect.signature(getattr(corvanis, name)).parameters)
               for name in corvanis.__all__}
    assert stubbed == runtime
    exported = next(node for node in tree.body if isinstance(node, ast.Assign)
                    and node.targets[0].id == "__all__")
    assert ast.literal_eval(exported.value) == list(corvanis.__all__)
