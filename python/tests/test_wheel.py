"""The wheel: built from a copy of the working tree (nothing reused from the
checkout's build directories), installed into a fresh virtual environment,
and used from outside the source tree with a clean environment (no
PHENOMD_LIBRARY, no PYTHONPATH): `phenomd --version`, `phenomd snr` on a
three-row catalog and `phenomd.binary_snr` must work from the modules
inside the installed package and agree with this checkout's package and
module.

Takes about a minute (a CMake build of the three modules); skipped where
cmake, Debian's python3-build or python3-venv are missing, or with
`-m "not wheel"`.
"""

import csv
import json
import shutil
import subprocess
import zipfile
from pathlib import Path

import pytest

import phenomd
from conftest import REPO
from phenomd import cli

SYSTEM_PYTHON = "/usr/bin/python3"


def _has_module(name):
    if not Path(SYSTEM_PYTHON).exists():
        return False
    probe = subprocess.run([SYSTEM_PYTHON, "-c", f"import {name}"], capture_output=True)
    return probe.returncode == 0


pytestmark = [
    pytest.mark.wheel,
    pytest.mark.needs_library,  # the reference values come from this checkout's module
    pytest.mark.skipif(shutil.which("cmake") is None, reason="cmake not installed"),
    pytest.mark.skipif(not _has_module("build"), reason="python3-build not installed"),
    pytest.mark.skipif(not _has_module("ensurepip"), reason="python3-venv not installed"),
]

CATALOG = """\
name,m1,m2,spin1,spin2,redshift,t_start,t_end
a,5e5,5e5,0,0,1.0,4,0
b,9e3,1e3,0.9,-0.5,3.0,2,0
c,2e7,4e6,0.5,0.5,0.5,10,1
"""

BINARY = dict(m1=6e5, m2=4e5, spin1=0.5, spin2=0.2, distance=None, redshift=2.0, t_start=4.0)

RESULTS = ("snr_all", "snr_ins", "snr_mrg", "snr_rd", "f_merger_start", "f_ringdown_start")


def _copy_tree(dest):
    """The files git would commit (tracked or new, not ignored) into dest:
    what a fresh clone of this working tree holds."""
    try:
        listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                                cwd=REPO, capture_output=True, check=True).stdout
    except (OSError, subprocess.CalledProcessError):
        pytest.skip("the source tree is not a git checkout")
    for name in filter(None, listed.decode().split("\0")):
        src = REPO / name
        if src.is_file():
            (dest / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(src, dest / name)


def _read(path):
    """(provenance lines "key: value" from the sidecar, rows) of a CSV output."""
    import json

    with open(path, newline="") as fh:
        rows = list(csv.DictReader(fh))
    prov = json.loads(Path(str(path) + ".meta.json").read_text())["provenance"]
    return [f"{k}: {v}" for k, v in prov.items()], rows


@pytest.fixture(scope="module")
def installed(tmp_path_factory):
    """(venv, clean environment, wheel) once per run."""
    root = tmp_path_factory.mktemp("wheel")
    src, dist, venv, home = root / "src", root / "dist", root / "venv", root / "home"
    src.mkdir()
    home.mkdir()
    _copy_tree(src)
    build = subprocess.run([SYSTEM_PYTHON, "-m", "build", "--wheel", "--no-isolation", "--outdir", str(dist)],
                           cwd=src, capture_output=True, text=True, timeout=1200)
    assert build.returncode == 0, build.stdout[-4000:] + build.stderr[-4000:]
    (wheel,) = dist.glob("*.whl")
    subprocess.run([SYSTEM_PYTHON, "-m", "venv", "--system-site-packages", str(venv)], check=True, timeout=300)
    # No PHENOMD_*, no PYTHONPATH, and no pip configuration of this machine.
    env = {"PATH": f"{venv / 'bin'}:/usr/bin:/bin", "HOME": str(home), "LANG": "C.UTF-8",
           "PIP_CONFIG_FILE": "/dev/null"}
    pip = subprocess.run([str(venv / "bin" / "python"), "-m", "pip", "install", "--no-index", "-q", str(wheel)],
                         cwd=home, env=env, capture_output=True, text=True, timeout=300)
    assert pip.returncode == 0, pip.stdout + pip.stderr
    return venv, env, wheel


def _run(installed, *args):
    _, env, _ = installed
    done = subprocess.run(list(args), cwd=env["HOME"], env=env, capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr
    return done.stdout


def test_wheel_is_platform_specific_and_holds_modules_data_and_version(installed):
    _, _, wheel = installed
    version = (REPO / "VERSION").read_text().strip()
    assert wheel.name.startswith(f"phenomd-{version}-py3-none-linux_")
    names = set(zipfile.ZipFile(wheel).namelist())
    shipped = {"phenomd/VERSION", "phenomd/_lib/libphenomd.so", "phenomd/_lib/libphenomd_population.so"}
    shipped |= {f"phenomd/data/{p.name}" for p in (REPO / "python" / "phenomd" / "data").iterdir()}
    assert shipped <= names


def test_version_is_the_root_file(installed):
    venv, _, _ = installed
    version = (REPO / "VERSION").read_text().strip()
    assert _run(installed, str(venv / "bin" / "phenomd"), "--version").strip() == f"phenomd {version}"
    assert phenomd.__version__ == version


def test_snr_command_uses_the_installed_modules_and_agrees_with_the_checkout(installed, tmp_path):
    venv, env, _ = installed
    catalog = Path(env["HOME"]) / "catalog.csv"
    catalog.write_text(CATALOG)
    _run(installed, str(venv / "bin" / "phenomd"), "snr", "catalog.csv", "-o", "out.csv", "--method", "trapezoid",
         "--length", "300", "-q")
    meta, rows = _read(Path(env["HOME"]) / "out.csv")
    modules = [line for line in meta if "libphenomd" in line]
    assert modules and all(str(venv) in line for line in modules), meta
    # The same command with this checkout's package and module.
    (tmp_path / "catalog.csv").write_text(CATALOG)
    assert cli.main(["snr", str(tmp_path / "catalog.csv"), "-o", str(tmp_path / "ref.csv"),
                     "--method", "trapezoid", "--length", "300", "-q"]) == 0
    _, ref = _read(tmp_path / "ref.csv")
    assert [r["name"] for r in rows] == ["a", "b", "c"]
    for row, expected in zip(rows, ref):
        for column in RESULTS:
            assert float(row[column]) == pytest.approx(float(expected[column]), rel=1e-12, abs=0), column


def test_binary_snr_from_python_uses_the_installed_modules(installed, library_path):
    venv, _, _ = installed
    script = (
        "import json, phenomd\n"
        "from phenomd import _population\n"
        f"r = phenomd.binary_snr(**{BINARY!r})\n"
        "print(json.dumps(dict(snr=[float(x) for x in (r.snr_all, r.snr_ins, r.snr_mrg, r.snr_rd)],\n"
        "    library=phenomd.load_library().path, population=_population.load_population().path)))\n"
    )
    got = json.loads(_run(installed, str(venv / "bin" / "python"), "-c", script))
    assert Path(got["library"]).parent.name == "_lib" and got["library"].startswith(str(venv))
    assert got["population"].startswith(str(venv))
    r = phenomd.binary_snr(**BINARY, library=library_path)
    assert got["snr"] == pytest.approx([r.snr_all, r.snr_ins, r.snr_mrg, r.snr_rd], rel=1e-12, abs=0)
