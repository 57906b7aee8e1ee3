"""Table and figure files: formats by extension, round trips with their
provenance, atomic replacement, and the catalog reader's two paths and
its messages."""

import contextlib
import errno
import json
import os
import struct
import zlib

import numpy as np
import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from phenomd import tables
from phenomd.tables import TableError, read_catalog, read_table, save_figure, write_table

PROV = {"phenomd_version": "9.9", "noise": "LISA(years=4)", "command": "phenomd snr 'a b.csv'\nsecond line"}


def columns():
    # Doubles that a careless writer loses: a subnormal, -0.0, the largest
    # and smallest normals, non-finite values, a value needing 17 digits.
    return {
        "x": np.array([0.1, 5e-324, -0.0, 1.7976931348623157e308, 2.2250738585072014e-308, np.inf, -np.inf,
                       np.nan, 0.30000000000000004]),
        "k": np.arange(9, dtype=np.int64) - 4,
        "name": np.array(["a", "b,c", 'q"uote', "new\nline", "ünï ☉", " lead", "#hash", "", "z"], dtype=object),
    }


def same_floats(a, b):
    a, b = np.asarray(a, dtype=np.float64), np.asarray(b, dtype=np.float64)
    return a.shape == b.shape and np.array_equal(a.view(np.int64), b.view(np.int64))


class TestRoundTrip:
    @pytest.mark.parametrize("ext", [".csv", ".h5", ".hdf5", ".npz"])
    def test_values_and_provenance_come_back(self, tmp_path, ext):
        path = tmp_path / f"t{ext}"
        write_table(path, columns(), PROV)
        cols, prov = read_table(path)
        assert list(cols) == ["x", "k", "name"]  # column order kept
        assert same_floats(cols["x"], columns()["x"])  # bit for bit, -0.0 and the subnormal included
        assert np.array_equal(np.asarray(cols["k"], dtype=np.int64), columns()["k"])
        assert list(cols["name"]) == list(columns()["name"])
        assert prov == PROV  # newline in a value included

    def test_csv_layout_and_sidecar(self, tmp_path):
        # Plain readers load every CSV the package writes (the provenance
        # used to be leading '#' lines, which broke pandas.read_csv); it
        # lives in NAME.csv.meta.json, or in '#' lines only on request.
        import pandas as pd

        path = tmp_path / "t.csv"
        write_table(path, {"a": [1.5, 2.0], "b": np.array(["x", "y"])}, {"k": "v"})
        assert path.read_text() == "a,b\n1.5,x\n2.0,y\n"
        meta = json.loads((tmp_path / "t.csv.meta.json").read_text())
        assert meta["provenance"] == {"k": "v"} and meta["bytes"] == path.stat().st_size
        write_table(path, columns(), PROV)
        df = pd.read_csv(path, keep_default_na=False, na_values=[""])
        assert same_floats(df["x"].to_numpy(), columns()["x"])
        assert list(df["name"].fillna("")) == list(columns()["name"])
        plain = {k: v for k, v in columns().items() if k != "name"}  # genfromtxt knows no quoting
        write_table(path, plain, PROV)
        arr = np.genfromtxt(path, names=True, delimiter=",")
        assert same_floats(arr["x"], plain["x"]) and list(arr["k"]) == list(plain["k"])
        write_table(path, {"name": ["#x", "y"]}, {})  # a first cell quoted for its '#' is data, not a comment
        assert list(read_table(path)[0]["name"]) == ["#x", "y"]
        write_table(path, {"a": [1.5]}, {"k": "v"}, comments=True)
        assert path.read_text() == "# k: v\na\n1.5\n" and not (tmp_path / "t.csv.meta.json").exists()
        assert read_table(path)[1] == {"k": "v"}

    def test_blocks_do_not_change_the_text(self, tmp_path):
        rng = np.random.default_rng(3)
        cols = {"a": rng.normal(size=1001), "n": np.array([f"r{i}" for i in range(1001)], dtype=object)}
        write_table(tmp_path / "one.csv", cols, PROV, block_rows=10**6)
        write_table(tmp_path / "many.csv", cols, PROV, block_rows=7)
        assert (tmp_path / "one.csv").read_bytes() == (tmp_path / "many.csv").read_bytes()

    def test_hdf5_layout(self, tmp_path):
        import h5py

        write_table(tmp_path / "t.h5", columns(), PROV)
        with h5py.File(tmp_path / "t.h5", "r") as f:
            assert sorted(f) == ["k", "name", "x"] and f["x"].dtype == np.float64
            assert f.attrs["noise"] == "LISA(years=4)"

    def test_npz_needs_no_pickle(self, tmp_path):
        write_table(tmp_path / "t.npz", columns(), PROV)
        with np.load(tmp_path / "t.npz", allow_pickle=False) as data:
            assert json.loads(str(data["__provenance__"])) == PROV


class TestOutputPaths:
    @pytest.mark.parametrize("name", ["t.txt", "t", "t.csv.gz", "t.png"])
    def test_unknown_table_extension_before_any_write(self, tmp_path, name):
        with pytest.raises(TableError, match="unknown table format"):
            write_table(tmp_path / name, {"a": [1.0]}, {})
        assert list(tmp_path.iterdir()) == []

    def test_check_output_path(self, tmp_path):
        # A missing directory is refused (it used to be made, even at the root)
        # unless the caller asks for it (the commands' default out/).
        with pytest.raises(TableError, match="new/deeper does not exist; create it first"):
            tables.check_output_path(tmp_path / "new" / "deeper" / "x.h5")
        assert not (tmp_path / "new").exists()
        assert tables.check_output_path(tmp_path / "new" / "deeper" / "x.h5", create=True) == "hdf5"
        assert tables.check_output_path(tmp_path / "f.svg", "figure") == "svg"
        (tmp_path / "file").write_text("")
        cases = [
            (tmp_path, "table", "is a directory"),
            (tmp_path / "file" / "x.csv", "table", "not a directory"),
            (tmp_path / "x.jpg", "figure", "unknown figure format"),
            ("/proc/phenomd-test.csv", "table", "cannot write in /proc"),
        ]
        for path, kind, words in cases:
            with pytest.raises(TableError, match=words):
                tables.check_output_path(path, kind)

    def test_bad_columns_are_refused_before_writing(self, tmp_path):
        for cols, words in [({}, "at least one"), ({"a": [1.0], "b": [1.0, 2.0]}, "has 2 values"),
                            ({"a/b": [1.0]}, "column name"), ({"a": np.ones((2, 2))}, "1-D")]:
            with pytest.raises(TableError, match=words):
                write_table(tmp_path / "t.csv", cols, {})
        assert list(tmp_path.iterdir()) == []


class FaultyFile:
    """A file object whose k-th write raises (a full disk, Ctrl-C)."""

    def __init__(self, fh, after, exc):
        self.fh, self.left, self.exc = fh, after, exc

    def write(self, data):
        if self.left == 0:
            raise self.exc
        self.left -= 1
        return self.fh.write(data)

    def __getattr__(self, name):
        return getattr(self.fh, name)


@contextlib.contextmanager
def failing_writes(monkeypatch, after, exc):
    real = tables.atomic_open

    @contextlib.contextmanager
    def faulty(path, mode="w", **kw):
        with real(path, mode, **kw) as fh:
            yield FaultyFile(fh, after, exc)

    monkeypatch.setattr(tables, "atomic_open", faulty)
    yield


class TestAtomic:
    @pytest.mark.parametrize("exc", [OSError(errno.ENOSPC, "No space left on device"), KeyboardInterrupt()])
    def test_failure_mid_table_keeps_the_previous_file(self, tmp_path, monkeypatch, exc):
        path = tmp_path / "t.csv"
        path.write_text("previous\n")
        cols = {"a": np.arange(1000.0)}
        with failing_writes(monkeypatch, 3, exc), pytest.raises(type(exc)):
            write_table(path, cols, {}, block_rows=10)  # fails after two blocks
        assert path.read_text() == "previous\n"
        assert [p.name for p in tmp_path.iterdir()] == ["t.csv"]  # no temporary left

    def test_link_written_through_and_stale_temporaries_removed(self, tmp_path):
        # -o link.csv replaces the link's target and keeps the link; a
        # temporary file of a killed writer of the same output (no lock
        # held) is removed by the next write, one a live writer holds is not.
        import fcntl

        target = tmp_path / "data" / "t.csv"
        target.parent.mkdir()
        target.write_text("old\n")
        link = tmp_path / "link.csv"
        link.symlink_to(target)
        killed = target.parent / ".t.abcd1234.tmp.csv"
        killed.write_text("partial")
        alive = target.parent / ".t.efgh5678.tmp.csv"
        alive.write_text("being written")
        other = target.parent / ".u.abcd1234.tmp.csv"  # another output's
        other.write_text("x")
        with open(alive) as held:
            fcntl.flock(held, fcntl.LOCK_EX)
            write_table(link, {"a": np.arange(3.0)}, {})
        assert link.is_symlink() and list(read_table(link)[0]["a"]) == [0.0, 1.0, 2.0]
        assert sorted(p.name for p in target.parent.iterdir()) == [alive.name, other.name, "t.csv"]

    def test_npz_abandoned_without_zip_noise(self, tmp_path):
        # A full disk under np.savez: the error, the previous file, and no
        # "Exception ignored in ZipFile.__del__" when the archive is collected.
        import subprocess
        import sys

        code = (
            "import errno, numpy as np\n"
            "from phenomd import tables\n"
            "from test_tables import failing_writes\n"
            "import pytest\n"
            "mp = pytest.MonkeyPatch()\n"
            "with failing_writes(mp, 3, OSError(errno.ENOSPC, 'No space left on device')):\n"
            "    try:\n"
            "        tables.write_table('t.npz', {'a': np.arange(1e5), 'b': np.arange(1e5)}, {})\n"
            "    except OSError as exc:\n"
            "        print('raised', exc.errno)\n"
        )
        (tmp_path / "t.npz").write_bytes(b"old")
        env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
        run = subprocess.run([sys.executable, "-c", code], cwd=tmp_path, env=env, capture_output=True, text=True)
        assert run.stdout == f"raised {errno.ENOSPC}\n" and run.stderr == "", run.stderr
        assert (tmp_path / "t.npz").read_bytes() == b"old" and os.listdir(tmp_path) == ["t.npz"]

    def test_failing_figure_writer_keeps_the_previous_figure(self, tmp_path, monkeypatch):
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt

        path = tmp_path / "f.png"
        path.write_bytes(b"old")
        fig = plt.figure()

        def broken(*a, **k):
            raise OSError(errno.ENOSPC, "No space left on device")

        monkeypatch.setattr(fig, "savefig", broken)
        with pytest.raises(OSError):
            save_figure(fig, path, {})
        plt.close(fig)
        assert path.read_bytes() == b"old" and [p.name for p in tmp_path.iterdir()] == ["f.png"]


def png_text(data):
    """tEXt/iTXt chunks of a PNG, parsed here from the format's definition
    (PNG specification, sec. 5.3 and 11.3.4)."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, out = 8, {}
    while pos < len(data):
        (length,), kind = struct.unpack(">I", data[pos:pos + 4]), data[pos + 4:pos + 8]
        body = data[pos + 8:pos + 8 + length]
        if kind == b"tEXt":
            key, _, value = body.partition(b"\0")
            out[key.decode("latin-1")] = value.decode("latin-1")
        elif kind == b"iTXt":
            key, _, rest = body.partition(b"\0")
            compressed, rest = rest[0], rest[2:]
            _, _, rest = rest.partition(b"\0")
            _, _, text = rest.partition(b"\0")
            out[key.decode("latin-1")] = (zlib.decompress(text) if compressed else text).decode("utf-8")
        pos += 12 + length
    return out


class TestFigures:
    @pytest.fixture
    def fig(self):
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt

        fig = plt.figure(figsize=(2, 2))
        fig.add_subplot(1, 1, 1).plot([1, 2], [1, 3])
        yield fig
        plt.close(fig)

    def test_png_carries_each_key(self, tmp_path, fig):
        save_figure(fig, tmp_path / "f.png", PROV, dpi=50)
        text = png_text((tmp_path / "f.png").read_bytes())
        assert text["noise"] == PROV["noise"] and text["command"] == PROV["command"]
        assert text["Software"] == "phenomd 9.9"

    def test_pdf_is_a_pdf_with_the_record(self, tmp_path, fig):
        save_figure(fig, tmp_path / "f.pdf", PROV)
        data = (tmp_path / "f.pdf").read_bytes()
        # The Subject entry of the document information dictionary (PDF 1.7,
        # sec. 14.3.3); parentheses in a literal string are escaped (7.3.4.2).
        assert data.startswith(b"%PDF-") and b"/Subject (" in data and b"LISA\\(years=4\\)" in data

    def test_svg_is_xml_with_the_record(self, tmp_path, fig):
        import xml.etree.ElementTree as ET

        save_figure(fig, tmp_path / "f.svg", PROV)
        root = ET.parse(tmp_path / "f.svg").getroot()
        texts = " ".join(e.text or "" for e in root.iter())
        assert root.tag.endswith("svg") and json.loads(
            next(e.text for e in root.iter() if e.tag.endswith("description"))) == PROV
        assert "phenomd 9.9" in texts

    def test_unknown_figure_extension(self, tmp_path, fig):
        with pytest.raises(TableError, match="unknown figure format"):
            save_figure(fig, tmp_path / "f.jpeg", PROV)
        assert list(tmp_path.iterdir()) == []


# ------------------------------------------------------------------ catalogs


def catalog_text(rows, header="name,m1,m2,redshift,distance,t_start"):
    return header + "\n" + "".join(",".join(r) + "\n" for r in rows)


# Catalogs every reader refuses (serial here, the Dask reader in
# test_distributed.py), each with words of the message.
BAD_CSV = [
        ("m1,m2,redshift\n1,2,nan\n", "line 2, column redshift: 'nan' is not a number; leave the cell empty"),
        ("m1,m2,redshift,t_start\n1,2,1,NaN\n", "line 2, column t_start: 'NaN'"),
        ("m1,m2,redshift\n1,2,1\n1,2\n", "line 3: 2 fields, header has 3"),
        ("m1,m2,redshift\n1,2,1\n1,2,1,4\n", "line 3: 4 fields, header has 3"),
        ("m1,m2,redshift\n1,2,1\n# a comment row\n1,x,1\n", "line 4, column m2: 'x' is not a number"),
        ("m1,m2,redshift\n1,2,\n", "line 2: column redshift is empty"),
        ("M1,m2,redshift\n1,2,3\n", "'M1' differs from 'm1' only in case"),
        ("m1,m2,redshift,Spin1\n1,2,3,0.5\n", "'Spin1' differs from 'spin1' only in case"),
        ("m1;m2;redshift\n1;2;3\n", "semicolon-separated"),
        ("m1,m1,redshift\n1,2,3\n", "column 'm1' appears twice"),
        ("# only comments\n\n", "no header line"),
        ("m1,m2,redshift\n", "no binaries"),
        ('m1,m2,redshift,name\n1,2,3,"' + "x" * 200000 + '"\n', "line 2: field larger than field limit"),
    # Columns: each read, or refused with a hint (issue: they were copied
    # through while the defaults were used).
    ("m1,m2,redshift,spn1\n1,2,3,0\n", "line 1: unknown column 'spn1': did you mean 'spin1'"),
    ("m1,mass1,m2,redshift\n1,1,2,3\n", "columns 'm1' and 'mass1' both mean m1"),
    ("m1,m2,redshift,snr_all\n1,2,3,4\n", "column 'snr_all' is one that phenomd snr writes"),
    ("m1,m2,redshift,inclination\n1,2,3,60\n", "line 2: inclination = 60.0: an angle in radians in [0, pi]"),
    ("m1,m2,redshift\n1,2,NA\n", "line 2, column redshift: 'NA' is not a number"),
    ("m1,m2,z,spin1\n1,2,3,null\n", "line 2, column spin1: 'null' is not a number"),
    # A NUL byte used to end the cell for pandas' C reader: 1\x009e6 read as 1.
    ("m1,m2,redshift\n1,2,3\n1\x009e6,2,3\n", "line 3, column m1: a NUL byte (0x00) in the cell"),
]


def h5_case(name):
    """An HDF5 catalog with one fault, built with h5py: (builder, words)."""
    import h5py

    good = {"m1": [1e6, 2e6], "m2": [5e5, 1e6], "redshift": [1.0, 2.0]}

    def put(f, **changed):
        for k, v in {**good, **changed}.items():
            f.create_dataset(k, data=v)

    cases = {
        "distance all NaN": (lambda f: put(f, distance=[np.nan, np.nan]), "row 0, column distance: nan"),
        "bool spin": (lambda f: put(f, spin1=np.array([True, False])), "column spin1 holds bool values"),
        "byte-string masses": (lambda f: put(f, m1=np.array([b"1e6", b"2e6"])), "column m1 holds <U3 values"),
        "ragged": (lambda f: put(f, m2=[5e5, 1e6, 1e3]), "columns of different lengths"),
        "group": (lambda f: (put(f), f.create_group("name")), "/name is not a 1-D dataset"),
        "compound": (lambda f: put(f, m2=np.zeros(2, dtype=[("a", "f8"), ("b", "f8")])), "compound"),
        "soft link": (lambda f: (put(f), f.__setitem__("distance", h5py.SoftLink("/m1"))), "/distance is a soft link"),
        "external link": (lambda f: (put(f), f.__setitem__("distance", h5py.ExternalLink("other.h5", "/x"))),
                          "/distance is an external link"),
        "non-UTF-8 names": (lambda f: put(f, name=np.array([b"a", b"\xff"], dtype="S1")), "not UTF-8"),
    }
    return cases[name]


H5_CASES = ["distance all NaN", "bool spin", "byte-string masses", "ragged", "group", "compound", "soft link",
            "external link", "non-UTF-8 names"]


def write_h5_case(path, name):
    import h5py

    build, words = h5_case(name)
    with h5py.File(path, "w") as f:
        build(f)
    return words


class TestCatalog:
    def test_values_defaults_lines_and_provenance(self, tmp_path):
        path = tmp_path / "c.csv"
        path.write_text("\ufeff# made_by: test\n\nname,m1,m2,redshift,distance\n a ,1e6,5e5,1,\n\nb,2,1,0.5,300\n")
        cat = read_catalog(path)
        assert cat.provenance == {"made_by": "test"} and list(cat.lines) == [4, 6]
        assert same_floats(cat.numbers["distance"], [np.nan, 300.0])  # empty cell: NaN (the default)
        assert list(cat.column("spin1", 0.0)) == [0.0, 0.0]  # absent column: its default
        assert cat.label(0) == "a" and cat.where(1) == f"{path}, line 6"

    @settings(max_examples=25)
    @given(st.lists(st.tuples(st.floats(1e-3, 1e9), st.floats(1e-3, 1e9), st.floats(-0.99, 20),
                              st.one_of(st.none(), st.floats(1e-3, 1e6))), min_size=1, max_size=30),
           st.booleans())
    def test_fast_and_careful_readers_agree(self, tmp_path_factory, rows, crlf):
        # A quoted name sends the same values through the csv module's reader.
        d = tmp_path_factory.mktemp("agree")
        body = [[f"n{i}", repr(a), repr(b), repr(z), "" if dist is None else repr(dist), "4"]
                for i, (a, b, z, dist) in enumerate(rows)]
        plain = catalog_text(body)
        quoted = catalog_text([['"' + r[0] + '"'] + r[1:] for r in body])
        nl = "\r\n" if crlf else "\n"
        (d / "plain.csv").write_bytes(plain.replace("\n", nl).encode())
        (d / "quoted.csv").write_bytes(quoted.replace("\n", nl).encode())
        a, b = read_catalog(d / "plain.csv"), read_catalog(d / "quoted.csv")
        for name in ("m1", "m2", "redshift", "distance", "t_start"):
            assert same_floats(a.numbers[name], b.numbers[name]), name
        assert list(a.other["name"]) == list(b.other["name"]) and list(a.lines) == list(b.lines)
        # Values read back exactly: the numbers the text denotes (Python's float).
        assert same_floats(a.numbers["m1"], [float(r[1]) for r in body])

    @pytest.mark.parametrize("text, words", BAD_CSV)
    def test_faults_name_file_line_and_column(self, tmp_path, text, words):
        path = tmp_path / "bad.csv"
        path.write_text(text)
        with pytest.raises(TableError) as err:
            read_catalog(path)
        assert str(err.value).startswith(str(path)) and words in str(err.value)

    def test_invalid_utf8_names_line_and_byte(self, tmp_path):
        path = tmp_path / "bad.csv"
        path.write_bytes(b"m1,m2,redshift\n1,2,3\n1,\xff2,3\n")
        with pytest.raises(TableError, match=r"line 3, byte 3: not UTF-8 text \(byte 0xff\)"):
            read_catalog(path)

    @pytest.mark.parametrize("ext", [".h5", ".npz"])
    def test_binary_catalogs(self, tmp_path, ext):
        path = tmp_path / f"c{ext}"
        write_table(path, {"m1": [1e6, 2e6], "m2": [1e5, 2e5], "redshift": [1.0, 2.0], "name": ["a", "b"]}, {})
        cat = read_catalog(path)
        assert same_floats(cat.numbers["m1"], [1e6, 2e6]) and cat.label(1) == "b" and cat.where(1) == f"{path}, row 1"
        write_table(path, {"m1": [1e6], "m2": [1e5], "redshift": [1.0], "distance": [np.nan]}, {})
        with pytest.raises(TableError, match="row 0, column distance: nan"):
            read_catalog(path)

    @pytest.mark.parametrize("case", H5_CASES)
    def test_hdf5_faults(self, tmp_path, case):
        words = write_h5_case(tmp_path / "c.h5", case)
        with pytest.raises(TableError) as err:
            read_catalog(tmp_path / "c.h5")
        assert str(err.value).startswith(str(tmp_path / "c.h5")) and words in str(err.value)

    def test_npz_and_stream_faults(self, tmp_path, monkeypatch):
        import os

        path = tmp_path / "c.npz"
        write_table(path, {"m1": [1e6], "m2": [1e5], "redshift": [1.0]}, {})
        data = path.read_bytes()
        cases = [("cut.npz", data[: len(data) // 2], "not a readable npz table"),
                 ("junk.npz", b"PK\x03\x04" + b"\x00" * 40, "not a readable npz table")]
        for name, content, words in cases:
            (tmp_path / name).write_bytes(content)
            with pytest.raises(TableError, match=words):
                read_catalog(tmp_path / name)
        with open(tmp_path / "b.npz", "wb") as fh:  # byte-string names that are not UTF-8
            np.savez(fh, m1=[1e6], m2=[1e5], redshift=[1.0], name=np.array([b"\xff"]))
        with pytest.raises(TableError, match="name holds byte strings that are not UTF-8"):
            read_catalog(tmp_path / "b.npz")
        os.mkfifo(tmp_path / "fifo.csv")
        with pytest.raises(TableError, match="is a pipe"):  # would block for ever
            read_catalog(tmp_path / "fifo.csv")
        os.symlink("/dev/zero", tmp_path / "zero.csv")
        with pytest.raises(TableError, match="is a device"):  # would never end
            read_catalog(tmp_path / "zero.csv")
        monkeypatch.setenv("PHENOMD_MAX_INPUT_BYTES", "10")
        (tmp_path / "c.csv").write_text("m1,m2,redshift\n1,2,3\n")
        with pytest.raises(TableError, match="over the 10 bytes"):
            read_catalog(tmp_path / "c.csv")

    def test_aliases_read_and_unknown_columns_kept_on_request(self, tmp_path):
        path = tmp_path / "c.csv"
        path.write_text("mass1,m_2,z,dL,chi1,iota,extra\n1e6,1e5,1,300,0.5,0.3,x\n")
        cat = read_catalog(path, keep=True)
        assert cat.header == ["m1", "m2", "redshift", "distance", "spin1", "inclination", "extra"]
        assert cat.numbers["distance"][0] == 300.0 and cat.numbers["inclination"][0] == 0.3
        assert cat.columns.describe() == ("read mass1 as m1, m_2 as m2, z as redshift, dL as distance, chi1 as "
                                          "spin1, iota as inclination; carried through extra")
        with pytest.raises(TableError, match="unknown column 'extra'"):
            read_catalog(path)

