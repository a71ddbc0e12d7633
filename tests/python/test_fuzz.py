"""Hostile arguments: every call returns the documented result or raises the
documented exception, and never brings the interpreter down.

The hypothesis fuzz runs in a child interpreter, so that a crash fails this
test instead of ending the test run. CORVANIS_FUZZ_EXAMPLES sets the number of
examples per function (default 150) and CORVANIS_FUZZ_SEED_OFFSET shifts the
fixed seeds, for longer or different runs. The corpus below replays one call
per error path in this process, which also puts every path under the
reference-leak mode.
"""

import os
import re
import signal
import subprocess
import sys

import pytest

import corvanis
import fuzz_worker as fw

WORKER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fuzz_worker.py")


def _module_path_env():
    """The environment of a child that imports this very build of the module."""
    env = dict(os.environ)
    module_dir = os.path.dirname(os.path.abspath(corvanis.__file__))
    paths = [module_dir, os.path.dirname(WORKER)]
    if env.get("PYTHONPATH"):
        paths.append(env["PYTHONPATH"])
    env["PYTHONPATH"] = os.pathsep.join(paths)
    return env


@pytest.mark.isolated
def test_fuzz_all_functions_in_child_process():
    examples = int(os.environ.get("CORVANIS_FUZZ_EXAMPLES", "150"))
    seed_offset = os.environ.get("CORVANIS_FUZZ_SEED_OFFSET", "0")
    child = subprocess.run(
        [sys.executable, WORKER, "--examples", str(examples), "--seed-offset", seed_offset],
        env=_module_path_env(), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
        timeout=1800, check=False)
    out = child.stdout.decode(errors="replace")
    err = child.stderr.decode(errors="replace")
    if child.returncode < 0:
        pytest.fail(f"fuzz child killed by {signal.Signals(-child.returncode).name}\n"
                    f"{out[-3000:]}\n{err[-6000:]}")
    assert child.returncode == 0, f"{out[-3000:]}\n{err[-6000:]}"
    calls = int(re.search(r"fuzzed calls: (\d+)", out).group(1))
    # hypothesis may stop early only when a strategy runs out of distinct values
    assert calls >= examples * len(fw.FUNCTIONS) // 2
    print(f"fuzzed calls: {calls}")


def _f(x):
    return ("float", x)


L = ("list", [_f(0.5), _f(1.0), _f(2.0)])
GOOD = {"l": L, "re": _f(1.0), "rstar": _f(0.1), "r": _f(0.4),
        "bl": ("list", [_f(0.0), _f(0.5), _f(1.0)]),
        "bf": ("list", [_f(1.0), _f(0.8), _f(0.6)])}


def _custom(length=("true", None), iteration=("iterator", ("normal", 0, None)), items=None):
    return ("custom", items if items is not None else [_f(0.5), _f(1.5)], length, iteration)


def _hostile(action, arg):
    return ("hostile", (action, arg))


# One call per error path (and a few accepted oddities): (function, overrides,
# mode, extra). Overrides replace the well-formed arguments in GOOD.
WM = "witt_mao_magnification"
HM = "heyrovsky_magnification"
IFW = "integrated_flux_map_witt_mao_magnification"
IFH = "integrated_flux_map_heyrovsky_magnification"
DFH = "discrete_flux_map_heyrovsky_magnification"
CORPUS = {
    # binding
    "too-many-positional": (WM, {}, "positional", [("positional", None)]),
    "missing": (IFW, {"re": None, "bf": None}, "positional", []),
    "unexpected-keyword": (WM, {}, ("mixed", 2), [("keyword", "rs")]),
    "undecodable-keyword": (HM, {}, "positional", [("keyword", "\udc80")]),
    "multiple-values": (WM, {}, "positional", [("keyword", "l")]),
    "all-keywords": (DFH, {}, "keyword", []),
    # sequence conversion
    "str": (WM, {"l": ("str", "abc")}, "positional", []),
    "float-for-sequence": (WM, {"l": ("number", _f(0.5))}, "positional", []),
    "generator": (WM, {"l": ("generator", [0.5])}, "positional", []),
    "set": (IFW, {"bl": ("set", [0.5])}, "positional", []),
    "dict": (WM, {"l": ("dict", [0.5])}, "positional", []),
    "str-item": (WM, {"l": ("list", [_f(1.0), ("str", "a")])}, "positional", []),
    "nested": (WM, {"l": ("nested", [L])}, "positional", []),
    "bytes": (WM, {"l": ("bytes", b"\x00\x01\xff")}, "positional", []),
    "range": (DFH, {"l": ("range", (0, 3, 1))}, "positional", []),
    "memoryview": (WM, {"l": ("memoryview", [0.5, 3.0])}, "positional", []),
    "array-int": (WM, {"l": ("array", "i", [1, 2])}, "positional", []),
    "ndarray-reversed": (WM, {"l": ("ndarray", [0.5, 1.5, 3.0], "float64", "reversed")},
                         "positional", []),
    "ndarray-byteswapped": (WM, {"l": ("ndarray", [0.5, 1.5], "float64", "byteswapped")},
                            "positional", []),
    "ndarray-2d": (WM, {"l": ("ndarray", [0.5, 1.5], "float64", "2d")}, "positional", []),
    "ndarray-0d": (WM, {"l": ("ndarray", [0.5], "float64", "0d")}, "positional", []),
    "len-raises": (WM, {"l": _custom(("raises", "ValueError"))}, "positional", []),
    "len-lies": (WM, {"l": _custom(("lie", 3))}, "positional", []),
    "len-wrong-type": (WM, {"l": _custom(("returns", ("str", "x")))}, "positional", []),
    "len-panics": (WM, {"l": _custom(("raises", "Panic"))}, "positional", []),
    "len-capacity-overflow": (WM, {"l": _custom(("value", fw.MAX_RESERVATION + 1))},
                              "positional", []),
    "len-reenters": (WM, {"l": _custom(("reenters", "caught_panic"))}, "positional", []),
    "iter-raises": (WM, {"l": _custom(iteration=("raises", "ValueError"))}, "positional", []),
    "iter-panics": (WM, {"l": _custom(iteration=("raises", "Panic"))}, "positional", []),
    "iter-non-iterator": (WM, {"l": _custom(iteration=("non_iterator", _f(1.0)))},
                          "positional", []),
    "getitem-protocol": (WM, {"l": _custom(iteration=("getitem", None))}, "positional", []),
    "next-raises": (WM, {"l": _custom(iteration=("iterator", ("raises", 1, "KeyError")))},
                    "positional", []),
    "next-raises-typeerror": (WM, {"l": _custom(
        iteration=("iterator", ("raises", 1, "TypeError")))}, "positional", []),
    "next-panics": (IFH, {"bf": _custom(iteration=("iterator", ("raises", 2, "Panic")),
                                        items=[_f(1.0)] * 3)}, "positional", []),
    "next-base-exception": (WM, {"l": _custom(
        iteration=("iterator", ("raises", 0, "Interrupt")))}, "positional", []),
    "next-reenters-panic": (WM, {"l": _custom(
        iteration=("iterator", ("reenters", 1, "panic")))}, "positional", []),
    "mutating-clear": (WM, {"l": ("mutating", [_f(1.0)] * 3, 1, "clear")}, "positional", []),
    "mutating-extend": (WM, {"l": ("mutating", [_f(1.0)] * 3, 1, "extend")}, "positional", []),
    # float conversion
    "float-str": (WM, {"re": ("str", "x")}, "positional", []),
    "float-none": (HM, {"rstar": ("none",)}, "positional", []),
    "int-overflow": (WM, {"re": ("int", 10**400)}, "positional", []),
    "minus-one": (HM, {"l": ("int", -1), "r": _f(-1.0)}, "positional", []),
    "float-subclass": (WM, {"rstar": ("floatsub", 0.1)}, "positional", []),
    "float-raises": (WM, {"re": _hostile("float_raises", "ValueError")}, "positional", []),
    "float-raises-typeerror": (WM, {"re": _hostile("float_raises", "TypeError")},
                               "positional", []),
    "float-raises-typeerror-subclass": (WM, {"re": _hostile("float_raises",
                                                            "TypeErrorSubclass")},
                                        "positional", []),
    "float-raises-memoryerror": (WM, {"re": _hostile("float_raises", "MemoryError")},
                                 "positional", []),
    "float-panics": (HM, {"r": _hostile("float_raises", "Panic")}, "positional", []),
    "float-returns-str": (WM, {"rstar": _hostile("float_returns", ("str", "x"))},
                          "positional", []),
    "float-reenters": (WM, {"re": _hostile("float_reenters", "value")}, "positional", []),
    "float-reenters-panic": (IFW, {"rstar": _hostile("float_reenters", "panic")},
                             "positional", []),
    "index-huge": (WM, {"re": _hostile("index_returns", ("int", 2**1024))}, "positional", []),
    "index-raises": (WM, {"re": _hostile("index_raises", "ZeroDivisionError")},
                     "positional", []),
    "item-float-raises": (DFH, {"bl": ("list", [_f(0.5), _hostile("float_raises", "KeyError")]),
                                "bf": ("list", [_f(1.0), _f(1.0)])}, "positional", []),
    "later-argument-not-looked-at": (WM, {"l": ("str", "abc"), "re": ("str", "x")},
                                     "positional", []),
    # model outcomes
    "unequal-lengths-ifw": (IFW, {"bf": ("list", [_f(1.0)])}, "positional", []),
    "unequal-lengths-ifh": (IFH, {"bl": ("list", [])}, "positional", []),
    "unequal-lengths-dfh": (DFH, {"bf": ("list", [_f(1.0)] * 4)}, "positional", []),
    "nan-and-inf": (WM, {"l": ("list", [_f(float("nan")), _f(float("inf")), _f(-0.0)])},
                    "positional", []),
    "empty": (IFH, {"l": ("list", [])}, "positional", []),
}
if fw.FAILING_ALLOCATIONS:
    CORPUS["len-unreservable"] = (WM, {"l": _custom(("value", 2**40))}, "positional", [])
    CORPUS["len-largest-reservation"] = (WM, {"l": _custom(("value", fw.MAX_RESERVATION))},
                                         "positional", [])


def _call_recipe(name, overrides, mode, extra):
    params = fw.FUNCTIONS[name][0]
    recipes = {p: overrides.get(p, GOOD[p]) for p in params}
    recipes = {p: r for p, r in recipes.items() if r is not None}
    if name == HM and "l" not in overrides:
        recipes["l"] = _f(0.7)
    return mode, recipes, extra


@pytest.mark.parametrize("case", sorted(CORPUS))
def test_hostile_corpus(case):
    name, overrides, mode, extra = CORPUS[case]
    fw.run_recipe_call(name, _call_recipe(name, overrides, mode, extra))


@pytest.mark.parametrize("case, expected", [
    ("str", "argument 'l': Can't extract `str` to `Vec`"),
    ("len-capacity-overflow", "capacity overflow"),
    ("iter-panics", "hostile panic"),
    ("float-reenters-panic", "assertion `left == right` failed\n  left: 2\n right: 1"),
    ("unexpected-keyword", "witt_mao_magnification() got an unexpected keyword argument 'rs'"),
])
def test_reference_conversion_predicts_documented_message(case, expected):
    # Guards the reference conversion itself: for these paths the message is
    # fixed, so the prediction must name it exactly.
    name, overrides, mode, extra = CORPUS[case]
    call = _call_recipe(name, overrides, mode, extra)
    outcome = fw.expected_outcome(name, *fw.build_call(name, call))
    assert isinstance(outcome, fw.Raised)
    if outcome.message is not None:
        assert outcome.message == expected
    else:
        assert expected.startswith(outcome.prefix)
    args, kwargs = fw.build_call(name, call)
    try:
        getattr(corvanis, name)(*args, **kwargs)
    except BaseException as exc:  # noqa: B036 - PanicException is not an Exception
        assert str(exc) == expected
    else:
        pytest.fail("no exception")
