#!/usr/bin/python3
"""Sky- and polarisation-averaged response of a LISA Michelson channel.

Computes, by numerical integration over the sky, the response function

    R(x) = < |F_+(x, k, psi)|^2 + |F_x(x, k, psi)|^2 >_{k, psi},   x = f / f*,

of one equal-arm Michelson (X-like) channel whose arms u, v (unit vectors,
60 degrees apart, length L) carry the full one-way transfer function of a
plane gravitational wave, f* = c / (2 pi L).  Robson, Cornish & Liu (2019,
CQG 36 105011, sec. 2, eqs. 2-9) write the sky-averaged sensitivity of the
two LISA channels as S_n = P_n / R: the per-channel, per-polarisation average
< |F_+|^2 > = < |F_x|^2 > is half the sum above, so the number tabulated is
2 channels x < |F_+|^2 > per channel, i.e. R -> 3/10 as f -> 0.

Arm response.  A photon leaves the vertex (origin) at t0, travels to the end
mirror at L u and back.  Integrating the metric perturbation
h_ij(t - k.r/c) = H_ij exp(2 pi i f (t - k.r/c)) along both legs (Larson,
Hiscock & Hellings 2000, PRD 62 062001, sec. II; Cornish & Larson 2001,
CQG 18 3473, sec. 2) gives the round-trip length change, in units of 2L,

    dL / (2L) = (1/2) (u u : H) T(x, k.u) exp(2 pi i f t0),

    T(x, mu) = (1/2) [ exp(i a (1 - mu)) sinc(a (1 - mu))
                     + exp(i a (3 - mu)) sinc(a (1 + mu)) ],   a = x / 2,

with sinc(z) = sin(z)/z, k the propagation direction, T(0, mu) = 1.  The
Michelson output is the difference of the two arms, both measured from the
same emission event:

    F_A = D : e_A,   D = (1/2) [ T(x, k.u) u u - T(x, k.v) v v ],
    e_+ = p p - q q,  e_x = p q + q p,   (p, q) orthonormal, transverse to k.

Averages.  Rotating the polarisation basis by psi mixes (F_+, F_x) by the
angle 2 psi, so |F_+|^2 + |F_x|^2 does not depend on psi: the psi average is
done analytically (it is the value at psi = 0).  The arms lie in the z = 0
plane, so the integrand is even in cos(theta); the sky average is

    R = int_0^1 d(cos theta) (1 / 2 pi) int_0^2pi dphi (|F_+|^2 + |F_x|^2),

with Gauss-Legendre nodes in cos(theta) on [0, 1] and the periodic trapezoid
rule in phi.  Both converge spectrally: the integrand is an entire function
of the direction k, and its phi average is an entire function of cos(theta)
(only even powers of sin(theta) survive it).  Its bandwidth grows like x
(phases x (k.u), x (k.v)), so the node counts grow linearly in x.

Grid.  Nodes are equally spaced in s(x) = ln(x) / H_LOG + x / H_LIN: steps
of H_LOG in ln x at low frequency, where R is smooth in ln x, and of H_LIN in
x at high frequency, where R oscillates with x (period ~ pi) about its
~ 1/x^2 decline.

Usage:
    generate.py --output FILE        write the table (about a minute)
    generate.py --check-midpoints    interpolation error at every midpoint
    generate.py --convergence        change under refined quadrature
"""

from __future__ import annotations

import argparse
import math
import os
import sys
import time

import numpy as np

SPEED_OF_LIGHT = 299792458.0  # m/s
ARM_LENGTH = 2.5e9  # m (Robson, Cornish & Liu 2019, sec. 2)
F_STAR = SPEED_OF_LIGHT / (2 * math.pi * ARM_LENGTH)  # Hz
OPENING_ANGLE = math.pi / 3  # between the two arms of a channel

# Table range in x = f/f* and grid spacing (see "Grid" above).
X_MIN = 1e-4
X_MAX = 200.0  # 3.82 Hz for L = 2.5 Gm
H_LOG = 0.02
H_LIN = 0.03

LOW_FREQUENCY_LIMIT = 0.3  # (2/5) sin^2(60 deg): the long-wavelength R


def quadrature_size(x, refine=1.0):
    """(n_cos, n_phi): Gauss-Legendre nodes on cos(theta) in [0, 1] and
    trapezoid nodes in phi for frequency x = f/f*.  ``refine`` scales both
    (the convergence check uses 2)."""
    n_cos = int(math.ceil(refine * (16 + 0.75 * x)))
    n_phi = int(math.ceil(refine * (32 + 2.0 * x)))
    return n_cos, n_phi


def _sinc(z):
    return np.sinc(z / math.pi)  # numpy's sinc is sin(pi z)/(pi z)


def arm_transfer(x, mu):
    """T(x, mu) of one arm, mu = k.u (k: propagation direction)."""
    a = 0.5 * x
    return 0.5 * (np.exp(1j * a * (1 - mu)) * _sinc(a * (1 - mu))
                  + np.exp(1j * a * (3 - mu)) * _sinc(a * (1 + mu)))


def pattern_power(x, cos_theta, phi):
    """|F_+|^2 + |F_x|^2 of the Michelson channel for propagation direction
    (cos_theta, phi) (broadcast arrays), at psi = 0 (any psi gives the same)."""
    sin_theta = np.sqrt(1.0 - cos_theta * cos_theta)
    cp, sp = np.cos(phi), np.sin(phi)
    k = (sin_theta * cp, sin_theta * sp, cos_theta)
    p = (cos_theta * cp, cos_theta * sp, -sin_theta)
    q = (-sp, cp, 0.0)
    w_plus = 0.0
    w_cross = 0.0
    for sign, ang in ((1.0, 0.0), (-1.0, OPENING_ANGLE)):
        arm = (math.cos(ang), math.sin(ang))
        mu = k[0] * arm[0] + k[1] * arm[1]
        up = p[0] * arm[0] + p[1] * arm[1]
        uq = q[0] * arm[0] + q[1] * arm[1]
        t = sign * 0.5 * arm_transfer(x, mu)
        w_plus = w_plus + t * (up * up - uq * uq)  # (u u) : e_+
        w_cross = w_cross + t * (2.0 * up * uq)  # (u u) : e_x
    total = w_plus.real ** 2 + w_plus.imag ** 2 + w_cross.real ** 2 + w_cross.imag ** 2
    return total


_GL_CACHE = {}


def _gauss_legendre_01(n):
    if n not in _GL_CACHE:
        t, w = np.polynomial.legendre.leggauss(n)
        _GL_CACHE[n] = (0.5 * (t + 1.0), 0.5 * w)
    return _GL_CACHE[n]


def averaged_response(x, refine=1.0, size=None):
    """R(x): sky- and polarisation-averaged |F_+|^2 + |F_x|^2 (equivalently
    2 channels x <|F_+|^2>), by the quadrature described in the module
    docstring.  ``size`` = (n_cos, n_phi) overrides the production rule."""
    n_cos, n_phi = size if size is not None else quadrature_size(x, refine)
    c, w = _gauss_legendre_01(n_cos)
    phi = (2.0 * math.pi / n_phi) * np.arange(n_phi)
    power = pattern_power(float(x), c[:, None], phi[None, :])
    return float(np.dot(w, power.mean(axis=1)))


def _s(x):
    return np.log(x) / H_LOG + x / H_LIN


def grid():
    """Table nodes x_i = s^-1(s(X_MIN) + i), i = 0..N, the last node at or
    just beyond X_MAX (Newton's method on the increasing map s, in ln x;
    converged to rounding)."""
    s0 = _s(X_MIN)
    n = int(math.ceil(_s(X_MAX) - s0))
    target = s0 + np.arange(n + 1, dtype=float)
    # Start from the low-frequency form and iterate in ln x.
    lx = np.log(X_MIN) + H_LOG * np.arange(n + 1, dtype=float)
    lx = np.minimum(lx, math.log(X_MAX) + 1.0)
    for _ in range(100):
        x = np.exp(lx)
        g = lx / H_LOG + x / H_LIN - target
        step = g / (1.0 / H_LOG + x / H_LIN)
        lx = lx - step
        if np.max(np.abs(step)) < 1e-15:
            break
    x = np.exp(lx)
    x[0] = X_MIN
    return x


def header_lines(n_rows):
    return [
        "Sky- and polarisation-averaged response R of a LISA Michelson (X) channel,",
        "times 2 channels: R = <|F+|^2> summed over 2 channels = <|F+|^2 + |F_x|^2> of",
        "one channel, averaged uniformly over propagation direction and polarisation",
        "angle, with the full arm transfer function; R -> 3/10 as f -> 0.",
        "Sensitivity: S_n = P_n / R (Robson, Cornish & Liu 2019, CQG 36 105011, eqs. 2-9).",
        "Regenerate: /usr/bin/python3 tools/lisa_response/generate.py "
        "--output python/phenomd/data/lisa_response.txt",
        f"Geometry: equal arms, 60 degree opening angle; x = f/f*, f* = c/(2 pi L);",
        f"for L = {ARM_LENGTH:.6g} m, f* = {F_STAR!r} Hz (c = {SPEED_OF_LIGHT:.9g} m/s).",
        "Quadrature: psi average analytic (|F+|^2 + |F_x|^2 is psi-independent);",
        "Gauss-Legendre in cos(theta) on [0, 1] (integrand even in cos(theta)) with",
        "ceil(16 + 0.75 x) nodes, periodic trapezoid in phi with ceil(32 + 2 x) nodes.",
        f"Grid: equally spaced in s = ln(x)/{H_LOG!r} + x/{H_LIN!r}, x = {X_MIN!r} .. "
        f"{X_MAX!r} and one node past it ({n_rows} rows).",
        "Columns: x = f/f* (dimensionless), R (dimensionless).",
    ]


def write_table(path):
    x = grid()
    t0 = time.time()
    r = np.array([averaged_response(xi) for xi in x])
    lines = ["# " + s for s in header_lines(len(x))]
    lines.append("# x R")
    lines += [f"{xi!r} {ri!r}" for xi, ri in zip(x.tolist(), r.tolist())]
    text = "\n".join(lines) + "\n"
    tmp = path + ".tmp"
    with open(tmp, "w") as fh:
        fh.write(text)
    os.replace(tmp, path)  # never leave a half-written table behind
    print(f"wrote {len(x)} rows to {path} in {time.time() - t0:.1f} s", file=sys.stderr)


def read_table(path):
    data = np.loadtxt(path, comments="#")
    return data[:, 0], data[:, 1]


def package_interpolation(xs, rs, x):
    """R at x interpolated from nodes (xs, rs) exactly as the package does
    (phenomd.noise._lisa_response: not-a-knot cubic spline of ln R in ln x),
    loaded from this checkout, for checking the grid density."""
    python_dir = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "python")
    sys.path.insert(0, os.path.normpath(python_dir))
    from phenomd.noise import _lisa_response as mod
    spline = mod.spline_coefficients(np.log(xs), np.log(rs))
    return np.exp(mod.spline_evaluate(spline, np.log(x)))


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--output", help="write the table to this file")
    ap.add_argument("--table", default="python/phenomd/data/lisa_response.txt",
                    help="table to check (--check-midpoints, --convergence)")
    ap.add_argument("--check-midpoints", action="store_true",
                    help="max relative interpolation error at the midpoints (in ln x) of every interval")
    ap.add_argument("--convergence", type=int, metavar="STRIDE", default=0,
                    help="compare every STRIDE-th row with doubled quadrature")
    args = ap.parse_args(argv)
    if args.output:
        write_table(args.output)
    if args.check_midpoints:
        xs, rs = read_table(args.table)
        mid = np.sqrt(xs[:-1] * xs[1:])
        exact = np.array([averaged_response(m) for m in mid])
        err = np.abs(package_interpolation(xs, rs, mid) / exact - 1)
        worst = int(np.argmax(err))
        print(f"midpoints: {len(mid)}, max |interp/exact - 1| = {err[worst]:.3e} at x = {mid[worst]:.6g}")
        for lo, hi in ((0, 0.1), (0.1, 1), (1, 10), (10, 100), (100, 1e9)):
            sel = (mid >= lo) & (mid < hi)
            if sel.any():
                print(f"  x in [{lo:g}, {hi:g}): max {err[sel].max():.3e}")
    if args.convergence:
        xs, rs = read_table(args.table)
        idx = np.arange(0, len(xs), args.convergence)
        idx = np.union1d(idx, [len(xs) - 1])
        dev = np.array([abs(averaged_response(xs[i], refine=2.0) / rs[i] - 1) for i in idx])
        worst = int(np.argmax(dev))
        print(f"rows checked: {len(idx)}, max |R(2x nodes)/R - 1| = {dev[worst]:.3e} at x = {xs[idx[worst]]:.6g}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
