"""The command-line tool end to end."""

import csv
import os
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import phenomd

PYTHON_DIR = Path(__file__).resolve().parents[1]


def run(*args, cwd):
    env = dict(os.environ, PYTHONPATH=str(PYTHON_DIR))
    return subprocess.run([sys.executable, "-m", "phenomd", *args], cwd=cwd,
                          env=env, capture_output=True, text=True, check=True)


def test_snr_reads_a_csv_and_writes_the_ratios(tmp_path):
    inp = tmp_path / "in.csv"
    inp.write_text("m1,m2,spin1,spin2,redshift,distance,t_start\n"
                   "5e5,5e5,0,0,1.0,6791.0,4\n"
                   "9e3,1e3,0.9,-0.5,3.0,26016.0,4\n")
    run("snr", str(inp), "-o", "out.csv", "--length", "512", cwd=tmp_path)
    rows = list(csv.DictReader(open(tmp_path / "out.csv")))
    assert list(rows[0]) == ["m1", "m2", "spin1", "spin2", "redshift", "snr_all",
                             "snr_ins", "snr_mrg", "snr_rd", "f_merger_start",
                             "f_ringdown_start"]
    s, a = phenomd.snr_of_binaries(phenomd.noise.lisa, [5e5, 9e3], [5e5, 1e3],
                                   [0, 0.9], [0, -0.5], [6791.0, 26016.0],
                                   [1.0, 3.0], 4.0, length=512)
    for i, r in enumerate(rows):
        assert float(r["snr_all"]) == s.snr_all[i]
        assert float(r["f_ringdown_start"]) == a.f_ringdown_start[i]


def test_snr_without_input_runs_the_example_population(tmp_path):
    out = run("snr", "-o", "pop.csv", cwd=tmp_path)
    assert "200 binaries" in out.stdout
    rows = list(csv.DictReader(open(tmp_path / "pop.csv")))
    assert len(rows) == 200 and all(float(r["snr_all"]) > 0 for r in rows)


@pytest.mark.parametrize("command, extra", [
    ("waterfall", ["--points", "8"]),
    ("strain", ["--m1", "5e5", "5e7", "--m2", "5e5", "5e7"]),
])
def test_figures_are_pngs_of_the_expected_size(tmp_path, command, extra):
    import matplotlib.image
    run(command, "-o", "fig.png", *extra, cwd=tmp_path)
    img = matplotlib.image.imread(tmp_path / "fig.png")
    assert img.shape[:2] == (500, 700)
