#!/usr/bin/python3
"""Distribution of the projection factor w = rho(Omega) / rho_max over
isotropic sky position, uniform polarisation angle and uniform cos(i),
for one L-shaped interferometer, an equilateral triangle of three 60-degree
interferometers (ET-like) and LISA's two low-frequency channels.

The geometry and the quadrature are those of ``phenomd._antenna`` (module
doc): the polarisation average is analytic, and the sky and cos(i) are
integrated by Gauss-Legendre rules on the geometry's fundamental domain
(``_antenna.reduced_nodes``): for one L, cos(theta) in [0, 1] and phi in
[0, pi/4] (its response is even in cos(theta) and symmetric under
phi -> -phi, phi -> phi + pi/2); for the triangle and LISA's channels,
whose summed responses S and |Z| depend on cos(theta) only, cos(theta) in
[0, 1] alone.  The integrand has kinks where the analytic polarisation
average saturates, so the rules converge algebraically: ``--check``
recomputes every 20th row with 2/3 of the nodes in every dimension.

Usage:
    generate.py --output FILE     write the table (a few minutes)
    generate.py --check           error estimate at 26 rows
"""

from __future__ import annotations

import argparse
import math
import os
import sys
import time

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "python"))

from phenomd import _antenna  # noqa: E402

W_NODES = 501  # w = 0, 0.002, ..., 1
# name: (geometry, quadrature nodes (cos theta, phi, cos i), phi period)
GEOMETRIES = {
    "L": (_antenna.l_shaped, (192, 192, 192), math.pi / 4),
    "triangle": (_antenna.triangle, (1500, 1, 1500), 0.0),
    "lisa": (_antenna.lisa_channels, (1500, 1, 1500), 0.0),
}
COMMAND = "/usr/bin/python3 tools/antenna/generate.py --output python/phenomd/data/projection.txt"


def w_grid():
    return np.linspace(0.0, 1.0, W_NODES)


def columns(w, scale=1.0, names=tuple(GEOMETRIES)):
    """Survival function P(w' > w) of each geometry at the given w (node
    counts times ``scale``), and each geometry's (<Q>, Q_max)."""
    out, moments = {}, {}
    for name in names:
        make, counts, period = GEOMETRIES[name]
        n = [max(1, int(round(k * scale))) if k > 1 else 1 for k in counts]
        t = make()
        q_max = _antenna.max_q(t)
        moments[name] = (_antenna.mean_q(t), q_max)
        out[name] = _antenna.survival(t, w, _antenna.reduced_nodes(*n, period), q_max=q_max)
    return out, moments


def write(path):
    t0 = time.time()
    w = w_grid()
    cols, moments = columns(w)
    header = [
        "Survival function P(w' > w) of the projection factor w = rho(Omega)/rho_max over isotropic",
        "sky position, uniform polarisation angle and uniform cos(inclination), long-wavelength limit.",
        f"Regenerate: {COMMAND}",
        "Geometries: L = one interferometer with 90-degree arms (w = Theta/4 of Finn & Chernoff 1993);",
        "triangle = three 60-degree interferometers on an equilateral triangle, independent equal noise (ET-like);",
        "lisa = LISA's two independent low-frequency channels (two 60-degree Michelsons with orthogonal",
        "tensors), constellation fixed while the signal lasts.",
        "Quadrature: phenomd._antenna.survival, polarisation analytic, Gauss-Legendre nodes (cos theta, phi, cos i):",
        "; ".join(f"{k}: {v[1]} over [0,1] x [0,{v[2]:.6g}] x [0,1]" for k, v in GEOMETRIES.items()) + ".",
        "Moments: " + "; ".join(f"{k}: <Q> = {m[0]!r}, Q_max = {m[1]!r}, <w^2> = {m[0] / m[1]!r}" for k, m in moments.items()),
        "Columns: w, then P(w' > w) for L, triangle, lisa.",
        "w L triangle lisa",
    ]
    tmp = path + ".tmp"
    with open(tmp, "w") as fh:
        for line in header:
            fh.write("# " + line + "\n")
        for i, x in enumerate(w):
            fh.write(f"{x:.3f} {cols['L'][i]:.8f} {cols['triangle'][i]:.8f} {cols['lisa'][i]:.8f}\n")
    os.replace(tmp, path)
    print(f"wrote {path}: {len(w)} rows, {time.time() - t0:.0f} s")


def check():
    w = w_grid()[::20]
    fine, _ = columns(w)
    coarse, _ = columns(w, 2.0 / 3.0)
    for name in GEOMETRIES:
        print(f"{name}: max |P(nodes) - P(2/3 nodes)| = {np.max(np.abs(fine[name] - coarse[name])):.2e}")


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--output")
    ap.add_argument("--check", action="store_true")
    args = ap.parse_args(argv)
    if args.output:
        write(args.output)
    if args.check:
        check()
    if not (args.output or args.check):
        ap.error("give --output FILE or --check")


if __name__ == "__main__":
    main()
