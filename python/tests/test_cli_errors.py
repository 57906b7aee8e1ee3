"""The command line under faults: every fault a user can cause is one
``error:`` line and exit status 2, Ctrl-C is exit 130, and no failure
leaves an output cut short or a temporary file behind."""

import errno
import os
import signal
import subprocess
import sys
import time

import numpy as np
import pytest
from hypothesis import event, given, settings
from hypothesis import strategies as st

import phenomd
from phenomd import cli, tables
from phenomd.cli import _args, commands
from conftest import PYTHON_DIR
from test_tables import failing_writes

GOOD = "name,m1,m2,redshift\na,1e6,5e5,1\nb,2e5,1e5,2\n"


def run(capsys, *argv):
    status = cli.main(list(argv))
    captured = capsys.readouterr()
    return status, captured.out, captured.err


def one_error_line(err, command="snr"):
    lines = [line for line in err.splitlines() if line.strip()]
    assert "Traceback" not in err
    errors = [line for line in lines if line.startswith(f"phenomd {command}: error: ")]
    assert len(errors) == 1, err
    return errors[0]


def leftovers(directory, keep):
    return sorted(p.name for p in directory.iterdir() if p.name not in keep)


@pytest.fixture
def good(tmp_path):
    path = tmp_path / "in.csv"
    path.write_text(GOOD)
    return path


@pytest.mark.needs_library
class TestAtomicOutputs:
    """A full disk or Ctrl-C while the table is written: the previous
    output stays as it was and no temporary file is left."""

    def test_disk_full_mid_write(self, tmp_path, good, capsys, monkeypatch):
        out = tmp_path / "out.csv"
        out.write_text("previous result\n")
        monkeypatch.setattr(tables, "CSV_BLOCK_ROWS", 1)  # one row per write
        with failing_writes(monkeypatch, 2, OSError(errno.ENOSPC, "No space left on device")):
            status, _, err = run(capsys, "snr", str(good), "-o", str(out), "--method", "trapezoid", "--length", "32", "-q")
        assert status == 2 and f"{out}: no space left" in one_error_line(err)
        assert out.read_text() == "previous result\n"
        assert leftovers(tmp_path, {"in.csv", "out.csv"}) == []

    def test_interrupt_mid_write(self, tmp_path, good, capsys, monkeypatch):
        out = tmp_path / "out.h5"
        monkeypatch.setattr(tables, "CSV_BLOCK_ROWS", 1)
        out.write_bytes(b"previous")
        with failing_writes(monkeypatch, 2, KeyboardInterrupt()):
            status, _, err = run(capsys, "snr", str(good), "-o", str(tmp_path / "out.csv"), "--method", "trapezoid", "--length", "32")
        assert status == 130 and "Traceback" not in err
        assert [line for line in err.splitlines() if line.strip()] == [
            "phenomd snr: interrupted; outputs left as they were"]
        assert leftovers(tmp_path, {"in.csv", "out.h5"}) == []  # out.csv never appeared

    def test_sigint_to_a_running_process(self, tmp_path, library_path):
        # Wherever the signal lands (reading, computing or writing), the
        # output is the previous file or the new one whole, never a part.
        n = 20000  # several seconds of work: the signal lands mid-run
        rows = "".join(f"b{i},{1e5 + i},{5e4 + i},1.0\n" for i in range(n))
        (tmp_path / "big.csv").write_text("name,m1,m2,redshift\n" + rows)
        out = tmp_path / "out.csv"
        out.write_text("previous result\n")
        env = dict(os.environ, PYTHONPATH=str(PYTHON_DIR), PHENOMD_LIBRARY=library_path)
        proc = subprocess.Popen([sys.executable, "-m", "phenomd", "snr", "big.csv", "-o", "out.csv", "--threads",
                                 "2", "--method", "trapezoid", "--length", "2000"], cwd=tmp_path, env=env, stderr=subprocess.PIPE,
                                text=True)
        time.sleep(2.0)
        proc.send_signal(signal.SIGINT)
        _, err = proc.communicate(timeout=120)
        assert "Traceback" not in err
        if proc.returncode == 130:
            assert "interrupted" in err and out.read_text() == "previous result\n"
        else:  # finished before the signal arrived
            assert proc.returncode == 0
            rows = tables.read_table(out)[0]
            assert len(rows["snr_all"]) == n
        assert leftovers(tmp_path, {"big.csv", "out.csv", "out.csv.meta.json"}) == []

    @pytest.mark.parametrize("ext", ["csv", "h5", "npz"])
    def test_real_full_disk(self, tmp_path, library_path, ext):
        # A 64 KiB tmpfs (needs root; skipped elsewhere): one error line, exit
        # 2, the previous file as it was, no temporary file, no crash (HDF5
        # written onto it used to abort in h5py's destructors, SIGSEGV).
        tiny = tmp_path / "tiny"
        tiny.mkdir()
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", str(tiny)],
                          capture_output=True).returncode:
            pytest.skip("cannot mount a tmpfs here (not root?)")
        try:
            (tiny / f"out.{ext}").write_bytes(b"previous")
            rows = "".join(f"b{i},{1e5 + i},{5e4 + i},1.0\n" for i in range(2000))
            (tmp_path / "c.csv").write_text("name,m1,m2,redshift\n" + rows)
            env = dict(os.environ, PYTHONPATH=str(PYTHON_DIR), PHENOMD_LIBRARY=library_path)
            run = subprocess.run([sys.executable, "-m", "phenomd", "snr", "c.csv", "-o", f"tiny/out.{ext}",
                                  "--method", "trapezoid", "--length", "100", "-q"], cwd=tmp_path, env=env, capture_output=True, text=True,
                                 timeout=120)
            assert run.returncode == 2, run.stderr[-3000:]
            assert "no space left" in one_error_line(run.stderr) and "Exception ignored" not in run.stderr
            assert os.listdir(tiny) == [f"out.{ext}"] and (tiny / f"out.{ext}").read_bytes() == b"previous"
        finally:
            subprocess.run(["umount", str(tiny)], check=False)

    @pytest.mark.parametrize("sig", [signal.SIGTERM, signal.SIGHUP])
    def test_termination_signals_mid_write(self, tmp_path, library_path, sig):
        # Sent while the output's temporary file exists: exit 128 + N, the
        # previous output as it was, the temporary file removed.
        n = 150000
        rows = "".join(f"b{i},{1e5 + i},{5e4 + i},1.0\n" for i in range(n))
        (tmp_path / "big.csv").write_text("name,m1,m2,redshift\n" + rows)
        out = tmp_path / "out.csv"
        out.write_text("previous result\n")
        env = dict(os.environ, PYTHONPATH=str(PYTHON_DIR), PHENOMD_LIBRARY=library_path)
        proc = subprocess.Popen([sys.executable, "-m", "phenomd", "snr", "big.csv", "-o", "out.csv", "--method", "trapezoid", "--length",
                                 "4", "-q"], cwd=tmp_path, env=env, stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + 120
        while proc.poll() is None and time.monotonic() < deadline:
            if any(p.startswith(".out.") for p in os.listdir(tmp_path)):
                proc.send_signal(sig)
                break
        _, err = proc.communicate(timeout=120)
        if proc.returncode == 0:
            pytest.skip("the run ended before its output was being written")
        assert proc.returncode == 128 + sig and "Traceback" not in err
        assert f"stopped by {signal.Signals(sig).name}" in err and out.read_text() == "previous result\n"
        assert leftovers(tmp_path, {"big.csv", "out.csv"}) == []

    def test_output_equal_to_an_input_is_refused(self, tmp_path, good, capsys):
        status, _, err = run(capsys, "snr", str(good), "-o", str(good), "-q")
        assert status == 2 and "is the input file" in one_error_line(err)
        assert good.read_text() == GOOD
        status, _, err = run(capsys, "strain", str(good), "-o", str(tmp_path / "in.csv"), "-q")
        assert status == 2 and "unknown figure format" in one_error_line(err, "strain")


def run_status(capsys, *argv):
    """cli.main, with argparse's own exit (a bad option value) as a status."""
    try:
        status = cli.main(list(argv))
    except SystemExit as exc:
        status = exc.code
    captured = capsys.readouterr()
    return status, captured.out, captured.err


@pytest.mark.needs_library
class TestBoundsAndCauses:
    """Sizes that would exhaust memory refused with the size and the limit
    before any work; causes named instead of a traceback or a hang."""

    @pytest.mark.parametrize("argv, words", [
        (["snr", "{good}", "--length", "2147483648"], "--length must be at most 2147483647 (the C interface's int)"),
        (["snr", "{good}", "--method", "trapezoid", "--length", "2147483647"], "2 binaries of --length 2,147,483,647 points on"),
        (["snr", "{good}", "--max-memory", "1M"], "above the memory limit of 1 MiB (--max-memory"),
        (["strain", "--length", "300000000", "-o", "{tmp}/s.png"], "3 binaries of --length 300,000,000 points"),
        (["waterfall", "--nm", "1000000", "--nz", "1000000", "-o", "{tmp}/w.png"],
         "a grid of 1,000,000 x 1,000,000 binaries"),
        (["horizon", "--nm", "1000000000", "-o", "{tmp}/h.png"], "--nm 1,000,000,000 masses"),
        (["horizon", "--width", "100000000", "-o", "{tmp}/h.png"], "--width must be at most 65535 pixels"),
        (["horizon", "--dpi", "10000000", "-o", "{tmp}/h.png"], "--dpi 10000000: at most the figure's smaller side"),
        (["horizon", "--snr", "1e300", "--nm", "4", "-o", "{tmp}/h.png"], "reaches SNR 1e+300 even at the smallest"),
        (["horizon", "--t-end", "5", "--nm", "4", "-o", "{tmp}/h.png"], "--t-end 5 is not below --t-start 4"),
        (["snr", "{good}", "--library", "{numpy_so}"], "not this package's module: it lacks Amplitude"),
        (["snr", "{good}", "--noise", "/dev/zero", "--noise-kind", "hn"], "not a regular file"),
    ])
    def test_one_error_line(self, tmp_path, good, capsys, argv, words):
        numpy_so = np.core._multiarray_umath.__file__
        argv = [a.format(good=good, tmp=tmp_path, numpy_so=numpy_so) for a in argv] + ["-q"]
        t0 = time.monotonic()
        status, out, err = run_status(capsys, *argv)
        assert status == 2 and out == "" and one_error_line(err, argv[0]) and words in err, err
        assert time.monotonic() - t0 < 30  # refused before the work, not after it
        assert not list(tmp_path.glob("*.png"))

    def test_noise_table_bounded(self, tmp_path):
        # A file over 1e-300 - 1e300 Hz whose table would need more nodes
        # than the limit allows (it took 4.5 GB and 30 s under the memory
        # limit alone): refused in seconds, naming both counts.
        from phenomd import noise

        f = np.geomspace(1e-300, 1e300, 2000)
        p = tmp_path / "wide.txt"
        rough = 1e-20 * np.exp(np.random.default_rng(1).normal(0.0, 0.3, f.size))
        p.write_text("".join(f"{a!r} {b:.6g}\n" for a, b in zip(f, rough)))
        t0 = time.monotonic()
        with pytest.raises(phenomd.InputError, match=r"the noise table of .*wide.txt.* would need [0-9,]+ nodes .* "
                                                     r"above the limit of 4,194,304 nodes"):
            noise.from_file(p, "hn", interpolation="pchip").table()
        assert time.monotonic() - t0 < 30


@pytest.mark.needs_library
class TestInputFaults:
    @pytest.mark.parametrize("data, words", [
        (b"m1,m2,redshift,t_start\n1e6,1e6,1,nan\n", "line 2, column t_start: 'nan' is not a number"),
        (b"m1,m2,redshift,distance\n1e6,1e6,1,\n1e6,1e6,1,NaN\n", "line 3, column distance: 'NaN'"),
        (b"m1,m2,redshift\n1e6,\xff,1\n", "line 2, byte 5: not UTF-8 text"),
        (b'm1,m2,redshift,name\n1,2,3,"' + b"x" * 140000 + b'"\n', "line 2: field larger than field limit"),
        (b"M1,m2,redshift\n1,2,3\n", "'M1' differs from 'm1' only in case"),
        (b"m1;m2;redshift\n1;2;3\n", "semicolon-separated"),
        (b"m1,m2,redshift,spin1\n1e6,1e6,1,0\n1e6,1e6,1,1.5\n", "line 3: spin1[1] = 1.5"),
        (b"m1,m2,redshift\n1e6,1e6,0\n", "line 2: no distance given, and the luminosity distance at redshift 0.0"),
    ])
    def test_one_error_line_naming_the_place(self, tmp_path, capsys, data, words):
        (tmp_path / "bad.csv").write_bytes(data)
        status, out, err = run(capsys, "snr", str(tmp_path / "bad.csv"), "-q", "--method", "trapezoid", "--length", "16")
        assert status == 2 and out == ""
        assert f"{tmp_path / 'bad.csv'}" in one_error_line(err) and words in err

    def test_byte_order_mark_is_accepted(self, tmp_path, capsys):
        (tmp_path / "bom.csv").write_bytes(b"\xef\xbb\xbf" + GOOD.encode())
        status, _, _ = run(capsys, "snr", str(tmp_path / "bom.csv"), "-o", str(tmp_path / "o.csv"), "-q",
                           "--method", "trapezoid", "--length", "16")
        assert status == 0 and len(tables.read_table(tmp_path / "o.csv")[0]["m1"]) == 2

    @pytest.mark.parametrize("argv, words", [
        (["waterfall", "--width", "0"], "--width must be at least 1"),
        (["waterfall", "--dpi", "0"], "--dpi must be at least 1"),
        (["strain", "--height", "-3"], "--height must be at least 1"),
        (["horizon", "--size", "colum"], "use column, page or W,H in inches"),
        (["ratio", "--size", "3.4cm,2"], "W,H must be two numbers of inches"),
        (["waterfall", "--size", "3.4,0"], "must be finite and positive inches"),
        (["snr", "--method", "trapezoid", "--length", "1"], "--length must be at least 2"),
        (["snr", "--threads", "0"], "--threads must be at least 1"),
        (["snr", "--inclination", "sideways"], "use average, face-on, edge-on or an angle: 60deg, 1.05rad"),
        (["snr", "--inclination", "60"], "60: angles are in radians, in [0, pi]; did you mean 60deg?"),
        (["horizon", "--inclination", "1.05 grad"], "use average, face-on, edge-on or an angle"),
        (["snr", "--years", "3m"], "unit m is not a time"),
        (["snr", "--t-start", "nan"], "--t-start must be finite and positive"),
    ])
    def test_bad_options_exit_2(self, capsys, argv, words):
        with pytest.raises(SystemExit) as stop:
            cli.main(argv)
        assert stop.value.code == 2 and words in capsys.readouterr().err

    def test_years_with_a_time_unit(self):
        assert _args.parse(["snr", "--years", "1461d"])[1].years == pytest.approx(4.0, rel=1e-3)

    @pytest.mark.parametrize("argv, words", [
        (["waterfall", "--x", "mass:1e4:1e8:40", "--nm", "10"], "--nm both give the mass axis' number of points"),
        (["waterfall", "--y", "redshift:0.1:5", "--z-range", "1", "2"], "--z-range both give the redshift axis' range"),
        (["ratio", "--compare", "taiji", "--x", "q", "--nm", "5"], "--nm applies to a mass axis"),
        (["waterfall", "--x", "q", "--q", "0.3"], "--q 0.3: q is an axis"),
        (["waterfall", "--fix", "tobs=2", "--t-start", "3"], "--t-start 3: tobs is fixed by --fix tobs="),
        (["waterfall", "--fix", "q=0.3", "--fix", "mass_ratio=0.5"], "q is fixed twice"),
        (["snr", "--workers", "2", "--scheduler", "tcp://h:1", "x.csv"], "give one"),
        (["snr", "--partition-size", "10"], "--partition-size applies only with --workers or --scheduler"),
        (["snr", "--progress", "--no-progress"], "--progress and --no-progress"),
        (["snr", "--noise", "LISA", "--noise-channels", "1"], "--noise-channels describes a noise file"),
        (["horizon", "--noise", "tianqin", "--response", "approximate"], "--response applies to the lisa curve"),
    ])
    def test_conflicting_options_are_refused(self, tmp_path, capsys, argv, words):
        # Each pair was a silent choice of one option over the other.
        try:
            status = cli.main(argv + ["-o", str(tmp_path / ("o.png" if argv[0] != "snr" else "o.csv"))])
        except SystemExit as stop:
            status = stop.code
        assert status == 2 and words in one_error_line(capsys.readouterr().err, argv[0])
        assert not list(tmp_path.iterdir())

    def test_bad_binary_option_names_it(self, tmp_path, capsys):
        status, _, err = run(capsys, "strain", "--binary", "6e5,4e5,0,0,2", "--binary", "6e5,4e5,1.5,0,2",
                             "-o", str(tmp_path / "s.png"), "-q")
        assert status == 2 and "--binary 2: spin1[1] = 1.5" in one_error_line(err, "strain")
        status, _, err = run(capsys, "strain", "--binary", "6e5,4e5,0,nan,2", "-o", str(tmp_path / "s.png"))
        assert status == 2 and "nan is not a value" in one_error_line(err, "strain")

    def test_bad_noise_and_library(self, tmp_path, good, capsys):
        status, _, err = run(capsys, "snr", str(good), "--noise", "nosuchcurve", "-q")
        assert status == 2 and "neither a noise curve" in one_error_line(err)
        status, _, err = run(capsys, "snr", str(good), "--noise", "lisaa", "-q")
        assert status == 2 and "did you mean lisa?" in one_error_line(err)
        for quiet in ([], ["-q"]):  # names in any case; the curve's caveat in the summary, or a warning
            status, _, err = run(capsys, "snr", str(good), "--noise", "TianQin", *quiet, "-o", str(tmp_path / "o.csv"))
            assert status == 0 and "foreground uncertain by a factor ~3" in err
        (tmp_path / "n.txt").write_text("1e-4 1e-40\n")
        status, _, err = run(capsys, "snr", str(good), "--noise", str(tmp_path / "n.txt"), "-q")
        assert status == 2 and "needs --noise-kind" in one_error_line(err)
        status, _, err = run(capsys, "snr", str(good), "--library", str(tmp_path / "none.so"), "-q")
        assert status == 2 and one_error_line(err)


class TestOutputPathsBeforeWork:
    """Every output path is checked before anything is computed."""

    @pytest.fixture(autouse=True)
    def no_computation(self, monkeypatch):
        def refuse(*a, **k):
            raise AssertionError("computed before the output path was checked")

        monkeypatch.setattr(commands, "binary_snr", refuse)
        monkeypatch.setattr(commands, "amplitude", refuse)

    @pytest.mark.parametrize("command, target, words", [
        ("snr", "{d}/out.txt", "unknown table format (extension '.txt')"),
        ("snr", "{d}", "is a directory"),
        ("snr", "{d}/in.csv/x.csv", "is not a directory"),
        ("snr", "/proc/phenomd-test.csv", "cannot write in /proc"),
        ("strain", "{d}/s.jpg", "unknown figure format"),
        ("waterfall", "{d}/w.csv", "unknown figure format"),
        ("horizon", "{d}/h.gif", "unknown figure format"),
        # A missing directory is refused, not made (it was, even at the root).
        ("snr", "{d}/missing/x.csv", "missing does not exist; create it first"),
        ("horizon", "{d}/missing/h.png", "missing does not exist; create it first"),
    ])
    def test_unusable_outputs(self, tmp_path, good, capsys, command, target, words):
        argv = [command] + ([str(good)] if command in ("snr", "strain") else []) + ["-o", target.format(d=tmp_path)]
        status, _, err = run(capsys, *argv, "-q")
        assert status == 2 and words in one_error_line(err, command)

    @pytest.mark.parametrize("argv", [
        ["snr", "{good}", "--noise", "{n}", "--noise-kind", "hn", "-o", "{n}"],
        ["snr", "{good}", "--noise", "{n}", "--noise-kind", "hn", "-o", "{link}"],  # the same file by inode
        ["waterfall", "--noise", "{n}", "--noise-kind", "hn", "--table", "{n}", "-o", "{d}/w.png"],
        ["ratio", "--compare", "{n}", "--noise-kind", "hn", "--table", "{link}", "-o", "{d}/w.png"],
    ])
    def test_no_input_is_overwritten(self, tmp_path, good, capsys, argv):
        # A noise file read by the command was replaced by its results.
        n = tmp_path / "n.csv"
        n.write_text("1e-4,1e-18\n1,1e-20\n")
        os.link(n, tmp_path / "link.csv")
        argv = [a.format(good=good, n=n, link=tmp_path / "link.csv", d=tmp_path) for a in argv]
        status, _, err = run(capsys, *argv, "-q")
        assert status == 2 and "is the input file" in one_error_line(err, argv[0])
        assert n.read_text() == "1e-4,1e-18\n1,1e-20\n"

    def test_unusable_table_beside_a_figure(self, tmp_path, capsys):
        status, _, err = run(capsys, "waterfall", "-o", str(tmp_path / "w.png"), "--table", str(tmp_path / "w.xls"))
        assert status == 2 and "unknown table format" in one_error_line(err, "waterfall")


@pytest.mark.needs_library
class TestRobustness:
    """Whatever a catalog holds, the tool answers with a result (exit 0, all
    SNRs finite) or one error line (exit 2): never a traceback."""

    good = st.floats(0.05, 1e3).map(repr)  # a valid value in every column (spins drawn below 1 too)
    cells = st.one_of(
        good, good, good, st.floats(-1, 1).map(repr),
        st.sampled_from(["", "nan", "inf", "-1", "0", "1e308", "1e-320", "abc", '"q"', "1_0", " 2 ", "#", "\u2603"]),
        st.floats(allow_nan=True, allow_infinity=True).map(repr),
        st.text(alphabet=st.characters(blacklist_categories=("Cs",)), max_size=6),
    )

    @settings(max_examples=int(os.environ.get("PHENOMD_FUZZ_EXAMPLES", "60")))
    @given(data=st.data(), separator=st.sampled_from([",", ",", ",", ";"]), bom=st.booleans())
    def test_any_catalog(self, tmp_path_factory, data, separator, bom):
        import io
        from contextlib import redirect_stderr, redirect_stdout

        extra = data.draw(st.lists(st.sampled_from(["spin1", "spin2", "distance", "t_start", "t_end", "name",
                                                    "M1", "Redshift", "x"]), unique=True, max_size=4))
        header = data.draw(st.permutations(["m1", "m2", "redshift"] + extra))
        width = st.one_of(st.just(len(header)), st.integers(0, len(header) + 1))
        rows = data.draw(st.lists(width.flatmap(lambda k: st.lists(self.cells, min_size=k, max_size=k)),
                                  max_size=4))
        d = tmp_path_factory.mktemp("fuzz")
        text = separator.join(header) + "\n" + "".join(separator.join(r) + "\n" for r in rows)
        (d / "c.csv").write_bytes((b"\xef\xbb\xbf" if bom else b"") + text.encode("utf-8", "surrogatepass"))
        err = io.StringIO()
        with redirect_stderr(err), redirect_stdout(io.StringIO()):
            status = cli.main(["snr", str(d / "c.csv"), "-o", str(d / "o.csv"), "--method", "trapezoid", "--length", "8", "--threads", "1"])
        event(f"exit {status}")
        assert status in (0, 2) and "Traceback" not in err.getvalue(), err.getvalue()
        if status == 2:
            assert err.getvalue().count("phenomd snr: error: ") == 1
        else:
            cols, _ = tables.read_table(d / "o.csv")
            for name in ("snr_all", "snr_ins", "snr_mrg", "snr_rd", "distance"):
                assert np.isfinite(cols[name]).all(), name

    @settings(max_examples=40)
    @given(data=st.binary(max_size=200))
    def test_any_bytes(self, tmp_path_factory, data):
        d = tmp_path_factory.mktemp("bytes")
        (d / "c.csv").write_bytes(b"m1,m2,redshift\n" + data)
        try:
            tables.read_catalog(d / "c.csv")
        except tables.TableError:
            pass


@pytest.mark.needs_library
class TestColumns:
    """Every catalog column is read (under its name or an alias) or named
    in one error line; the output loads with plain readers."""

    def test_aliases_and_per_binary_inclination(self, tmp_path, capsys):
        import json

        import pandas as pd

        # One binary twice, face-on (0) and edge-on (pi/2): the SNRs differ
        # by k(0)/k(pi/2) = sqrt(8)/1 (the inclination factor, closed form in
        # phenomd._conventions); they were equal when the column was ignored.
        (tmp_path / "c.csv").write_text("name,mass1,m_2,z,dL,chi1,iota\n"
                                        "a,1e6,5e5,1,,0.5,0\nb,1e6,5e5,1,,0.5,1.5707963267948966\n")
        status, _, err = run(capsys, "snr", str(tmp_path / "c.csv"), "-o", str(tmp_path / "o.csv"), "--method", "trapezoid", "--length",
                             "64", "--threads", "1")
        assert status == 0, err
        assert "read mass1 as m1, m_2 as m2, z as redshift, dL as distance, chi1 as spin1, iota as inclination" in err
        df = pd.read_csv(tmp_path / "o.csv")  # no '#' lines: a plain read
        assert list(df.columns[:7]) == ["name", "m1", "m2", "redshift", "distance", "spin1", "inclination"]
        assert df["snr_all"][0] / df["snr_all"][1] == pytest.approx(np.sqrt(8), rel=1e-12)
        prov = json.loads((tmp_path / "o.csv.meta.json").read_text())["provenance"]
        assert "t_start 4 yr" in prov["observation_window"] and "dL as distance" in prov["input_columns"]
        assert np.genfromtxt(tmp_path / "o.csv", names=True, delimiter=",", dtype=None,
                             encoding="utf-8")["snr_all"][0] == df["snr_all"][0]

    def test_empty_inclination_needs_an_angle(self, tmp_path, capsys):
        (tmp_path / "c.csv").write_text("m1,m2,redshift,inclination\n1e6,5e5,1,0.3\n1e6,5e5,1,\n")
        status, _, err = run(capsys, "snr", str(tmp_path / "c.csv"), "-o", str(tmp_path / "o.csv"), "-q")
        assert status == 2 and "line 3: column inclination is empty" in one_error_line(err)
        status, _, err = run(capsys, "snr", str(tmp_path / "c.csv"), "-o", str(tmp_path / "o.csv"), "-q",
                             "--inclination", "edge-on", "--method", "trapezoid", "--length", "16")
        assert status == 0 and tables.read_table(tmp_path / "o.csv")[0]["inclination"][1] == np.pi / 2

    def test_length_beyond_memory_is_one_error_line(self, good, tmp_path, capsys):
        # It was a MemoryError traceback.
        status, _, err = run(capsys, "snr", str(good), "-o", str(tmp_path / "o.csv"), "--method", "trapezoid", "--length", "2000000000")
        assert status == 2 and "--length 2,000,000,000 points" in one_error_line(err) and "needs about" in err

    @settings(max_examples=int(os.environ.get("PHENOMD_FUZZ_EXAMPLES", "15")))
    @given(data=st.data())
    def test_random_columns_are_accounted_for(self, tmp_path_factory, data):
        import io
        from contextlib import redirect_stderr, redirect_stdout

        from phenomd import _catalog

        # Required columns under a name or an alias, plus optional, aliased,
        # misspelt (a letter dropped or doubled) and foreign columns.
        names = {c: [c] + [a for a, k in _catalog.ALIASES.items() if k == c] for c in _catalog.INPUT_COLUMNS}
        header = [data.draw(st.sampled_from(names[c])) for c in ("m1", "m2", "redshift")]
        word = st.sampled_from([n for c in ("spin1", "spin2", "distance", "name", "t_end") for n in names[c]])
        typo = word.flatmap(lambda w: st.integers(0, len(w) - 1).map(lambda i: w[:i] + w[i + 1:] if len(w) > 2
                                                                     else w + w[-1]))
        extra = data.draw(st.lists(st.one_of(word, typo, st.sampled_from(["flux", "ra", "Mass1", "m1"])),
                                   max_size=3))
        header = data.draw(st.permutations(header + extra))
        keep = data.draw(st.booleans())
        values = {"spin1": "0.1", "spin2": "-0.2", "t_end": "0", "name": "x"}
        row = [values.get(_catalog.canonical(h), "0.5" if _catalog.canonical(h) == "redshift" else "1e6")
               for h in header]
        d = tmp_path_factory.mktemp("columns")
        (d / "c.csv").write_text(",".join(header) + "\n" + ",".join(row) + "\n")
        err = io.StringIO()
        argv = ["snr", str(d / "c.csv"), "-o", str(d / "o.csv"), "--method", "trapezoid", "--length", "8", "--threads", "1"]
        with redirect_stderr(err), redirect_stdout(io.StringIO()):
            status = cli.main(argv + (["--keep-columns"] if keep else []))
        event(f"exit {status}")
        assert status in (0, 2) and "Traceback" not in err.getvalue(), err.getvalue()
        if status == 2:
            assert err.getvalue().count("phenomd snr: error: ") == 1
            return
        out = list(tables.read_table(d / "o.csv")[0])
        read = [_catalog.canonical(h) for h in header]
        known = [h for h in header if _catalog.canonical(h) in _catalog.INPUT_COLUMNS]
        assert len(set(read)) == len(read)  # no quantity given twice
        assert out[:len(header)] == [_catalog.canonical(h) if h in known else h for h in header]
        assert keep or len(known) == len(header)  # an unknown column only with --keep-columns
        for h in header:
            if h != _catalog.canonical(h):
                assert f"{h} as {_catalog.canonical(h)}" in err.getvalue()

