"""The Python package against the direct C call, and two threads against
one, for 1e4 binaries x 1e3 points with full bands (t_end = 0), for the
exact and the fast module.  Medians of REPEAT runs (wall time).  Run after
bench/run:

    PHENOMD_LIBRARY=build-perf-release/lib/libphenomd.so PYTHONPATH=python \\
        /usr/bin/python3 bench/python_package.py

Amplitude: "direct" is the C call through bare ctypes into output arrays
written before (warm pages); "direct, fresh outputs" allocates them for each
call, as the package does by default (the first touch of 160 MB is then paid
inside the call); "package" is phenomd.amplitude from Python values with its
conversions, checks, output allocation and chunking; "package, out=" reuses
the caller's arrays.  Two threads: the direct call halved over two Python
threads by hand, the package with threads=2.  SNR_function: direct, the
package, and the package with check=False (no per-element checks).
"""

import ctypes
import os
import statistics
import sys
import threading
import time

import numpy as np

import phenomd
from phenomd import load_library

N, LENGTH = 10_000, 1_000
REPEAT = int(os.environ.get("REPEAT", "7"))
NAMES = ("m1", "m2", "spin1", "spin2", "distance", "redshift", "t_start", "t_end")


def median_ms(fn):
    fn()  # warm-up: page in the arrays, load the module
    times = []
    for _ in range(REPEAT):
        t = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t)
    return statistics.median(times) * 1e3


def _p(a):
    return a.ctypes.data_as(ctypes.POINTER(ctypes.c_double))


def in_two_threads(fn):
    """fn(a, b) on the two halves of the batch, one Python thread each."""

    def run():
        ts = [threading.Thread(target=fn, args=s) for s in ((0, N // 2), (N // 2, N))]
        for t in ts:
            t.start()
        for t in ts:
            t.join()

    return run


def batch():
    rng = np.random.default_rng(12345)
    M = 10 ** rng.uniform(4, 7, N)
    q = rng.uniform(1, 10, N)
    return dict(m1=M * q / (1 + q), m2=M / (1 + q), spin1=rng.uniform(-0.99, 0.99, N),
                spin2=rng.uniform(-0.99, 0.99, N), distance=rng.uniform(1e3, 5e4, N),
                redshift=rng.uniform(0.1, 5, N), t_start=rng.uniform(0.5, 4, N),
                t_end=np.zeros(N))


def rows_for(fast, kw):
    lib = load_library(fast=fast)
    ins = [np.ascontiguousarray(kw[k], dtype=float) for k in NAMES]
    out = [np.empty((N, LENGTH)), np.empty((N, LENGTH)), np.empty(N), np.empty(N)]

    def direct_amp(a, b):
        lib.Amplitude(*(_p(o[a:b]) for o in out), *(_p(x[a:b]) for x in ins), b - a, LENGTH)

    def direct_fresh():
        o = [np.empty((N, LENGTH)), np.empty((N, LENGTH)), np.empty(N), np.empty(N)]
        lib.Amplitude(*(_p(x) for x in o), *(_p(x) for x in ins), N, LENGTH)

    res = phenomd.amplitude(**kw, length=LENGTH, fast=fast, inclination="edge-on")
    direct_amp(0, N)
    same = all(np.array_equal(a, b, equal_nan=True)
               for a, b in zip((res.freqs, res.hc, res.f_merger_start, res.f_ringdown_start), out))
    kept = phenomd.amplitude(**kw, length=LENGTH, fast=fast, inclination="edge-on")  # arrays for out=
    freqs, hc, fm, fr = out
    hn = phenomd.noise.lisa(freqs)
    s_out = [np.empty(N) for _ in range(4)]

    def direct_snr(a, b):
        lib.SNR_function(*(_p(o[a:b]) for o in s_out), _p(freqs[a:b]), _p(hc[a:b]), _p(hn[a:b]),
                         _p(fm[a:b]), _p(fr[a:b]), LENGTH, b - a)

    def pkg_amp(threads, reuse):
        return lambda: phenomd.amplitude(**kw, length=LENGTH, fast=fast, threads=threads,
                                         inclination="edge-on", out=kept if reuse else None)

    def pkg_snr(threads, check):
        return lambda: phenomd.snr(freqs, hc, hn, fm, fr, fast=fast, threads=threads, check=check)

    t = {
        "amp direct": median_ms(lambda: direct_amp(0, N)),
        "amp direct fresh": median_ms(direct_fresh),
        "amp pkg": median_ms(pkg_amp(1, False)),
        "amp pkg out": median_ms(pkg_amp(1, True)),
        "amp direct 2": median_ms(in_two_threads(direct_amp)),
        "amp pkg 2": median_ms(pkg_amp(2, False)),
        "amp pkg out 2": median_ms(pkg_amp(2, True)),
        "snr direct": median_ms(lambda: direct_snr(0, N)),
        "snr pkg": median_ms(pkg_snr(1, True)),
        "snr pkg nocheck": median_ms(pkg_snr(1, False)),
        "snr direct 2": median_ms(in_two_threads(direct_snr)),
        "snr pkg nocheck 2": median_ms(pkg_snr(2, False)),
    }
    return t, same


def main():
    kw = batch()
    print(f"Python package vs direct call, {N} x {LENGTH}, full bands, median of {REPEAT} (wall), "
          f"{os.cpu_count()} CPUs, load {os.getloadavg()[0]:.2f}")
    for fast in (False, True):
        t, same = rows_for(fast, kw)
        name = "fast" if fast else "exact"
        print(f"\n{name} module ({load_library(fast=fast).path}); package outputs identical to direct: {same}")
        print(f"{'':34} {'1 thread ms':>11} {'vs direct':>9} {'2 threads ms':>12} {'1 thr / 2 thr':>13}")

        def row(label, one, base, two=None):
            two_s = f"{t[two]:12.1f} {t[one] / t[two]:13.2f}" if two else ""
            print(f"{label:34} {t[one]:11.1f} {t[one] / t[base]:9.3f} {two_s}")

        row("Amplitude direct", "amp direct", "amp direct", "amp direct 2")
        row("Amplitude direct, fresh outputs", "amp direct fresh", "amp direct")
        row("amplitude()", "amp pkg", "amp direct", "amp pkg 2")
        row("  vs direct with fresh outputs", "amp pkg", "amp direct fresh")
        row("amplitude(out=...)", "amp pkg out", "amp direct", "amp pkg out 2")
        row("SNR_function direct", "snr direct", "snr direct", "snr direct 2")
        row("snr()", "snr pkg", "snr direct")
        row("snr(check=False)", "snr pkg nocheck", "snr direct", "snr pkg nocheck 2")
    return 0


if __name__ == "__main__":
    sys.exit(main())
