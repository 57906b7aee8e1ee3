"""The not-a-knot cubic spline, shared by the noise curves read from files
and the tabulated LISA response: twice continuously differentiable, error
O(h^4) up to the ends (de Boor, A Practical Guide to Splines, ch. IV)."""

from __future__ import annotations

import numpy as np

__all__ = ["Spline"]


def _spline_second_derivatives(x, y):
    """Second derivatives M at the nodes of the cubic spline through
    (x, y) with not-a-knot ends (the third derivative continuous across the
    second and the second-to-last node, so the end intervals are as
    accurate as the inner ones: O(h^4)); three nodes: the natural spline
    (M = 0 at the ends); two: a straight line.  Tridiagonal (Thomas) solve
    for M[1 .. n-2]."""
    n = len(x)
    m = np.zeros(n)
    if n < 3:
        return m
    h = np.diff(x)
    slope = np.diff(y) / h
    rhs = 6.0 * np.diff(slope)  # rows 1 .. n-2
    diag = 2.0 * (h[:-1] + h[1:])
    sub = h[:-1].copy()  # coefficient of M[i-1] in row i
    sup = h[1:].copy()  # coefficient of M[i+1] in row i
    k = n - 2
    knot = n >= 4
    if knot:
        # M[0] = ((h0 + h1) M[1] - h0 M[2]) / h1, and the mirror image at the end.
        h0, h1 = h[0], h[1]
        diag[0] = 2.0 * (h0 + h1) + h0 * (h0 + h1) / h1
        sup[0] = h1 - h0 * h0 / h1
        ha, hb = h[-2], h[-1]
        diag[-1] = 2.0 * (ha + hb) + hb * (ha + hb) / ha
        sub[-1] = ha - hb * hb / ha
    c = np.empty(k)
    d = np.empty(k)
    c[0] = sup[0] / diag[0]
    d[0] = rhs[0] / diag[0]
    for i in range(1, k):
        den = diag[i] - sub[i] * c[i - 1]
        c[i] = sup[i] / den
        d[i] = (rhs[i] - sub[i] * d[i - 1]) / den
    inner = np.empty(k)
    inner[-1] = d[-1]
    for i in range(k - 2, -1, -1):
        inner[i] = d[i] - c[i] * inner[i + 1]
    m[1:-1] = inner
    if knot:
        m[0] = ((h[0] + h[1]) * m[1] - h[0] * m[2]) / h[1]
        m[-1] = ((h[-2] + h[-1]) * m[-2] - h[-1] * m[-3]) / h[-2]
    return m


class Spline:
    """y(x) by the not-a-knot cubic spline through (xs, ys) (or straight
    lines, ``linear=True``).  Beyond the ends the end intervals' own
    polynomials continue (smoothly; used only to pad tables by a fraction
    of an interval)."""

    def __init__(self, xs, ys, linear=False):
        xs = np.asarray(xs, dtype=np.float64)
        ys = np.asarray(ys, dtype=np.float64)
        m = np.zeros(len(xs)) if linear else _spline_second_derivatives(xs, ys)
        h = np.diff(xs)
        # Per interval, y = c0 + u (c1 + u (c2 + u c3)), u = x - xs[i].
        self.xs = xs
        self.c0 = ys[:-1].copy()
        self.c1 = np.diff(ys) / h - h * (2.0 * m[:-1] + m[1:]) / 6.0
        self.c2 = m[:-1] / 2.0
        self.c3 = np.diff(m) / (6.0 * h)

    def __call__(self, x):
        xs = self.xs
        x = np.asarray(x, dtype=np.float64)
        i = np.searchsorted(xs, x, side="right") - 1
        np.clip(i, 0, len(xs) - 2, out=i)
        u = x - xs[i]
        return self.c0[i] + u * (self.c1[i] + u * (self.c2[i] + u * self.c3[i]))
