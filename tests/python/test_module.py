import importlib
import inspect
import subprocess
import sys
import textwrap
import threading

import pytest

import corvanis

SIGNATURES = {
    "witt_mao_magnification": "(l, re, rstar)",
    "integrated_witt_mao_magnification": "(l, re, rstar)",
    "integrated_flux_map_witt_mao_magnification": "(l, re, rstar, bl, bf)",
    "heyrovsky_magnification": "(l, r, re, rstar)",
    "integrated_heyrovsky_magnification": "(l, re, rstar)",
    "integrated_flux_map_heyrovsky_magnification": "(l, re, rstar, bl, bf)",
    "discrete_flux_map_heyrovsky_magnification": "(l, re, rstar, bl, bf)",
}
NAMES = list(SIGNATURES)


@pytest.mark.parametrize("name", NAMES)
def test_function_attributes(name):
    function = getattr(corvanis, name)
    assert (function.__name__, function.__module__) == (name, "corvanis")
    assert function.__self__ is corvanis and function.__doc__ is None
    assert function.__text_signature__ == SIGNATURES[name]
    assert str(inspect.signature(function)) == SIGNATURES[name]


def test_reimport_returns_the_same_module():
    assert corvanis.__all__ == NAMES and corvanis.__doc__
    original = sys.modules.pop("corvanis")
    try:
        assert importlib.import_module("corvanis") is original
        assert importlib.reload(original) is original
        assert original.__all__ == NAMES
    finally:
        sys.modules["corvanis"] = original


_SUBINTERPRETER_SCRIPT = textwrap.dedent('''
    import sys
    import corvanis
    code = """
    try:
        import corvanis
        outcome = "imported"
    except ImportError as exc:
        outcome = str(exc)
    open("outcome.txt", "w").write(outcome)
    """
    try:
        from _testcapi import run_in_subinterp
    except ImportError:
        try:
            import _xxsubinterpreters as interpreters
        except ImportError:
            sys.exit(3)
        interpreters.run_string(interpreters.create(), code)
    else:
        run_in_subinterp(code)
''')


def test_second_interpreter_is_refused(tmp_path):
    result = subprocess.run([sys.executable, "-c", _SUBINTERPRETER_SCRIPT], cwd=tmp_path,
                            capture_output=True, text=True, timeout=120)
    if result.returncode == 3:
        pytest.skip("this interpreter offers no way to start a second interpreter")
    assert result.returncode == 0, result.stderr
    outcome = (tmp_path / "outcome.txt").read_text()
    if outcome.startswith("module corvanis does not support"):
        pytest.skip("the interpreter refuses the module in a second interpreter itself")
    assert outcome == ("PyO3 modules do not yet support subinterpreters, see "
                       "https://docs.python.org/3/c-api/init.html#sub-interpreter-support")


@pytest.mark.parametrize("function, size, extra", [
    (corvanis.witt_mao_magnification, 5000, ()),
    (corvanis.integrated_heyrovsky_magnification, 300, ()),
    (corvanis.discrete_flux_map_heyrovsky_magnification, 2000, ([0.0, 0.5, 1.0], [1, 0.8, 0.5])),
], ids=["closed-form", "integrated", "discrete"])
def test_concurrent_calls_match_serial(function, size, extra, assert_same):
    inputs = [[0.01 + 0.0007 * (i + k) for i in range(size)] for k in range(8)]
    serial = [function(l, 1.0, 0.1, *extra) for l in inputs]
    results = [None] * len(inputs)

    def work(k):
        results[k] = function(inputs[k], 1.0, 0.1, *extra)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(len(inputs))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    for got, expected in zip(results, serial):
        assert_same(got, expected)
