"""Memory exhaustion: under a limited address space a very long input raises
MemoryError, and the interpreter goes on working afterwards."""

import os
import subprocess
import sys
import textwrap

import pytest

import corvanis

# Sanitizer runtimes reserve terabytes of shadow memory and, like valgrind,
# abort on a failed allocation instead of letting operator new throw.
pytestmark = pytest.mark.skipif(
    bool(os.environ.get("CORVANIS_SANITIZED") or os.environ.get("CORVANIS_VALGRIND")),
    reason="allocation failures abort under sanitizers and valgrind")

CHILD = textwrap.dedent("""
    import resource, sys
    import corvanis

    def address_space():
        with open("/proc/self/statm") as f:
            return int(f.read().split()[0]) * resource.getpagesize()

    def limited(headroom):
        limit = address_space() + headroom
        resource.setrlimit(resource.RLIMIT_AS, (limit, resource.RLIM_INFINITY))

    def unlimited():
        resource.setrlimit(resource.RLIMIT_AS, (resource.RLIM_INFINITY, resource.RLIM_INFINITY))

    reference = corvanis.witt_mao_magnification([0.5, 2.0], 1.0, 0.1)
    case, headroom_mb = sys.argv[1], int(sys.argv[2])
    if case == "range":
        l = range(2**40)          # reports a length no allocator grants
    elif case == "list":
        l = [0.5] * 20_000_000    # 160 MB of item pointers, one float object
    elif case == "array":
        import array
        l = array.array("d", bytes(8 * 20_000_000))  # read as one buffer
    outcome = "result"
    limited(headroom_mb << 20)
    try:
        corvanis.witt_mao_magnification(l, 1.0, 0.1)
    except MemoryError:
        outcome = "MemoryError"
    finally:
        unlimited()
    del l
    assert corvanis.witt_mao_magnification([0.5, 2.0], 1.0, 0.1) == reference
    print(outcome)
""")


def _run_child(case, headroom_mb):
    env = dict(os.environ)
    module_dir = os.path.dirname(os.path.abspath(corvanis.__file__))
    env["PYTHONPATH"] = os.pathsep.join(filter(None, [module_dir, env.get("PYTHONPATH")]))
    return subprocess.run([sys.executable, "-c", CHILD, case, str(headroom_mb)], env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600,
                          check=False)


@pytest.mark.isolated
@pytest.mark.parametrize("case, headroom_mb", [
    ("range", 64),   # the reservation fails, then growing item by item fails
    ("list", 64),    # the array for 20 million items does not fit
    ("array", 64),   # the buffer copy does not fit
])
def test_long_input_raises_memory_error(case, headroom_mb):
    child = _run_child(case, headroom_mb)
    assert child.returncode == 0, child.stderr.decode(errors="replace")[-3000:]
    assert child.stdout.decode().split() == ["MemoryError"]


@pytest.mark.isolated
@pytest.mark.parametrize("headroom_mb", [100, 140, 170, 200, 260, 330])
def test_any_point_of_exhaustion_is_survived(headroom_mb):
    # With room for the input array but perhaps not for the model's results or
    # the result list, the call either completes or raises MemoryError.
    child = _run_child("list", headroom_mb)
    assert child.returncode == 0, child.stderr.decode(errors="replace")[-3000:]
    assert child.stdout.decode().split() in (["MemoryError"], ["result"])


def test_memory_error_in_this_process():
    # The same failure inside the test process, so that the reference-leak
    # mode also covers the module's own MemoryError path.
    resource = pytest.importorskip("resource")
    with open("/proc/self/statm") as f:
        size = int(f.read().split()[0]) * resource.getpagesize()
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    resource.setrlimit(resource.RLIMIT_AS, (size + (32 << 20), hard))
    try:
        with pytest.raises(MemoryError):
            corvanis.witt_mao_magnification(range(2**40), 1.0, 0.1)
    finally:
        resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
    assert corvanis.witt_mao_magnification([2.0], 1.0, 0.1)[0] > 1.0
