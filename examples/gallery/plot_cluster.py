"""
A population on a Dask cluster
==============================

``phenomd.distributed.snr_catalog`` computes a catalog's SNRs partition by
partition on a Dask cluster and writes one file per partition (a run that
stops resumes where it stopped).  Here the cluster is a small local one:
two single-threaded worker processes on this machine that talk to the
scheduler over the loopback interface (127.0.0.1).  On many nodes, connect
a ``distributed.Client`` to your scheduler instead, or pass
``scheduler="tcp://head:8786"`` (see the populations page).

The catalog: 200 binaries drawn at random, written as a CSV file.  The
SNRs are sky-, polarisation- and inclination-averaged, against LISA with
its 4-year galactic foreground (the default curve); the figure shows them
against total mass, coloured by the partition that computed them.
"""

import os
import tempfile

import matplotlib.pyplot as plt
import numpy as np
import pandas as pd
from distributed import Client, LocalCluster

import phenomd.plotting
from phenomd.distributed import snr_catalog

# The guard: Dask starts its workers as new Python processes, which import
# the main script again when it is a file; only the parent runs the rest.
if __name__ == "__main__":
    rng = np.random.default_rng(1)
    n = 200
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

    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address=None) as cluster, Client(cluster) as client:
        summary = snr_catalog(path, os.path.join(work, "out"), client=client, partition_size=50,
                              fast=False, progress=False)
    print(summary.line())

    parts = [pd.read_csv(f, comment="#") for f in summary.files]
    fig = phenomd.plotting.figure("column")
    ax = fig.add_subplot()
    for k, part in enumerate(parts):
        ax.scatter(part["m1"] + part["m2"], part["snr_all"], s=12, marker="os^D"[k % 4],
                   label=f"partition {k}")
    ax.axhline(10, color="0.3", lw=0.8, ls="--", label="SNR = 10")
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel(r"source-frame total mass ($M_\odot$)")
    ax.set_ylabel("SNR (sky-, polarisation-,\ninclination-averaged)")
    ax.set_title(f"{n} binaries on a local Dask cluster\n(LISA, 4-yr foreground)", fontsize=8)
    ax.legend(loc="upper center", bbox_to_anchor=(0.5, -0.3), ncol=3, fontsize=7, frameon=False)
    plt.show()
