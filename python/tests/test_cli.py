"""The command-line tool end to end: CSV columns and values, figures."""

import csv
import io
import os
import subprocess
import sys

import numpy as np
import pytest

import phenomd
from phenomd import cli
from phenomd._executor import ProgressBar
from conftest import PYTHON_DIR

pytestmark = pytest.mark.needs_library

INPUT = """\
name,m1,m2,spin1,spin2,redshift,distance,t_start,t_end
a,5e5,5e5,0,0,1.0,6791.0,4,0
b,9e3,1e3,0.9,-0.5,3.0,,2,0
c,2e7,4e6,0.5,0.5,0.5,2919.6,10,1
"""


def read(path):
    """Rows of a CSV output, past its leading '#' provenance lines."""
    with open(path, newline="") as fh:
        return list(csv.DictReader(line for line in fh if not line.startswith("#")))


class TestSNR:
    def test_columns_and_values(self, tmp_path, library_path):
        src = tmp_path / "in.csv"
        src.write_text(INPUT)
        assert cli.main(["snr", str(src), "-o", str(tmp_path / "out.csv"), "--method", "trapezoid", "--length", "300", "-q"]) == 0
        rows = read(tmp_path / "out.csv")
        # Columns: the input's, then the results, the outside count and the
        # warning flags (both added when warnings became explicit).
        assert list(rows[0]) == ["name", "m1", "m2", "spin1", "spin2", "redshift", "distance", "t_start", "t_end",
                                 "snr_all", "snr_ins", "snr_mrg", "snr_rd", "f_merger_start", "f_ringdown_start",
                                 "n_outside", "flags"]
        assert [r["name"] for r in rows] == ["a", "b", "c"]
        import astropy.cosmology as ac
        import astropy.units as u
        from phenomd._cosmology import luminosity_distance

        # The empty cell, filled from Planck18: the package's distance table
        # (exactly), which agrees with astropy's integration to 1e-9.
        d_b = float(luminosity_distance(3.0, "Planck18"))
        assert float(rows[1]["distance"]) == d_b
        assert abs(d_b / ac.Planck18.luminosity_distance(3.0).to_value(u.Mpc) - 1) < 1e-9
        assert rows[0]["distance"] == "6791.0"  # a given distance is used as it is
        want = phenomd.binary_snr([5e5, 9e3, 2e7], [5e5, 1e3, 4e6], [0, 0.9, 0.5], [0, -0.5, 0.5],
                                  [6791.0, d_b, 2919.6], [1.0, 3.0, 0.5], [4, 2, 10], [0, 0, 1], 300,
                                  method="trapezoid")
        for i, r in enumerate(rows):
            for col in cli.RESULT_COLUMNS:
                assert float(r[col]) == getattr(want, col)[i], (i, col)  # repr round-trips
        assert float(rows[0]["snr_all"]) > 100  # a 10^6 Msun binary at z = 1 is loud in LISA

    def test_example_population_to_stdout(self, capsys):
        assert cli.main(["snr", "--method", "trapezoid", "--length", "64"]) == 0
        assert capsys.readouterr().out.startswith("name,")  # the table only: pandas reads it as it is
        assert cli.main(["snr", "--method", "trapezoid", "--length", "64", "--comments"]) == 0
        out = capsys.readouterr().out
        assert out.startswith("# phenomd_version: ")  # on request, provenance lines, then the table
        rows = list(csv.DictReader(line for line in io.StringIO(out) if not line.startswith("#")))
        assert len(rows) == 60 and {r["name"] for r in rows} == {f"ex{k:02d}" for k in range(1, 61)}
        snr = np.array([float(r["snr_all"]) for r in rows])
        assert np.all(snr > 0) and np.all(np.isfinite(snr))

    def test_noise_file_adds_the_outside_count(self, tmp_path):
        (tmp_path / "in.csv").write_text(INPUT)
        (tmp_path / "n.txt").write_text("1e-4 1e-40\n1e-2 1e-40\n")
        assert cli.main(["snr", str(tmp_path / "in.csv"), "-o", str(tmp_path / "o.csv"), "--method", "trapezoid", "--length", "50",
                         "--noise", str(tmp_path / "n.txt"), "--noise-kind", "psd", "-q"]) == 0
        rows = read(tmp_path / "o.csv")
        assert list(rows[0])[-2:] == ["n_outside", "flags"]
        assert all(0 <= int(r["n_outside"]) <= 50 for r in rows) and int(rows[1]["n_outside"]) > 0
        assert "outside_noise" in rows[1]["flags"].split(";")

    @pytest.mark.parametrize("text, words", [
        ("m1,m2\n1,2\n", "header lacks column(s) redshift"),
        ("m1,m2,redshift\n1e6,abc,1\n", "line 2, column m2: 'abc' is not a number"),
        ("m1,m2,redshift\n1e6,1e6,1\n1e6,1e6,1,5\n", "line 3: 4 fields"),
        ("m1,m2,redshift,spin1\n1e6,1e6,1,0\n1e6,1e6,1,1.5\n", "line 3: spin1[1] = 1.5"),
        ("m1,m2,redshift\n", "no binaries"),
    ])
    def test_bad_input_exits_2_naming_the_line(self, tmp_path, capsys, text, words):
        (tmp_path / "bad.csv").write_text(text)
        assert cli.main(["snr", str(tmp_path / "bad.csv"), "-q"]) == 2
        assert words in capsys.readouterr().err

    def test_runs_as_a_module(self, tmp_path, library_path):
        (tmp_path / "in.csv").write_text(INPUT)
        env = dict(os.environ, PYTHONPATH=str(PYTHON_DIR), PHENOMD_LIBRARY=library_path)
        done = subprocess.run([sys.executable, "-m", "phenomd", "snr", "in.csv", "-o", "o.csv", "--method", "trapezoid", "--length", "32",
                               "--threads", "2"], cwd=tmp_path, env=env, capture_output=True, text=True)
        assert done.returncode == 0, done.stderr
        assert "wrote o.csv" in done.stderr and len(read(tmp_path / "o.csv")) == 3

    def test_in_a_terminal_with_threads_and_a_bar(self, tmp_path, library_path):
        # Under a real pseudo-terminal, as a user runs it: a catalog of 8
        # chunks on two threads (about half a second of work), the bar drawn on the
        # terminal while the pool is polled.  This once ended in a TypeError
        # traceback from the progress count.
        import pty

        rng = np.random.default_rng(7)
        m, q = 10 ** rng.uniform(4, 7, 2000), rng.uniform(0.1, 1, 2000)
        rows = "\n".join(f"{a!r},{b!r},{z!r}" for a, b, z in zip(m / (1 + q), m * q / (1 + q), rng.uniform(0.5, 5, 2000)))
        (tmp_path / "big.csv").write_text("m1,m2,redshift\n" + rows + "\n")
        env = dict(os.environ, PYTHONPATH=str(PYTHON_DIR), PHENOMD_LIBRARY=library_path, COLUMNS="100")
        master, slave = pty.openpty()
        proc = subprocess.Popen([sys.executable, "-m", "phenomd", "snr", "big.csv", "-o", "o.csv", "--method", "trapezoid", "--length", "4000",
                                 "--threads", "2", "--progress"], cwd=tmp_path, env=env,
                                stdin=slave, stdout=slave, stderr=slave, close_fds=True)
        os.close(slave)
        chunks = []
        while True:
            try:
                data = os.read(master, 1 << 16)
            except OSError:  # EIO: the terminal's last writer has gone
                break
            if not data:
                break
            chunks.append(data)
        os.close(master)
        text = b"".join(chunks).decode(errors="replace")
        assert proc.wait(timeout=120) == 0, text
        assert "Traceback" not in text and "2000/2000" in text and "wrote o.csv" in text
        assert len(read(tmp_path / "o.csv")) == 2000


class TestFigures:
    def test_waterfall_png_size_and_grid(self, tmp_path):
        import matplotlib.image

        out, grid = tmp_path / "w.png", tmp_path / "w.csv"
        assert cli.main(["waterfall", "-o", str(out), "--nm", "6", "--nz", "5", "--method", "trapezoid", "--length", "64",
                         "--width", "640", "--height", "480", "--table", str(grid), "-q"]) == 0
        assert matplotlib.image.imread(out).shape[:2] == (480, 640)
        rows = read(grid)
        assert len(rows) == 30
        # Fixed q = 0.2: spot-check one grid point against the package.
        r = rows[7]
        m, z = float(r["total_mass"]), float(r["redshift"])
        want = phenomd.binary_snr(m / 1.2, m * 0.2 / 1.2, 0.8, 0.8, None, z, 4.0, 0.0, 64, method="trapezoid")
        assert float(r["snr_all"]) == want.snr_all[0]

    def test_strain_png_size(self, tmp_path):
        import matplotlib.image

        out = tmp_path / "s.png"
        assert cli.main(["strain", "-o", str(out), "--binary", "6e5,4e5,0.5,0.2,2.0", "--binary",
                         "5e3,5e3,0,0,0.3,1.0", "--width", "500", "--height", "400", "--method", "trapezoid", "--length", "64", "-q"]) == 0
        assert matplotlib.image.imread(out).shape[:2] == (400, 500)

    def test_print_size(self, tmp_path, capsys):
        """--size in inches at --dpi (300 unless given); with --width or --height refused."""
        import matplotlib.image

        out = tmp_path / "h.png"
        argv = ["horizon", "-o", str(out), "--nm", "3", "--method", "trapezoid", "--length", "64", "-q"]
        assert cli.main(argv + ["--size", "column"]) == 0
        assert matplotlib.image.imread(out).shape[:2] == (round(3.4 * 0.76 * 300), round(3.4 * 300))
        assert cli.main(argv + ["--size", "3,2.4", "--dpi", "100"]) == 0
        assert matplotlib.image.imread(out).shape[:2] == (240, 300)
        capsys.readouterr()
        assert cli.main(argv + ["--size", "page", "--width", "700"]) == 2
        err = capsys.readouterr().err
        assert err.startswith("phenomd horizon: error: --size page with --width") and len(err.splitlines()) == 1

    def test_each_commands_help_describes_its_own_output(self):
        # strain --help described snr's table (snr_all, flags, ...).
        helps = {name: sub.format_help() for name, sub in cli.build_parser()._subparsers._group_actions[0]
                 .choices.items()}
        assert "snr_all" in helps["snr"] and "outside_noise_negligible" in helps["snr"]
        assert "snr_all" not in helps["strain"] and "flags" not in helps["strain"]
        assert "Output: a figure" in helps["strain"] and "  m1  " in helps["strain"]

    def test_bad_waterfall_options(self, capsys):
        # q > 1 is accepted (m2 the heavier, as in horizon); a q given both
        # as an axis and as --q is not.
        assert cli.main(["waterfall", "--x", "q", "--q", "2"]) == 2
        assert "q is an axis" in capsys.readouterr().err


class TestProgressBar:
    """The tqdm-drawn bar behind progress=True and the CLI's bar."""

    class Stream(io.StringIO):
        def isatty(self):
            return False

    def test_silent_for_quick_runs_and_off_a_terminal(self):
        s = self.Stream()
        bar = ProgressBar(10, stream=s, delay=60, force=True)
        for i in range(1, 11):
            bar(i)
        bar.close()
        assert s.getvalue() == "" and bar.done == 10
        s = self.Stream()
        bar = ProgressBar(10, stream=s, delay=0)  # not a terminal, not forced
        for i in range(1, 11):
            bar(i)
        bar.close()
        assert not bar.enabled and s.getvalue() == ""

    def test_forced_bar_reaches_the_total(self):
        s = self.Stream()
        bar = ProgressBar(100, stream=s, delay=0, force=True)
        for i in range(1, 101):
            bar(i)
        bar.close()
        # The cumulative counts the core reports become tqdm's increments.
        assert bar.done == 100 and "100/100" in s.getvalue().splitlines()[-1].split("\r")[-1]

    def test_cli_progress_option(self, tmp_path, capsys):
        (tmp_path / "in.csv").write_text(INPUT)
        assert cli.main(["snr", str(tmp_path / "in.csv"), "-o", str(tmp_path / "o.csv"), "--method", "trapezoid", "--length", "32",
                         "--progress", "-q"]) == 0
        err = capsys.readouterr().err  # captured: not a terminal, drawn because asked for
        assert "3/3" in err and "binaries" in err
        assert cli.main(["snr", str(tmp_path / "in.csv"), "-o", str(tmp_path / "o.csv"), "--method", "trapezoid", "--length", "32",
                         "-q"]) == 0
        assert "3/3" not in capsys.readouterr().err  # not a terminal: no bar by default
