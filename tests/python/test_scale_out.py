"""A grid of light curves computed across processes (concurrent.futures) and
on a Dask cluster gives the same floats, bit for bit, as the serial calls."""

from __future__ import annotations

import importlib.util
from concurrent.futures import ProcessPoolExecutor, ThreadPoolExecutor
from itertools import repeat

import pytest

import corvanis

np = pytest.importorskip("numpy")

RE = 1.0


def light_curve_grid():
    """(function, separations, rstar) for a small grid of events: impact
    parameters from a central crossing to a near miss, three source sizes."""
    tau = np.linspace(-2.0, 2.0, 41)
    jobs = []
    for rho in (0.01, 0.1, 1.0):
        for u0 in (0.0, 0.5 * rho, rho, 3.0 * rho):
            l = np.hypot(u0, tau * rho * 3.0) / rho
            for fn in (corvanis.witt_mao_magnification,
                       corvanis.integrated_heyrovsky_magnification):
                jobs.append((fn, l, rho))
    return jobs


JOBS = light_curve_grid()


def serial():
    return [fn(l, RE, rho) for fn, l, rho in JOBS]


@pytest.fixture(scope="module")
def expected():
    return serial()


def submitted(pool):
    # The module's functions pickle by name: they are submitted directly, so
    # no helper has to be importable in the workers.
    futures = [pool.submit(fn, l, RE, rho) for fn, l, rho in JOBS]
    return [f.result() for f in futures]


@pytest.mark.parametrize("executor", [ProcessPoolExecutor, ThreadPoolExecutor])
def test_executor_matches_serial(executor, expected):
    with executor(max_workers=2) as pool:
        assert submitted(pool) == expected


def test_process_pool_map_over_chunks(expected):
    # The README recipe: one long separation list split into chunks.
    fn, l, rho = JOBS[-1]
    chunks = np.array_split(np.tile(l, 5), 4)
    with ProcessPoolExecutor(max_workers=2) as pool:
        parts = pool.map(fn, chunks, repeat(RE), repeat(rho))
        joined = [x for part in parts for x in part]
    assert joined == expected[-1] * 5


needs_dask = pytest.mark.skipif(
    importlib.util.find_spec("distributed") is None,
    reason="dask.distributed is not installed (optional: pip install 'dask[distributed]')")


@needs_dask
@pytest.mark.parametrize("processes", [False, True], ids=["threads", "processes"])
def test_dask_local_cluster_matches_serial(processes, expected):
    from dask.distributed import Client, LocalCluster

    with LocalCluster(n_workers=2, threads_per_worker=1, processes=processes,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        futures = [client.submit(fn, l, RE, rho, pure=False) for fn, l, rho in JOBS]
        assert client.gather(futures) == expected
