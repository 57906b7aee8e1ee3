"""End to end: phenomd.binary_snr on N binaries x L points against LISA
(4-year confusion noise, distances from Planck18), beside the C-only time of
the same batch in the same run: the module's Amplitude alone (direct ctypes
calls over the batch in blocks, into one reused buffer per thread, so no
N x L array is written), and the population module called directly.
Exact and fast module, 1 and 2 threads, N = 1e4, 1e5, 1e6 (exact: 1e4 and
1e5 unless E2E_EXACT_N says otherwise).  Medians of REPEAT runs: the
ratios to Amplitude alone from CPU time (all threads), which a loaded
machine disturbs least; the 2-thread speed-up from wall time.  Peak RSS of
binary_snr in a fresh process per N.

    PHENOMD_LIBRARY=<build>/lib/libphenomd.so PYTHONPATH=python \\
        /usr/bin/python3 bench/end_to_end.py

Environment: REPEAT (default 3), E2E_N / E2E_EXACT_N (comma-separated
batch sizes), E2E_LENGTH (default 1000), E2E_RSS_N (default 1e4,1e6; empty
to skip).  bench/run runs it after the C table.
"""

import os
import statistics
import subprocess
import sys
import threading
import time

import numpy as np

import phenomd
from phenomd import _cosmology, _population
from phenomd._library import load_library

REPEAT = int(os.environ.get("REPEAT", "3"))
LENGTH = int(os.environ.get("E2E_LENGTH", "1000"))
BLOCK = 1000  # binaries per direct Amplitude call (8 MB per buffer at L = 1000)


def _sizes(name, default):
    text = os.environ.get(name, default)
    return [int(float(x)) for x in text.split(",") if x.strip()]


def batch(n, seed=7):
    """Total masses 1e4-1e7 M_sun (source frame), mass ratios 1-10, spins
    in [-0.9, 0.9], redshifts 0.1-5, the last 4 years to merger."""
    r = np.random.default_rng(seed)
    M = 10 ** r.uniform(4, 7, n)
    q = r.uniform(1, 10, n)
    return dict(
        m1=M * q / (1 + q),
        m2=M / (1 + q),
        spin1=r.uniform(-0.9, 0.9, n),
        spin2=r.uniform(-0.9, 0.9, n),
        redshift=r.uniform(0.1, 5, n),
        t_start=np.full(n, 4.0),
        t_end=np.zeros(n),
    )


def median_s(fn):
    """(wall, CPU) seconds: medians of REPEAT runs; CPU time is the
    process's, all threads together (robust on a shared machine)."""
    wall, cpu = [], []
    for _ in range(REPEAT):
        t, c = time.perf_counter(), time.process_time()
        fn()
        wall.append(time.perf_counter() - t)
        cpu.append(time.process_time() - c)
    return statistics.median(wall), statistics.median(cpu)


def split(n, threads):
    edges = np.linspace(0, n, threads + 1).astype(int)
    return list(zip(edges[:-1], edges[1:]))


def in_threads(fn, spans):
    ts = [threading.Thread(target=fn, args=s) for s in spans]
    for t in ts:
        t.start()
    for t in ts:
        t.join()


def amplitude_alone(lib, values, n, threads):
    """The module's Amplitude over the batch, in blocks into per-thread
    buffers (the C-only time of the batch)."""

    def part(a, b):
        L = LENGTH
        f = np.empty(BLOCK * L)
        h = np.empty(BLOCK * L)
        fm = np.empty(BLOCK)
        fr = np.empty(BLOCK)
        for s in range(a, b, BLOCK):
            e = min(b, s + BLOCK)
            m = e - s
            rows = [np.ascontiguousarray(v[s:e]) for v in values]
            lib.call_amplitude(f[: m * L], h[: m * L], fm[:m], fr[:m], rows, m, L)

    return lambda: in_threads(part, split(n, threads))


def population_direct(pop, values, k, table, n, threads, fast):
    def part(a, b):
        _population.population_snr(pop, *[v[a:b] for v in values], k[a:b], table, LENGTH, fast)

    return lambda: in_threads(part, split(n, threads))


def peak_rss_mb(n, fast, threads, libdir):
    """binary_snr on n binaries in a fresh interpreter: its peak RSS (MB)."""
    code = f"""
import sys
sys.path.insert(0, {os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'python')!r})
sys.path.insert(0, {os.path.dirname(os.path.abspath(__file__))!r})
import phenomd
from end_to_end import batch
b = batch({n})
phenomd.binary_snr(b["m1"], b["m2"], b["spin1"], b["spin2"], None, b["redshift"], b["t_start"], b["t_end"],
                   {LENGTH}, method="trapezoid", noise=phenomd.noise.LISA(years=4), threads={threads}, fast={fast},
                   library={libdir!r})
# VmHWM, the peak of this process's own memory: ru_maxrss would also count
# the parent's resident set at the fork, which Linux carries across exec.
print([int(l.split()[1]) for l in open("/proc/self/status") if l.startswith("VmHWM:")][0] / 1024)
"""
    out = subprocess.run([sys.executable, "-c", code], check=True, capture_output=True, text=True)
    return float(out.stdout.split()[-1])


def main():
    libdir = os.path.dirname(load_library().path)
    noise = phenomd.noise.LISA(years=4)
    table = noise.table()
    try:
        pop = _population.load_population(libdir)
    except phenomd.LibraryNotFoundError:
        pop = None
    rows = []
    cases = [(False, _sizes("E2E_EXACT_N", "1e4,1e5"))]
    try:
        load_library(libdir, fast=True)
        cases.insert(0, (True, _sizes("E2E_N", "1e4,1e5,1e6")))
    except phenomd.LibraryNotFoundError:
        pass
    path_seen = set()
    for fast, sizes in cases:
        lib = load_library(libdir, fast=fast)
        for n in sizes:
            b = batch(n)
            r = phenomd.binary_snr(b["m1"][:10], b["m2"][:10], b["spin1"][:10], b["spin2"][:10], None,
                                   b["redshift"][:10], b["t_start"][:10], b["t_end"][:10], LENGTH, method="trapezoid", noise=noise,
                                   fast=fast, library=libdir)  # warm-up: module, tables
            path_seen.add(r.provenance.get("snr_path", "?") if hasattr(r, "provenance") else "?")
            dist = _cosmology.luminosity_distance(b["redshift"], None)
            values = [np.ascontiguousarray(x, dtype=np.float64) for x in (
                b["m1"], b["m2"], b["spin1"], b["spin2"], dist, b["redshift"], b["t_start"], b["t_end"])]
            k = np.full(n, np.sqrt(16 / 5))
            for threads in (1, 2):
                t_amp = median_s(amplitude_alone(lib, values, n, threads))
                t_api = median_s(lambda: phenomd.binary_snr(
                    b["m1"], b["m2"], b["spin1"], b["spin2"], None, b["redshift"], b["t_start"], b["t_end"],
                    LENGTH, method="trapezoid", noise=noise, fast=fast, threads=threads, library=libdir))
                t_pop = median_s(population_direct(pop, values, k, table, n, threads, fast)) if pop else (None, None)
                rows.append((fast, n, threads, t_amp, t_api, t_pop))
    rss = []
    if _sizes("E2E_RSS_N", "1e4,1e6"):
        fast = any(r[0] for r in rows)
        for n in _sizes("E2E_RSS_N", "1e4,1e6"):
            rss.append((n, fast, peak_rss_mb(n, fast, 2, libdir)))

    load = open("/proc/loadavg").read().split()[:3]
    print()
    print(f"end to end: binary_snr against LISA (4 yr), L = {LENGTH}, distances from Planck18; "
          f"medians of {REPEAT}; load average {' '.join(load)}")
    print(f"modules in {libdir}; binary_snr path: {', '.join(sorted(path_seen))}")
    head = ("module", "N", "threads", "Amplitude alone (CPU)", "binary_snr (CPU)", "ratio", "population direct (CPU)",
            "ratio", "binary_snr wall", "2 thr speed-up (wall)")
    print("| " + " | ".join(head) + " |")
    print("|" + "---|" * len(head))
    by = {(f, n, t): (a, p, d) for f, n, t, a, p, d in rows}
    for f, n, t, a, p, d in rows:
        ns = lambda x: "-" if x is None else f"{x / (n * LENGTH) * 1e9:.2f} ns/pt"
        ratio = lambda x: "-" if x is None else f"{x / a[1]:.2f}"
        up = "-"
        if t == 2 and (f, n, 1) in by:
            up = f"{by[(f, n, 1)][1][0] / p[0]:.2f}"
        print(f"| {'fast' if f else 'exact'} | {n:.0e} | {t} | {ns(a[1])} | {ns(p[1])} | {ratio(p[1])} | "
              f"{ns(d[1])} | {ratio(d[1])} | {ns(p[0])} | {up} |")
    for n, f, mb in rss:
        print(f"peak RSS of binary_snr, {'fast' if f else 'exact'}, 2 threads, N = {n:.0e}: {mb:.0f} MB")


if __name__ == "__main__":
    main()
