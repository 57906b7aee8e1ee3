"""Tabulated noise: the read-back scheme the population module shares, the
tables' accuracy against their curves, and the SNR with a table against
the SNR with the curve evaluated at every point (1e-9 relative)."""

import math
import threading

import numpy as np
import pytest

from phenomd import noise


def lagrange_by_hand(y, log10_f0, d, f):
    # The scheme written out once more, in plain floats.
    x = (math.log10(f) - log10_f0) / d
    i = min(max(math.floor(x), 1), len(y) - 3)
    t = x - i
    return math.exp(-t * (t - 1) * (t - 2) / 6 * y[i - 1] + (t + 1) * (t - 1) * (t - 2) / 2 * y[i]
                    - (t + 1) * t * (t - 2) / 2 * y[i + 1] + (t + 1) * t * (t - 1) / 6 * y[i + 2])


class TestScheme:
    def make(self):
        # ln h = cubic in log10 f: four-point Lagrange reproduces it exactly.
        d, x0 = 0.25, -4.25
        u = x0 + d * np.arange(16)
        y = 0.3 * u**3 - 0.5 * u**2 + 2 * u - 40
        return noise.NoiseTable(x0, d, y, 1e-4, 10 ** -1.25), lambda lf: 0.3 * lf**3 - 0.5 * lf**2 + 2 * lf - 40

    def test_cubic_reproduced_and_scheme_as_written(self):
        table, poly = self.make()
        f = np.geomspace(1e-4, 10 ** -1.25, 37)
        got = table(f)
        np.testing.assert_allclose(np.log(got), poly(np.log10(f)), rtol=0, atol=1e-12)
        for x, g in zip(f, got):
            assert g == pytest.approx(lagrange_by_hand(table.ln_hn, table.log10_f0, table.dlog10_f, x), rel=1e-14)

    def test_range_padding_and_outside(self):
        table, _ = self.make()
        assert table.ln_hn.flags.c_contiguous and table.ln_hn.dtype == np.float64
        s = table.evaluate(np.array([[9.99e-5, 1e-4, 10 ** -1.25, 0.06], [1e-3, 2e-3, 3e-3, 4e-3]]))
        assert np.isinf(s.hn[0, [0, 3]]).all() and np.isfinite(s.hn[0, 1:3]).all()
        assert s.n_outside.tolist() == [2, 0]
        with pytest.raises(ValueError, match="does not cover"):
            noise.NoiseTable(-4.0, 0.25, np.zeros(10), 1e-4, 1e-2)  # no node below f_min


def curves():
    return [
        noise.LISA(4, response="approximate"),
        noise.LISA(None, response="approximate"),
        noise.LISASciRD(4),
        noise.TianQin(5),
        noise.Taiji(4),
        noise.Taiji(None),
    ]


def numerical_lisa():
    try:
        return [noise.LISA(4), noise.LISA(0.5)]
    except Exception:  # the response table is another module's; its absence is tested there
        return []


def file_curve(tmp_path):
    f = np.geomspace(2e-5, 0.8, 900)
    p = tmp_path / "lisa_hn.txt"
    p.write_text("".join(f"{a!r} {b!r}\n" for a, b in zip(f, noise.lisa(f, 4, response="approximate"))))
    return noise.from_file(p, "hn")


def test_tables_match_their_curves(tmp_path):
    # An independent check of the builder's own: 20,000 random frequencies
    # per curve, |ln h_table - ln h_curve| within the stated 5e-10.
    rng = np.random.default_rng(7)
    for c in curves() + numerical_lisa() + [file_curve(tmp_path)]:
        table = c.table()
        lo, hi = c.range
        assert (table.f_min, table.f_max) == (lo, hi)
        f = 10 ** rng.uniform(math.log10(lo), math.log10(hi), 20000)
        f = np.concatenate([f, [lo, hi]])
        err = np.max(np.abs(np.log(table(f)) - np.log(c(f))))
        assert err <= 5e-10, (repr(c), err)
        assert table.max_ln_error <= 5e-10
        assert table is c.table()  # cached


def test_table_is_built_once_across_threads():
    # Six threads, three objects of one configuration: one table.
    objs = [noise.TianQin(2), noise.TianQin(2), noise.curve("tianqin", years=2)]
    seen = []
    threads = [threading.Thread(target=lambda c=c: seen.append(c.table())) for c in objs * 2]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert len(seen) == 6 and all(s is seen[0] for s in seen)
    assert noise.TianQin(4).table() is not seen[0]


@pytest.mark.needs_library
def test_snr_with_table_equals_snr_with_curve(tmp_path, library_path):
    # A broad random batch: total masses 1e2..1e9, mass ratios to 10,
    # spins +-0.9, z 0.05..8, starting 0.01..10 years before merger.  For
    # every built-in curve (and a file curve) the SNR with h_n from the
    # table differs from the SNR with h_n from the curve by <= 1e-9.
    import phenomd

    rng = np.random.default_rng(2024)
    n = 300
    mtot = 10 ** rng.uniform(2, 9, n)
    q = 10 ** rng.uniform(0, 1, n)
    m1, m2 = mtot * q / (1 + q), mtot / (1 + q)
    kw = dict(spin1=rng.uniform(-0.9, 0.9, n), spin2=rng.uniform(-0.9, 0.9, n), distance=None,
              redshift=10 ** rng.uniform(math.log10(0.05), math.log10(8), n),
              t_start=10 ** rng.uniform(-2, 1, n), length=400)
    amp = phenomd.amplitude(m1, m2, **kw)
    checked = 0
    for c in curves() + numerical_lisa() + [file_curve(tmp_path)]:
        exact = phenomd.snr(amp.freqs, amp.hc, c(amp.freqs), amp.f_merger_start, amp.f_ringdown_start)
        tabled = phenomd.snr(amp.freqs, amp.hc, c.table()(amp.freqs), amp.f_merger_start, amp.f_ringdown_start)
        for a, b in zip(exact, tabled):
            seen = a > 0
            assert np.array_equal(seen, b > 0)
            rel = np.abs(b[seen] / a[seen] - 1)
            assert rel.max(initial=0) <= 1e-9, (repr(c), rel.max())
        checked += int((exact.snr_all > 0).sum())
    assert checked > 1000  # most binaries overlap every band


def test_pickled_curves_leave_shared_tables_behind(tmp_path):
    # Curves travel to distributed workers: a built-in curve's table (1.3 MB
    # for LISA with the numerical response) is rebuilt there, identical; a
    # file curve carries its nodes.
    import pickle

    for c in (noise.TianQin(5), file_curve(tmp_path)):
        table = c.table()
        blob = pickle.dumps(c)
        d = pickle.loads(blob)
        f = np.geomspace(2e-4, 0.5, 50)
        np.testing.assert_array_equal(d(f), c(f))
        np.testing.assert_array_equal(d.table()(f), table(f))
    assert len(pickle.dumps(noise.TianQin(5))) < 1000
