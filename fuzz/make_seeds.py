#!/usr/bin/env python3
"""Writes the seed corpora in the harnesses' input formats (see the comments
at the top of harness.h, fast_fuzzer.cpp and snr_fuzzer.cpp):
  corpus/       batches (phenomd_fuzzer; fast_fuzzer reads them too)
  corpus_fast/  batches followed by kernel rows (fast_fuzzer)
  corpus_snr/   raw SNR_function inputs (snr_fuzzer)
  corpus_population/  population module inputs (population_fuzzer)
Run from anywhere."""
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



def binary_raw(m1, m2, s1, s2, dist, z, t0, t1, noise=b"\x00" + b"\x80" * 8):
    return b"".join(raw(x) for x in (m1, m2, s1, s2, dist, z, t0, t1)) + noise


# Kernel rows of fast_fuzzer.cpp: seven values from their physical modes.
def kernel_row(eta, chi1, chi2, L0, step, Msec, amp, n):
    if step >= 0:
        u_step = 0.25 + 0.75 * (math.log10(step) + 20.0) / 18.0
    else:
        u_step = 0.25 * (math.log10(-step) + 20.0) / 18.0
    us = [-math.log10(eta / 0.25) / 1.2, (chi1 + 1.0) / 2.0,
          (chi2 + 1.0) / 2.0, (L0 + 7.0) / 7.3, u_step,
          (math.log10(Msec) + 5.0) / 10.0, (math.log10(amp) + 30.0) / 10.0]
    return b"".join(unit(min(max(u, 0.0), 1.0 - 2**-53)) for u in us) + \
        bytes([(n - 1) % 200])


T0 = 6.46081957118185e-9
FAST_SEEDS = {
    # The physical batch, then rows across every piece, a descending one
    # and a band a few ulps wide near Mf = 0.8.
    "rows": SEEDS["physical"] + bytes([3])
    + kernel_row(0.2, 0.3, -0.2, -4.0, 0.02, 1.0, 1e-20, 199)
    + kernel_row(0.05, 0.9, 0.9, -1.0, -0.005, 0.1, 1e-21, 64)
    + kernel_row(0.24, 0.3, 0.1, math.log10(0.8), 1e-17, 1e-3, 1e-20, 150),
    # A band 5e-15 wide starting near Mf = 0.77, through the entry point
    # (its grid had one pair out of order before the fast grid kept order).
    "narrow": count(1) + length(64)
    + binary_raw(203147.81104742832, 135431.8740316189, 0.3, 0.1, 100.0,
                 0.5, T0, T0 * 0.999999999999995) + bytes([0]),
    # Rows across the join at 0.014, with spins at the ends.
    "join": count(0) + length(8) + bytes([2])
    + kernel_row(0.25, 1.0, 1.0, math.log10(0.014) - 1e-3, 1e-5, 1.0, 1.0, 200)
    + kernel_row(0.03, -1.0, -1.0, math.log10(0.014) - 1e-3, 1e-5, 1.0, 1.0,
                 200),
}


# SNR rows of snr_fuzzer.cpp: a mode byte and two payloads.
def snr_row(mode, a=0, b=0):
    return bytes([mode]) + struct.pack("<QQ", a, b)


def u64(u):
    return int(u * 2**53) << 11


def boundary_at(u):
    return bytes([2]) + struct.pack("<Q", u64(u))


SNR_SEEDS = {
    # Ascending grid, power-law strain and noise, boundaries inside.
    "ascending": count(2) + bytes([64 + 3])
    + (snr_row(2, u64(0.4), u64(0.01)) + snr_row(7, u64(0.3), u64(0.2))
       + snr_row(7, u64(0.5), u64(0.6)) + boundary_at(0.4)
       + boundary_at(0.6)) * 2,
    # Descending and zero-width grids.
    "descending": count(2) + bytes([16 + 3])
    + snr_row(3, u64(0.4), u64(0.01)) + snr_row(7, u64(0.3), u64(0.2))
    + snr_row(7, u64(0.5), u64(0.6)) + boundary_at(0.2) + boundary_at(0.9)
    + snr_row(4, u64(0.4)) + snr_row(7, u64(0.3), u64(0.2))
    + snr_row(7, u64(0.5), u64(0.6)) + boundary_at(0.5) + boundary_at(0.5),
    # NaN and infinities in each array, swapped boundaries.
    "special_values": count(3) + bytes([9 + 3])
    + snr_row(5, u64(0.4) | NAN << 8, 3) + snr_row(7, u64(0.3), u64(0.2))
    + snr_row(7, u64(0.5), u64(0.6)) + boundary_at(0.9) + boundary_at(0.1)
    + snr_row(2, u64(0.4), u64(0.01)) + snr_row(5, u64(0.3) | INF << 8, 5)
    + snr_row(1, ZERO) + boundary_at(0.4) + boundary_at(0.6)
    + snr_row(6, u64(0.4), u64(0.01)) + snr_row(7, u64(0.3), u64(0.2))
    + snr_row(5, u64(0.5) | NAN << 8, 0) + bytes([1]) + struct.pack("<Q", NAN)
    + bytes([1]) + struct.pack("<Q", INF),
    # Rows of one and two points, and no rows.
    "short": count(1) + bytes([1 + 3]) + snr_row(2) + snr_row(7) + snr_row(7)
    + boundary_at(0.5) + boundary_at(0.5),
    "empty": count(0) + bytes([8 + 3]),
}



# population_fuzzer.cpp: count, trapezoid length, flags, rtol, table, kinks,
# then per binary the eight values and the factor.
def pop_table(mode, n_nodes, u_spacing, u_first, u_slope, shape=0):
    """shape: the slope word's low 11 bits (level and noise of the table)."""
    return bytes([mode % 4 + 4 * (n_nodes - 4)]) + struct.pack(
        "<QQQ", u64(u_spacing), u64(u_first), u64(u_slope) | shape)


def pop_binary(m1, m2, s1, s2, dist, z, t0, t1, factor):
    return b"".join([phys_mass(m1), phys_mass(m2), raw(s1), raw(s2), raw(dist),
                     raw(z), raw(t0), raw(t1), raw(factor)])


def pop_rtol(rtol):
    return unit((math.log10(rtol) + 11.0) / 10.5)


def pop_kink(f):
    return unit((math.log10(f) + 6.0) / 9.0)


# 64 nodes 0.1 dex apart from 1e-5 Hz, flat 1e-20.
LISA_LIKE = pop_table(0, 64, 0.8, 1.0 / 9.0, 0.5)

POPULATION_SEEDS = {
    # Three physical binaries through ringdown and over an inner band, one
    # declared kink, the fast row.
    "physical": count(3) + length(64) + bytes([1]) + pop_rtol(1e-6) + LISA_LIKE
    + bytes([1]) + pop_kink(3e-3)
    + pop_binary(1e6, 5e5, 0.3, -0.2, 1e4, 1.0, 4.0, 0.0, 1.79)
    + pop_binary(3e4, 3e5, 0.9, -0.5, 2.6e4, 3.0, 1.0, 0.0, 1.0)
    + pop_binary(1e5, 1e5, 0.0, 0.0, 6.8e3, 1.0, 2.0, 0.01, 2.8),
    # An inverted band and one past the table's top, the exact row, no
    # factor and no inverted array.
    "inverted": count(2) + length(16) + bytes([6]) + pop_rtol(1e-4) + LISA_LIKE
    + bytes([0])
    + pop_binary(1e6, 1e6, 0.0, 0.0, 6.8e3, 1.0, 0.5, 1.0, 1.0)
    + pop_binary(10.0, 10.0, 0.0, 0.0, 6.8e3, 0.1, 1.0, 0.0, 1.0),
    # A tolerance outside the range, a node of the table NaN, a negative
    # kink count.
    "bad_arguments": count(1) + length(8) + bytes([0]) + raw(0.5)
    + pop_table(1, 16, 0.5, 0.3, 0.2) + bytes([0x80])
    + pop_binary(1e6, 5e5, 0.3, -0.2, 1e4, 1.0, 4.0, 0.0, 1.0),
    # No table; an empty batch.
    "no_table": count(1) + length(8) + bytes([0]) + pop_rtol(1e-6)
    + pop_table(3, 4, 0, 0, 0) + bytes([0])
    + pop_binary(1e6, 5e5, 0.3, -0.2, 1e4, 1.0, 4.0, 0.0, 1.0),
    "empty": count(0) + length(8) + bytes([0]) + pop_rtol(1e-6) + LISA_LIKE,
    # The LISA-like table at the lowest level the package hands over
    # (1e-100 of usual) and noisy (nodes +-0.2 in ln h_n), the exact row.
    "shaped": count(2) + length(64) + bytes([0]) + pop_rtol(1e-6)
    + pop_table(0, 64, 0.8, 1.0 / 9.0, 0.5, shape=16 | (7 << 5)) + bytes([0])
    + pop_binary(1e6, 5e5, 0.3, -0.2, 1e4, 1.0, 4.0, 0.0, 1.79)
    + pop_binary(3e4, 3e5, 0.9, -0.5, 2.6e4, 3.0, 1.0, 0.0, 1.0),
}

for folder, seeds in (("corpus", SEEDS), ("corpus_fast", FAST_SEEDS),
                      ("corpus_snr", SNR_SEEDS),
                      ("corpus_population", POPULATION_SEEDS)):
    os.makedirs(os.path.join(HERE, folder), exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(HERE, folder, name), "wb") as f:
            f.write(data)
