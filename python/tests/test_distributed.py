"""The Dask front end on a real cluster: a LocalCluster of two worker
processes (and, once, a scheduler and worker started from the command line).

Reference values are independent computations in the test: ``binary_snr``
on the whole catalog in this process, whose results the cluster must
reproduce bitwise.
"""

import contextlib
import ipaddress
import json
import os
import signal
import socket
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

pytest.importorskip("dask.dataframe")
distributed = pytest.importorskip("distributed")
pd = pytest.importorskip("pandas")

import phenomd  # noqa: E402
from phenomd import distributed as pdist  # noqa: E402
from phenomd import noise  # noqa: E402

try:
    phenomd.load_library(fast=True)
    phenomd.load_library(fast=False)
except phenomd.LibraryNotFoundError as exc:  # pragma: no cover - depends on the build
    pytest.skip(f"C modules not found: {exc}", allow_module_level=True)

LENGTH = 120
RESULTS = ("distance",) + pdist.RESULT_COLUMNS


@pytest.fixture(scope="module")
def client():
    import cloudpickle

    # Workers unpickle this module's test-only noise by value.
    cloudpickle.register_pickle_by_value(sys.modules[__name__])
    cluster = distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                       dashboard_address=None)
    c = distributed.Client(cluster, set_as_default=False)
    yield c
    c.close()
    cluster.close()
    cloudpickle.unregister_pickle_by_value(sys.modules[__name__])


def make_catalog(n, seed=3):
    """A catalog with names, some explicit distances and start times and
    some left empty (the package fills them), one inverted band."""
    rng = np.random.default_rng(seed)
    df = pd.DataFrame({
        "name": [f"bbh{i:04d}" for i in range(n)],
        "m1": 10 ** rng.uniform(4, 7, n),
        "spin1": rng.uniform(-0.95, 0.95, n),
        "spin2": rng.uniform(-0.95, 0.95, n),
        "redshift": rng.uniform(0.2, 8, n),
    })
    df["m2"] = df["m1"] * 10 ** rng.uniform(-1.5, 0.3, n)  # mass ratios up to 32
    dist = 10 ** rng.uniform(3, 5, n)
    dist[rng.random(n) < 0.5] = np.nan
    df["distance"] = dist
    ts = rng.uniform(0.5, 5, n)
    ts[rng.random(n) < 0.3] = np.nan
    df["t_start"] = ts
    df["t_end"] = 0.0
    df.loc[1, "t_end"] = 10.0  # ends before it starts: the module's sentinel row
    return df


def reference(df, t_start=4.0, **kw):
    """binary_snr in this process on the whole catalog; rows without a
    distance get binary_snr's own distance from the redshift."""
    kw.setdefault("length", LENGTH)
    kw.setdefault("method", "trapezoid")
    ts = df["t_start"].fillna(t_start).to_numpy()
    from_z = phenomd.binary_snr(df.m1, df.m2, df.spin1, df.spin2, None, df.redshift, ts, df.t_end, **kw)
    dist = np.where(df["distance"].isna(), from_z.distance, df["distance"])
    return phenomd.binary_snr(df.m1, df.m2, df.spin1, df.spin2, dist, df.redshift, ts, df.t_end, **kw)


def read_parts(summary):
    """The partition files of a Summary (or a list of files), concatenated."""
    frames = []
    for f in getattr(summary, "files", summary):
        cols, _ = pdist._read_table(f)
        # numpy's own str -> float conversion is exact (pandas' to_numeric
        # is not always).
        frames.append(pd.DataFrame({k: np.asarray(v) if k == "name" else np.asarray(
            ["nan" if x == "" else x for x in v] if isinstance(v, list) else v).astype(np.float64)
                                    for k, v in cols.items()}))
    return pd.concat(frames, ignore_index=True)


def assert_matches(got, df, ref):
    assert list(got["name"]) == list(df["name"])
    for c in RESULTS:
        np.testing.assert_array_equal(np.asarray(got[c], dtype=np.float64), getattr(ref, c), err_msg=c)
    np.testing.assert_array_equal(np.asarray(got["n_outside"], dtype=np.int64), ref.n_outside)


def write_csv(df, path):
    df.to_csv(path, index=False, float_format=None)
    return str(path)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class SlowLISA:
    """LISA's curve, returned after a pause: makes each partition last long
    enough for a worker to be killed in the middle of it."""

    def __init__(self, delay):
        self.delay = delay
        self.curve = noise.LISA(4)

    def __call__(self, f):
        time.sleep(self.delay)
        return self.curve(f)

    def __repr__(self):
        return f"SlowLISA({self.delay})"


# ------------------------------------------------------------ same results


def test_cluster_reproduces_binary_snr_bitwise(client, tmp_path):
    df = make_catalog(700)
    src = write_csv(df, tmp_path / "cat.csv")
    s = pdist.snr_catalog(src, tmp_path / "out", client=client, partition_size=150, method="trapezoid", length=LENGTH,
                          progress=False, fast=True)
    assert s.partitions >= 4 and s.computed == s.partitions and s.binaries == 700
    got = read_parts(s)
    ref = reference(df, fast=True)
    assert_matches(got, df, ref)
    # The band that ends before it starts is flagged; calibration flags
    # follow the model's range (mass ratio 18, |spin| 0.85).
    assert int(got["inverted"][1]) == 1 and ref.snr_all[1] == 0.0
    q = np.maximum(df.m1 / df.m2, df.m2 / df.m1)
    expect = (q > 18) | (df.spin1.abs() > 0.85) | (df.spin2.abs() > 0.85)
    np.testing.assert_array_equal(np.asarray(got["uncalibrated"], dtype=bool), expect.to_numpy())
    assert s.n_inverted >= 1 and s.n_uncalibrated == int(expect.sum())
    # Each file names how it was made.
    _, prov = pdist._read_table(s.files[0])
    assert prov["module_kind"] == "fast" and prov["length"] == str(LENGTH) and prov["partition"] == "0"


def test_dataframe_hdf5_exact_module_and_cosmology(client, tmp_path):
    """Lazy snr_dataframe and snr_catalog from an HDF5 catalog into HDF5
    parts, the exact module, a cosmology object and a file noise curve
    pickled to the workers."""
    import dask.dataframe as dd
    from astropy.cosmology import WMAP9

    pytest.importorskip("h5py")
    df = make_catalog(300, seed=5)
    f = np.geomspace(1e-5, 0.5, 400)
    curve_file = tmp_path / "curve.txt"
    np.savetxt(curve_file, np.column_stack([f, noise.lisa(f)]))
    curve = noise.from_file(str(curve_file), "hn")
    ref = reference(df, fast=False, cosmology=WMAP9, noise=curve)

    lazy = pdist.snr_dataframe(dd.from_pandas(df, npartitions=3), fast=False, cosmology=WMAP9, noise=curve,
                               method="trapezoid", length=LENGTH)
    got = client.compute(lazy).result().sort_index()
    assert_matches(got, df, ref)

    import inspect

    if "inclination" in inspect.signature(phenomd.binary_snr).parameters:
        # One inclination angle for the whole run (radians).
        tilted = client.compute(pdist.snr_dataframe(dd.from_pandas(df, npartitions=2), fast=False,
                                                    cosmology=WMAP9, noise=curve, method="trapezoid", length=LENGTH,
                                                    inclination=0.3)).result().sort_index()
        assert_matches(tilted, df, reference(df, fast=False, cosmology=WMAP9, noise=curve, inclination=0.3))
        assert not np.array_equal(tilted["snr_all"].to_numpy(), got["snr_all"].to_numpy())

    import h5py

    src = tmp_path / "cat.h5"
    # HDF5 has no empty cells (NaN is refused, as by the serial reader):
    # the distances and start times the reference used, given explicitly.
    filled = df.assign(distance=ref.distance, t_start=df["t_start"].fillna(4.0))
    with h5py.File(src, "w") as h:
        for c in filled.columns:
            h[c] = filled[c].to_numpy() if c != "name" else filled[c].to_numpy().astype("S")
    s = pdist.snr_catalog(str(src), tmp_path / "out", client=client, partition_size=100, format="h5",
                          fast=False, cosmology=WMAP9, noise=curve, method="trapezoid", length=LENGTH, progress=False)
    assert [os.path.basename(p) for p in s.files] == ["part-00000.h5", "part-00001.h5", "part-00002.h5"]
    assert_matches(read_parts(s), df, ref)


# ------------------------------------------------------------------ resume


def test_resume_recomputes_only_missing_or_damaged_partitions(client, tmp_path):
    df = make_catalog(600, seed=7)
    src = write_csv(df, tmp_path / "cat.csv")
    out = tmp_path / "out"
    kw = dict(client=client, partition_size=100, method="trapezoid", length=LENGTH, progress=False)
    first = pdist.snr_catalog(src, out, **kw)
    n = first.partitions
    assert n >= 4
    before = read_parts(first)

    # Same command again: nothing to do.
    again = pdist.snr_catalog(src, out, **kw)
    assert (again.computed, again.reused) == (0, n)

    # One file removed, one cut short, one with a flipped byte.
    os.unlink(first.files[0])
    with open(first.files[1], "r+b") as fh:
        fh.truncate(os.path.getsize(first.files[1]) // 2)
    with open(first.files[2], "r+b") as fh:
        fh.seek(os.path.getsize(first.files[2]) - 5)
        fh.write(b"9")
    third = pdist.snr_catalog(src, out, **kw)
    assert (third.computed, third.reused) == (3, n - 3)
    assert_matches(read_parts(third), df, reference(df, fast=True))
    pd.testing.assert_frame_equal(read_parts(third), before)

    # Without the manifest (or with one cut short) the files are checked
    # by their own provenance.
    os.unlink(out / pdist.MANIFEST)
    fourth = pdist.snr_catalog(src, out, **kw)
    assert (fourth.computed, fourth.reused) == (0, n)
    text = (out / pdist.MANIFEST).read_text()
    (out / pdist.MANIFEST).write_text(text[: len(text) // 2])
    cut = fourth.files[-1]
    with open(cut, "r+b") as fh:  # whole lines gone: only the row count tells
        lines = fh.read().splitlines(keepends=True)
        fh.seek(0)
        fh.truncate()
        fh.writelines(lines[:-3])
    fifth = pdist.snr_catalog(src, out, **kw)
    assert (fifth.computed, fifth.reused) == (1, n - 1)
    pd.testing.assert_frame_equal(read_parts(fifth), before)

    # A run still holding the directory keeps a second one out.
    import fcntl

    with open(out / "manifest.lock", "a") as held:
        fcntl.flock(held, fcntl.LOCK_EX)
        with pytest.raises(pdist.CatalogBusyError, match="another run is writing"):
            pdist.snr_catalog(src, out, **kw)

    # Other options into the same directory: refused unless overwritten.
    with pytest.raises(pdist.CatalogMismatchError, match="other options"):
        pdist.snr_catalog(src, out, fast=False, **kw)
    redo = pdist.snr_catalog(src, out, fast=False, overwrite=True, **kw)
    assert (redo.computed, redo.reused) == (n, 0)
    assert_matches(read_parts(redo), df, reference(df, fast=False))


def test_resume_knows_inputs_by_content(client, tmp_path):
    df = make_catalog(60, seed=23)
    src = write_csv(df, tmp_path / "cat.csv")
    out = tmp_path / "out"
    kw = dict(client=client, partition_size=30, method="trapezoid", length=LENGTH, progress=False)
    first = pdist.snr_catalog(src, out, **kw)
    n = first.partitions
    # Damaged manifest records (not an object; without rows): each file is
    # judged on its own provenance, as without a manifest.
    manifest = json.loads((out / pdist.MANIFEST).read_text())
    keys = sorted(manifest["partitions"])
    manifest["partitions"][keys[0]] = "tampered"
    del manifest["partitions"][keys[1]]["rows"]
    (out / pdist.MANIFEST).write_text(json.dumps(manifest))
    again = pdist.snr_catalog(src, out, **kw)
    assert (again.computed, again.reused, again.binaries) == (0, n, 60)
    assert again.damaged == (int(keys[0]), int(keys[1])) and "were damaged" in again.line()
    # One digit of one mass changed in place, size and modification time
    # kept: other inputs, not a resume.
    st = os.stat(src)
    text = open(src).read()
    head, first_row = text.split("\n")[:2]
    col = head.split(",").index("m1")
    cell = first_row.split(",")[col]
    digit = "2" if cell[0] != "2" else "3"
    edited = text.replace(first_row, first_row.replace(cell, digit + cell[1:], 1), 1)
    assert len(edited) == len(text) and edited != text
    with open(src, "w") as fh:
        fh.write(edited)
    os.utime(src, ns=(st.st_atime_ns, st.st_mtime_ns))
    with pytest.raises(pdist.CatalogMismatchError, match="other inputs"):
        pdist.snr_catalog(src, out, **kw)


def test_interrupt_keeps_finished_partitions(client, tmp_path):
    df = make_catalog(800, seed=11)
    src = write_csv(df, tmp_path / "cat.csv")
    out = tmp_path / "out"
    k = 2

    def stop_after_k(done, total):  # Ctrl-C as partitions finish
        if done >= k:
            raise KeyboardInterrupt

    kw = dict(client=client, partition_size=100, method="trapezoid", length=LENGTH, noise=SlowLISA(0.2), fast=True)
    with pytest.raises(KeyboardInterrupt):
        pdist.snr_catalog(src, out, progress=stop_after_k, **kw)
    manifest = json.loads((out / pdist.MANIFEST).read_text())
    kept = manifest["partitions"]
    assert len(kept) >= k
    for entry in kept.values():
        assert pdist._sha256(str(out / entry["file"])) == entry["sha256"]
    # Partitions cancelled while running may still land; wait for the
    # workers to go idle before resuming.
    deadline = time.monotonic() + 30
    while any(client.processing().values()) and time.monotonic() < deadline:
        time.sleep(0.1)

    s = pdist.snr_catalog(src, out, progress=False, **kw)
    assert s.reused >= k and s.computed + s.reused == s.partitions
    ref = reference(df, fast=True, noise=SlowLISA(0.0))  # the same curve, evaluated alike
    got = read_parts(s)
    assert list(got["name"]) == list(df["name"])
    for c in RESULTS:
        np.testing.assert_array_equal(got[c].to_numpy(dtype=np.float64), getattr(ref, c), err_msg=c)
    assert not [p for p in os.listdir(out) if p.startswith(".")]


def test_ctrl_c_keeps_finished_partitions_nothing_half_written(client, tmp_path):
    """SIGINT to a process running its own LocalCluster, once some
    partitions are done; the same run resumed afterwards."""
    df = make_catalog(1000, seed=23)
    src = write_csv(df, tmp_path / "cat.csv")
    out = tmp_path / "out"
    script = tmp_path / "run.py"
    script.write_text(f"""
import signal
import time
from phenomd import noise
from phenomd.distributed import snr_catalog

# Ctrl-C as in a terminal, even where this test runs as a background job
# (which starts with SIGINT ignored).
signal.signal(signal.SIGINT, signal.default_int_handler)

class SlowLISA:
    def __init__(self, delay):
        self.delay, self.curve = delay, noise.LISA(4)
    def __call__(self, f):
        time.sleep(self.delay)
        return self.curve(f)
    def __repr__(self):
        return f"SlowLISA({{self.delay}})"

if __name__ == "__main__":
    snr_catalog({src!r}, {str(out)!r}, workers=2, partition_size=100, method="trapezoid", length={LENGTH},
                noise=SlowLISA(0.4), progress=False)
""")
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([os.path.dirname(os.path.dirname(phenomd.__file__)),
                                         env.get("PYTHONPATH", "")])
    proc = subprocess.Popen([sys.executable, str(script)], env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE)
    try:
        deadline = time.monotonic() + 90
        while time.monotonic() < deadline and proc.poll() is None:
            try:
                if json.loads((out / pdist.MANIFEST).read_text())["partitions"]:
                    break
            except (OSError, ValueError, KeyError):
                pass
            time.sleep(0.1)
        assert proc.poll() is None, proc.stderr.read().decode()[-2000:]
        proc.send_signal(signal.SIGINT)
        _, err = proc.communicate(timeout=90)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    assert proc.returncode != 0 and b"KeyboardInterrupt" in err
    kept = json.loads((out / pdist.MANIFEST).read_text())["partitions"]
    n_parts = json.loads((out / pdist.MANIFEST).read_text())["npartitions"]
    assert 1 <= len(kept) < n_parts
    for entry in kept.values():
        assert pdist._sha256(str(out / entry["file"])) == entry["sha256"]
    for name in os.listdir(out):  # every partition file there is whole
        if pdist._PART_RE.match(name):
            cols, prov = pdist._read_table(str(out / name))
            if "rows" in prov:
                assert {len(v) for v in cols.values()} == {int(prov["rows"])}
            else:  # stopped between the table and its sidecar: not kept, recomputed
                assert name not in {e["file"] for e in kept.values()}

    s = pdist.snr_catalog(src, out, client=client, partition_size=100, method="trapezoid", length=LENGTH, noise=SlowLISA(0.4),
                          progress=False)
    assert s.reused >= len(kept) and s.computed + s.reused == s.partitions == n_parts
    got = read_parts(s)
    assert list(got["name"]) == list(df["name"])
    ref = reference(df, fast=True, noise=SlowLISA(0.0))
    for c in RESULTS:
        np.testing.assert_array_equal(got[c].to_numpy(dtype=np.float64), getattr(ref, c), err_msg=c)


# ------------------------------------------------------------------ faults


def test_killed_worker_every_binary_exactly_once(client, tmp_path):
    df = make_catalog(800, seed=13)
    src = write_csv(df, tmp_path / "cat.csv")
    result = {}

    def run():
        try:
            result["summary"] = pdist.snr_catalog(src, tmp_path / "out", client=client, partition_size=100,
                                                  method="trapezoid", length=LENGTH, noise=SlowLISA(0.6), progress=False)
        except BaseException as exc:  # reported below
            result["error"] = exc

    t = threading.Thread(target=run)
    t.start()
    # Kill (SIGKILL) a worker process while it is running a partition.
    pids = client.run(os.getpid)
    victim = None
    deadline = time.monotonic() + 60
    while victim is None and time.monotonic() < deadline and t.is_alive():
        busy = [w for w, tasks in client.processing().items() if any("write_partition" in str(k) for k in tasks)]
        if busy:
            victim = busy[0]
        else:
            time.sleep(0.05)
    assert victim is not None, "no partition ever ran"
    time.sleep(0.2)
    os.kill(pids[victim], signal.SIGKILL)
    t.join(120)
    assert not t.is_alive()
    assert "error" not in result, result.get("error")
    s = result["summary"]
    got = read_parts(s)
    assert sorted(got["name"]) == sorted(df["name"]) and len(got) == len(df)
    ref = reference(df, fast=True, noise=SlowLISA(0.0))  # the same curve, evaluated alike
    for c in RESULTS:
        np.testing.assert_array_equal(got[c].to_numpy(dtype=np.float64), getattr(ref, c), err_msg=c)
    assert not [p for p in os.listdir(tmp_path / "out") if p.startswith(".")]
    client.wait_for_workers(2, timeout=60)  # the nanny restarts it for the next tests


def test_unreachable_scheduler_is_a_clear_error(tmp_path):
    src = write_csv(make_catalog(10), tmp_path / "cat.csv")
    address = f"tcp://127.0.0.1:{free_port()}"
    with pytest.raises(pdist.SchedulerUnreachableError, match="no Dask scheduler answered at " + address):
        pdist.snr_catalog(src, tmp_path / "out", scheduler=address, timeout=1.5, progress=False)


def test_worker_without_module_reports_where_it_looked(client, tmp_path):
    src = write_csv(make_catalog(20), tmp_path / "cat.csv")
    missing = str(tmp_path / "nowhere" / "libphenomd_fast.so")
    with pytest.raises(phenomd.LibraryNotFoundError) as info:
        pdist.snr_catalog(src, tmp_path / "out", client=client, library=missing, method="trapezoid", length=LENGTH, progress=False)
    assert isinstance(info.value, pdist.WorkerLibraryNotFoundError)
    text = str(info.value)
    assert "on worker tcp://" in text and missing in text and "could not load" in text


def test_bad_row_names_partition_and_binary(client, tmp_path):
    df = make_catalog(300, seed=17)
    df.loc[250, "m1"] = -1.0
    src = write_csv(df, tmp_path / "cat.csv")
    with pytest.raises(pdist.CatalogError, match=r"partition \d+, row \d+ \(bbh0250\): m1\[\d+\] = -1.0") as info:
        pdist.snr_catalog(src, tmp_path / "out", client=client, partition_size=100, method="trapezoid", length=LENGTH,
                          progress=False)
    # Partitions finished before the fault are kept, the faulty one is not.
    kept = json.loads((tmp_path / "out" / pdist.MANIFEST).read_text())["partitions"]
    assert str(info.value.partition) not in kept
    for entry in kept.values():
        assert pdist._sha256(str(tmp_path / "out" / entry["file"])) == entry["sha256"]


def test_catalog_columns_checked_before_any_work(tmp_path):
    src = tmp_path / "cat.csv"
    src.write_text("m1,m2,spin1\n1e5,1e4,0.1\n")
    with pytest.raises(pdist.CatalogError, match="lacks column.*redshift"):
        pdist.snr_catalog(str(src), tmp_path / "out", workers=1, progress=False)
    assert not (tmp_path / "out").exists()


from test_tables import BAD_CSV, H5_CASES, write_h5_case  # noqa: E402

BAD = [("csv", i) for i in range(len(BAD_CSV))] + [("h5", name) for name in H5_CASES]


@pytest.mark.parametrize("kind, which", BAD, ids=[f"{k}-{w}" for k, w in BAD])
def test_every_bad_catalog_is_refused_as_serially(client, tmp_path, kind, which):
    # The Dask reader (dd.read_csv with comment='#') used to accept most of
    # these; now each block goes through the serial reader's own checks.
    from phenomd.tables import TableError, read_catalog

    if kind == "csv":
        path = tmp_path / "bad.csv"
        path.write_text(BAD_CSV[which][0])
    else:
        path = tmp_path / "bad.h5"
        write_h5_case(path, which)
    with pytest.raises(TableError) as serial:
        read_catalog(path)
    with pytest.raises(pdist.CatalogError) as dask:
        pdist.snr_catalog(str(path), tmp_path / "out", client=client, method="trapezoid", length=LENGTH, progress=False)
    assert str(serial.value).split("\n")[0] in str(dask.value)


def test_blocks_read_as_the_serial_reader(tmp_path):
    # '#' inside fields, quoted commas and line ends, comment rows, blank
    # lines and aliases, cut into blocks of about two rows: the same
    # columns, values and names as one serial read ('a#b' was cut to 'a').
    import re

    from phenomd.tables import TableError, read_catalog

    path = tmp_path / "c.csv"
    rows = ('a#b,1e6,5e5,1,0.5,\n"q,""x""\ny",2e6,1e6,2,,3000\n\n# a comment row\nc,3e5,1e5,0.5,-0.25,\n'
            '"#d",4e5,2e5,3,0.1,2e4\n')
    path.write_text("# made by hand\nname,mass1,m2,z,spin1,dL\n" + rows * 60)  # blocks of at least 1 KiB
    ddf, identity = pdist.read_catalog(str(path), partition_size=2)
    got = ddf.compute(scheduler="sync")
    cat = read_catalog(path)
    assert ddf.npartitions >= 5 and list(got.columns) == cat.header
    assert list(got["name"]) == list(cat.other["name"]) == ["a#b", 'q,"x"\ny', "c", "#d"] * 60
    for name, col in cat.numbers.items():
        np.testing.assert_array_equal(got[name].to_numpy(), col)
    assert identity["columns"] == "read mass1 as m1, z as redshift, dL as distance"
    with open(path, "a") as fh:  # a fault in the last block: the same file line as serially
        fh.write("e,1e6,x,1,0,\n")
    with pytest.raises(TableError) as serial:
        read_catalog(path)
    with pytest.raises(pdist.CatalogError, match=re.escape(str(serial.value))):
        pdist.read_catalog(str(path), partition_size=2)[0].compute(scheduler="sync")
    assert f"line {7 * 60 + 3}, column m2" in str(serial.value)


# ------------------------------------------------- command-line cluster


def test_scheduler_and_worker_started_from_the_command_line(tmp_path):
    """`dask scheduler` and `dask worker` as separate processes on
    loopback, as on a cluster's nodes; the catalog run reaches them by
    address."""
    port = free_port()
    address = f"tcp://127.0.0.1:{port}"
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([os.path.dirname(os.path.dirname(phenomd.__file__)),
                                         env.get("PYTHONPATH", "")])
    py = sys.executable
    procs = [subprocess.Popen([py, "-m", "distributed.cli.dask_scheduler", "--host", "127.0.0.1", "--port",
                               str(port), "--no-dashboard"], env=env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)]
    try:
        procs.append(subprocess.Popen([py, "-m", "distributed.cli.dask_worker", address, "--nthreads", "1",
                                       "--nworkers", "1", "--no-dashboard", "--host", "127.0.0.1"], env=env,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        with distributed.Client(address, timeout=60, set_as_default=False) as c:
            c.wait_for_workers(1, timeout=60)
        df = make_catalog(200, seed=19)
        src = write_csv(df, tmp_path / "cat.csv")
        s = pdist.snr_catalog(src, tmp_path / "out", scheduler=address, timeout=30, partition_size=100,
                              method="trapezoid", length=LENGTH, progress=False)
        assert s.scheduler == address and s.binaries == 200
        assert_matches(read_parts(s), df, reference(df, fast=True))

        # The command line against the same scheduler.
        cli = subprocess.run([py, "-m", "phenomd", "snr", src, "-o", str(tmp_path / "cli"), "--scheduler", address,
                              "--partition-size", "100", "--method", "trapezoid", "--length", str(LENGTH), "--fast", "--no-progress"],
                             env=env, capture_output=True, text=True, timeout=120)
        assert cli.returncode == 0, cli.stderr[-2000:]
        manifest = json.loads((tmp_path / "cli" / pdist.MANIFEST).read_text())
        files = [str(tmp_path / "cli" / e["file"]) for _, e in sorted(manifest["partitions"].items(),
                                                                      key=lambda kv: int(kv[0]))]
        assert len(files) == manifest["npartitions"] == s.partitions
        curve = noise.curve("lisa", years=4) if hasattr(noise, "curve") else noise.LISA(4)  # the CLI's default
        assert_matches(read_parts(files), df, reference(df, fast=True, noise=curve))
    finally:
        for p in reversed(procs):
            p.terminate()
        for p in reversed(procs):
            try:
                p.wait(30)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()


# ------------------------------------------------------- local exposure


def listening_sockets(root_pid):
    """(address, port) of every TCP socket listening in process root_pid or
    its descendants, from /proc: the processes' socket inodes matched
    against /proc/net/tcp and tcp6 (state 0A: LISTEN)."""
    children = {}
    for d in os.listdir("/proc"):
        if d.isdigit():
            try:
                with open(f"/proc/{d}/stat") as fh:
                    ppid = int(fh.read().rsplit(")", 1)[1].split()[1])
            except (OSError, IndexError, ValueError):
                continue
            children.setdefault(ppid, []).append(int(d))
    pids, todo = set(), [root_pid]
    while todo:
        p = todo.pop()
        pids.add(p)
        todo.extend(children.get(p, []))
    inodes = set()
    for p in pids:
        try:
            for fd in os.listdir(f"/proc/{p}/fd"):
                with contextlib.suppress(OSError):
                    link = os.readlink(f"/proc/{p}/fd/{fd}")
                    if link.startswith("socket:["):
                        inodes.add(link[8:-1])
        except OSError:
            continue
    found = set()
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        with open(table) as fh:
            next(fh)
            for line in fh:
                f = line.split()
                if f[3] == "0A" and f[9] in inodes:
                    addr, port = f[1].split(":")
                    raw = bytes.fromhex(addr)
                    # /proc prints each 32-bit word in host (little-endian) order.
                    words = b"".join(raw[i:i + 4][::-1] for i in range(0, len(raw), 4))
                    found.add((str(ipaddress.ip_address(words)), int(port, 16)))
    return found


def test_local_cluster_listens_on_loopback_only(tmp_path):
    """`phenomd snr --workers 2`: every socket of the run's processes that
    listens (scheduler, nannies, workers, HTTP servers) is on 127.0.0.1,
    sampled while the run goes on; no dashboard port asked for."""
    src = write_csv(make_catalog(400, seed=5), tmp_path / "cat.csv")
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(phenomd.__file__)))
    proc = subprocess.Popen([sys.executable, "-m", "phenomd", "snr", src, "-o", str(tmp_path / "out"), "--workers",
                             "2", "--partition-size", "50", "--method", "trapezoid", "--length", "4000", "--no-progress"], env=env,
                            stderr=subprocess.PIPE, text=True)
    seen = set()
    try:
        while proc.poll() is None:
            seen |= listening_sockets(proc.pid)
            time.sleep(0.2)
    finally:
        _, err = proc.communicate(timeout=120)
    assert proc.returncode == 0, err[-2000:]
    assert seen, "no listening socket seen during the run"
    assert {a for a, _ in seen} == {"127.0.0.1"}, seen
    assert "8787" not in err and "Traceback" not in err


def test_external_scheduler_without_workers(tmp_path):
    """A scheduler with no worker: one error line after --timeout naming it
    and saying that no worker joined (it used to wait forever)."""
    port = free_port()
    address = f"tcp://127.0.0.1:{port}"
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(phenomd.__file__)))
    py = sys.executable
    sched = subprocess.Popen([py, "-m", "distributed.cli.dask_scheduler", "--host", "127.0.0.1", "--port", str(port),
                              "--no-dashboard"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        src = write_csv(make_catalog(20, seed=29), tmp_path / "cat.csv")
        t0 = time.monotonic()
        cli = subprocess.run([py, "-m", "phenomd", "snr", src, "-o", str(tmp_path / "cli"), "--scheduler", address,
                              "--timeout", "3", "--no-progress"], env=env, capture_output=True, text=True, timeout=120)
        lines = [line for line in cli.stderr.splitlines() if line.strip()]
        assert cli.returncode == 2 and len(lines) == 1, cli.stderr[-2000:]
        assert f"the Dask scheduler at {address} answered, but no worker joined it within 3 s" in lines[0]
        assert time.monotonic() - t0 < 60
        # A malformed address: one line at once, no retrying client.
        bad = subprocess.run([py, "-m", "phenomd", "snr", src, "-o", str(tmp_path / "bad"), "--scheduler",
                              "127.0.0.1:notaport"], env=env, capture_output=True, text=True, timeout=60)
        lines = [line for line in bad.stderr.splitlines() if line.strip()]
        assert bad.returncode == 2 and len(lines) == 1 and "not a Dask scheduler address" in lines[0], bad.stderr
    finally:
        sched.kill()
        sched.wait()


def test_killed_external_scheduler_is_named(tmp_path):
    """The external scheduler killed mid-run: the error says the scheduler
    went away (it used to be a bare CancelledError of a task key), and
    under the CLI's quiet_dask_logs nothing else is printed (Dask's client
    logged its failed reconnections with tracebacks before that line)."""
    script = tmp_path / "run.py"
    script.write_text('''
import socket, subprocess, sys, time
from phenomd import noise
from phenomd.distributed import snr_catalog
from phenomd.cli._runtime import quiet_dask_logs

class SlowLISA:
    def __init__(self, delay):
        self.delay, self.curve = delay, noise.LISA(4)
    def __call__(self, f):
        time.sleep(self.delay)
        return self.curve(f)
    def __repr__(self):
        return f"SlowLISA({self.delay})"

s = socket.socket(); s.bind(("127.0.0.1", 0)); port = s.getsockname()[1]; s.close()
address = f"tcp://127.0.0.1:{port}"
procs = [subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_scheduler", "--host", "127.0.0.1", "--port",
                           str(port), "--no-dashboard"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)]
procs.append(subprocess.Popen([sys.executable, "-m", "distributed.cli.dask_worker", address, "--nthreads", "1",
                               "--nworkers", "1", "--no-dashboard", "--host", "127.0.0.1"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))

def progress(done, total):
    if done == 1:
        procs[0].kill()

try:
    with quiet_dask_logs():
        snr_catalog(sys.argv[1], sys.argv[2], scheduler=address, timeout=60, partition_size=10, method="trapezoid",
                    length=120, noise=SlowLISA(0.3), progress=progress)
    print("finished")
except Exception as exc:
    print("ERROR", type(exc).__name__, exc, address)
finally:
    for p in procs:
        p.kill()
''')
    src = write_csv(make_catalog(300, seed=31), tmp_path / "cat.csv")
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.dirname(phenomd.__file__)))
    run = subprocess.run([sys.executable, str(script), src, str(tmp_path / "out")], env=env, capture_output=True,
                         text=True, timeout=240)
    line = run.stdout.strip().splitlines()[-1]
    address = line.rsplit(" ", 1)[-1]
    assert line.startswith("ERROR SchedulerUnreachableError partition"), run.stdout + run.stderr[-2000:]
    assert f"was cancelled by the Dask scheduler at {address}: it stopped or the connection to it was lost" in line
    assert "Traceback" not in run.stderr, run.stderr[-2000:]
