#!/usr/bin/env python3
"""Writes the seed corpus fuzz/corpus/ in the harness's input format (see the
comment at the top of phenomd_fuzzer.cpp).  Run from anywhere."""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
RAW, SPECIAL, PHYSICAL = 0, 1, 2
# Indices into the harness's table of special values.
NAN, INF, ZERO, ONE_PLUS_ULP = 0, 2, 4, 13


def count(n):
    return bytes([255 if n == "INT_MIN" else (n + 2) % 8])


def length(n):
    return bytes([255 if n == "INT_MIN" else n + 3])


def raw(x):
    return bytes([RAW]) + struct.pack("<d", x)


def special(i):
    return bytes([SPECIAL]) + struct.pack("<Q", i)


def unit(u):
    """The payload whose top 53 bits give u."""
    return bytes([PHYSICAL]) + struct.pack("<Q", int(u * 2**53) << 11)


def phys_mass(m):
    return unit((math.log10(m) + 2.0) / 14.0)


def binary(m1, m2, s1, s2, dist, z, t0, t1, noise=b"\x00" + b"\x80" * 8):
    return b"".join([phys_mass(m1), phys_mass(m2), raw(s1), raw(s2), raw(dist),
                     raw(z), raw(t0), raw(t1)]) + noise


SEEDS = {
    # Three physical binaries through ringdown and over an inner band.
    "physical": count(3) + length(32)
    + binary(1e6, 5e5, 0.3, -0.2, 1e4, 1.0, 4.0, 0.0)
    + binary(3e4, 3e5, 0.9, -0.5, 2.6e4, 3.0, 1.0, 0.0)
    + binary(1e5, 1e5, 0.0, 0.0, 6.8e3, 1.0, 2.0, 0.01),
    # Inverted bands (end later than start) next to a good one.
    "inverted": count(2) + length(16)
    + binary(1e6, 1e6, 0.0, 0.0, 6.8e3, 1.0, 0.5, 1.0)
    + binary(1e6, 1e6, 0.0, 0.0, 6.8e3, 1.0, 1.0, 0.5),
    # Spins at and beyond the ends of [-1, 1].
    "spins": count(3) + length(8)
    + binary(1e6, 1e5, 1.0, 1.0, 1e3, 0.5, 4.0, 0.0)
    + binary(1e6, 1e5, 1.5, -1.0, 1e3, 0.5, 4.0, 0.0)
    + binary(1e6, 1e5, -1.0000000000000002, 1.0, 1e3, 0.5, 4.0, 0.0),
    # Single-point rows, then two-point rows.
    "length1": count(2) + length(1)
    + binary(1e6, 5e5, 0.3, -0.2, 1e4, 1.0, 4.0, 0.0)
    + binary(1e6, 5e5, 0.3, -0.2, 1e4, 1.0, 4.0, 0.0),
    "length2": count(1) + length(2)
    + binary(1e6, 5e5, 0.3, -0.2, 1e4, 1.0, 4.0, 0.0),
    # Non-positive counts and lengths.
    "empty": count(0) + length(8),
    "negative": count(-2) + length("INT_MIN"),
    "nolength": count(2) + length(0)
    + binary(1e6, 5e5, 0.3, -0.2, 1e4, 1.0, 4.0, 0.0)
    + binary(1e6, 5e5, 0.3, -0.2, 1e4, 1.0, 4.0, 0.0),
    # Special values in every input, and noise with zeros and NaN.
    "extremes": count(2) + length(12)
    + b"".join(special(i) for i in (NAN, INF, ZERO, ONE_PLUS_ULP, ZERO, NAN,
                                    INF, NAN)) + b"\x01" + struct.pack("<Q", ZERO)
    + b"".join(special(i) for i in (ZERO, 19, 11, 12, INF, 4, 20, 0))
    + b"\x03" + struct.pack("<Q", 5 | (NAN << 8)),
}

os.makedirs(os.path.join(HERE, "corpus"), exist_ok=True)
for name, data in SEEDS.items():
    with open(os.path.join(HERE, "corpus", name), "wb") as f:
        f.write(data)
