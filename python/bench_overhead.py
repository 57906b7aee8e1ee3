"""Overhead of the package over the bare ctypes call, for 1e4 binaries x 1e3
points, with one and two threads.  Run:
    PHENOMD_LIBRARY=build/lib/libphenomd.so PYTHONPATH=python \\
        /usr/bin/python3 python/bench_overhead.py
"""

import ctypes
import time

import numpy as np

import phenomd

N, LENGTH, REPEAT = 10_000, 1_000, 5


def best(fn):
    times = []
    for _ in range(REPEAT):
        t = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t)
    return min(times)


def main():
    rng = np.random.default_rng(0)
    kw = dict(m1=10 ** rng.uniform(4, 8, N), m2=10 ** rng.uniform(4, 8, N),
              spin1=rng.uniform(-1, 1, N), spin2=rng.uniform(-1, 1, N),
              distance=np.full(N, 1e4), redshift=rng.uniform(0.1, 5, N),
              t_start=np.full(N, 4.0), t_end=np.zeros(N))
    lib = phenomd.load()
    ins = [np.ascontiguousarray(kw[k]) for k in
           ("m1", "m2", "spin1", "spin2", "distance", "redshift", "t_start", "t_end")]
    outs = [np.empty(N * LENGTH), np.empty(N * LENGTH), np.empty(N), np.empty(N)]
    p = lambda a: a.ctypes.data_as(ctypes.POINTER(ctypes.c_double))
    direct = best(lambda: lib.Amplitude(*map(p, outs), *map(p, ins), N, LENGTH))
    print(f"direct ctypes call      {direct * 1e3:8.1f} ms")
    for threads in (1, 2):
        t = best(lambda: phenomd.amplitude(**kw, length=LENGTH, threads=threads))
        print(f"package, {threads} thread(s)    {t * 1e3:8.1f} ms  "
              f"({(t / direct - 1) * 100:+.1f}% vs direct, {direct / t:.2f}x)")


if __name__ == "__main__":
    main()
