"""Early-warning numbers and the cost of computing them.

    PHENOMD_LIBRARY=build/lib/libphenomd.so PYTHONPATH=python \\
        /usr/bin/python3 bench/early_warning.py [--n 100000] [--threads 2]

1. The table: equal-mass, non-spinning binaries of source-frame total mass
   1e5, 1e6 and 1e7 M_sun at z = 1, 3 and 5 against LISA with its 4-year
   galactic foreground (the package's default curve), observed from 4 years
   before merger: the time before merger at which the accumulated SNR
   reaches 10 and the SNR accumulated a day and a week before merger (sky-,
   polarisation- and inclination-averaged; distances from Planck18).
2. The cost: ``detection_time`` and ``accumulated_snr`` (4 times) for n
   random binaries (total mass 1e4-1e8 M_sun log-uniform, q 0.1-1, spins
   +-0.9, z 0.1-10 log-uniform), wall seconds on this machine, with the
   fast powers.
"""

import argparse
import os
import time

import numpy as np

import phenomd
from phenomd.early_warning import FLAG_NAMES


def _days(t):
    return "never" if not np.isfinite(t) else f"{t * 365.25:.4g} d"


def table():
    masses = (1e5, 1e6, 1e7)
    zs = (1.0, 3.0, 5.0)
    mm, zz = (a.ravel() for a in np.meshgrid(masses, zs, indexing="ij"))
    d = phenomd.detection_time(mm / 2, mm / 2, 0.0, 0.0, None, zz, 4.0, snr=10.0)
    a = phenomd.accumulated_snr(mm / 2, mm / 2, 0.0, 0.0, None, zz, 4.0, ["1w", "1d"])
    print("LISA (4-yr foreground), t_start 4 yr, equal masses, spins 0, averaged SNR, Planck18 distances")
    print(f"{'M_total/Msun':>12} {'z':>3} {'SNR total':>10} {'t_detect(SNR 10)':>17} {'flag':>5} "
          f"{'SNR 1 wk before':>16} {'SNR 1 d before':>15}")
    for i in range(mm.size):
        print(f"{mm[i]:12.0e} {zz[i]:3g} {d.snr_total[i]:10.4g} {_days(d.t_detect[i]):>17} "
              f"{FLAG_NAMES[int(d.flag[i])]:>5} {a.snr[i, 0]:16.4g} {a.snr[i, 1]:15.4g}")


def cost(n, threads):
    rng = np.random.default_rng(1)
    m = 10 ** rng.uniform(4, 8, n)
    q = rng.uniform(0.1, 1, n)
    z = 10 ** rng.uniform(-1, 1, n)
    m1 = m / (1 + q)
    args = (m1, m - m1, rng.uniform(-0.9, 0.9, n), rng.uniform(-0.9, 0.9, n), None, z, 4.0)
    t0 = time.perf_counter()
    d = phenomd.detection_time(*args, snr=10.0, threads=threads, fast=True)
    t1 = time.perf_counter()
    phenomd.accumulated_snr(*args, ["1mo", "1w", "1d", "1h"], threads=threads, fast=True)
    t2 = time.perf_counter()
    print(f"{n} binaries, {threads} threads, load average {os.getloadavg()[0]:.1f}: detection_time "
          f"{t1 - t0:.2f} s ({d.provenance['root_steps']} root-finding steps at most; flags "
          f"{np.bincount(d.flag, minlength=3).tolist()}), accumulated_snr at 4 times {t2 - t1:.2f} s")


if __name__ == "__main__":
    p = argparse.ArgumentParser()
    p.add_argument("--n", type=int, default=100000)
    p.add_argument("--threads", type=int, default=2)
    a = p.parse_args()
    table()
    cost(a.n, a.threads)
