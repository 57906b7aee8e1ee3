"""Tables and figures in and out: the file formats the package reads and
writes, chosen by the file name's extension.

Tables (``write_table`` / ``read_table``):

* ``.csv``: leading ``# key: value`` lines carry the provenance, then a
  header row and one row per entry.  Floats are written as Python's
  ``repr`` (the shortest text that reads back as the same double), so a
  table read back is bitwise what was written.
* ``.h5`` / ``.hdf5`` (h5py): one 1-D dataset per column under ``/``, in
  column order; the provenance as attributes of the root group.
* ``.npz`` (numpy): one array per column, plus ``__provenance__`` (a JSON
  string); no pickled objects, so ``np.load`` reads it with
  ``allow_pickle=False``.

Figures (``save_figure``): ``.png``, ``.pdf``, ``.svg`` through
matplotlib's own writers, with the provenance in the file's metadata.

Every output goes through ``phenomd._atomic``: the target is replaced only
when the file is complete, so a full disk, an exception or Ctrl-C leaves
the previous file as it was.

Catalogs of binaries (``read_catalog``): CSV, HDF5 or npz tables with the
columns ``CATALOG_COLUMNS``; a CSV is parsed by pandas' C reader when it is
plain (no quotes, no comment lines between rows) and by the csv module
otherwise, and every fault is reported with the file, line and column.
"""

from __future__ import annotations

import contextlib
import csv
import io
import json
import math
import os
import re
import sys
import tempfile
from dataclasses import dataclass, field

import numpy as np

from ._atomic import atomic_open, atomic_path
from ._catalog import CATALOG_COLUMNS, NUMERIC, REQUIRED

__all__ = [
    "CATALOG_COLUMNS",
    "FIGURE_FORMATS",
    "TABLE_FORMATS",
    "Catalog",
    "TableError",
    "check_output_path",
    "output_format",
    "read_catalog",
    "read_table",
    "save_figure",
    "write_csv_stream",
    "write_table",
]

TABLE_FORMATS = {".csv": "csv", ".h5": "hdf5", ".hdf5": "hdf5", ".npz": "npz"}
FIGURE_FORMATS = {".png": "png", ".pdf": "pdf", ".svg": "svg"}

# Rows per block when a CSV is written: the text of one block is built in
# memory and written at once, so memory stays bounded for any table.
CSV_BLOCK_ROWS = 1 << 13


class TableError(ValueError):
    """A table or figure file that cannot be read or written as asked: an
    unknown extension, an unusable output path, a malformed input file.
    The message names the file (and for inputs the line and column)."""


# ------------------------------------------------------------ output paths


def output_format(path, kind="table"):
    """The format ("csv", "hdf5", "npz", "png", "pdf", "svg") that ``path``
    names by its extension; TableError for any other."""
    formats = TABLE_FORMATS if kind == "table" else FIGURE_FORMATS
    if kind not in ("table", "figure"):
        raise ValueError(f"kind must be 'table' or 'figure', not {kind!r}")
    ext = os.path.splitext(os.fspath(path))[1].lower()
    if ext not in formats:
        what = "extension" if ext else "no extension"
        shown = f" {ext!r}" if ext else ""
        raise TableError(
            f"{path}: unknown {kind} format ({what}{shown}); use one of {', '.join(formats)}"
        )
    return formats[ext]


def check_output_path(path, kind="table"):
    """Check, before any work, that ``path`` can receive a ``kind`` output
    ("table" or "figure"): a known extension, not a directory, and a
    directory that exists (created if missing) where a file can be
    created.  Returns the format.  Raises TableError with the reason."""
    path = os.fspath(path)
    if os.path.isdir(path):
        raise TableError(f"{path}: is a directory; give a file name")
    fmt = output_format(path, kind)
    directory = os.path.dirname(os.path.abspath(path))
    try:
        os.makedirs(directory, exist_ok=True)
    except (FileExistsError, NotADirectoryError):
        raise TableError(f"{path}: a part of {directory} exists and is not a directory") from None
    except OSError as exc:
        raise TableError(f"{path}: cannot create the directory {directory}: {exc.strerror or exc}") from None
    if os.path.exists(path) and not os.path.isfile(path):
        raise TableError(f"{path}: exists and is not a regular file")
    # A probe file shows what permission bits cannot (read-only mounts,
    # pseudo file systems, full quotas for new inodes).
    try:
        fd, probe = tempfile.mkstemp(prefix=".phenomd-probe.", dir=directory)
    except OSError as exc:
        raise TableError(f"{path}: cannot write in {directory}: {exc.strerror or exc}") from None
    os.close(fd)
    os.unlink(probe)
    return fmt


# ------------------------------------------------------------------ writing


def _one_line(text):
    return str(text).replace("\\", "\\\\").replace("\r", "\\r").replace("\n", "\\n")


def _from_one_line(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            out.append({"n": "\n", "r": "\r", "\\": "\\"}.get(text[i + 1], "\\" + text[i + 1]))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def _as_column(name, values, n=None):
    arr = np.asarray(values)
    if arr.ndim != 1:
        raise TableError(f"column {name!r} must be 1-D; got shape {arr.shape}")
    if n is not None and arr.shape[0] != n:
        raise TableError(f"column {name!r} has {arr.shape[0]} values, the others {n}")
    if arr.dtype.kind == "S":
        arr = np.char.decode(arr, "utf-8")
    if arr.dtype.kind not in "fiubUO":
        raise TableError(f"column {name!r}: cannot write dtype {arr.dtype}")
    return arr


def _columns(columns):
    if not columns:
        raise TableError("a table needs at least one column")
    out, n = {}, None
    for name, values in columns.items():
        name = str(name)
        if not name or any(c in name for c in "\n\r/") or name.startswith("__"):
            raise TableError(f"column name {name!r}: must be non-empty, without '/', newlines or a leading '__'")
        arr = _as_column(name, values, n)
        n = arr.shape[0]
        out[name] = arr
    return out, n


_NEEDS_QUOTES = re.compile(r'[",\r\n]|^\s|\s$|^#')


def _csv_text(arr):
    """The CSV cells of one block of a column, as a list of str."""
    kind = arr.dtype.kind
    if kind == "f":
        return list(map(repr, arr.astype(np.float64, copy=False).tolist()))
    if kind in "iu":
        return list(map(str, arr.tolist()))
    if kind == "b":
        return ["true" if v else "false" for v in arr.tolist()]
    cells = [v if isinstance(v, str) else ("" if v is None else str(v)) for v in arr.tolist()]
    if any(_NEEDS_QUOTES.search(c) for c in cells):
        cells = ['"' + c.replace('"', '""') + '"' if _NEEDS_QUOTES.search(c) else c for c in cells]
    return cells


def _csv_blocks(columns, n, provenance, block_rows):
    """The text of a CSV table in blocks of ``block_rows`` rows."""
    names = list(columns)
    head = [f"# {_one_line(key)}: {_one_line(value)}\n" for key, value in provenance.items()]
    head.append(",".join(_csv_text(np.array(names, dtype=object))) + "\n")
    yield "".join(head)
    for a in range(0, n, block_rows):
        b = min(a + block_rows, n)
        cells = [_csv_text(columns[c][a:b]) for c in names]
        yield "\n".join(map(",".join, zip(*cells))) + "\n"


def _write_csv(path, columns, n, provenance, block_rows):
    with atomic_open(path, "w", newline="") as fh:
        for text in _csv_blocks(columns, n, provenance, block_rows):
            fh.write(text)


def write_csv_stream(stream, columns, provenance=None, *, block_rows=None):
    """A CSV table, as ``write_table`` writes it, onto an open text stream
    (e.g. stdout), block by block."""
    cols, n = _columns(columns)
    for text in _csv_blocks(cols, n, dict(provenance or {}), max(1, int(block_rows or CSV_BLOCK_ROWS))):
        stream.write(text)


def _write_hdf5(path, columns, provenance):
    # The file is built in memory (HDF5's core driver, no backing store) and
    # its bytes written by atomic_open: HDF5 itself never writes to the disk,
    # so a full disk is an ordinary OSError from a Python write.  (Through
    # h5py onto a full disk, HDF5's failed flushes surface in objects'
    # destructors and may crash the interpreter.)  Measured on 1e6 rows x
    # 13 columns (136 MB): 2.1 s against 0.4-0.8 s directly, small beside
    # the SNRs that fill such a table.
    import h5py

    with h5py.File(f"{os.fspath(path)}.in-memory", "w", driver="core", backing_store=False,
                   track_order=True) as f:
        for name, arr in columns.items():
            if arr.dtype.kind in "UO":
                data = np.array([str(v) for v in arr.tolist()], dtype=object)
                f.create_dataset(name, data=data, dtype=h5py.string_dtype("utf-8"))
            else:
                f.create_dataset(name, data=arr)
        for key, value in provenance.items():
            f.attrs[str(key)] = str(value)
        f.flush()
        image = f.id.get_file_image()
    with atomic_open(path, "wb") as fh:
        fh.write(image)


def _write_npz(path, columns, provenance):
    arrays = {}
    for name, arr in columns.items():
        arrays[name] = np.array([str(v) for v in arr.tolist()], dtype=str) if arr.dtype.kind == "O" else arr
    arrays["__provenance__"] = np.array(json.dumps({str(k): str(v) for k, v in provenance.items()}))
    # The archive np.savez writes (one stored NAME.npy member per array),
    # written here so that an archive abandoned mid-way (a full disk,
    # Ctrl-C) is let go without writing its directory when collected, into
    # a file already closed and removed ("Exception ignored in
    # ZipFile.__del__").
    import zipfile

    with atomic_open(path, "wb") as fh:
        sink = _Abandonable(fh)
        archive = zipfile.ZipFile(sink, mode="w", compression=zipfile.ZIP_STORED, allowZip64=True)
        try:
            for name, arr in arrays.items():
                with archive.open(name + ".npy", mode="w", force_zip64=True) as member:
                    np.lib.format.write_array(member, np.asanyarray(arr), allow_pickle=False)
            archive.close()
        except BaseException:
            sink.abandoned = True
            archive.fp = None  # closed as far as ZipFile knows: nothing more is written
            raise


class _Abandonable(io.RawIOBase):
    """A binary file that forwards to ``fh`` until a write fails or it is
    abandoned; then every write, seek and flush does nothing."""

    def __init__(self, fh):
        super().__init__()
        self._fh = fh
        self._pos = 0
        self.abandoned = False

    def writable(self):
        return True

    def seekable(self):
        return True

    def write(self, data):
        if self.abandoned:
            return len(data)
        try:
            n = self._fh.write(data)
        except BaseException:
            self.abandoned = True
            raise
        self._pos = self._fh.tell()
        return n

    def tell(self):
        return self._pos if self.abandoned else self._fh.tell()

    def seek(self, offset, whence=0):
        if self.abandoned:
            return self._pos
        self._pos = self._fh.seek(offset, whence)
        return self._pos

    def flush(self):
        if not self.abandoned and not self._fh.closed:
            self._fh.flush()


def write_table(path, columns, provenance=None, *, block_rows=None):
    """Write ``columns`` (name -> 1-D array, all of one length; floats,
    integers, booleans or strings) to ``path`` in the format its extension
    names (.csv, .h5/.hdf5, .npz), with ``provenance`` (str -> str, e.g.
    from ``phenomd._provenance.provenance``).  The extension and the
    columns are checked before anything is written; the file replaces
    ``path`` only when complete."""
    fmt = output_format(path, "table")
    cols, n = _columns(columns)
    provenance = dict(provenance or {})
    with _naming(path):
        if fmt == "csv":
            _write_csv(path, cols, n, provenance, max(1, int(block_rows or CSV_BLOCK_ROWS)))
        elif fmt == "hdf5":
            _write_hdf5(path, cols, provenance)
        else:
            _write_npz(path, cols, provenance)


@contextlib.contextmanager
def _naming(path):
    """Let an OSError from a writer (a full disk, say) name the target."""
    try:
        yield
    except OSError as exc:
        if exc.filename is None and exc.errno is not None:
            raise OSError(exc.errno, exc.strerror or str(exc), os.fspath(path)) from None
        raise


def save_figure(fig, path, provenance=None, *, dpi=None, title=None):
    """Save a matplotlib figure to ``path`` (.png, .pdf or .svg by its
    extension) through matplotlib's own writer for that format, with the
    provenance in the file's metadata: PNG text chunks (one per key), the
    PDF document information (Subject: the provenance as JSON), SVG
    Dublin Core metadata (Description: the same JSON).  Atomic."""
    fmt = output_format(path, "figure")
    provenance = {str(k): str(v) for k, v in (provenance or {}).items()}
    version = provenance.get("phenomd_version", "")
    creator = f"phenomd {version}".strip()
    record = json.dumps(provenance, sort_keys=False)
    if fmt == "png":
        metadata = {"Software": creator}
        if title:
            metadata["Title"] = title
        for key, value in provenance.items():
            metadata[key[:79]] = value
    elif fmt == "pdf":
        metadata = {"Creator": creator, "Subject": record}
        if title:
            metadata["Title"] = title
    else:
        metadata = {"Creator": creator, "Description": record}
        if title:
            metadata["Title"] = title
    with _naming(path), atomic_path(path) as tmp:
        fig.savefig(tmp, format=fmt, dpi=dpi if dpi is not None else "figure", metadata=metadata)


# ------------------------------------------------------------------ reading


def _read_bytes(path):
    if path == "-":
        return sys.stdin.buffer.read(), "<stdin>"
    try:
        with open(path, "rb") as fh:
            return fh.read(), os.fspath(path)
    except IsADirectoryError:
        raise TableError(f"{path}: is a directory, not a table") from None
    except OSError as exc:
        raise TableError(f"{path}: cannot read: {exc.strerror or exc}") from None


def _check_utf8(raw, source):
    """Raise TableError at the first byte of ``raw`` that is not UTF-8."""
    if raw.isascii():
        return
    try:
        raw.decode("utf-8")
    except UnicodeDecodeError as exc:
        at = exc.start
        line = raw.count(b"\n", 0, at) + 1
        col = at - (raw.rfind(b"\n", 0, at) + 1) + 1
        raise TableError(
            f"{source}, line {line}, byte {col}: not UTF-8 text (byte 0x{raw[at]:02x}); "
            "save the file as UTF-8"
        ) from None


@dataclass
class _Text:
    """A CSV file's leading part (provenance lines, header) and where its
    body starts; the body is read from ``raw`` without copying it."""

    source: str
    provenance: dict
    header: list
    header_line: int  # lines up to and including the header
    raw: bytes
    body_start: int  # byte offset of the line after the header

    @property
    def body(self):
        return self.raw[self.body_start:].decode("utf-8")


def _split_header(raw, source):
    _check_utf8(raw, source)
    provenance = {}
    pos = 3 if raw.startswith(b"\xef\xbb\xbf") else 0  # a byte-order mark
    line, n = 0, len(raw)
    while pos < n:
        end = raw.find(b"\n", pos)
        end = n if end < 0 else end
        line += 1
        content = raw[pos:end].decode("utf-8").rstrip("\r")
        stripped = content.strip()
        if stripped.startswith("#"):
            key, sep, value = stripped[1:].strip().partition(":")
            if sep and key.strip():
                provenance[_from_one_line(key.strip())] = _from_one_line(value.strip())
        elif stripped and not all(not c.strip() for c in content.split(",")):
            try:
                header = next(csv.reader([content]))
            except csv.Error as exc:
                raise TableError(f"{source}, line {line}: {exc}") from None
            return _Text(source, provenance, [c.strip() for c in header], line, raw, min(end + 1, n))
        pos = end + 1
    raise TableError(f"{source}: no header line")


def _header_faults(header, source, line):
    seen = set()
    for name in header:
        if not name:
            raise TableError(f"{source}, line {line}: an empty column name in the header")
        if name in seen:
            raise TableError(f"{source}, line {line}: column {name!r} appears twice in the header")
        seen.add(name)


def _plain_rows(t, ncols):
    """The file line of every data row when the body can go to the fast
    reader as it is (no quotes, no comment rows, ncols fields on every
    non-blank line), else None."""
    if t.body_start >= len(t.raw):
        return np.zeros(0, dtype=np.int64)
    if t.raw.find(b'"', t.body_start) >= 0:
        return None
    arr = np.frombuffer(t.raw, dtype=np.uint8, offset=t.body_start)
    newlines = np.flatnonzero(arr == 10)
    ends = newlines if (newlines.size and newlines[-1] == arr.size - 1) else np.append(newlines, arr.size)
    starts = np.concatenate(([0], ends[:-1] + 1))
    cr = (ends > starts) & (arr[np.minimum(ends - 1, arr.size - 1)] == 13)
    lengths = ends - starts - cr
    blank = lengths == 0
    commas = np.flatnonzero(arr == 44)
    fields = np.searchsorted(commas, ends) - np.searchsorted(commas, starts) + 1
    data = ~blank
    if np.any(fields[data] != ncols):
        return None
    if np.any(arr[starts[data]] == 35):  # '#' comment rows between data rows
        return None
    if np.any(arr == 13) and np.count_nonzero(arr == 13) != np.count_nonzero(cr):
        return None  # a bare carriage return somewhere
    return t.header_line + 1 + np.flatnonzero(data)


def _fast_columns(t, numeric):
    """pandas' C reader over a plain body: numeric columns as float64 (NaN
    where empty; correctly rounded), the others as str.  None when pandas
    refuses anything (an explicit 'nan', text in a number column, ...):
    the careful reader then finds and reports the first fault."""
    import pandas as pd

    dtypes = {c: (np.float64 if c in numeric else str) for c in t.header}
    try:
        df = pd.read_csv(
            io.BytesIO(t.raw),  # shares the bytes, no copy
            skiprows=t.header_line,
            header=None,
            names=t.header,
            dtype=dtypes,
            float_precision="round_trip",
            keep_default_na=False,
            na_values={c: [""] for c in t.header if c in numeric},
            skip_blank_lines=True,
            quoting=csv.QUOTE_NONE,
            encoding="utf-8",
            engine="c",
        )
    except (ValueError, TypeError, pd.errors.ParserError, OverflowError):
        return None
    out = {}
    for c in t.header:
        col = df[c].to_numpy()
        out[c] = np.ascontiguousarray(col, dtype=np.float64) if c in numeric else col.astype(object)
    return out


def _careful_columns(t, numeric, ncols):
    """The csv module's reader, cell by cell, with file, line and column in
    every message; also handles quoting and comment rows."""
    reader = csv.reader(io.StringIO(t.body))
    rows, lines = [], []
    try:
        for record in reader:
            line = t.header_line + reader.line_num
            if not record or all(not c.strip() for c in record) or record[0].lstrip().startswith("#"):
                continue
            if len(record) != ncols:
                raise TableError(f"{t.source}, line {line}: {len(record)} fields, header has {ncols}")
            rows.append(record)
            lines.append(line)
    except csv.Error as exc:
        line = t.header_line + reader.line_num
        hint = " (the csv module's limit; a quote left open?)" if "field limit" in str(exc) else ""
        raise TableError(f"{t.source}, line {line}: {exc}{hint}") from None
    columns = {}
    for k, name in enumerate(t.header):
        cells = [r[k] for r in rows]
        if name not in numeric:
            columns[name] = np.array(cells, dtype=object)
            continue
        values = np.empty(len(cells), dtype=np.float64)
        for i, cell in enumerate(cells):
            text = cell.strip()
            if not text:
                values[i] = math.nan
                continue
            try:
                v = float(text)
            except ValueError:
                raise TableError(f"{t.source}, line {lines[i]}, column {name}: {text!r} is not a number") from None
            if math.isnan(v):
                raise TableError(
                    f"{t.source}, line {lines[i]}, column {name}: {text!r} is not a number; "
                    "leave the cell empty for the default"
                )
            values[i] = v
        columns[name] = values
    return columns, np.array(lines, dtype=np.int64)


def _parse_csv(raw, source, numeric):
    """(header, columns, lines, provenance) of a CSV file; ``numeric`` the
    names of the columns read as numbers (NaN where empty)."""
    t = _split_header(raw, source)
    _header_faults(t.header, source, t.header_line)
    ncols = len(t.header)
    lines = _plain_rows(t, ncols)
    columns = _fast_columns(t, numeric) if lines is not None and lines.size else None
    if columns is None or len(next(iter(columns.values()))) != (lines.size if lines is not None else -1):
        columns, lines = _careful_columns(t, numeric, ncols)
    return t, columns, lines


def _auto_numeric(values):
    """Floats if every non-empty cell is a number (empty: NaN), else str."""
    cells = np.asarray(values, dtype=object)
    try:
        filled = np.where(cells == "", "nan", cells)
        return filled.astype(np.float64)
    except (ValueError, TypeError):
        return cells.astype(str)


def read_table(path):
    """(columns, provenance) of a table written by ``write_table`` or any
    such file: columns name -> 1-D array (float64 for columns that are all
    numbers, empty cells NaN; str otherwise), provenance str -> str."""
    fmt = output_format(path, "table")
    if fmt == "hdf5":
        return _read_hdf5(path)
    if fmt == "npz":
        return _read_npz(path)
    raw, source = _read_bytes(path)
    t, columns, _ = _parse_csv(raw, source, numeric=())
    return {c: _auto_numeric(v) for c, v in columns.items()}, t.provenance


def _read_hdf5(path):
    import h5py

    if not os.path.isfile(path):
        _read_bytes(path)  # the same messages as for any other input
    try:
        f = h5py.File(path, "r")
    except OSError as exc:
        raise TableError(f"{path}: not an HDF5 file ({exc})") from None
    with f:
        columns = {}
        for name in _creation_order(f):
            item = f[name]
            if not isinstance(item, h5py.Dataset) or item.ndim != 1:
                raise TableError(f"{path}: /{name} is not a 1-D dataset (a table holds one per column)")
            if item.dtype.kind in "SO":
                columns[name] = np.array(item.asstr()[()], dtype=str)
            else:
                columns[name] = item[()]
        provenance = {}
        for key, value in f.attrs.items():
            provenance[str(key)] = value.decode("utf-8") if isinstance(value, bytes) else str(value)
    return columns, provenance


def _creation_order(group):
    """Member names in the order they were written where the file tracks
    it (``write_table`` files do), else in HDF5's name order."""
    import h5py

    names = []
    try:
        group.id.links.iterate(lambda n: names.append(n.decode("utf-8")), idx_type=h5py.h5.INDEX_CRT_ORDER)
    except (KeyError, RuntimeError, ValueError):
        return list(group)
    return names


def _read_npz(path):
    if not os.path.isfile(path):
        _read_bytes(path)
    try:
        with np.load(path, allow_pickle=False) as data:
            columns = {k: data[k] for k in data.files if k != "__provenance__"}
            provenance = json.loads(str(data["__provenance__"])) if "__provenance__" in data.files else {}
    except (OSError, ValueError) as exc:
        raise TableError(f"{path}: not a readable npz table ({exc})") from None
    for name, arr in columns.items():
        if arr.ndim != 1:
            raise TableError(f"{path}: {name} is not 1-D (a table holds one 1-D array per column)")
    return columns, provenance


# ----------------------------------------------------------------- catalogs

# The columns a catalog may hold: ``phenomd._catalog`` (CATALOG_COLUMNS,
# REQUIRED, NUMERIC).


@dataclass
class Catalog:
    """Binaries read from a table.

    ``numbers``: name -> float64 (n,) for each catalog column present in
    the file (NaN where a cell was empty, allowed only in optional
    columns); ``other``: the remaining columns as read (str, or numbers
    from HDF5/npz), in the file's order together with the catalog columns
    in ``header``; ``lines``: the file line of each row (CSV) or None
    (HDF5/npz rows are numbered from 0); ``provenance``: the file's own.
    """

    source: str
    header: list
    numbers: dict
    other: dict
    lines: np.ndarray | None = None
    provenance: dict = field(default_factory=dict)
    item: str | None = None  # rows named "ITEM 1", "ITEM 2", ... (e.g. "--binary")

    def __len__(self):
        return len(next(iter(self.numbers.values())))

    def where(self, i):
        """Where row ``i`` is, for a message: "FILE, line L" or "FILE, row i"."""
        if self.lines is not None and 0 <= i < len(self.lines):
            return f"{self.source}, line {int(self.lines[i])}"
        if self.item:
            return f"{self.item} {i + 1}"
        return f"{self.source}, row {i}"

    def column(self, name, default=math.nan):
        """Column ``name`` as float64 with empty cells (or an absent column)
        replaced by ``default``."""
        if name not in self.numbers:
            return np.full(len(self), default, dtype=np.float64)
        col = self.numbers[name]
        if math.isnan(default):
            return col.copy()
        return np.where(np.isnan(col), default, col)

    def label(self, i):
        """A short name of row ``i``: its ``name`` cell, else where it is."""
        if "name" in self.other:
            text = str(self.other["name"][i]).strip()
            if text:
                return text
        return self.where(i).rsplit(", ", 1)[-1]


def _catalog_header_hints(header, source, line, column_help):
    where = f"{source}, line {line}" if line else source
    lowered = {c.lower(): c for c in header}
    for name in header:
        want = name.lower()
        if want in CATALOG_COLUMNS and name != want:
            raise TableError(
                f"{where}: column {name!r} differs from {want!r} only in case; column names are "
                f"case-sensitive: rename it {want!r}"
            )
    missing = [c for c in REQUIRED if c not in header]
    if missing:
        hint = ""
        if len(header) == 1 and ";" in header[0]:
            hint = "\n(the header holds ';': this looks like a semicolon-separated file; phenomd reads " \
                   "comma-separated values)"
        elif len(header) == 1 and "\t" in header[0]:
            hint = "\n(the header holds tabs: phenomd reads comma-separated values)"
        elif any(m in lowered for m in missing):
            hint = "\n(column names are case-sensitive)"
        tail = f"\n\n{column_help}" if column_help else ""
        raise TableError(f"{where}: header lacks column(s) {', '.join(missing)}{hint}{tail}")


def _check_required(cat):
    for name in REQUIRED:
        col = cat.numbers[name]
        bad = np.flatnonzero(np.isnan(col))
        if bad.size:
            raise TableError(f"{cat.where(int(bad[0]))}: column {name} is empty")


def read_catalog(path, *, column_help=""):
    """Binaries from a CSV (``-``: stdin), HDF5 or npz table with the
    columns ``CATALOG_COLUMNS`` (other columns are kept as they are).

    Empty cells mean the column's default; an explicit ``nan`` is an error,
    as is anything else that is not a number in a catalog column, a row
    with the wrong number of fields, invalid UTF-8 or a field over the csv
    module's size limit: each a TableError naming file, line and column.
    A UTF-8 byte-order mark is accepted.  Column names are case-sensitive
    (a case-only mismatch is an error with a hint); ``column_help`` is
    appended to a missing-column message."""
    fmt = "csv" if path == "-" else output_format(path, "table")
    if fmt == "csv":
        raw, source = _read_bytes(path)
        t = _split_header(raw, source)
        _header_faults(t.header, source, t.header_line)
        _catalog_header_hints(t.header, source, t.header_line, column_help)
        numeric = set(NUMERIC) & set(t.header)
        ncols = len(t.header)
        lines = _plain_rows(t, ncols)
        columns = _fast_columns(t, numeric) if lines is not None and lines.size else None
        if columns is None or len(next(iter(columns.values()))) != lines.size:
            columns, lines = _careful_columns(t, numeric, ncols)
        if lines.size == 0:
            raise TableError(f"{source}: no binaries after the header")
        cat = Catalog(source, list(t.header), {c: columns[c] for c in t.header if c in numeric},
                      {c: columns[c] for c in t.header if c not in numeric}, lines, t.provenance)
    else:
        columns, provenance = read_table(path)
        header = list(columns)
        _catalog_header_hints(header, path, None, column_help)
        numbers, other = {}, {}
        for name, arr in columns.items():
            if name not in CATALOG_COLUMNS:
                other[name] = arr
                continue
            if arr.dtype.kind not in "fiu":
                raise TableError(f"{path}: column {name} holds {arr.dtype} values, not numbers")
            col = np.ascontiguousarray(arr, dtype=np.float64)
            bad = np.flatnonzero(np.isnan(col))
            if bad.size:
                raise TableError(
                    f"{path}, row {int(bad[0])}, column {name}: nan; HDF5 and npz catalogs have no empty "
                    "cells: leave the column out for the default"
                )
            numbers[name] = col
        if not len(next(iter(columns.values()))):
            raise TableError(f"{path}: no binaries in the table")
        cat = Catalog(path, header, numbers, other, None, provenance)
    _check_required(cat)
    return cat
