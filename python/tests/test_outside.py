"""The bound on the SNR a band could carry beyond a noise curve's range
(``phenomd._outside``) against the model's own strain integrated there, and
the command line's flags that follow from it."""

import numpy as np
import pytest

import phenomd
from phenomd import cli, tables
from phenomd._outside import outside_share

pytestmark = pytest.mark.needs_library


class Flat:
    """A curve defined over [1e-3, 1e-2] Hz only, flat at its edges' values."""

    range = (1e-3, 1e-2)

    def __call__(self, f):
        return np.full(np.shape(f), 1e-20)


def test_bound_holds_against_the_models_strain_beyond_the_range():
    # Independent computation: the model's h_c on a dense grid of the whole
    # band, integrated (trapezoid in ln f) against the edge value over the
    # parts of the band outside the range, for binaries of every mass ratio,
    # spin and band (through ringdown or ending before merger).
    rng = np.random.default_rng(8)
    n = 400
    mass = 10 ** rng.uniform(3.5, 8, n)
    q = np.exp(rng.uniform(0, np.log(1000), n))
    m1, m2 = mass / (1 + q), mass * q / (1 + q)
    s1, s2 = rng.uniform(-1, 1, n), rng.uniform(-1, 1, n)
    z = rng.uniform(0.1, 5, n)
    t_start = 10 ** rng.uniform(-3, 1, n)
    t_end = np.where(rng.random(n) < 0.2, t_start * 1e-2, 0.0)
    a = phenomd.amplitude(m1, m2, s1, s2, None, z, t_start, t_end, 4000)
    curve = Flat()
    lo, hi = curve.range
    ln_f = np.log(a.freqs)
    y = (a.hc / 1e-20) ** 2 * ((a.freqs < lo) | (a.freqs > hi))
    lost = np.sum(0.5 * (y[:, 1:] + y[:, :-1]) * np.diff(ln_f, axis=1), axis=1)
    inside = np.where((a.freqs >= lo) & (a.freqs <= hi), (a.hc / 1e-20) ** 2, 0.0)
    rho2 = np.sum(0.5 * (inside[:, 1:] + inside[:, :-1]) * np.diff(ln_f, axis=1), axis=1)
    beyond, share = outside_share(curve, a.freqs[:, 0], a.freqs[:, -1], a.f_merger_start, m1, m2, z, a.distance,
                                  a.inclination_factor, np.sqrt(rho2))
    with np.errstate(invalid="ignore"):
        true = np.where(lost > 0, lost / (lost + rho2), 0.0)
    empty = a.freqs[:, 0] == 1e-30  # the sentinel row of an empty band (flagged "inverted" instead)
    assert beyond.sum() > 0.8 * n and (beyond == (lost > 0))[~empty].all()
    assert np.all((share >= true * (1 - 1e-6))[~empty]), np.max(true / np.maximum(share, 1e-300))
    # Not vacuous: the bound spans the harmless and the serious cases.
    assert (share[beyond] < 1e-3).any() and (share[beyond] > 1e-1).any()


def test_example_population_warns_only_where_the_snr_could_change(tmp_path, capsys):
    # Of the 60 example binaries, 29 were warned for points above 1 Hz that
    # carry no SNR; those are now counted as negligible, and the warning is
    # kept for bands reaching below 10 uHz where the bound is large.
    out = tmp_path / "s.csv"
    assert cli.main(["snr", "-o", str(out)]) == 0
    err = capsys.readouterr().err
    cols, _ = tables.read_table(out)
    flags = [set(f.split(";")) for f in cols["flags"]]
    warned = np.array(["outside_noise" in f for f in flags])
    negligible = np.array(["outside_noise_negligible" in f for f in flags])
    assert not (warned & negligible).any() and 0 < warned.sum() < 15 and negligible.sum() > 10
    mass = cols["m1"] + cols["m2"]
    assert (mass[warned] >= 1e8).all()  # inspirals below 10 uHz
    assert f"{negligible.sum()} of 60 with the band reaching beyond the noise curve's range carrying < 0.1 %" in err
    assert f"warnings: {warned.sum()} of 60 whose band reaches beyond" in err
