"""End-to-end throughput and peak RSS of ``phenomd.binary_snr``: 10^6
binaries (total masses 1e4-1e8 M_sun, q 0.1-1, |chi| < 0.9, z 0.1-10,
4 years to merger, distances from the redshifts with Planck18, the averaged
factor sqrt(16/5)) against the built-in LISA curve, two threads, in
process, as a user calls it.

    PHENOMD_LIBRARY=build/lib/libphenomd.so PYTHONPATH=python \\
        /usr/bin/python3 bench/binary_snr_e2e.py [N]         # the table
    ... bench/binary_snr_e2e.py rss METHOD FAST [N]          # one RSS run

The table: for the fast and the exact row, method="gauss" (rtol 1e-6) and
method="trapezoid" (length 1000) on the same binaries in the same process,
wall time and CPU time (both threads), binaries per second of each
(N / wall, and N / (CPU / 2): two cores' worth), and the speed-up; then the
peak RSS of each method from a fresh process (``rss``), which prints
ru_maxrss after the imports and the curve's table, with the inputs made,
and after the call.  ``rss`` accepts METHOD "default" (no method argument:
for the package before the quadrature)."""

import os
import resource
import subprocess
import sys
import time

import numpy as np


def rss_mb():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def population(n):
    r = np.random.default_rng(1)
    M = 10 ** r.uniform(4, 8, n)
    q = r.uniform(0.1, 1.0, n)
    return dict(m1=M / (1 + q), m2=M * q / (1 + q), spin1=r.uniform(-0.9, 0.9, n), spin2=r.uniform(-0.9, 0.9, n),
                distance=None, redshift=10 ** r.uniform(-1, 1, n), t_start=4.0)


def timed(fn):
    w0, c0 = time.perf_counter(), time.process_time()
    out = fn()
    return out, time.perf_counter() - w0, time.process_time() - c0


def table(n):
    # The RSS runs first, from a small parent: Linux carries a process's
    # peak RSS into a forked and exec'd child's ru_maxrss.
    rss_lines = [subprocess.run([sys.executable, __file__, "rss", method, "1", str(n)], capture_output=True,
                                text=True, check=True).stdout.strip() for method in ("gauss", "trapezoid")]
    import phenomd

    b = population(n)
    phenomd.binary_snr(**population(10), threads=2)  # the curve's table, the modules loaded
    print(f"N = {n}, 2 threads, LISA(4), {os.cpu_count()} CPUs, load average {os.getloadavg()[0]:.2f}")
    print("| row | method | wall s | CPU s | k/s (wall) | k/s (CPU, 2 cores) | speed-up (CPU) |")
    print("|---|---|---|---|---|---|---|")
    for fast in (True, False):
        g, gw, gc = timed(lambda: phenomd.binary_snr(**b, threads=2, fast=fast))
        t, tw, tc = timed(lambda: phenomd.binary_snr(**b, threads=2, fast=fast, method="trapezoid", length=1000))
        row = "fast" if fast else "exact"
        print(f"| {row} | gauss, rtol 1e-6 | {gw:.2f} | {gc:.2f} | {n / gw / 1e3:.0f} | {n / (gc / 2) / 1e3:.0f} | "
              f"{tc / gc:.2f}x |")
        print(f"| {row} | trapezoid, L=1000 | {tw:.2f} | {tc:.2f} | {n / tw / 1e3:.0f} | {n / (tc / 2) / 1e3:.0f} | |")
        ok = (g.snr_all > 0) & (g.snr_rd ** 2 >= 1e-3 * g.snr_all ** 2)
        rel = np.abs(t.snr_rd[ok] / g.snr_rd[ok] - 1)
        big = slice(None)
        print(f"|   | ringdown SNR, trapezoid vs gauss (phases >= 1e-3 of the total) | max rel {rel[big].max():.2g} | "
              f"median {np.median(rel[big]):.2g} | | | |")
        del g, t
    print()
    print("\n".join(rss_lines))


def rss(method, fast, n):
    import phenomd

    phenomd.binary_snr(**population(10), fast=fast)  # imports, the table
    base = rss_mb()
    b = population(n)
    before = rss_mb()
    kw = {} if method == "default" else dict(method=method)
    r, wall, cpu = timed(lambda: phenomd.binary_snr(**b, threads=2, fast=fast, **kw))
    after = rss_mb()
    assert np.all(np.isfinite(r.snr_all))
    print(f"rss: method {method}, {'fast' if fast else 'exact'} row, N = {n}: peak RSS {base:.0f} MB after imports "
          f"and the table, {before:.0f} MB with the inputs, {after:.0f} MB after binary_snr ({wall:.2f} s wall)")


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "rss":
        rss(sys.argv[2], sys.argv[3] == "1", int(sys.argv[4]) if len(sys.argv) > 4 else 1_000_000)
    else:
        table(int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000)
