"""Tables and figures in and out: the file formats the package reads and
writes, chosen by the file name's extension.

Tables (``write_table`` / ``read_table``):

* ``.csv``: a header row and one row per entry, nothing else, so that
  ``pandas.read_csv(path)`` and ``numpy.genfromtxt(path, names=True,
  delimiter=",")`` read it as it is; the provenance goes beside it in
  ``NAME.csv.meta.json`` (``sidecar``: JSON with the provenance, the
  columns and the data file's size and SHA-256).  With ``comments=True``
  the provenance is written instead as leading ``# key: value`` lines (for
  readers told ``comment="#"``).  Floats are written as Python's ``repr``
  (the shortest text that reads back as the same double), so a table read
  back is bitwise what was written.
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
import hashlib
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
from ._catalog import CATALOG_COLUMNS, NUMERIC, REQUIRED, ColumnError, Columns, resolve

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
    "sidecar",
    "write_csv_stream",
    "write_table",
]

TABLE_FORMATS = {".csv": "csv", ".h5": "hdf5", ".hdf5": "hdf5", ".npz": "npz"}
FIGURE_FORMATS = {".png": "png", ".pdf": "pdf", ".svg": "svg"}

# Rows per block when a CSV is written: the text of one block is built in
# memory and written at once, so memory stays bounded for any table.
CSV_BLOCK_ROWS = 1 << 13

# The provenance of a CSV table lives beside it, in NAME + this suffix.
SIDECAR_SUFFIX = ".meta.json"


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


def check_output_path(path, kind="table", *, create=False):
    """Check, before any work, that ``path`` can receive a ``kind`` output
    ("table" or "figure"): a known extension, not a directory, and a
    directory that exists where a file can be created.  A missing
    directory is an error, as for numpy's and matplotlib's writers, unless
    ``create`` (the commands' own default paths, e.g. ``out/``).  Returns
    the format.  Raises TableError with the reason."""
    path = os.fspath(path)
    if os.path.isdir(path):
        raise TableError(f"{path}: is a directory; give a file name")
    fmt = output_format(path, kind)
    directory = os.path.dirname(os.path.abspath(path))
    if create:
        try:
            os.makedirs(directory, exist_ok=True)
        except (FileExistsError, NotADirectoryError):
            raise TableError(f"{path}: a part of {directory} exists and is not a directory") from None
        except OSError as exc:
            raise TableError(f"{path}: cannot create the directory {directory}: {exc.strerror or exc}") from None
    elif not os.path.isdir(directory):
        blocked = next((p for p in _parents(directory) if os.path.exists(p) and not os.path.isdir(p)), None)
        if blocked is not None:
            raise TableError(f"{path}: {blocked} is not a directory")
        what = "does not exist"
        raise TableError(f"{path}: the directory {directory} {what}; create it first")
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


def _parents(directory):
    """``directory`` and each directory above it."""
    while True:
        yield directory
        up = os.path.dirname(directory)
        if up == directory:
            return
        directory = up


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


def _csv_blocks(columns, n, provenance, block_rows, comments=False):
    """The text of a CSV table in blocks of ``block_rows`` rows (with the
    provenance as leading ``#`` lines when ``comments``)."""
    names = list(columns)
    head = [f"# {_one_line(key)}: {_one_line(value)}\n" for key, value in provenance.items()] if comments else []
    head.append(",".join(_csv_text(np.array(names, dtype=object))) + "\n")
    yield "".join(head)
    for a in range(0, n, block_rows):
        b = min(a + block_rows, n)
        cells = [_csv_text(columns[c][a:b]) for c in names]
        yield "\n".join(map(",".join, zip(*cells))) + "\n"


def sidecar(path):
    """The file holding the provenance of the CSV table ``path``."""
    return os.fspath(path) + SIDECAR_SUFFIX


def _write_csv(path, columns, n, provenance, block_rows, comments):
    digest, size = hashlib.sha256(), 0
    with atomic_open(path, "w", newline="") as fh:
        for text in _csv_blocks(columns, n, provenance, block_rows, comments):
            fh.write(text)
            data = text.encode("utf-8")
            digest.update(data)
            size += len(data)
    meta = sidecar(path)
    if comments:
        # The provenance is in the file: a sidecar of an earlier table
        # there would describe other data.
        with contextlib.suppress(FileNotFoundError):
            os.unlink(meta)
        return
    # Written after the data: a sidecar never describes a table that is
    # not there whole; its size and checksum tell a stale one.
    record = {"table": os.path.basename(os.fspath(path)), "bytes": size, "sha256": digest.hexdigest(),
              "rows": n, "columns": list(columns), "provenance": {str(k): str(v) for k, v in provenance.items()}}
    with atomic_open(meta, "w") as fh:
        json.dump(record, fh, indent=1, ensure_ascii=False)
        fh.write("\n")


def write_csv_stream(stream, columns, provenance=None, *, block_rows=None, comments=False):
    """A CSV table, as ``write_table`` writes it, onto an open text stream
    (e.g. stdout), block by block: the provenance only as ``#`` lines with
    ``comments`` (a stream has no sidecar)."""
    cols, n = _columns(columns)
    for text in _csv_blocks(cols, n, dict(provenance or {}), max(1, int(block_rows or CSV_BLOCK_ROWS)), comments):
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


def write_table(path, columns, provenance=None, *, block_rows=None, comments=False):
    """Write ``columns`` (name -> 1-D array, all of one length; floats,
    integers, booleans or strings) to ``path`` in the format its extension
    names (.csv, .h5/.hdf5, .npz), with ``provenance`` (str -> str, e.g.
    from ``phenomd._provenance.provenance``): a CSV's in its sidecar
    ``NAME.csv.meta.json`` (or, with ``comments``, as leading ``#``
    lines), HDF5's as root attributes, npz's as ``__provenance__``.  The
    extension and the columns are checked before anything is written; the
    file replaces ``path`` only when complete."""
    fmt = output_format(path, "table")
    cols, n = _columns(columns)
    provenance = dict(provenance or {})
    with _naming(path):
        if fmt == "csv":
            _write_csv(path, cols, n, provenance, max(1, int(block_rows or CSV_BLOCK_ROWS)), comments)
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


def max_input_bytes():
    """The largest table text read into memory: half the machine's
    physical memory (its parse needs several times the text), at least
    1 GiB.  ``PHENOMD_MAX_INPUT_BYTES`` sets another bound."""
    given = os.environ.get("PHENOMD_MAX_INPUT_BYTES")
    if given:
        try:
            return max(1, int(float(given)))
        except ValueError:
            raise TableError(f"PHENOMD_MAX_INPUT_BYTES={given!r}: not a number of bytes") from None
    try:
        total = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES")
    except (ValueError, OSError, AttributeError):  # pragma: no cover - not POSIX
        total = 8 << 30
    return max(1 << 30, total // 2)


def _too_big(source, size, limit):
    return TableError(f"{source}: {size} bytes or more, over the {limit} bytes a table may hold in memory here "
                      "(half this machine's memory; PHENOMD_MAX_INPUT_BYTES sets another bound); split the "
                      "catalog, or use --workers for a cluster run")


def regular_input(path, what="table"):
    """Refuse, before reading, an input that is not a regular file (a
    directory, a FIFO, a device such as /dev/zero): a stream could hang or
    never end.  Returns its size in bytes."""
    try:
        st = os.stat(path)
    except OSError as exc:
        raise TableError(f"{path}: cannot read: {exc.strerror or exc}") from None
    import stat

    if stat.S_ISDIR(st.st_mode):
        raise TableError(f"{path}: is a directory, not a {what}")
    if not stat.S_ISREG(st.st_mode):
        kind = "a pipe (FIFO)" if stat.S_ISFIFO(st.st_mode) else "a device or socket"
        raise TableError(f"{path}: is {kind}, not a regular file; save the {what} to a file (CSV may also come "
                         "on stdin as '-')")
    return st.st_size


def _read_bytes(path):
    limit = max_input_bytes()
    if path == "-":
        chunks, size = [], 0
        while True:
            block = sys.stdin.buffer.read(1 << 24)
            if not block:
                return b"".join(chunks), "<stdin>"
            size += len(block)
            if size > limit:
                raise _too_big("<stdin>", size, limit)
            chunks.append(block)
    size = regular_input(path)
    if size > limit:
        raise _too_big(path, size, limit)
    try:
        with open(path, "rb") as fh:
            raw = fh.read(limit + 1)
    except OSError as exc:
        raise TableError(f"{path}: cannot read: {exc.strerror or exc}") from None
    if len(raw) > limit:  # grown since the check
        raise _too_big(path, len(raw), limit)
    return raw, os.fspath(path)


def _check_utf8(raw, source, first_line=1):
    """Raise TableError at the first byte of ``raw`` that is not UTF-8;
    ``first_line``: the file line of raw's first byte."""
    if raw.isascii():
        return
    try:
        raw.decode("utf-8")
    except UnicodeDecodeError as exc:
        at = exc.start
        line = raw.count(b"\n", 0, at) + first_line
        col = at - (raw.rfind(b"\n", 0, at) + 1) + 1
        raise TableError(
            f"{source}, line {line}, byte {col}: not UTF-8 text (byte 0x{raw[at]:02x}); "
            "save the file as UTF-8"
        ) from None


def _check_nul(raw, source, header, first_line=1, start=0):
    """Raise TableError at the first NUL byte of ``raw`` from ``start`` on,
    naming its line and column (a NUL is no text a number or a name holds,
    and C parsers stop at it: ``1\\x009e6`` would read as 1)."""
    at = raw.find(b"\0", start)
    if at < 0:
        return
    begin = raw.rfind(b"\n", 0, at) + 1
    line = raw.count(b"\n", 0, at) + first_line
    k = raw.count(b",", begin, at)
    column = f"column {header[k]}" if header and k < len(header) else f"byte {at - begin + 1}"
    raise TableError(f"{source}, line {line}, {column}: a NUL byte (0x00) in the cell; a table is text "
                     "without NUL bytes")


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
    skip: int = -1  # lines of raw before the body (default: header_line)

    def __post_init__(self):
        if self.skip < 0:
            self.skip = self.header_line

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
            header = [c.strip() for c in header]
            _check_nul(raw, source, header)
            return _Text(source, provenance, header, line, raw, min(end + 1, n))
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
            skiprows=t.skip,
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
    # A comment row is a line whose text starts with '#'; a quoted first
    # cell that starts with '#' (the writer quotes such cells) is data.
    firsts = []

    def feed():
        for text in io.StringIO(t.body):
            firsts.append(text.lstrip()[:1])
            yield text

    reader = csv.reader(feed())
    rows, lines = [], []
    try:
        start = 0
        for record in reader:
            line = t.header_line + reader.line_num
            comment = firsts[start] == "#"
            start = reader.line_num
            if not record or all(not c.strip() for c in record) or comment:
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
    numbers, empty cells NaN; str otherwise), provenance str -> str (a
    CSV's from its sidecar ``NAME.csv.meta.json`` when that describes this
    file, else from leading ``#`` lines)."""
    fmt = output_format(path, "table")
    if fmt == "hdf5":
        return _read_hdf5(path)
    if fmt == "npz":
        return _read_npz(path)
    raw, source = _read_bytes(path)
    t, columns, _ = _parse_csv(raw, source, numeric=())
    provenance = t.provenance
    if path != "-":
        provenance = _read_sidecar(path, len(raw)) or provenance
    return {c: _auto_numeric(v) for c, v in columns.items()}, provenance


def _read_sidecar(path, size):
    """The provenance in ``path``'s sidecar, or None when there is none or
    it describes another file (its recorded size differs)."""
    try:
        with open(sidecar(path), encoding="utf-8") as fh:
            record = json.load(fh)
    except (OSError, ValueError):
        return None
    if not isinstance(record, dict) or record.get("bytes") != size or not isinstance(record.get("provenance"), dict):
        return None
    return {str(k): str(v) for k, v in record["provenance"].items()}


def _hdf5_members(f, path):
    """(name, dataset) of each column of an open HDF5 table, in creation
    order, with every layout a table cannot have refused before any data
    is read: links (soft or external) instead of datasets, groups,
    compound or other structured types, arrays that are not 1-D, columns
    of different lengths."""
    import h5py

    out = []
    for name in _creation_order(f):
        link = f.get(name, getlink=True)
        if isinstance(link, (h5py.SoftLink, h5py.ExternalLink)):
            kind = "a soft link" if isinstance(link, h5py.SoftLink) else "an external link"
            raise TableError(f"{path}: /{name} is {kind}; a table holds its columns as datasets in the file")
        try:
            item = f[name]
        except (KeyError, OSError) as exc:
            raise TableError(f"{path}: /{name} cannot be opened ({exc})") from None
        if not isinstance(item, h5py.Dataset) or item.ndim != 1:
            raise TableError(f"{path}: /{name} is not a 1-D dataset (a table holds one per column)")
        if item.dtype.kind not in "fiubSO" or item.dtype.names is not None:
            raise TableError(f"{path}: /{name} holds {item.dtype} values (a compound or other structured type); "
                             "a table holds one 1-D dataset of numbers or strings per column")
        out.append((name, item))
    lengths = {item.shape[0] for _, item in out}
    if len(lengths) > 1:
        shown = ", ".join(f"/{name} {item.shape[0]}" for name, item in out)
        raise TableError(f"{path}: columns of different lengths ({shown}); a table's columns are one length")
    return out


def _hdf5_strings(item, path, name, sel=()):
    try:
        return np.array(item.asstr()[sel] if sel != () else item.asstr()[()], dtype=str)
    except UnicodeDecodeError as exc:
        raise TableError(f"{path}: /{name} holds strings that are not UTF-8 ({exc.reason} at byte "
                         f"{exc.start})") from None


def _read_hdf5(path, start=0, stop=None):
    import h5py

    regular_input(path)
    try:
        f = h5py.File(path, "r")
    except OSError as exc:
        raise TableError(f"{path}: not an HDF5 file ({exc})") from None
    with f:
        columns = {}
        members = _hdf5_members(f, path)
        limit = max_input_bytes()
        need = sum(item.shape[0] * max(item.dtype.itemsize, 8) for _, item in members)
        if stop is None and need > limit:
            raise _too_big(path, need, limit)
        sel = () if (start == 0 and stop is None) else slice(start, stop)
        for name, item in members:
            try:
                if item.dtype.kind in "SO":
                    columns[name] = _hdf5_strings(item, path, name, sel)
                else:
                    columns[name] = item[()] if sel == () else item[sel]
            except (OSError, RuntimeError, KeyError) as exc:
                raise TableError(f"{path}: /{name} cannot be read ({exc})") from None
        provenance = {}
        for key, value in f.attrs.items():
            provenance[str(key)] = value.decode("utf-8", "replace") if isinstance(value, bytes) else str(value)
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
    import zipfile
    import zlib

    size = regular_input(path)
    limit = max_input_bytes()
    try:
        with np.load(path, allow_pickle=False) as data:
            # The arrays' own sizes, from the archive's directory, before
            # any is inflated (a small file may hold a huge array).
            need = sum(i.file_size for i in data.zip.infolist()) if hasattr(data, "zip") else size
            if need > limit:
                raise _too_big(path, need, limit)
            columns = {k: data[k] for k in data.files if k != "__provenance__"}
            provenance = json.loads(str(data["__provenance__"])) if "__provenance__" in data.files else {}
    except TableError:
        raise
    except (OSError, ValueError, EOFError, KeyError, zipfile.BadZipFile, zlib.error, UnicodeDecodeError) as exc:
        raise TableError(f"{path}: not a readable npz table ({type(exc).__name__}: {exc})") from None
    if not isinstance(provenance, dict):
        provenance = {"__provenance__": str(provenance)}
    lengths = set()
    for name, arr in columns.items():
        if arr.ndim != 1:
            raise TableError(f"{path}: {name} is not 1-D (a table holds one 1-D array per column)")
        if arr.dtype.kind not in "fiubSU":
            raise TableError(f"{path}: {name} holds {arr.dtype} values; a table holds numbers or strings")
        if arr.dtype.kind == "S":
            try:
                columns[name] = np.char.decode(arr, "utf-8")
            except UnicodeDecodeError as exc:
                raise TableError(f"{path}: {name} holds byte strings that are not UTF-8 ({exc.reason})") from None
        lengths.add(arr.shape[0])
    if len(lengths) > 1:
        shown = ", ".join(f"{k} {v.shape[0]}" for k, v in columns.items())
        raise TableError(f"{path}: columns of different lengths ({shown}); a table's columns are one length")
    return columns, provenance


# ----------------------------------------------------------------- catalogs

# The columns a catalog may hold, their aliases and the rule for any other
# column: ``phenomd._catalog`` (CATALOG_COLUMNS, ALIASES, resolve).


@dataclass
class Catalog:
    """Binaries read from a table.

    ``numbers``: schema name -> float64 (n,) for each numeric catalog
    column present in the file (NaN where a cell was empty, allowed only
    in optional columns); ``other``: the remaining columns as read (str,
    or numbers from HDF5/npz): ``name`` and, with ``keep``, unknown ones;
    ``header``: every column in the file's order, under its schema name;
    ``columns``: how the file's names were read (aliases, kept columns);
    ``lines``: the file line of each row (CSV) or None (HDF5/npz rows are
    numbered from ``row0``); ``provenance``: the file's own.
    """

    source: str
    header: list
    numbers: dict
    other: dict
    lines: np.ndarray | None = None
    provenance: dict = field(default_factory=dict)
    item: str | None = None  # rows named "ITEM 1", "ITEM 2", ... (e.g. "--binary")
    columns: Columns = field(default_factory=Columns)
    row0: int = 0  # the file row of row 0 (a block of a larger file)

    def __len__(self):
        return len(next(iter(self.numbers.values())))

    def where(self, i):
        """Where row ``i`` is, for a message: "FILE, line L" or "FILE, row i"."""
        if self.lines is not None and 0 <= i < len(self.lines):
            return f"{self.source}, line {int(self.lines[i])}"
        if self.item:
            return f"{self.item} {i + 1}"
        return f"{self.source}, row {self.row0 + i}"

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


def _catalog_names(header, source, line, column_help, keep):
    """Resolve a catalog header (``phenomd._catalog.resolve``) and check it
    has the required columns; every fault a TableError naming the file."""
    where = f"{source}, line {line}" if line else source
    try:
        names = resolve(header, keep=keep)
    except ColumnError as exc:
        raise TableError(f"{where}: {exc}") from None
    found = set(names.names.values())
    missing = [c for c in REQUIRED if c not in found]
    if missing:
        tail = f"\n\n{column_help}" if column_help else ""
        raise TableError(f"{where}: header lacks column(s) {', '.join(missing)}{tail}")
    return names


def _separator_hint(header, source, line):
    """A header read as one column holding ';' or tabs: say so before its
    name is reported as unknown."""
    if len(header) == 1 and (";" in header[0] or "\t" in header[0]):
        sep, kind = ("';'", "semicolon") if ";" in header[0] else ("tabs", "tab")
        raise TableError(f"{source}, line {line}: the header holds {sep}: this looks like a {kind}-separated "
                         "file; phenomd reads comma-separated values")


def _check_required(cat):
    for name in REQUIRED:
        col = cat.numbers[name]
        bad = np.flatnonzero(np.isnan(col))
        if bad.size:
            raise TableError(f"{cat.where(int(bad[0]))}: column {name} is empty")


def _check_inclination(cat):
    """A catalog's inclinations are angles in radians, in [0, pi]: a value
    outside (60 is degrees, most likely) is refused with its row."""
    col = cat.numbers.get("inclination")
    if col is None:
        return
    bad = np.flatnonzero(~np.isnan(col) & ~((col >= 0) & (col <= math.pi)))
    if bad.size:
        i = int(bad[0])
        hint = f" ({col[i]!r} degrees would be {math.radians(col[i])!r} rad)" if 0 < col[i] <= 180 else ""
        raise TableError(f"{cat.where(i)}: inclination = {col[i]!r}: an angle in radians in [0, pi]{hint}")


def _csv_catalog(t, column_help, keep, whole=True):
    """A Catalog from a parsed CSV head ``t`` (a whole file, or with
    ``whole=False`` one block of a file's body)."""
    _header_faults(t.header, t.source, t.header_line)
    _separator_hint(t.header, t.source, t.header_line)
    names = _catalog_names(t.header, t.source, t.header_line, column_help, keep)
    numeric = {h for h in t.header if names.names.get(h) in NUMERIC}
    ncols = len(t.header)
    lines = _plain_rows(t, ncols)
    columns = _fast_columns(t, numeric) if lines is not None and lines.size else None
    if columns is None or len(next(iter(columns.values()))) != lines.size:
        columns, lines = _careful_columns(t, numeric, ncols)
    if whole and lines.size == 0:
        raise TableError(f"{t.source}: no binaries after the header")
    cat = Catalog(t.source, [names.names.get(h, h) for h in t.header],
                  {names.names[h]: columns[h] for h in t.header if h in numeric},
                  {names.names.get(h, h): columns[h] for h in t.header if h not in numeric},
                  lines, t.provenance, columns=names)
    _check_required(cat)
    _check_inclination(cat)
    return cat


def _array_catalog(columns, source, provenance, column_help, keep, row0=0, whole=True):
    """A Catalog from the arrays of an HDF5 or npz table (or rows
    ``row0``... of one): numbers in the numeric columns, no NaN (these
    formats have no empty cells), strings elsewhere."""
    header = list(columns)
    names = _catalog_names(header, source, None, column_help, keep)
    numbers, other = {}, {}
    for name, arr in columns.items():
        key = names.names.get(name, name)
        if key not in NUMERIC:
            other[key] = arr
            continue
        if arr.dtype.kind not in "fiu":
            raise TableError(f"{source}: column {name} holds {arr.dtype} values, not numbers")
        col = np.ascontiguousarray(arr, dtype=np.float64)
        bad = np.flatnonzero(np.isnan(col))
        if bad.size:
            raise TableError(
                f"{source}, row {row0 + int(bad[0])}, column {name}: nan; HDF5 and npz catalogs have no empty "
                "cells: leave the column out for the default"
            )
        numbers[key] = col
    if whole and not len(next(iter(columns.values()))):
        raise TableError(f"{source}: no binaries in the table")
    cat = Catalog(source, [names.names.get(h, h) for h in header], numbers, other, None, provenance,
                  columns=names, row0=row0)
    _check_required(cat)
    _check_inclination(cat)
    return cat


def read_catalog(path, *, column_help="", keep=False):
    """Binaries from a CSV (``-``: stdin), HDF5 or npz table.

    Every column is accounted for (``phenomd._catalog.resolve``): a
    catalog column under its name or an alias (``z`` for redshift, ``dL``
    for distance, ...) is read under its schema name (``Catalog.columns``
    says which aliases were used); any other column is a TableError with
    a "did you mean" hint, unless ``keep`` (then it is carried through
    in ``other``).  Two columns meaning one quantity are an error.

    Empty cells mean the column's default; an explicit ``nan`` is an error,
    as is anything else that is not a number in a catalog column, a row
    with the wrong number of fields, invalid UTF-8, a NUL byte, a field
    over the csv module's size limit, an inclination outside [0, pi]: each
    a TableError naming file, line and column.  A UTF-8 byte-order mark is
    accepted.  A FIFO or device is refused, and a file larger than
    ``max_input_bytes()`` too, before reading.  Column names are
    case-sensitive (a case-only mismatch is an error with a hint);
    ``column_help`` is appended to a missing-column message."""
    fmt = "csv" if path == "-" else output_format(path, "table")
    if fmt == "csv":
        raw, source = _read_bytes(path)
        return _csv_catalog(_split_header(raw, source), column_help, keep)
    columns, provenance = read_table(path)
    return _array_catalog(columns, path, provenance, column_help, keep)


# ---------------------------------------------- catalogs in blocks (Dask)


def csv_catalog_head(path, keep=False):
    """(header, header_line, body_start, provenance) of a catalog CSV file,
    from its first bytes, with the header checked as ``read_catalog``
    checks it."""
    size = regular_input(path)
    want = 1 << 16
    while True:
        with open(path, "rb") as fh:
            raw = fh.read(want)
        cut = raw.rfind(b"\n") + 1 if len(raw) < size else len(raw)
        try:
            t = _split_header(raw[:cut] if cut else raw, path)
        except TableError:
            if len(raw) >= size or want > (64 << 20):
                raise
            want *= 4
            continue
        _header_faults(t.header, path, t.header_line)
        _separator_hint(t.header, path, t.header_line)
        _catalog_names(t.header, path, t.header_line, "", keep)
        return t.header, t.header_line, t.body_start, t.provenance


def read_csv_block(path, start, stop, header, first_line, keep=False):
    """The Catalog of bytes [start, stop) of a catalog CSV file's body
    (whole lines; ``first_line`` the file line at ``start``), parsed and
    checked by the same code as ``read_catalog`` (an empty block gives 0
    rows)."""
    with open(path, "rb") as fh:
        fh.seek(start)
        raw = fh.read(stop - start)
    if len(raw) != stop - start:
        raise TableError(f"{path}: changed while read (bytes {start}-{stop} are gone)")
    _check_utf8(raw, path, first_line)
    _check_nul(raw, path, header, first_line)
    t = _Text(path, {}, list(header), first_line - 1, raw, 0, skip=0)
    return _csv_catalog(t, "", keep, whole=False)


def hdf5_catalog_head(path, keep=False):
    """(header, rows) of an HDF5 catalog, its layout and names checked as
    ``read_catalog`` checks them, without reading its data."""
    import h5py

    regular_input(path)
    try:
        f = h5py.File(path, "r")
    except OSError as exc:
        raise TableError(f"{path}: not an HDF5 file ({exc})") from None
    with f:
        members = _hdf5_members(f, path)
        if not members:
            raise TableError(f"{path}: no columns")
        header = [name for name, _ in members]
        _catalog_names(header, path, None, "", keep)
        return header, members[0][1].shape[0]


def read_hdf5_block(path, start, stop, keep=False):
    """The Catalog of rows [start, stop) of an HDF5 catalog, checked as
    ``read_catalog`` checks the whole."""
    columns, provenance = _read_hdf5(path, start, stop)
    return _array_catalog(columns, path, provenance, "", keep, row0=start, whole=False)
