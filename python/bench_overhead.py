"""Overhead of the package over the bare ctypes call, for 10^4 binaries x
10^3 grid points (full bands), with one thread and two.

    PHENOMD_LIBRARY=build/lib/libphenomd.so PYTHONPATH=python \\
        /usr/bin/python3 python/bench_overhead.py [--repeat 5]

"direct" is the C call through ctypes on arrays allocated and filled
beforehand (two threads: the batch halved over two Python threads by hand);
"package" is phenomd.amplitude / phenomd.snr from Python values, including
conversion, the input checks, output allocation and chunking.  Best and
median wall time of the repeats.
"""

import argparse
import ctypes
import os
import statistics
import threading
import time

import numpy as np

import phenomd

N, LENGTH = 10_000, 1_000


def timed(fn, repeat):
    fn()  # warm-up: load the module, fault in the pages
    times = []
    for _ in range(repeat):
        t = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t)
    return min(times), statistics.median(times)


def halves(n):
    return [(0, n // 2), (n // 2, n)]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--repeat", type=int, default=5)
    repeat = ap.parse_args().repeat

    rng = np.random.default_rng(12345)
    m = 10 ** rng.uniform(3, 8, N)
    q = rng.uniform(0.1, 1, N)
    kw = dict(m1=m / (1 + q), m2=m * q / (1 + q), spin1=rng.uniform(-0.99, 0.99, N),
              spin2=rng.uniform(-0.99, 0.99, N), distance=rng.uniform(1e3, 5e4, N),
              redshift=rng.uniform(0.1, 5, N), t_start=rng.uniform(0.5, 4, N), t_end=np.zeros(N))
    lib = phenomd.load_library()
    P = ctypes.POINTER(ctypes.c_double)

    def p(a):
        return a.ctypes.data_as(P)

    ins = [np.ascontiguousarray(kw[k]) for k in ("m1", "m2", "spin1", "spin2", "distance", "redshift",
                                                   "t_start", "t_end")]
    freqs, hc = np.empty((N, LENGTH)), np.empty((N, LENGTH))
    fm, fr = np.empty(N), np.empty(N)

    def direct_amp(a, b):
        lib.Amplitude(p(freqs[a:b]), p(hc[a:b]), p(fm[a:b]), p(fr[a:b]), *[p(x[a:b]) for x in ins], b - a, LENGTH)

    def two(fn):
        def run():
            ts = [threading.Thread(target=fn, args=s) for s in halves(N)]
            for t in ts:
                t.start()
            for t in ts:
                t.join()
        return run

    direct_amp(0, N)
    hn = phenomd.noise.lisa(freqs)
    out = [np.empty(N) for _ in range(4)]

    def direct_snr(a, b):
        lib.SNR_function(*[p(o[a:b]) for o in out], p(freqs[a:b]), p(hc[a:b]), p(hn[a:b]), p(fm[a:b]),
                         p(fr[a:b]), LENGTH, b - a)

    rows = [
        ("Amplitude", 1, lambda: direct_amp(0, N), lambda: phenomd.amplitude(**kw, length=LENGTH, threads=1)),
        ("Amplitude", 2, two(direct_amp), lambda: phenomd.amplitude(**kw, length=LENGTH, threads=2)),
        ("SNR_function", 1, lambda: direct_snr(0, N),
         lambda: phenomd.snr(freqs, hc, hn, fm, fr, threads=1)),
        ("SNR_function", 2, two(direct_snr),
         lambda: phenomd.snr(freqs, hc, hn, fm, fr, threads=2)),
    ]
    # The package's own work, with the C calls replaced by no-ops: input
    # conversion and checks, output allocation, chunking and the ctypes
    # pointer conversions.  Independent of the noise in the C timings.
    null = phenomd.Library.__new__(phenomd.Library)
    null.path = "no-op"
    null.Amplitude = null.SNR_function = lambda *args: 0

    def fault_outputs():  # what writing fresh (n, length) outputs costs
        for _ in range(2):
            np.empty((N, LENGTH)).fill(0.0)

    side = [
        ("amplitude, C call a no-op", lambda: phenomd.amplitude(**kw, length=LENGTH, library=null)),
        ("snr, C call a no-op", lambda: phenomd.snr(freqs, hc, hn, fm, fr, library=null)),
        ("writing two fresh 10^7 arrays", fault_outputs),
    ]

    print(f"{N} binaries x {LENGTH} points; {os.cpu_count()} CPUs, load {os.getloadavg()[0]:.2f}; "
          f"module {lib.path}; best / median of {repeat}")
    print(f"{'function':13} {'thr':>3} {'direct ms':>17} {'package ms':>17} {'overhead ms':>12} {'overhead':>9}")
    for name, threads, direct, package in rows:
        d = timed(direct, repeat)
        k = timed(package, repeat)
        print(f"{name:13} {threads:3d} {d[0] * 1e3:8.1f} /{d[1] * 1e3:7.1f} {k[0] * 1e3:8.1f} /{k[1] * 1e3:7.1f} "
              f"{(k[0] - d[0]) * 1e3:12.1f} {(k[0] / d[0] - 1) * 100:8.1f}%")
    print("package side alone (1 thread):")
    for name, fn in side:
        t = timed(fn, repeat)
        print(f"  {name:32} {t[0] * 1e3:8.1f} /{t[1] * 1e3:7.1f} ms")


if __name__ == "__main__":
    main()
