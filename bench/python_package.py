"""The Python package against the direct C call (on warm, reused output
arrays, and on outputs allocated for each call as the package does), and two
threads against one,
for 1e4 binaries x 1e3 points with full bands (t_end = 0), for the exact and
the fast module.  Medians of REPEAT runs (wall time).  Run after bench/run:

    PHENOMD_LIBRARY=build-perf-release/lib/libphenomd.so PYTHONPATH=python \\
        python3 bench/python_package.py
"""

import ctypes
import os
import statistics
import sys
import time

import numpy as np

import phenomd
from phenomd import _lib

N, LENGTH = 10_000, 1_000
REPEAT = int(os.environ.get("REPEAT", "7"))


def median_time(fn):
    fn()  # warm-up: page in the arrays, load the module
    times = []
    for _ in range(REPEAT):
        t = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t)
    return statistics.median(times)


def main():
    rng = np.random.default_rng(12345)
    M = 10 ** rng.uniform(4, 7, N)
    q = rng.uniform(1, 10, N)
    kw = dict(m1=M * q / (1 + q), m2=M / (1 + q), spin1=rng.uniform(-0.99, 0.99, N),
              spin2=rng.uniform(-0.99, 0.99, N), distance=rng.uniform(1e3, 5e4, N),
              redshift=rng.uniform(0.1, 5, N), t_start=rng.uniform(0.5, 4, N),
              t_end=0.0, length=LENGTH)
    args = [np.ascontiguousarray(np.broadcast_to(np.asarray(kw[k], float), (N,)))
            for k in ("m1", "m2", "spin1", "spin2", "distance", "redshift",
                      "t_start", "t_end")]
    out = [np.empty((N, LENGTH)), np.empty((N, LENGTH)), np.empty(N), np.empty(N)]
    p = lambda a: a.ctypes.data_as(ctypes.POINTER(ctypes.c_double))

    print(f"Python package vs direct call, {N} x {LENGTH}, full bands, "
          f"median of {REPEAT} (wall), {os.cpu_count()} CPUs, "
          f"load {os.getloadavg()[0]:.2f}")
    print(f"{'module':8} {'direct ms':>10} {'fresh ms':>9} {'pkg 1 thr':>10} "
          f"{'pkg/direct':>10} {'pkg/fresh':>9} {'pkg 2 thr':>10} "
          f"{'1 thr/2 thr':>11}")
    for fast in (False, True):
        lib = _lib.load(fast=fast)

        def direct():
            lib.Amplitude(*(p(a) for a in out), *(p(a) for a in args), N, LENGTH)

        def direct_fresh():
            # A C host that allocates its outputs for each call, as the
            # package does (the first touch of 160 MB is paid in the call).
            o = [np.empty((N, LENGTH)), np.empty((N, LENGTH)), np.empty(N),
                 np.empty(N)]
            lib.Amplitude(*(p(a) for a in o), *(p(a) for a in args), N, LENGTH)

        t_direct = median_time(direct)
        t_fresh = median_time(direct_fresh)
        t1 = median_time(lambda: phenomd.amplitude(threads=1, fast=fast, **kw))
        t2 = median_time(lambda: phenomd.amplitude(threads=2, fast=fast, **kw))
        # The package's outputs are those of the direct call.
        r = phenomd.amplitude(threads=2, fast=fast, **kw)
        direct()
        same = np.array_equal(r.hc, out[1], equal_nan=True)
        print(f"{'fast' if fast else 'exact':8} {t_direct * 1e3:10.1f} "
              f"{t_fresh * 1e3:9.1f} {t1 * 1e3:10.1f} {t1 / t_direct:10.3f} "
              f"{t1 / t_fresh:9.3f} {t2 * 1e3:10.1f} {t1 / t2:11.2f}   "
              f"outputs identical: {same}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
