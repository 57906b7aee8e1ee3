"""The command line's conventions, outputs and studies: which SNR each
number is, provenance in every output format, warnings with their flags,
the one distance rule, and the horizon, waterfall and ratio commands."""

import math
import os
import types

import numpy as np
import pytest

import phenomd
from phenomd import cli, tables
from phenomd.cli import _args, commands
from test_tables import png_text

pytestmark = pytest.mark.needs_library

CATALOG = "name,m1,m2,spin1,spin2,redshift,distance,t_start,t_end\n" \
          "a,6e5,4e5,0.5,0.2,2.0,,4,0\n" \
          "b,3e4,1e4,0,0,1.0,5000,2,0\n"
PROVENANCE_KEYS = {"phenomd_version", "module_path", "module_kind", "noise", "inclination", "cosmology", "length",
                   "command", "date"}


@pytest.fixture
def catalog(tmp_path):
    path = tmp_path / "cat.csv"
    path.write_text(CATALOG)
    return path


def snr_table(tmp_path, catalog, *options, name="o.csv"):
    out = tmp_path / name
    assert cli.main(["snr", str(catalog), "-o", str(out), "--method", "trapezoid", "--length", "200", "-q", *options]) == 0
    return tables.read_table(out)


class TestConventions:
    def test_inclination_factors(self, tmp_path, catalog):
        snr = {inc: snr_table(tmp_path, catalog, "--inclination", inc)[0]["snr_all"]
               for inc in ("average", "face-on", "edge-on", "0", repr(math.pi / 2), "1.0")}
        edge = snr["edge-on"]
        # k(i) = 2 sqrt(((1 + cos^2 i)/2)^2 + cos^2 i): sqrt(16/5) averaged over
        # orientations, sqrt(8) face-on, 1 edge-on (the SNR is linear in h_c).
        np.testing.assert_allclose(snr["average"] / edge, math.sqrt(16 / 5), rtol=1e-12)
        np.testing.assert_allclose(snr["face-on"] / edge, math.sqrt(8), rtol=1e-12)
        np.testing.assert_allclose(snr["0"], snr["face-on"], rtol=1e-12)
        np.testing.assert_allclose(snr[repr(math.pi / 2)], edge, rtol=1e-12)
        c2 = math.cos(1.0) ** 2
        np.testing.assert_allclose(snr["1.0"] / edge, 2 * math.sqrt(((1 + c2) / 2) ** 2 + c2), rtol=1e-12)

    def test_default_is_the_averaged_snr_of_the_api(self, tmp_path, catalog):
        cols, prov = snr_table(tmp_path, catalog)
        want = phenomd.binary_snr(cols["m1"], cols["m2"], cols["spin1"], cols["spin2"], cols["distance"],
                                  cols["redshift"], cols["t_start"], cols["t_end"], 200, method="trapezoid")
        assert np.array_equal(cols["snr_all"], want.snr_all) and np.array_equal(cols["snr_rd"], want.snr_rd)
        assert prov["snr_convention"] == "sky-, polarisation- and inclination-averaged"
        assert "average" in prov["inclination"]

    def test_figures_name_the_convention(self, tmp_path):
        for inc, words in (("average", "sky-, polarisation- and inclination-averaged"), ("face-on", "face-on")):
            out = tmp_path / f"w-{inc}.png"
            assert cli.main(["waterfall", "-o", str(out), "--nm", "3", "--nz", "3", "--method", "trapezoid", "--length", "32", "-q",
                             "--inclination", inc]) == 0
            text = png_text(out.read_bytes())
            assert words in text["Title"] and words in text["snr_convention"]


class TestOutputs:
    def test_every_table_format_with_provenance(self, tmp_path, catalog):
        results = {ext: snr_table(tmp_path, catalog, name=f"o{ext}") for ext in (".csv", ".h5", ".npz")}
        base_cols, base_prov = results[".csv"]
        for ext, (cols, prov) in results.items():
            assert PROVENANCE_KEYS <= set(prov), ext
            assert prov["module_kind"] == "exact" and prov["length"] == "200" and "snr" in prov["command"]
            assert prov["phenomd_version"] == phenomd.__version__ and prov["input"] == str(catalog)
            for name in ("m1", "distance", "snr_all", "snr_ins", "f_ringdown_start"):
                assert np.array_equal(cols[name], base_cols[name]), (ext, name)
            assert list(cols["name"]) == ["a", "b"]

    def test_figures_by_extension(self, tmp_path):
        for ext, magic in ((".pdf", b"%PDF-"), (".svg", b"<?xml"), (".png", b"\x89PNG")):
            out = tmp_path / f"s{ext}"
            assert cli.main(["strain", "--binary", "6e5,4e5,0.5,0.2,2.0", "-o", str(out), "--method", "trapezoid", "--length", "64",
                             "-q"]) == 0
            assert out.read_bytes().startswith(magic)
        assert PROVENANCE_KEYS <= set(png_text((tmp_path / "s.png").read_bytes()))

    def test_version(self, capsys):
        with pytest.raises(SystemExit) as stop:
            cli.main(["--version"])
        assert stop.value.code == 0 and capsys.readouterr().out.strip() == f"phenomd {phenomd.__version__}"

    def test_threads_default_to_the_cores(self):
        _, args = _args.parse(["snr"])
        assert args.threads == (os.cpu_count() or 1)


class TestWarnings:
    def test_flags_and_counts(self, tmp_path, capsys):
        path = tmp_path / "w.csv"
        # a: fine; b: its band ends (2 yr) after it starts (1 yr); c: mass
        # ratio 20, beyond the model's calibration (mass ratio 18).
        path.write_text("name,m1,m2,redshift,t_start,t_end\na,6e5,4e5,2,4,0\nb,6e5,4e5,2,1,2\nc,2e6,1e5,1,4,0\n")
        out = tmp_path / "o.csv"
        assert cli.main(["snr", str(path), "-o", str(out), "--method", "trapezoid", "--length", "100"]) == 0
        err = capsys.readouterr().err
        flags = list(tables.read_table(out)[0]["flags"])
        assert flags[0] == "" and flags[1] == "inverted;zero_snr" and "uncalibrated" in flags[2].split(";")
        assert "1 of 3 with an empty band" in err and "1 of 3 outside the model's calibration" in err
        assert cli.main(["snr", str(path), "-o", str(out), "--method", "trapezoid", "--length", "100", "-q"]) == 0
        err = capsys.readouterr().err  # quiet: no summary, the warning still
        assert err.startswith("phenomd snr: warning: ") and "empty band" in err and "wrote" not in err


class TestDistances:
    def test_one_rule_for_every_command(self, tmp_path, catalog, monkeypatch):
        seen = {}
        real = commands.amplitude

        def spy(*a, **k):
            seen["distance"] = np.array(a[4])
            return real(*a, **k)

        monkeypatch.setattr(commands, "amplitude", spy)
        assert cli.main(["strain", str(catalog), "-o", str(tmp_path / "s.png"), "--method", "trapezoid", "--length", "32", "-q"]) == 0
        cols, _ = snr_table(tmp_path, catalog)
        # Row b's given 5000 Mpc is kept; row a's empty cell is filled from
        # the cosmology, the same way by both commands.
        assert seen["distance"][1] == 5000.0 and cols["distance"][1] == 5000.0
        assert seen["distance"][0] == cols["distance"][0]
        from phenomd._cosmology import luminosity_distance

        assert cols["distance"][0] == float(luminosity_distance(2.0, "Planck18"))


class TestStudies:
    def test_horizon_reaches_the_threshold(self, tmp_path):
        table = tmp_path / "h.csv"
        assert cli.main(["horizon", "-o", str(tmp_path / "h.png"), "--table", str(table), "--nm", "3",
                         "--mass-range", "1e5", "1e7", "--method", "trapezoid", "--length", "200", "--snr", "20", "-q"]) == 0
        cols, prov = tables.read_table(table)
        assert list(cols["noise"]) == ["lisa"] * 3 and prov["threshold"] == "20.0"
        ok = cols["reached"] == "ok"
        assert ok.any()
        q = 0.2
        m = cols["total_mass"][ok]
        # Re-evaluated at the returned redshift, the SNR is the threshold.
        again = phenomd.binary_snr(m / (1 + q), m * q / (1 + q), 0.8, 0.8, None, cols["redshift"][ok], 4.0, 0.0, 200,
                                   method="trapezoid")
        np.testing.assert_allclose(again.snr_all, 20.0, rtol=1e-3)

    def test_horizon_bound_is_an_option_and_never_a_value(self, tmp_path, capsys):
        # 1e5 Msun (q = 0.2) reaches SNR 10 beyond z = 30 but not 300: at
        # --z-max 30 it has no value, and the summary names it instead of a
        # "deepest" horizon among the others.
        table = tmp_path / "h.csv"
        argv = ["horizon", "-o", str(tmp_path / "h.png"), "--table", str(table), "--nm", "3", "--mass-range",
                "1e5", "1e9", "--method", "trapezoid", "--length", "200"]
        assert cli.main(argv + ["--z-max", "30"]) == 0
        err = capsys.readouterr().err
        cols, _ = tables.read_table(table)
        assert list(cols["reached"]) == ["above", "ok", "ok"]
        assert np.isnan(cols["redshift"][0]) and cols["redshift_bound"][0] == 30.0 and cols["redshift"][1] < 30
        assert "lisa: beyond z = 30 for M = 1e+05 Msun" in err and "deepest" not in err
        assert cli.main(argv + ["--z-max", "300"]) == 0
        cols, _ = tables.read_table(table)
        assert list(cols["reached"]) == ["ok"] * 3 and 30 < cols["redshift"][0] < 300
        assert "deepest z" in capsys.readouterr().err

    def test_mass_ratio_above_one_means_the_same_in_horizon_and_waterfall(self, tmp_path):
        # q = 4 is q = 1/4 with the bodies, and so the spins, exchanged, in
        # both commands (the waterfall refused it, the horizon took it).
        def table(command, q, s1, s2, *extra):
            out = tmp_path / f"{command}{q}.csv"
            assert cli.main([command, "-o", str(tmp_path / "f.png"), "--table", str(out), "--q", str(q),
                             "--spin1", str(s1), "--spin2", str(s2), "--method", "trapezoid", "--length", "64", "-q", *extra]) == 0
            return tables.read_table(out)[0]

        for command, extra, column in (("waterfall", ["--x", "mass:1e5:1e7:3", "--y", "redshift:1:3:2"], "snr_all"),
                                       ("horizon", ["--nm", "3", "--mass-range", "1e5", "1e7"], "redshift")):
            a, b = table(command, 4.0, 0.6, -0.3, *extra), table(command, 0.25, -0.3, 0.6, *extra)
            np.testing.assert_allclose(a[column], b[column], rtol=1e-9, err_msg=command)

    def test_waterfall_any_two_axes(self, tmp_path):
        table = tmp_path / "w.h5"
        assert cli.main(["waterfall", "--x", "q:0.1:1:4:linear", "--y", "spin:-0.5:0.5:3", "--fix", "mass=1e6",
                         "--fix", "redshift=2", "-o", str(tmp_path / "w.svg"), "--table", str(table),
                         "--method", "trapezoid", "--length", "64", "-q"]) == 0
        cols, prov = tables.read_table(table)
        assert len(cols["snr_all"]) == 12 and prov["x"] == "q" and prov["y"] == "spin"
        k = 5  # row-major over (spin, q): spin index 1, q index 1
        q, s = cols["mass_ratio"][k], cols["spin"][k]
        assert (q, s) == (0.4, 0.0)
        want = phenomd.binary_snr(1e6 / (1 + q), 1e6 * q / (1 + q), s, s, None, 2.0, 4.0, 0.0, 64, method="trapezoid")
        assert cols["snr_all"][k] == want.snr_all[0]

    def test_ratio_and_compare_agree(self, tmp_path):
        common = ["--nm", "4", "--nz", "3", "--method", "trapezoid", "--length", "64", "-q", "--compare", "taiji"]
        assert cli.main(["ratio", "-o", str(tmp_path / "r.png"), "--table", str(tmp_path / "r.csv"), *common]) == 0
        assert cli.main(["waterfall", "-o", str(tmp_path / "w.png"), "--table", str(tmp_path / "w.csv"),
                         *common]) == 0
        a, _ = tables.read_table(tmp_path / "r.csv")
        b, prov = tables.read_table(tmp_path / "w.csv")
        assert np.array_equal(a["ratio"], b["ratio"], equal_nan=True)
        both = a["snr_b"] > 0
        np.testing.assert_array_equal(a["ratio"][both], a["snr_a"][both] / a["snr_b"][both])
        assert "taiji" in prov["noise"].lower() and "lisa" in prov["noise"].lower()


class TestCluster:
    def test_catalogs_go_to_the_dask_front_end(self, tmp_path, catalog, monkeypatch, capsys):
        from phenomd import distributed

        calls = []

        def fake(inputs, outdir, **kw):
            calls.append((inputs, outdir, kw))
            return types.SimpleNamespace(line=lambda: "2 partitions, 4 binaries")

        monkeypatch.setattr(distributed, "snr_catalog", fake)
        out = tmp_path / "parts"
        assert cli.main(["snr", str(catalog), str(catalog), "-o", str(out), "--workers", "2", "--fast",
                         "--inclination", "face-on", "--method", "trapezoid", "--length", "300", "--partition-size", "7"]) == 0
        (inputs, outdir, kw), = calls
        assert inputs == [str(catalog)] * 2 and outdir == str(out)
        assert kw["workers"] == 2 and kw["scheduler"] is None and kw["fast"] is True
        assert kw["inclination"] == "face-on" and kw["length"] == 300 and kw["partition_size"] == 7
        assert kw["command"].startswith("phenomd snr ") and "--workers 2" in kw["command"]
        assert kw["overwrite"] is False
        assert "2 partitions" in capsys.readouterr().err
        assert cli.main(["snr", str(catalog), "-o", str(out), "--workers", "1", "--overwrite", "-q"]) == 0
        assert calls[-1][2]["overwrite"] is True

        def busy(inputs, outdir, **kw):
            raise distributed.CatalogBusyError(f"{outdir}: another run is writing here")

        monkeypatch.setattr(distributed, "snr_catalog", busy)
        assert cli.main(["snr", str(catalog), "-o", str(out), "--workers", "1", "-q"]) == 2
        err = capsys.readouterr().err
        assert err.count("\n") == 1 and "error: " in err and "another run is writing here" in err
        assert cli.main(["snr", str(catalog), str(catalog), "-q"]) == 2  # several catalogs need a cluster


class TestNoiseFiles:
    def test_file_conventions_reach_the_snr(self, tmp_path, catalog):
        from phenomd import noise

        lisa = noise.curve("lisa", years=4)
        f = np.geomspace(2e-5, 0.5, 400)
        path = tmp_path / "lisa_psd.txt"
        np.savetxt(path, np.column_stack([f, lisa.psd(f)]))
        common = ["--noise", str(path), "--noise-kind", "psd"]
        two = snr_table(tmp_path, catalog, *common, name="two.csv")[0]["snr_all"]
        one = snr_table(tmp_path, catalog, *common, "--noise-channels", "1", name="one.csv")[0]["snr_all"]
        built_in = snr_table(tmp_path, catalog, name="builtin.csv")[0]["snr_all"]
        # A file in the package's convention (two channels, averaged)
        # reproduces the built-in curve to the interpolation's accuracy; the
        # same numbers read as ONE channel's averaged PSD are halved when the
        # two channels are combined (Robson, Cornish & Liu 2019, sec. 2), so
        # every SNR grows by sqrt(2).
        np.testing.assert_allclose(two, built_in, rtol=1e-3)
        np.testing.assert_allclose(one / two, math.sqrt(2), rtol=1e-12)

    def test_bare_one_channel_psd_file_is_divided_by_the_response(self, tmp_path, catalog):
        # P_n = S_n R (Robson, Cornish & Liu 2019 sec. 2, S_n = P_n / R): the
        # bare noise of one Michelson channel, written from the built-in
        # LISA curve without its foreground, read back with its convention
        # gives the built-in SNR to the interpolation's accuracy.
        from phenomd import noise

        lisa = noise.curve("lisa", years=None)
        f = np.geomspace(2e-5, 0.5, 400)
        path = tmp_path / "lisa_bare.txt"
        np.savetxt(path, np.column_stack([f, lisa.psd(f) * lisa.response(f)]))
        bare = snr_table(tmp_path, catalog, "--noise", str(path), "--noise-kind", "psd",
                         "--noise-sky-averaged", "no", name="bare.csv")[0]["snr_all"]
        built_in = snr_table(tmp_path, catalog, "--years", "0", name="builtin.csv")[0]["snr_all"]
        np.testing.assert_allclose(bare, built_in, rtol=1e-3)
        assert cli.main(["snr", str(catalog), "-q", "--noise", str(path), "--noise-kind", "psd",
                         "--noise-response", "lisa", "-o", str(tmp_path / "x.csv")]) == 2
