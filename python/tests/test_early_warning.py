"""The SNR accumulated before merger and the detection time.

References: the accumulated SNR against binary_snr's trapezoid on the
population module with t_end at the same time and 20001 grid points (an
independent integration rule of the same integrand; at that length its
own error is below 1e-5 for the merger-dominated whole band); the detection
time by re-evaluating the accumulated SNR there; the time-frequency inverse
against the library's own grid ends (amplitude's first and last
frequencies)."""

import numpy as np
import pytest
from astropy import units as u

import phenomd
from phenomd import _population
from phenomd._band import t_start_for_frequency
from phenomd.cli import main
from phenomd.early_warning import AT_START, CROSSED, NEVER, parse_duration

pytestmark = pytest.mark.needs_library

DAY = 1.0 / 365.25


@pytest.fixture(scope="module")
def binaries(gauss_population):
    rng = np.random.default_rng(21)
    n = 6
    m = 10 ** rng.uniform(4.5, 7.5, n)
    q = rng.uniform(0.2, 1.0, n)
    m1 = m / (1 + q)
    return dict(m1=m1, m2=m - m1, spin1=rng.uniform(-0.9, 0.9, n), spin2=rng.uniform(-0.9, 0.9, n),
                redshift=10 ** rng.uniform(-0.5, 0.8, n))


def _args(b, rows=slice(None)):
    return (b["m1"][rows], b["m2"][rows], b["spin1"][rows], b["spin2"][rows], None, b["redshift"][rows], 4.0)


def test_accumulated_snr_is_the_band_integral_up_to_each_time(binaries):
    """Equal to binary_snr with t_end = t (an independent trapezoid), rising
    toward merger, 0 at t_start, the whole band's SNR at merger; the time
    where the model's band ends (Mf = 0.2), past which the whole band's SNR
    is returned, by the exact inverse of the time-frequency relation."""
    times = [30 * u.day, 7 * u.day, 1 * u.day, 1 * u.hour, 0.0 * u.yr]
    acc = phenomd.accumulated_snr(*_args(binaries), times)
    years = np.array([t.to_value(u.yr) for t in times])
    assert np.allclose(acc.before, years, rtol=1e-15)
    for j, t in enumerate(years):
        ref = phenomd.binary_snr(*_args(binaries), t_end=t, method="trapezoid", length=20001).snr_all
        np.testing.assert_allclose(acc.snr[:, j], ref, rtol=1e-5)

    grid = np.concatenate([[4.0, 5.0], np.geomspace(3.99, 1e-9, 80), [0.0]])
    a = phenomd.accumulated_snr(*_args(binaries), grid)
    assert np.all(a.snr[:, :2] == 0)  # nothing accumulated at or before t_start
    assert np.all(np.diff(a.snr, axis=1) >= -1e-9 * a.snr[:, 1:])
    np.testing.assert_allclose(a.snr[:, -1], phenomd.binary_snr(*_args(binaries), method="trapezoid", length=20001).snr_all, rtol=1e-5)
    # The model's end time: the band ending there ends where the whole band does.
    b = _args(binaries)
    ends = [phenomd.amplitude(*b, t_end=te, length=2).freqs[:, -1] for te in (a.t_model_end, 0.0)]
    np.testing.assert_allclose(ends[0], ends[1], rtol=1e-12)


def test_detection_time_reaches_the_threshold_and_flags(binaries, monkeypatch):
    """At t_detect the accumulated SNR is the threshold; a binary too far
    away is flagged never, one so near that it is detectable at once is
    flagged start; the whole-band bracket (modules without the cumulative
    entry) finds the same times."""
    b = {k: np.concatenate([v, v[:2]]) for k, v in binaries.items()}
    dist = np.full(b["m1"].size, np.nan)
    dist[-2:] = (1e9, 1e-4)  # Mpc: far beyond LISA's reach, and next door
    d = phenomd.detection_time(b["m1"], b["m2"], b["spin1"], b["spin2"], None, b["redshift"], 4.0, snr=10.0)
    near = phenomd.detection_time(b["m1"][-2:], b["m2"][-2:], b["spin1"][-2:], b["spin2"][-2:], dist[-2:],
                                  b["redshift"][-2:], 4.0, snr=10.0)
    assert near.flag.tolist() == [NEVER, AT_START]
    assert np.isnan(near.t_detect[0]) and near.t_detect[1] <= 4.0
    assert near.provenance["t_detect"].startswith("years before merger")
    crossed = np.flatnonzero(d.flag == CROSSED)
    assert crossed.size >= 4
    for i in crossed:
        one = (b["m1"][i], b["m2"][i], b["spin1"][i], b["spin2"][i], None, b["redshift"][i], 4.0)
        at = phenomd.accumulated_snr(*one, d.t_detect[i]).snr[0]
        assert at == pytest.approx(10.0, rel=2e-6)
        assert phenomd.accumulated_snr(*one, d.t_detect[i] * 1.001).snr[0] < 10.0
        t_hi = t_start_for_frequency(b["m1"][i], b["m2"][i], b["redshift"][i], d.f_detect[i])
        assert t_hi == pytest.approx(d.t_detect[i], rel=1e-12)
    monkeypatch.setattr(_population.load_population(), "_snr_edges", None)
    wide = phenomd.detection_time(b["m1"], b["m2"], b["spin1"], b["spin2"], None, b["redshift"], 4.0, snr=10.0)
    assert "band's ends" in wide.provenance["root"] and "panel edges" in d.provenance["root"]
    np.testing.assert_array_equal(wide.flag, d.flag)
    np.testing.assert_allclose(wide.t_detect, d.t_detect, rtol=1e-4)


def test_panel_edges_are_the_accumulated_snr_at_their_times(binaries):
    """population_snr_edges' rho at an edge frequency equals the Gauss
    entry's with the band ending at that frequency's time (the exact
    inverse), and its last edge the whole band's."""
    lib = _population.load_population()
    if getattr(lib, "_snr_edges", None) is None:
        pytest.skip("population module built before the cumulative entry")
    b = binaries
    n = b["m1"].size
    one = np.ones(n)
    dist = phenomd.binary_snr(*_args(b)).distance
    ins = [np.ascontiguousarray(x, dtype=np.float64) for x in
           (b["m1"], b["m2"], b["spin1"], b["spin2"], dist, b["redshift"], 4 * one, 0 * one, np.sqrt(3.2) * one)]
    table = phenomd.noise.LISA(4).table()
    f, rho, num = _population.population_snr_edges(lib, *ins, table, 1e-6, False)
    whole = _population.population_snr_gauss(lib, *ins, table, 1e-6, False)["snr_all"]
    np.testing.assert_allclose(rho[np.arange(n), num - 1], whole, rtol=1e-14)
    j = num // 2
    t_end = t_start_for_frequency(b["m1"], b["m2"], b["redshift"], f[np.arange(n), j])
    ins[7] = np.ascontiguousarray(t_end)
    part = _population.population_snr_gauss(lib, *ins, table, 1e-6, False)["snr_all"]
    np.testing.assert_allclose(rho[np.arange(n), j], part, rtol=1e-9)


def test_time_frequency_inverse_round_trips_the_grid_ends(library_path):
    rng = np.random.default_rng(7)
    n = 40
    m = 10 ** rng.uniform(0, 9, n)
    q = 10 ** rng.uniform(-2, 0, n)
    m1 = m / (1 + q)
    z = 10 ** rng.uniform(-2, 1, n)
    t_end = 10 ** rng.uniform(-9, -1, n)
    t_start = t_end * 10 ** rng.uniform(0.5, 3, n)
    a = phenomd.amplitude(m1, m - m1, 0.0, 0.0, None, z, t_start, t_end, length=8)
    ok = a.freqs[:, 0] != phenomd.core.SENTINEL_FREQUENCY
    assert ok.sum() > n // 2
    for ends, t in ((a.freqs[:, 0], t_start), (a.freqs[:, -1], t_end)):
        back = t_start_for_frequency(m1[ok], (m - m1)[ok], z[ok], ends[ok])
        np.testing.assert_allclose(back, t[ok], rtol=1e-12)


def test_durations_and_refusals(binaries):
    assert parse_duration("1mo") == (1 / 12, "1mo")
    assert parse_duration("1w")[0] == pytest.approx(7 * DAY, rel=1e-15)
    assert parse_duration("36h")[0] == pytest.approx(1.5 * DAY, rel=1e-15)
    assert parse_duration("3 hour") == (pytest.approx(3 / 24 * DAY, rel=1e-15), "3h")
    assert parse_duration("0.5") == (0.5, "0p5yr")
    for bad in ("1m", "3 kg", "2 blorps", "-1d", "nan"):
        with pytest.raises(phenomd.InputError):
            parse_duration(bad)
    one = _args(binaries, [0])
    by_text = phenomd.accumulated_snr(*one, "1d").snr
    assert by_text.shape == (1,)
    assert by_text[0] == phenomd.accumulated_snr(*one, 1 * u.day).snr[0] == \
        phenomd.accumulated_snr(*one, DAY).snr[0]
    with pytest.raises(phenomd.InputError, match="before"):
        phenomd.accumulated_snr(*one, -1.0)
    with pytest.raises(phenomd.InputError, match="snr"):
        phenomd.detection_time(*one, snr=0.0)
    with pytest.raises(phenomd.InputError, match="table"):
        phenomd.accumulated_snr(*one, 1.0, noise=lambda f: np.ones_like(f))


def test_warning_command(binaries, tmp_path, capsys):
    cat = tmp_path / "cat.csv"
    cat.write_text("name,m1,m2,redshift,distance\nA,5e5,5e5,1,\nB,5e6,5e6,3,\nfar,5e5,5e5,1,1e9\n")
    out = tmp_path / "out.csv"
    fig, fmap = tmp_path / "acc.png", tmp_path / "map.png"
    rc = main(["warning", str(cat), "-o", str(out), "--before", "1w,1d", "--figure", str(fig), "--map", str(fmap),
               "--nm", "4", "--nz", "3", "--no-progress", "-q"])
    assert rc == 0
    cols, prov = phenomd.tables.read_table(str(out))
    assert prov["threshold"] == "10.0"
    assert "t_detect: years before merger" in prov["columns"]
    assert cols["t_detect_flag"].tolist() == [CROSSED, CROSSED, NEVER]
    d = phenomd.detection_time([5e5, 5e6], [5e5, 5e6], 0.0, 0.0, None, [1.0, 3.0], 4.0)
    np.testing.assert_allclose(cols["t_detect"][:2], d.t_detect, rtol=1e-12)
    a = phenomd.accumulated_snr([5e5, 5e6], [5e5, 5e6], 0.0, 0.0, None, [1.0, 3.0], 4.0, ["1w", "1d"])
    np.testing.assert_allclose(cols["snr_before_1d"][:2], a.snr[:, 1], rtol=1e-12)
    assert fig.stat().st_size > 0 and fmap.stat().st_size > 0
    capsys.readouterr()
    for argv, words in ((["--before", "1w,1dy"], "1dy"), (["--before", "1m"], "ambiguous"),
                        (["--length", "100"], "--length")):
        assert main(["warning", str(cat), "-o", str(out), *argv]) == 2
        err = capsys.readouterr().err.strip().splitlines()
        assert len(err) == 1 and err[0].startswith("phenomd warning: error:") and words in err[0]


@pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning")
def test_dask_front_end_matches_in_process(binaries, tmp_path):
    """warning_dataframe (lazy, per partition) and warning_catalog (files
    per partition on a cluster) give detection_time's and
    accumulated_snr's values on the same rows."""
    dd = pytest.importorskip("dask.dataframe")
    distributed = pytest.importorskip("distributed")
    import pandas as pd

    from phenomd.early_warning_distributed import warning_catalog, warning_dataframe

    b = binaries
    pdf = pd.DataFrame({"name": [f"b{i}" for i in range(len(b["m1"]))], "m1": b["m1"], "m2": b["m2"],
                        "spin1": b["spin1"], "spin2": b["spin2"], "redshift": b["redshift"]})
    ddf = dd.from_pandas(pdf, npartitions=2)
    got = warning_dataframe(ddf, before="1w,1d", fast=False).compute(scheduler="sync")
    d = phenomd.detection_time(*_args(b), snr=10.0)
    a = phenomd.accumulated_snr(*_args(b), ["1w", "1d"])
    np.testing.assert_array_equal(got["t_detect"].to_numpy(), d.t_detect)
    np.testing.assert_array_equal(got["snr_before_1d"].to_numpy(), a.snr[:, 1])
    with distributed.LocalCluster(n_workers=1, threads_per_worker=1, processes=False,
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        parts = warning_catalog(ddf, tmp_path / "out", before=["1d"], client=client, fast=False)
    assert [p["file"] for p in parts] == ["part-00000.csv", "part-00001.csv"]
    cols = [phenomd.tables.read_table(str(tmp_path / "out" / p["file"])) for p in parts]
    assert cols[0][1]["threshold"] == "10.0" and "snr_before_1d" in cols[0][1]["columns"]
    np.testing.assert_array_equal(np.concatenate([c["t_detect"] for c, _ in cols]), d.t_detect)
