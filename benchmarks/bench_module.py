"""Timing of the corvanis module from Python.

    python benchmarks/bench_module.py

Reports, on this machine:
- conversion of a 10^6-element float64 NumPy array through the buffer path
  against the element-by-element path (a list of the same values);
- time per element of the closed forms and of the integrated functions, with
  the number of integrand evaluations each integrated call implies;
- throughput of 2 threads against 1 on a large input (the GIL is released
  while the model runs).
"""

from __future__ import annotations

import statistics
import threading
import time

import numpy as np

import corvanis

RE, RSTAR = 1.0, 0.05


def median_time(fn, repeat=7, number=1):
    times = []
    for _ in range(repeat):
        t0 = time.perf_counter()
        for _ in range(number):
            fn()
        times.append((time.perf_counter() - t0) / number)
    return statistics.median(times)


def bench_conversion():
    n = 10**6
    arr = np.linspace(0.0, 3.0, n)
    # A reversed view holds the same values but is not C-contiguous, so it is
    # read element by element (a NumPy scalar per item). With an empty l the
    # model does nothing, so the call time is the conversion of bl and bf.
    reversed_view = arr[::-1]
    as_list = arr.tolist()

    def convert(values):
        return lambda: corvanis.discrete_flux_map_heyrovsky_magnification([], RE, RSTAR,
                                                                          values, values)

    buffer_path = median_time(convert(arr))
    element_path = median_time(convert(reversed_view), repeat=3)
    list_path = median_time(convert(as_list))
    print("conversion of two 10^6-element arguments")
    print(f"  float64 array, buffer path          {buffer_path * 1e3:8.2f} ms")
    print(f"  float64 array, element path         {element_path * 1e3:8.2f} ms"
          f"   (buffer path {element_path / buffer_path:5.1f}x faster)")
    print(f"  list of floats, element path        {list_path * 1e3:8.2f} ms"
          f"   (buffer path {list_path / buffer_path:5.1f}x faster)")


def bench_per_element():
    print("time per separation")
    rows = [
        ("witt_mao_magnification", lambda l: corvanis.witt_mao_magnification(l, RE, RSTAR),
         10**5, None),
        ("heyrovsky_magnification (per call)", None, 10**5, None),
        ("integrated_witt_mao_magnification",
         lambda l: corvanis.integrated_witt_mao_magnification(l, RE, RSTAR), 2000, "385"),
        ("integrated_flux_map_witt_mao_magnification",
         lambda l: corvanis.integrated_flux_map_witt_mao_magnification(
             l, RE, RSTAR, [0.0, 0.5, 1.0], [1.0, 0.9, 0.6]), 2000, "385 (+385 once for N)"),
        ("integrated_heyrovsky_magnification",
         lambda l: corvanis.integrated_heyrovsky_magnification(l, RE, RSTAR), 200,
         "385 outside, 770 inside the disk"),
        ("integrated_flux_map_heyrovsky_magnification",
         lambda l: corvanis.integrated_flux_map_heyrovsky_magnification(
             l, RE, RSTAR, [0.0, 0.5, 1.0], [1.0, 0.9, 0.6]), 200,
         "385 outside, 770 inside (+385 once for N)"),
        ("discrete_flux_map_heyrovsky_magnification (10 rings)",
         lambda l: corvanis.discrete_flux_map_heyrovsky_magnification(
             l, RE, RSTAR, list(np.linspace(0.05, 0.95, 10)), [0.1] * 10), 10**4, None),
    ]
    for name, fn, n, evals in rows:
        if fn is None:
            ls = np.linspace(0.01, 3.0, 1000)
            t = median_time(lambda: [corvanis.heyrovsky_magnification(x, 0.5, RE, RSTAR)
                                     for x in ls], repeat=5)
            per = t / len(ls)
        else:
            l = np.linspace(0.0, 3.0, n)
            per = median_time(lambda: fn(l), repeat=5) / n
        extra = f"   integrand evaluations per separation: {evals}" if evals else ""
        print(f"  {name:<55} {per * 1e6:10.3f} us{extra}")


def bench_threads():
    n = 4 * 10**5
    l = np.linspace(0.0, 3.0, n)

    def work():
        corvanis.witt_mao_magnification(l, RE, RSTAR)

    def run(threads):
        ts = [threading.Thread(target=work) for _ in range(threads)]
        t0 = time.perf_counter()
        for t in ts:
            t.start()
        for t in ts:
            t.join()
        return time.perf_counter() - t0

    one = statistics.median(run(1) for _ in range(5))
    two = statistics.median(run(2) for _ in range(5))
    print("threads (witt_mao_magnification, 4*10^5 separations per call)")
    print(f"  1 thread, 1 call : {one * 1e3:8.1f} ms")
    print(f"  2 threads, 2 calls: {two * 1e3:8.1f} ms   throughput ratio {2 * one / two:4.2f}x")


if __name__ == "__main__":
    bench_conversion()
    bench_per_element()
    bench_threads()
