"""Calls spread over the worker pool: the thread count from the environment,
the same bits and the same first error as serially, and fork."""

import json
import os
import subprocess
import sys
import textwrap

import pytest

import corvanis

# Calls long enough to be split over threads, and their results as bits.
SPLIT_CALLS = r"""
import json, math, struct, sys
import corvanis as c

def bits(x):
    return struct.pack('<d', x).hex() if not math.isnan(x) else 'nan'

l = [0.003 * i for i in range(1500)] + [1.0, 1.0 + 1e-9, math.nan, math.inf]
table = ([i / 40 for i in range(41)], [1 - 0.6 * (1 - math.sqrt(1 - (i / 40) ** 2)) for i in range(41)])
calls = {
    'witt_mao': lambda: c.witt_mao_magnification(l * 4, 1.0, 0.05),
    'integrated_witt_mao': lambda: c.integrated_witt_mao_magnification(l, 1.0, 0.05),
    'integrated_flux_map_witt_mao': lambda: c.integrated_flux_map_witt_mao_magnification(l, 1.0, 0.05, *table),
    'integrated_heyrovsky': lambda: c.integrated_heyrovsky_magnification(l[::25], 1.0, 0.05),
    'integrated_flux_map_heyrovsky': lambda: c.integrated_flux_map_heyrovsky_magnification(l[::25], 1.0, 0.05, *table),
    'discrete': lambda: c.discrete_flux_map_heyrovsky_magnification(l, 1.0, 0.05, *table),
}
out = {}
for name, call in calls.items():
    try:
        out[name] = [bits(x) for x in call()]
    except BaseException as exc:
        out[name] = [type(exc).__name__, str(exc)]
json.dump(out, sys.stdout)
"""


def run_child(code, threads, timeout=300, **env):
    environment = {k: v for k, v in os.environ.items()
                   if k not in ("CORVANIS_NUM_THREADS", "OMP_NUM_THREADS")}
    if threads is not None:
        environment["CORVANIS_NUM_THREADS"] = str(threads)
    environment.update(env)
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          env=environment, timeout=timeout)
    assert done.returncode == 0, done.stderr[-2000:]
    return done


@pytest.mark.isolated
def test_split_calls_give_the_serial_bits():
    serial = json.loads(run_child(SPLIT_CALLS, 1).stdout)
    for threads in (2, 3):
        assert json.loads(run_child(SPLIT_CALLS, threads).stdout) == serial


# One ring and three separations that each fail with a different message: at
# negative separations (outside the model's domain), the mirror image of rings
# whose closed form rounds m or n to 1, and which the expansion takes there.
R, RE, RSTAR = -852.1194878135315, 1.0, 0.0012914185427932185
FAILING = {"ellipk: m must be less than 1.": -852.1194778075304,
           "ellippi: m must be less than 1.": -852.1194778125315,
           "ellippi: n must be less than 1.": -852.1194978595405}


@pytest.mark.isolated
@pytest.mark.parametrize("order", [list(FAILING), list(FAILING)[::-1]], ids=["kmn", "nmk"])
def test_first_failing_separation_wins(order):
    # Failures far apart land in different chunks; the earliest one's message
    # is the call's, as serially.
    code = textwrap.dedent(f"""
        import corvanis
        l = [-2.0 - 0.001 * i for i in range(6000)]
        for position, l_fail in zip((3000, 4000, 5500), {[FAILING[m] for m in order]!r}):
            l[position] = l_fail
        try:
            corvanis.discrete_flux_map_heyrovsky_magnification(l, {RE!r}, {RSTAR!r}, [{R!r}], [1.0])
        except RuntimeError as exc:
            print(exc)
    """)
    for threads in (1, 2):
        assert run_child(code, threads).stdout.strip() == order[0]


COUNT_THREADS = """
import os, warnings
warnings.simplefilter('always')
import corvanis
corvanis.integrated_heyrovsky_magnification([0.1 * i for i in range(40)], 1.0, 0.1)
print(len(os.listdir('/proc/self/task')))
"""


@pytest.mark.isolated
@pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="needs /proc")
@pytest.mark.parametrize("env, threads", [
    ({"CORVANIS_NUM_THREADS": "1"}, 1),
    ({"CORVANIS_NUM_THREADS": "3"}, 3),
    ({"OMP_NUM_THREADS": "1"}, 1),
    ({"OMP_NUM_THREADS": "3,2"}, 3),
    ({"CORVANIS_NUM_THREADS": "2", "OMP_NUM_THREADS": "1"}, 2),
])
def test_thread_count_from_the_environment(env, threads):
    # The process's threads: the interpreter's own and the pool's workers.
    assert int(run_child(COUNT_THREADS, None, **env).stdout) == threads


@pytest.mark.isolated
@pytest.mark.skipif(not os.path.isdir("/proc/self/task"), reason="needs /proc")
@pytest.mark.parametrize("value", ["many", "0", "1025", "5000"])
def test_invalid_thread_count_is_ignored_with_a_warning(value):
    # A count above 1024 too: it would start a worker per count, whatever the
    # machine. The calls use the default, as without the variable.
    default = int(run_child(COUNT_THREADS, None).stdout)
    done = run_child(COUNT_THREADS, None, CORVANIS_NUM_THREADS=value)
    noun = "thread" if default == 1 else "threads"
    assert (f"CORVANIS_NUM_THREADS is not a whole number from 1 to 1024 and is ignored; "
            f"calls use {default} {noun}\n") in done.stderr
    assert int(done.stdout) == default


@pytest.mark.isolated
def test_warning_counts_one_thread_in_the_singular():
    done = run_child(COUNT_THREADS, None, CORVANIS_NUM_THREADS="many", OMP_NUM_THREADS="1")
    assert ("CORVANIS_NUM_THREADS is not a whole number from 1 to 1024 and is ignored; "
            "calls use 1 thread\n") in done.stderr


FORK = """
import multiprocessing, os, sys
import corvanis
l = [0.05 * i for i in range(60)]
expected = corvanis.integrated_heyrovsky_magnification(l, 1.0, 0.1)
with multiprocessing.get_context('fork').Pool(2) as pool:
    got = pool.starmap(corvanis.integrated_heyrovsky_magnification, [(l, 1.0, 0.1)] * 4)
assert got == [expected] * 4
pid = os.fork()
if pid == 0:
    ok = corvanis.integrated_heyrovsky_magnification(l, 1.0, 0.1) == expected
    os._exit(0 if ok else 1)
_, status = os.waitpid(pid, 0)
assert status == 0, status
print('ok')
"""


@pytest.mark.isolated
@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs fork")
def test_children_forked_after_the_pool_ran_compute():
    done = run_child(FORK, 2, timeout=120, PYTHONWARNINGS="ignore::DeprecationWarning")
    assert done.stdout.strip() == "ok"


def test_unequal_tables_panic_on_the_calling_thread(panic_exception):
    # Long enough to be split: the lengths are checked before any chunk runs.
    with pytest.raises(panic_exception, match="left: 2\n right: 1"):
        corvanis.integrated_flux_map_heyrovsky_magnification([0.5] * 50, 1.0, 0.1, [0, 1], [1])


WORKER_SETTINGS = """
import json, os, time
import corvanis                     # the thread count is set here, from this mask
mask = sorted(os.sched_getaffinity(0))
nice = os.getpriority(os.PRIO_PROCESS, 0)
# The main thread then pins itself to one CPU, lowers its priority and turns
# to batch scheduling, before the first call that starts the workers.
os.sched_setaffinity(0, {mask[0]})
os.nice(5)
os.sched_setscheduler(0, os.SCHED_BATCH, os.sched_param(0))
corvanis.integrated_heyrovsky_magnification([0.1 * i for i in range(40)], 1.0, 0.1)

def cpus(text):
    out = []
    for part in text.split(","):
        first, _, last = part.partition("-")
        out += range(int(first), int(last or first) + 1)
    return out

def workers():
    seen = []
    for tid in os.listdir("/proc/self/task"):
        if int(tid) == os.getpid():
            continue
        with open(f"/proc/self/task/{tid}/status") as f:
            allowed = [line.split()[1] for line in f if line.startswith("Cpus_allowed_list")][0]
        with open(f"/proc/self/task/{tid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        seen.append({"cpus": cpus(allowed), "nice": int(fields[16]), "policy": int(fields[38])})
    return seen

# A worker takes its settings first thing when it runs, which may be after
# the call that started it has returned.
deadline = time.monotonic() + 20
while (any(w["cpus"] != mask or (os.geteuid() == 0 and w["nice"] != nice) for w in workers())
       and time.monotonic() < deadline):
    time.sleep(0.01)
print(json.dumps({"mask": mask, "nice": nice, "workers": workers()}))
"""


@pytest.mark.isolated
@pytest.mark.skipif(not (os.path.isdir("/proc/self/task") and hasattr(os, "sched_setaffinity")
                         and hasattr(os, "SCHED_BATCH")), reason="needs Linux")
@pytest.mark.skipif(hasattr(os, "sched_getaffinity") and len(os.sched_getaffinity(0)) < 2,
                    reason="needs two CPUs")
def test_workers_take_the_settings_the_thread_count_was_set_with():
    # Not those of the thread whose call started them.
    seen = json.loads(run_child(WORKER_SETTINGS, 3).stdout)
    assert len(seen["workers"]) == 2
    for worker in seen["workers"]:
        assert worker["cpus"] == seen["mask"]
        assert worker["policy"] == os.SCHED_OTHER
        if os.geteuid() == 0:  # lowering a nice value takes the privilege
            assert worker["nice"] == seen["nice"]


PEAK_MEMORY = """
import resource
import numpy as np
import corvanis
bl = np.linspace(0.0, 1.0, 2_000_000)             # a 31 MiB table
bf = 1 - 0.6 * (1 - np.sqrt(1 - bl * bl))
l = np.linspace(0.0, 3.0, 100_000)
# A first, short call converts the table once: what follows is the call's own.
corvanis.integrated_flux_map_witt_mao_magnification(l[:2], 1.0, 0.05, bl, bf)
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
corvanis.integrated_flux_map_witt_mao_magnification(l, 1.0, 0.05, bl, bf)
print((resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before) / 1024)
"""


@pytest.mark.isolated
@pytest.mark.skipif(sys.platform != "linux", reason="ru_maxrss in KiB")
def test_chunks_share_the_callers_table():
    pytest.importorskip("numpy")
    # The result list is about 3 MiB; a copy of the table per chunk would add
    # 31 MiB for each thread computing at once.
    serial = float(run_child(PEAK_MEMORY, 1).stdout)
    parallel = float(run_child(PEAK_MEMORY, 4).stdout)
    assert parallel < serial + 8, (serial, parallel)
