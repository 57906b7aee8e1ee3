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

from phenomd import cli, tables
from phenomd.cli import commands
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
        assert leftovers(tmp_path, {"big.csv", "out.csv"}) == []

    def test_output_equal_to_an_input_is_refused(self, tmp_path, good, capsys):
        status, _, err = run(capsys, "snr", str(good), "-o", str(good), "-q")
        assert status == 2 and "is the input file" in one_error_line(err)
        assert good.read_text() == GOOD
        status, _, err = run(capsys, "strain", str(good), "-o", str(tmp_path / "in.csv"), "-q")
        assert status == 2 and "unknown figure format" in one_error_line(err, "strain")


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
        (["snr", "--inclination", "sideways"], "use average, face-on, edge-on or an angle in radians"),
        (["snr", "--t-start", "nan"], "--t-start must be finite and positive"),
    ])
    def test_bad_options_exit_2(self, capsys, argv, words):
        with pytest.raises(SystemExit) as stop:
            cli.main(argv)
        assert stop.value.code == 2 and words in capsys.readouterr().err

    def test_bad_binary_option_names_it(self, tmp_path, capsys):
        status, _, err = run(capsys, "strain", "--binary", "6e5,4e5,0,0,2", "--binary", "6e5,4e5,1.5,0,2",
                             "-o", str(tmp_path / "s.png"), "-q")
        assert status == 2 and "--binary 2: spin1[1] = 1.5" in one_error_line(err, "strain")
        status, _, err = run(capsys, "strain", "--binary", "6e5,4e5,0,nan,2", "-o", str(tmp_path / "s.png"))
        assert status == 2 and "nan is not a value" in one_error_line(err, "strain")

    def test_bad_noise_and_library(self, tmp_path, good, capsys):
        status, _, err = run(capsys, "snr", str(good), "--noise", "nosuchcurve", "-q")
        assert status == 2 and "neither a noise curve" in one_error_line(err)
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
    ])
    def test_unusable_outputs(self, tmp_path, good, capsys, command, target, words):
        argv = [command] + ([str(good)] if command in ("snr", "strain") else []) + ["-o", target.format(d=tmp_path)]
        status, _, err = run(capsys, *argv, "-q")
        assert status == 2 and words in one_error_line(err, command)

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
