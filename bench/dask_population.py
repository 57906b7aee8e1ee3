"""A population on a local Dask cluster against binary_snr in one process.

    PHENOMD_LIBRARY=build/lib/libphenomd.so PYTHONPATH=python \\
        /usr/bin/python3 bench/dask_population.py [--n 1000000] [--workers 2]

One catalog of N binaries (seeded: source-frame total masses 1e4-1e7 Msun,
mass ratios 1-30, spins in [-0.9, 0.9], redshifts 0.5-5, distances from
Planck18, the last 4 years through ringdown), L grid points (default 1000),
the fast module (``--exact``: the exact one), LISA with 4 years of
confusion noise.  Wall times, all in this one run so that a loaded machine
loads every row alike:

  in-process     binary_snr(threads=W) on the whole catalog (fastest of
                 --repeat rounds, alternating with the next row)
  cluster        snr_dataframe over W worker processes (one thread each),
                 the catalog's blocks made on the workers, results kept
                 there (persist): the same work as the row above
  + gather       the same, results brought back to this process
  catalog files  snr_catalog from one CSV file to part-NNNNN.h5 files (read,
                 compute, write, manifest) against the same in one process
                 (pandas read_csv, binary_snr(threads=W), write_table);
                 fastest of --repeat rounds, alternating

and the fixed cost of a partition: snr_catalog on a small catalog cut into
many partitions and into few, T = a N + b P fitted through the two, b in
worker-seconds (the time both workers together lose per partition), and
what that fixed cost is as a share of a partition of the default size,
against the cost per binary of the catalog-file row (end to end) and of
the in-process row (the computation alone, a larger share).
"""

import argparse
import json
import os
import shutil
import sys
import tempfile
import time

import numpy as np


def block(job):
    """Binaries [a, b) of the seeded catalog, as a pandas DataFrame; each
    block is drawn from its own stream so that any process makes the same
    rows."""
    import pandas as pd

    seed, index, a, b = job
    n = b - a
    rng = np.random.default_rng([seed, index])
    mtot = 10 ** rng.uniform(4, 7, n)
    q = 10 ** rng.uniform(-np.log10(30), 0, n)
    return pd.DataFrame({
        "m1": mtot / (1 + q),
        "m2": mtot * q / (1 + q),
        "spin1": rng.uniform(-0.9, 0.9, n),
        "spin2": rng.uniform(-0.9, 0.9, n),
        "redshift": rng.uniform(0.5, 5, n),
        "t_start": np.full(n, 4.0),
        "t_end": np.zeros(n),
    })


def specs(n, size, seed=20261208):
    return [(seed, i, a, min(a + size, n)) for i, a in enumerate(range(0, n, size))]


def timed(fn):
    t = time.perf_counter()
    out = fn()
    return time.perf_counter() - t, out


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--n", type=int, default=1_000_000, help="binaries (default 1e6)")
    ap.add_argument("--method", choices=("gauss", "trapezoid"), default="trapezoid",
                    help="binary_snr's method (default trapezoid, the figures recorded in bench/README.md)")
    ap.add_argument("--length", type=int, default=1000, help="grid points of --method trapezoid")
    ap.add_argument("--workers", type=int, default=2)
    ap.add_argument("--partition-size", type=int, default=None, help="default: the package's default")
    ap.add_argument("--exact", action="store_true", help="the exact module instead of the fast one")
    ap.add_argument("--overhead-n", type=int, default=20_000,
                    help="binaries for the fixed-cost fit (default 2e4)")
    ap.add_argument("--skip-files", action="store_true", help="skip the catalog-file rows")
    ap.add_argument("--repeat", type=int, default=3, help="rounds of in-process vs cluster (default 3)")
    ap.add_argument("--json", help="also write the figures to this JSON file")
    args = ap.parse_args()

    import dask.dataframe as dd
    import pandas as pd
    from distributed import Client, LocalCluster, wait

    import phenomd
    from phenomd import distributed as pdist
    from phenomd import noise, tables

    fast = not args.exact
    W, L, N = args.workers, args.length, args.n
    M = args.method
    L = L if M == "trapezoid" else None
    size = args.partition_size or pdist.DEFAULT_PARTITION_SIZE
    curve = noise.LISA(4)
    parts = specs(N, size)
    print(f"N = {N}, L = {L}, {'fast' if fast else 'exact'} module, {W} workers, "
          f"partitions of {size} ({len(parts)}), noise {curve!r}", flush=True)
    rows = {}

    cat = pd.concat([block(s) for s in parts], ignore_index=True)

    def in_process():
        return phenomd.binary_snr(cat.m1, cat.m2, cat.spin1, cat.spin2, None, cat.redshift, cat.t_start,
                                  cat.t_end, L, method=M, noise=curve, fast=fast, threads=W)

    phenomd.binary_snr(1e5, 5e4, 0.1, 0.1, None, 1.0, 4.0, 0.0, L, method=M, noise=curve, fast=fast)  # warm up
    repeats = {"in-process": [], "cluster": []}
    ref = None

    work = tempfile.mkdtemp(prefix="phenomd-dask-bench-")
    with LocalCluster(n_workers=W, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        meta = block((0, 0, 0, 0))

        def lazy(chunks):
            ddf = dd.from_map(block, chunks, meta=meta, enforce_metadata=False)
            return pdist.snr_dataframe(ddf, fast=fast, noise=curve, length=L, method=M)

        # Warm up the workers: import the package, load the module, build
        # the noise curve's tables.
        client.compute(lazy(specs(2 * W, 1))).result()

        def cluster_persist():
            p = client.persist(lazy(parts))
            wait(p)
            return p

        # Alternate the two, so that a change in the machine's load falls
        # on both; the fastest of each is the figure least disturbed.
        for r in range(args.repeat):
            t, ref = timed(in_process)
            repeats["in-process"].append(t)
            t, persisted = timed(cluster_persist)
            del persisted
            repeats["cluster"].append(t)
            print(f"  round {r + 1}: in-process binary_snr(threads={W}) {repeats['in-process'][-1]:.2f} s, "
                  f"cluster snr_dataframe (persisted) {t:.2f} s", flush=True)
        rows["in-process"] = min(repeats["in-process"])
        rows["cluster"] = min(repeats["cluster"])
        rows["cluster + gather"], got = timed(lambda: client.compute(lazy(parts)).result())
        print(f"  cluster snr_dataframe, gathered: {rows['cluster + gather']:.2f} s", flush=True)
        same = all(np.array_equal(got[c].to_numpy(), getattr(ref, c))
                   for c in ("snr_all", "snr_ins", "snr_mrg", "snr_rd", "distance"))
        print(f"  cluster results bitwise equal to in-process: {same}", flush=True)
        del got

        if not args.skip_files:
            src = os.path.join(work, "catalog.csv")
            tables.write_table(src, {c: cat[c].to_numpy() for c in cat.columns}, {"bench": "dask_population"})

            def one_process():
                df = pd.read_csv(src, comment="#", float_precision="round_trip")
                r = phenomd.binary_snr(df.m1, df.m2, df.spin1, df.spin2, None, df.redshift, df.t_start,
                                       df.t_end, L, method=M, noise=curve, fast=fast, threads=W)
                cols = {c: df[c].to_numpy() for c in df.columns}
                cols.update({c: getattr(r, c) for c in ("distance",) + pdist.RESULT_COLUMNS})
                tables.write_table(os.path.join(work, "one.h5"), cols, {"bench": "dask_population"})

            repeats["files, in-process"], repeats["files, cluster"] = [], []
            for r in range(args.repeat):
                t, _ = timed(one_process)
                repeats["files, in-process"].append(t)
                out = os.path.join(work, f"out-{r}")  # a fresh directory: nothing to resume
                t, summary = timed(lambda: pdist.snr_catalog(
                    src, out, client=client, partition_size=size, format="h5", fast=fast, noise=curve, length=L, method=M,
                    progress=False))
                repeats["files, cluster"].append(t)
                shutil.rmtree(out, ignore_errors=True)
                print(f"  round {r + 1}: catalog CSV -> HDF5 in one process {repeats['files, in-process'][-1]:.2f} s, "
                      f"snr_catalog CSV -> {summary.partitions} HDF5 parts {t:.2f} s", flush=True)
            rows["files, in-process"] = min(repeats["files, in-process"])
            rows["files, cluster"] = min(repeats["files, cluster"])

        # Fixed cost per partition: the same small catalog in many and in
        # few partitions (a multiple of the workers), end to end through
        # snr_catalog: HDF5 in (exact slices), CSV out.
        n_o = args.overhead_n
        small_cat = pd.concat([block(s) for s in specs(n_o, n_o)], ignore_index=True)
        src_o = os.path.join(work, "small.h5")
        tables.write_table(src_o, {c: small_cat[c].to_numpy() for c in small_cat.columns}, {"bench": "overhead"})
        fit = {}
        for psize in (max(1, n_o // 200), n_o // (2 * W)):
            out = os.path.join(work, f"ovh-{psize}")
            t, s = timed(lambda: pdist.snr_catalog(src_o, out, client=client, partition_size=psize, fast=fast,
                                                   noise=curve, length=L, method=M, progress=False))
            fit[s.partitions] = t
            print(f"  overhead run: {n_o} binaries in {s.partitions} partitions: {t:.2f} s", flush=True)
        (p1, t1), (p2, t2) = sorted(fit.items())
        per_part = (t2 - t1) * W / (p2 - p1)  # worker-seconds per partition
        per_binary_fit = (t1 * W - per_part * p1) / n_o  # worker-seconds per binary, I/O included
        # The share of a partition of the default size: against the cost
        # per binary of a catalog run end to end (the files row: read,
        # compute, write), and, the larger share, against the computation
        # alone (the in-process row).
        per_binary_compute = rows["in-process"] * W / N
        per_binary_files = rows["files, cluster"] * W / N if "files, cluster" in rows else per_binary_compute
        share = per_part / (per_part + size * per_binary_files)
        share_compute = per_part / (per_part + size * per_binary_compute)
    shutil.rmtree(work, ignore_errors=True)

    ratio = rows["cluster"] / rows["in-process"]
    print()
    print(f"{'row':<24}{'wall s':>10}{'vs in-process':>16}")
    for k, v in rows.items():
        base = rows["files, in-process"] if k == "files, cluster" else rows["in-process"]
        print(f"{k:<24}{v:>10.2f}{v / base:>15.3f}x")
    med = sorted(a / b for a, b in zip(repeats["cluster"], repeats["in-process"]))[len(repeats["cluster"]) // 2]
    print(f"\ncluster / in-process: {ratio:.3f} fastest against fastest, {med:.3f} median of the rounds "
          "(target <= 1.15)")
    print(f"fixed cost per partition: {per_part * 1e3:.1f} ms of worker time; per binary: "
          f"{per_binary_fit * 1e6:.1f} us of worker time through snr_catalog (fit), "
          f"{per_binary_compute * 1e6:.1f} us of thread time in binary_snr in-process")
    print(f"fixed cost at partitions of {size}: {100 * share:.2f} % of a catalog run's partition "
          f"({per_binary_files * 1e6:.1f} us of worker time per binary end to end), {100 * share_compute:.2f} % "
          "against the computation alone (target < 2 %)")
    if args.json:
        with open(args.json, "w") as fh:
            json.dump({"n": N, "length": L, "workers": W, "fast": fast, "partition_size": size, "wall_s": rows,
                       "ratio": ratio, "ratio_median_round": med, "rounds": repeats, "per_partition_s": per_part,
                       "per_binary_fit_s": per_binary_fit, "per_binary_compute_s": per_binary_compute,
                       "overhead_share": share, "overhead_share_compute": share_compute,
                       "bitwise_equal": bool(same)}, fh, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
