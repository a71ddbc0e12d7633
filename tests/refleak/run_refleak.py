"""Reference-leak hunting: runs each test of a pytest suite repeatedly in one
debug-interpreter process and fails the tests after which the interpreter's
total reference count or its number of allocated memory blocks keeps growing.

    python3.11-dbg tests/refleak/run_refleak.py [-R WARMUPS:RUNS] [pytest arguments]

Each test first runs once as usual (its pass/fail report). It then runs
WARMUPS + RUNS more times unreported; after each run the collector runs and the
interpreter's caches are emptied, then sys.gettotalrefcount() and
sys.getallocatedblocks() are sampled. The warm-up runs fill one-off caches; a
test leaks when every measured run raised a count by at least one, the rule
CPython's own leak checker applies, so a cache filled once or a count that
moves back and forth is no leak. Tests marked ``isolated`` (child processes,
timed stress runs) are left out, and numpy is hidden from the tests (see
--with-numpy).
"""

import argparse
import gc
import sys

import pytest
from _pytest.runner import runtestprotocol


def _clear_caches():
    """Empties the interpreter's caches that a test fills as a side effect."""
    import collections.abc
    import linecache
    import re
    import typing

    re.purge()
    linecache.clearcache()
    for clear in getattr(typing, "_cleanups", []):
        clear()
    for name in collections.abc.__all__:
        abstract = getattr(collections.abc, name)
        for cls in [abstract] + abstract.__subclasses__():
            cls._abc_caches_clear()
    sys._clear_type_cache()
    gc.collect()


def _sample():
    _clear_caches()
    return sys.gettotalrefcount(), sys.getallocatedblocks()


def _finalizer_lengths(session):
    """The finalizer lists of the session's live nodes and fixtures, with
    their lengths. Each use of an already set-up fixture of a wider scope
    appends one more (identical) finalizer to them; the repeats drop those
    so that pytest's own bookkeeping does not read as a leak."""
    lists = [finalizers for finalizers, _ in session._setupstate.stack.values()]
    for definitions in session._fixturemanager._arg2fixturedefs.values():
        lists.extend(d._finalizers for d in definitions)
    return [(finalizers, len(finalizers)) for finalizers in lists]


def leaks(deltas):
    """True when every measured run raised the count."""
    return bool(deltas) and all(delta >= 1 for delta in deltas)


class RefleakPlugin:
    def __init__(self, warmups, runs):
        self.warmups = warmups
        self.runs = runs
        self.checked = 0
        self.leaked = []
        # per measured run: the sum over all tests of the reference and block deltas
        self.ref_totals = [0] * runs
        self.block_totals = [0] * runs

    def pytest_configure(self, config):
        config.addinivalue_line(
            "markers", "isolated: runs in a child process or for a fixed time; "
                       "left out of the reference-leak mode")

    def pytest_collection_modifyitems(self, config, items):
        kept, dropped = [], []
        for item in items:
            (dropped if item.get_closest_marker("isolated") else kept).append(item)
        if dropped:
            config.hook.pytest_deselected(items=dropped)
            items[:] = kept

    @pytest.hookimpl(tryfirst=True)
    def pytest_runtest_protocol(self, item, nextitem):
        item.ihook.pytest_runtest_logstart(nodeid=item.nodeid, location=item.location)
        reports = runtestprotocol(item, nextitem=item.parent, log=False)
        passed = all(report.passed for report in reports)
        deltas = None
        if passed:
            deltas = self._repeat(item)
        # The last repetition tears down what this test set up for the next one.
        final = runtestprotocol(item, nextitem=nextitem, log=False) if passed else []
        if deltas is not None:
            refs, blocks = deltas
            self.checked += 1
            for i in range(self.runs):
                self.ref_totals[i] += refs[i]
                self.block_totals[i] += blocks[i]
            if leaks(refs) or leaks(blocks):
                self.leaked.append((item.nodeid, refs, blocks))
                for report in reports:
                    if report.when == "call":
                        report.outcome = "failed"
                        report.longrepr = (f"reference leak: references {refs}, "
                                           f"memory blocks {blocks} per repeated run")
        del final
        if not passed:
            # The failed first run was made with this test's fixtures kept for
            # the repeats; tear them down now as the next test expects.
            item.session._setupstate.teardown_exact(nextitem)
        for report in reports:
            item.ihook.pytest_runtest_logreport(report=report)
        item.ihook.pytest_runtest_logfinish(nodeid=item.nodeid, location=item.location)
        item._report_sections = []
        return True

    def _repeat(self, item):
        refs, blocks = [], []
        item._report_sections = []
        before = _sample()
        for i in range(self.warmups + self.runs):
            kept = _finalizer_lengths(item.session)
            reports = runtestprotocol(item, nextitem=item.parent, log=False)
            ok = all(report.passed for report in reports)
            del reports
            item._report_sections = []
            for finalizers, length in kept:
                del finalizers[length:]
            del kept
            after = _sample()
            if not ok:
                return None
            if i >= self.warmups:
                refs.append(after[0] - before[0])
                blocks.append(after[1] - before[1])
            before = _sample()
        return refs, blocks

    def pytest_terminal_summary(self, terminalreporter):
        write = terminalreporter.write_line
        write(f"refleak: {self.checked} tests run {self.warmups}:{self.runs} "
              f"(warm-up:measured)")
        write(f"refleak: references per measured run, summed over tests: {self.ref_totals}")
        write(f"refleak: memory blocks per measured run, summed over tests: {self.block_totals}")
        for nodeid, refs, blocks in self.leaked:
            write(f"refleak: LEAK {nodeid}: references {refs}, memory blocks {blocks}")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0],
                                     usage="%(prog)s [-R WARMUPS:RUNS] [pytest arguments]")
    parser.add_argument("-R", dest="runs", default="3:3",
                        help="warm-up and measured repetitions per test (default 3:3)")
    parser.add_argument("--with-numpy", action="store_true",
                        help="let the tests import numpy (its release-built extension "
                             "skews the interpreter's reference total)")
    options, pytest_args = parser.parse_known_args(argv)
    if not options.with_numpy:
        # A release-built numpy changes reference counts without the debug
        # interpreter's bookkeeping, so its tests are skipped here.
        sys.modules["numpy"] = None
    if not hasattr(sys, "gettotalrefcount"):
        parser.error("needs a debug build of the interpreter (sys.gettotalrefcount)")
    warmups, runs = (int(n) for n in options.runs.split(":"))
    if runs < 1:
        parser.error("at least one measured run is needed")
    plugin = RefleakPlugin(warmups, runs)
    status = pytest.main(pytest_args, plugins=[plugin])
    if plugin.leaked and status == 0:
        status = 1
    return int(status)


if __name__ == "__main__":
    sys.exit(main())
