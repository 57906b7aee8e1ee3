"""
A population on a Dask cluster
==============================

``phenomd.distributed.snr_catalog`` computes a catalog's SNRs partition by
partition on a Dask cluster and writes one file per partition (a run that
stops resumes where it stopped).  Here the cluster is a small local one:
two worker processes on this machine, talking over the loopback interface;
on many nodes, pass ``scheduler="tcp://head:8786"`` instead (see the
populations page).  The catalog: 400 binaries drawn at random, written as
a CSV file; the figure shows their SNRs against total mass, coloured by
the partition that computed them.
"""

import os
import tempfile

import matplotlib.pyplot as plt
import numpy as np
import pandas as pd

from phenomd.distributed import snr_catalog

# The guard: Dask starts its workers as new Python processes, which import
# the main script again when it is a file; only the parent runs the rest.
if __name__ == "__main__":
    rng = np.random.default_rng(1)
    n = 400
    m1 = 10 ** rng.uniform(4, 8, n)
    catalog = pd.DataFrame({
        "m1": m1,
        "m2": m1 * rng.uniform(0.1, 1.0, n),
        "spin1": rng.uniform(-0.9, 0.9, n),
        "spin2": rng.uniform(-0.9, 0.9, n),
        "redshift": rng.uniform(0.5, 8.0, n),
    })

    work = tempfile.mkdtemp()
    path = os.path.join(work, "catalog.csv")
    catalog.to_csv(path, index=False)

    # Two single-threaded worker processes on 127.0.0.1; 100 binaries per partition.
    summary = snr_catalog(path, os.path.join(work, "out"), workers=2, partition_size=100,
                          fast=False, progress=False)
    print(summary.line())

    parts = [pd.read_csv(f, comment="#") for f in summary.files]

    fig, ax = plt.subplots(figsize=(7.0, 4.6))
    for k, part in enumerate(parts):
        ax.scatter(part["m1"] + part["m2"], part["snr_all"], s=10, label=f"partition {k}",
                   marker="os^D"[k % 4])
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel(r"source-frame total mass ($M_\odot$)")
    ax.set_ylabel("SNR (sky-, polarisation-, inclination-averaged)")
    ax.set_title(f"{n} binaries on a local Dask cluster (LISA, 4-yr foreground)", fontsize=10)
    ax.axhline(10, color="0.3", lw=0.8, ls="--", label="SNR = 10")
    ax.legend(loc="lower right", fontsize=8)
    fig.tight_layout()
    plt.show()
