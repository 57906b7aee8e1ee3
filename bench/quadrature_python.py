"""Peak RSS and throughput of population_snr_gauss through its Python
wrapper, in process: 10^6 binaries (total masses 1e4-1e8 M_sun, q 0.1-1,
|chi| < 0.9, z 0.1-10, 4 years to merger, the averaged factor sqrt(16/5))
against the built-in LISA curve's table, rtol 1e-6, the fast row, in two
halves on two threads (ctypes releases the GIL), outputs written into
preallocated arrays.

    PHENOMD_LIBRARY=build/lib/libphenomd.so PYTHONPATH=python \\
        /usr/bin/python3 bench/quadrature_python.py [N]

Prints the peak RSS before the call (inputs and outputs allocated) and
after it, and the binaries per second (wall clock)."""

import resource
import sys
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np

from phenomd import _population, noise


def rss_mb():
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def main(n):
    lib = _population.load_population()
    table = noise.curve("lisa").table()
    base = rss_mb()
    r = np.random.default_rng(1)
    M = 10 ** r.uniform(4, 8, n)
    q = r.uniform(0.1, 1.0, n)
    z = 10 ** r.uniform(-1, 1, n)
    inputs = dict(m1=M / (1 + q), m2=M * q / (1 + q), spin1=r.uniform(-0.9, 0.9, n),
                  spin2=r.uniform(-0.9, 0.9, n), dist=4282.7 * z * (1 + z), z=z,
                  t_start=np.full(n, 4.0), t_end=np.zeros(n), factor=np.full(n, np.sqrt(16 / 5)))
    del M, q
    out = {k: np.empty(n, dtype=_population._DTYPES.get(k, np.float64)) for k in _population.OUTPUT_NAMES}
    before = rss_mb()
    halves = [slice(0, n // 2), slice(n // 2, n)]

    def run(s):
        part = {k: v[s] for k, v in out.items()}
        _population.population_snr_gauss(lib, *(inputs[k][s] for k in _population._INPUT_NAMES), table, 1e-6,
                                          True, out=part)

    t0 = time.perf_counter()
    with ThreadPoolExecutor(2) as ex:
        list(ex.map(run, halves))
    wall = time.perf_counter() - t0
    after = rss_mb()
    assert np.all(np.isfinite(out["snr_all"]))
    print(f"N = {n}: peak RSS {base:.0f} MB after imports and the table, {before:.0f} MB with inputs "
          f"and outputs, {after:.0f} MB after the call; {n / wall / 1e3:.0f} k binaries/s on 2 threads "
          f"({wall:.2f} s)")


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 1_000_000)
