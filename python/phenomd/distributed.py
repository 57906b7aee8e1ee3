"""Population catalogs on a Dask cluster: SNRs partition by partition,
written one file per partition, resumable.

    >>> from phenomd.distributed import snr_catalog
    >>> s = snr_catalog("catalog-*.csv", "out/", workers=2)        # LocalCluster
    >>> s = snr_catalog("catalog.h5", "out/", scheduler="tcp://head:8786")
    >>> print(s.line())

Each partition of the input catalog becomes one task on a worker: the
worker computes the partition's SNRs with ``phenomd.binary_snr`` (the fast
or exact module, located on the worker the way ``load_library`` locates it
locally) and writes ``part-NNNNN.csv`` (or ``.h5``) atomically into the
output directory, with the run's provenance.  The client records every
finished partition in ``manifest.json`` (also written atomically), so that
a run stopped by Ctrl-C, a lost client or a failed partition keeps what it
finished: the same command run again skips every partition whose file is
complete and was made from the same inputs with the same options, and
computes the rest.  A worker lost in the middle of a partition costs only
that partition, which Dask runs again elsewhere; since a partition's file
is replaced whole, every binary is in the output exactly once.

The output directory must be visible, at the same path, to the client and
to every worker (a shared file system on a cluster).

Conventions of the numbers written are those of ``binary_snr``: the SNRs
are the sky- and polarisation-averaged ratios against the noise curve's
effective PSD, at the given inclination convention (default: averaged over
inclinations), total and split into inspiral, merger and ringdown;
``f_merger_start`` and ``f_ringdown_start`` are observed-frame boundaries
in Hz; ``distance`` is the luminosity distance used, Mpc.
"""

from __future__ import annotations

import contextlib
import copy
import dataclasses
import glob
import hashlib
import json
import logging
import math
import os
import re
import threading
import time

import numpy as np

from . import _atomic
from ._catalog import FLAG_COLUMNS, NUMERIC, REQUIRED, RESULT_COLUMNS, dtypes
from ._inputs import InputError
from ._library import LibraryNotFoundError
from .core import _method_record as _core_method_record

__all__ = [
    "CatalogBusyError",
    "CatalogError",
    "CatalogMismatchError",
    "DEFAULT_PARTITION_SIZE",
    "SchedulerUnreachableError",
    "Summary",
    "WorkerLibraryNotFoundError",
    "read_catalog",
    "snr_catalog",
    "snr_dataframe",
]

# Binaries per partition when the catalog comes from files.  A partition
# costs 20-26 ms of worker time beyond its binaries (scheduling, reading
# the block, flushing and renaming its file; bench/dask_population.py),
# under 2 % of a partition of this size at the fast module's rate with 1000
# grid points.  Larger partitions would shave that further but leave more
# of a run's end to one worker finishing its last partition while the
# others wait.
DEFAULT_PARTITION_SIZE = 64_000
DEFAULT_TIMEOUT = 20.0  # seconds to reach a scheduler
MANIFEST = "manifest.json"
MANIFEST_VERSION = 1
FORMATS = {"csv": ".csv", "h5": ".h5", "hdf5": ".h5"}

# The catalog's and the result's columns: ``phenomd._catalog``.
REQUIRED_COLUMNS = REQUIRED
NUMERIC_COLUMNS = NUMERIC

_PART_RE = re.compile(r"^part-(\d{5,})\.(csv|h5)$")
_TMP_RE = re.compile(r"^\.part-\d{5,}\..*\.tmp\.(csv|h5|json)$")
_META_RE = re.compile(r"^part-(\d{5,})\.csv\.meta\.json$")  # a CSV partition's provenance (tables.sidecar)


# ------------------------------------------------------------------ errors


class SchedulerUnreachableError(ConnectionError):
    """No Dask scheduler answered at the given address within the timeout."""


class CatalogError(ValueError):
    """A partition of the catalog could not be computed (bad values, bad
    columns); the message names the partition and, where known, the row."""

    def __init__(self, message, partition=None):
        self.partition = partition
        super().__init__(message)

    def __reduce__(self):
        return (type(self), (str(self), self.partition))


class CatalogMismatchError(ValueError):
    """The output directory holds a catalog made from other inputs or with
    other options."""


class CatalogBusyError(RuntimeError):
    """Another run holds the output directory."""


class WorkerLibraryNotFoundError(LibraryNotFoundError):
    """A worker could not load the C module; the message lists every place
    that worker tried (its own environment and file system)."""

    def __init__(self, name, attempts, worker=None):
        self.worker = worker
        super().__init__(name, attempts)
        if worker:
            self.args = (f"on worker {worker}: {self.args[0]}",)

    def __str__(self):
        return self.args[0]

    def __reduce__(self):
        return (type(self), (self.name, self.attempts, self.worker))


# ------------------------------------------------------------------ inputs


def _expand(inputs):
    if isinstance(inputs, (str, os.PathLike)):
        inputs = [inputs]
    paths = []
    for item in inputs:
        item = os.fspath(item)
        if glob.has_magic(item):
            found = sorted(glob.glob(item))
            if not found:
                raise FileNotFoundError(f"{item}: no catalog file matches")
            paths.extend(found)
        elif not os.path.isfile(item):
            raise FileNotFoundError(f"{item}: no such catalog file")
        else:
            paths.append(item)
    if not paths:
        raise ValueError("no catalog files given")
    return [os.path.abspath(p) for p in paths]


def _kind(path):
    ext = os.path.splitext(path)[1].lower()
    if ext == ".csv":
        return "csv"
    if ext in (".h5", ".hdf5"):
        return "h5"
    raise ValueError(f"{path}: catalog files are .csv, .h5 or .hdf5")


def _bytes_per_row(path, start, sample=1 << 16):
    with open(path, "rb") as fh:
        fh.seek(start)
        head = fh.read(sample)
    rows = [ln for ln in head.splitlines() if ln.strip() and not ln.lstrip().startswith(b"#")]
    if not rows:
        return 64.0
    return max(8.0, sum(len(r) + 1 for r in rows) / len(rows))


def _csv_spans(path, body_start, header_line, blocksize, chunk=1 << 26):
    """[(start, stop, first_line), ...]: a CSV body cut into blocks of about
    ``blocksize`` bytes, each cut after a line end that lies outside any
    quoted field (an even count of '"' before it: a doubled quote inside a
    field counts twice), with the file line each block starts at; and
    whether the body holds anything but white space.  One pass over the
    file in ``chunk``-byte reads."""
    spans, start, lines_at_start = [], body_start, header_line
    target = body_start + blocksize
    quotes = lines = 0  # '"' and line ends in [body_start, pos)
    content = False
    pos = body_start
    with open(path, "rb") as fh:
        fh.seek(body_start)
        while True:
            buf = fh.read(chunk)
            if not buf:
                break
            arr = np.frombuffer(buf, dtype=np.uint8)
            nl = np.flatnonzero(arr == 10)
            q = np.flatnonzero(arr == 34)
            if not content:
                content = bool(np.any((arr != 10) & (arr != 13) & (arr != 32) & (arr != 9)))
            even = nl[(quotes + np.searchsorted(q, nl)) % 2 == 0] + pos
            while even.size:
                k = int(np.searchsorted(even, target - 1))
                if k >= even.size:
                    break
                cut = int(even[k]) + 1
                before = header_line + lines + int(np.searchsorted(nl + pos, cut))
                spans.append((start, cut, lines_at_start + 1))
                start, lines_at_start, target = cut, before, cut + blocksize
            quotes += q.size
            lines += nl.size
            pos += len(buf)
    if pos > start:
        spans.append((start, pos, lines_at_start + 1))
    return spans, content


def _catalog_error(exc):
    from .tables import TableError

    if isinstance(exc, TableError):
        return CatalogError(str(exc))
    return exc


def _read_block(block):
    """One partition of a catalog, as a pandas DataFrame with the schema's
    column names: parsed and checked by the serial reader's own code
    (``phenomd.tables``), so that both paths accept and refuse the same
    files with the same messages."""
    from .tables import TableError, read_csv_block, read_hdf5_block

    kind, path, a, b, header, first_line, keep = block
    try:
        if kind == "csv":
            cat = read_csv_block(path, a, b, header, first_line, keep)
        else:
            cat = read_hdf5_block(path, a, b, keep)
    except TableError as exc:
        raise CatalogError(str(exc)) from None
    return _catalog_frame(cat)


def _catalog_frame(cat):
    import pandas as pd

    data = {}
    for name in cat.header:
        if name in cat.numbers:
            data[name] = cat.numbers[name]
        else:
            v = cat.other[name]
            data[name] = v if v.dtype.kind in "fiub" else np.asarray(v, dtype=object)
    return pd.DataFrame(data)


def read_catalog(inputs, *, partition_size=None, keep_columns=False):
    """A lazy Dask DataFrame over catalog files, and the inputs' identity.

    ``inputs`` is a path, a glob pattern or a list of them: CSV files cut
    into byte blocks of about ``partition_size`` rows at line ends outside
    quoted fields, or HDF5 files holding one 1-D dataset per column, read
    in slices of ``partition_size`` rows.  Every block is parsed and
    checked by the same code as ``phenomd.tables.read_catalog`` (columns
    and aliases, empty cells, ``nan``, quoting, NUL bytes, UTF-8, HDF5
    layouts); headers and layouts are checked here, before any work, the
    cells on the workers.  ``keep_columns`` carries unknown columns
    through instead of refusing them.  Returns (ddf, identity) where
    identity records every file's path, size and modification time and
    the partitioning, so that a later run can tell whether its inputs are
    the same; ``identity["columns"]`` says how the header was read.
    """
    import dask.dataframe as dd
    import pandas as pd

    from ._catalog import resolve
    from .tables import TableError, csv_catalog_head, hdf5_catalog_head

    rows = int(partition_size or DEFAULT_PARTITION_SIZE)
    if rows < 1:
        raise ValueError(f"partition_size must be a positive number of binaries, not {partition_size!r}")
    paths = _expand(inputs)
    kinds = {_kind(p) for p in paths}
    if len(kinds) != 1:
        raise ValueError("catalog files must all be CSV or all HDF5")
    kind = kinds.pop()
    files = []
    for p in paths:
        st = os.stat(p)
        files.append({"path": p, "size": st.st_size, "mtime_ns": st.st_mtime_ns})
    identity = {"kind": kind, "files": files, "partition_size": rows}
    keep = bool(keep_columns)
    blocks, headers = [], []
    try:
        if kind == "csv":
            heads = [csv_catalog_head(p, keep) for p in paths]
            headers = [h[0] for h in heads]
            blocksize = max(1 << 10, int(rows * _bytes_per_row(paths[0], heads[0][2])))
            identity["blocksize"] = blocksize
            for p, (header, header_line, body_start, _) in zip(paths, heads):
                spans, content = _csv_spans(p, body_start, header_line, blocksize)
                if not content:
                    raise CatalogError(f"{p}: no binaries after the header")
                blocks.extend(("csv", p, a, b, header, line, keep) for a, b, line in spans)
        else:
            for p in paths:
                header, n = hdf5_catalog_head(p, keep)
                if n == 0:
                    raise CatalogError(f"{p}: no binaries in the table")
                headers.append(header)
                blocks.extend(("h5", p, a, min(a + rows, n), header, None, keep) for a in range(0, n, rows))
    except TableError as exc:
        raise CatalogError(str(exc)) from None
    if any(h != headers[0] for h in headers):
        raise CatalogError("catalog files must share one header: "
                           + "; ".join(f"{p}: {','.join(h)}" for p, h in zip(paths, headers)))
    names = resolve(headers[0], keep=keep)
    identity["columns"] = names.describe()
    meta = pd.DataFrame({names.names.get(h, h): pd.Series([], dtype="float64" if names.names.get(h) in NUMERIC
                                                          else "object") for h in headers[0]})
    ddf = dd.from_map(_read_block, blocks, meta=meta, label=f"read-catalog-{kind}", enforce_metadata=False)
    return ddf, identity


# ------------------------------------------------------------- per partition


def _column(pdf, name, default):
    if name not in pdf.columns:
        return np.full(len(pdf), default, dtype=np.float64)
    v = pdf[name].to_numpy(dtype=np.float64, na_value=np.nan)
    if default is not None:
        v = np.where(np.isnan(v), default, v)
    return np.ascontiguousarray(v)


def _inclinations(pdf, option, partition):
    """A partition's own inclinations (column ``inclination``, radians),
    empty cells filled with the angle ``option`` names (face-on 0,
    edge-on pi/2, or an angle; the average is no angle: an error), or
    ``option`` itself when there is no such column."""
    if "inclination" not in pdf.columns:
        return option
    col = _column(pdf, "inclination", None)
    empty = np.isnan(col)
    if empty.any():
        angle = {"face-on": 0.0, "edge-on": math.pi / 2}.get(option) if isinstance(option, str) else option
        if angle is None:
            raise CatalogError(f"partition {partition}, row {int(np.flatnonzero(empty)[0])}: column inclination "
                               "is empty; give an angle (radians) on every row, or inclination= an angle for "
                               "the empty cells", partition)
        col = np.where(empty, float(getattr(angle, "to_value", lambda unit: angle)("rad")), col)
    return col


def _ordered(pdf, computed):
    """Column order of a result: the input's columns (``distance`` in its
    place, now filled), then the computed ones."""
    names = list(pdf.columns)
    return names + [c for c in computed if c not in names]


def _snr_columns(pdf, opts, partition=None):
    """The computed columns of one partition (a pandas DataFrame of catalog
    rows): ``distance`` (filled where it came from the redshift), the four
    SNRs, the two boundary frequencies and the warning flags."""
    from .core import binary_snr

    if isinstance(opts, _Shared):
        opts = opts.opts
    n = len(pdf)
    incl = _inclinations(pdf, opts["inclination"], partition)
    m1 = _column(pdf, "m1", None)
    m2 = _column(pdf, "m2", None)
    s1 = _column(pdf, "spin1", 0.0)
    s2 = _column(pdf, "spin2", 0.0)
    z = _column(pdf, "redshift", None)
    ts = _column(pdf, "t_start", opts["t_start"])
    te = _column(pdf, "t_end", 0.0)
    dist = _column(pdf, "distance", None)
    out = {c: np.empty(n, dtype=np.float64) for c in ("distance",) + RESULT_COLUMNS}
    out.update({c: np.zeros(n, dtype=t) for c, t in dtypes(FLAG_COLUMNS).items()})
    given = ~np.isnan(dist)
    kwargs = dict(noise=opts["noise"], cosmology=opts["cosmology"], threads=1, library=opts["library"],
                  fast=opts["fast"], method=opts["method"], rtol=opts["rtol"])
    # Rows with a distance and rows whose distance comes from the redshift
    # go to binary_snr separately, so that the latter get exactly the
    # distances binary_snr itself computes from a redshift.
    for rows, d in ((np.flatnonzero(given), True), (np.flatnonzero(~given), False)):
        if rows.size == 0:
            continue
        whole = rows.size == n
        pick = (lambda a: a) if whole else (lambda a: a[rows])
        try:
            r = binary_snr(pick(m1), pick(m2), pick(s1), pick(s2), pick(dist) if d else None, pick(z),
                           pick(ts), pick(te), opts["length"], inclination=incl if np.ndim(incl) == 0 or
                           isinstance(incl, str) else pick(incl), **kwargs)
        except InputError as exc:
            where = ""
            if isinstance(exc.index, int) and 0 <= exc.index < rows.size:
                row = int(rows[exc.index])
                label = pdf["name"].iloc[row] if "name" in pdf.columns else None
                where = f", row {row}" + (f" ({label})" if isinstance(label, str) and label else "")
            raise CatalogError(f"partition {partition}{where}: {exc}", partition) from None
        for c in ("distance",) + RESULT_COLUMNS:
            out[c][rows] = getattr(r, c)
        for c in FLAG_COLUMNS:
            out[c][rows] = getattr(r, c)
    return out


def _snr_frame(pdf, opts, partition=None):
    """One partition's result as a pandas DataFrame: the input columns and
    the computed ones (see ``_snr_columns``)."""
    import pandas as pd

    computed = _snr_columns(pdf, opts, partition)
    return pd.DataFrame({c: computed[c] if c in computed else pdf[c] for c in _ordered(pdf, computed)},
                        index=pdf.index)


def _meta(meta_in):
    import pandas as pd

    out = meta_in.iloc[:0].copy()
    for c, t in dtypes(("distance",) + RESULT_COLUMNS + FLAG_COLUMNS).items():
        out[c] = pd.Series([], dtype=t)
    return out


_LOCK_TYPES = (type(threading.Lock()), type(threading.RLock()))


class _Shared:
    """The options every partition's task shares, as one object in the task
    graph.  Pickling (client to worker, and worker to worker when Dask
    copies it) leaves out the process-local locks a noise curve may keep
    beside a table it built."""

    def __init__(self, opts):
        self.opts = opts

    def __reduce__(self):
        opts = dict(self.opts)
        opts["noise"] = _portable(opts["noise"], "noise")
        return (_Shared, (opts,))


def _portable(obj, name):
    """``obj`` as it can travel to the workers.  A lock guarding a cache
    (e.g. a noise curve's lazily built table) is local to a process: a
    shallow copy without it is sent instead, and the worker makes its own.
    Anything else that does not pickle is an error here, before any work."""
    import cloudpickle

    try:
        cloudpickle.dumps(obj)
        return obj
    except Exception as exc:
        first = exc
    state = getattr(obj, "__dict__", None)
    if state is not None and any(isinstance(v, _LOCK_TYPES) for v in state.values()):
        clone = copy.copy(obj)
        for k, v in list(vars(clone).items()):
            if isinstance(v, _LOCK_TYPES):
                delattr(clone, k)
        try:
            cloudpickle.dumps(clone)
            return clone
        except Exception:
            pass
    raise TypeError(f"{name} {obj!r} cannot be sent to the workers: it does not pickle ({first})") from None


def _options(fast, noise, inclination, length, cosmology, t_start, library, method="gauss", rtol=None):
    from . import noise as noise_mod
    from ._gauss import resolve
    from ._inputs import as_length
    from .core import DEFAULT_LENGTH

    method, length, rtol = resolve(method, length, rtol, DEFAULT_LENGTH)

    if noise is None:
        noise = noise_mod.LISA(4)  # binary_snr's default, made explicit for the provenance
    if not callable(noise):
        raise TypeError(f"noise must be a noise curve or callable; got {type(noise).__name__}")
    if not isinstance(inclination, str) and np.ndim(getattr(inclination, "value", inclination)) != 0:
        raise ValueError("inclination for a catalog run is one convention or angle for every binary "
                         "('average', 'face-on', 'edge-on' or an angle in radians)")
    noise = _portable(noise, "noise")
    if cosmology is not None and not isinstance(cosmology, str):
        cosmology = _portable(cosmology, "cosmology")
    lib = getattr(library, "path", library)  # a Library holds a CDLL, which does not pickle
    return {"fast": bool(fast), "noise": noise, "inclination": inclination,
            "length": None if length is None else as_length(length), "method": method, "rtol": rtol,
            "cosmology": cosmology, "t_start": float(t_start), "library": None if lib is None else os.fspath(lib)}


def _describe_options(opts, fmt):
    cosmo = opts["cosmology"]
    return {
        "fast": opts["fast"],
        "noise": repr(opts["noise"]),
        "inclination": str(opts["inclination"]),
        "length": opts["length"],
        "method": opts["method"],
        "rtol": opts["rtol"],
        "cosmology": getattr(cosmo, "name", None) or ("Planck18" if cosmo is None else str(cosmo)),
        "t_start_default": opts["t_start"],
        "library": opts["library"],
        "format": fmt,
    }


def snr_dataframe(ddf, *, fast=True, noise=None, inclination="average", length=None, cosmology=None,
                  t_start=4.0, library=None, method="gauss", rtol=None):
    """Lazy SNRs of a Dask DataFrame of binaries, partition by partition.

    ``ddf`` has the catalog columns (m1, m2, redshift; optional spin1,
    spin2, distance (NaN: from the redshift with ``cosmology``), t_start
    (NaN: ``t_start``), t_end, and any others, copied).  The result has the
    input columns, ``distance`` (Mpc, the one used), ``snr_all``,
    ``snr_ins``, ``snr_mrg``, ``snr_rd``, ``f_merger_start``,
    ``f_ringdown_start`` (Hz) and the flags ``n_outside``, ``inverted``,
    ``uncalibrated`` (see FLAG_COLUMNS); values are bitwise those of
    ``binary_snr`` on the same rows in one process.  Nothing is computed
    until the result is.  ``method`` ("gauss", default, converged to
    ``rtol``; or "trapezoid" on ``length`` points) as for ``binary_snr``,
    which also says what ``n_outside`` counts under each.
    """
    import dask

    opts = _options(fast, noise, inclination, length, cosmology, t_start, library, method, rtol)
    missing = [c for c in REQUIRED_COLUMNS if c not in ddf.columns]
    if missing:
        raise CatalogError(f"the DataFrame lacks column(s) {', '.join(missing)}")
    # One copy of the options (the noise curve may carry a table) in the
    # graph, shared by every partition's task.
    shared = dask.delayed(_Shared(opts), pure=True, traverse=False)
    return ddf.map_partitions(_snr_frame, shared, meta=_meta(ddf._meta), enforce_metadata=False,
                              align_dataframes=False)


# ----------------------------------------------------------------- writing


def _write_table(path, columns, provenance):
    from .tables import write_table  # atomic; CSV with its NAME.csv.meta.json sidecar, or HDF5 with root attributes

    write_table(path, columns, provenance)


def _read_table(path):
    """(columns, provenance) of a partition file; raises on any fault."""
    from .tables import read_table

    return read_table(path)


def _sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as fh:
        for block in iter(lambda: fh.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def _part_name(index, fmt):
    return f"part-{index:05d}{FORMATS[fmt]}"


def _worker_address():
    try:
        from distributed import get_worker

        return get_worker().address
    except (ImportError, ValueError):
        return None


def _convention(inclination):
    what = ("averaged over sky position, polarisation and inclination" if inclination == "average"
            else f"averaged over sky position and polarisation, at inclination {inclination}")
    return f"SNR {what}, against the noise curve's effective PSD; total, inspiral, merger, ringdown"


def _write_partition(pdf, index, outdir, fmt, opts, key, command):
    """On a worker: compute one partition and write its file atomically.
    Returns what the manifest records about it."""
    from ._library import load_library
    from ._provenance import provenance

    start = time.perf_counter()
    if isinstance(opts, _Shared):
        opts = opts.opts
    try:
        lib = load_library(opts["library"], fast=opts["fast"])
    except LibraryNotFoundError as exc:
        # The package's own error does not survive pickling; this one does,
        # and names the worker whose environment lacks the module.
        raise WorkerLibraryNotFoundError(exc.name, exc.attempts, _worker_address()) from None
    computed = _snr_columns(pdf, opts, index)
    n = len(pdf)
    columns = {}
    for c in _ordered(pdf, computed):
        if c in computed:
            columns[c] = computed[c]
            continue
        v = pdf[c]
        if v.dtype.kind in "fiu":
            columns[c] = np.ascontiguousarray(v.to_numpy())
        else:
            columns[c] = ["" if x is None or (isinstance(x, float) and math.isnan(x)) else str(x) for x in v]
    prov = provenance(library=lib, fast=opts["fast"], noise=opts["noise"], inclination=opts["inclination"],
                      cosmology=_describe_options(opts, fmt)["cosmology"], length=opts["length"],
                      **_core_method_record(opts["method"], opts["rtol"]), command=command, partition=index,
                      partition_key=key, rows=n,
                      snr_convention=_convention(opts["inclination"] if "inclination" not in pdf.columns
                                                 else "of each binary (catalog column)"),
                      observation_window=f"t_start {opts['t_start']:g} yr before merger (observer frame), t_end "
                                         "0 (through merger and ringdown), where a binary gives none",
                      frequency_unit="Hz, observer frame", distance_unit="Mpc, luminosity distance")
    path = os.path.join(outdir, _part_name(index, fmt))
    _write_table(path, columns, prov)
    snr = computed["snr_all"]
    return {
        "index": index,
        "file": os.path.basename(path),
        "rows": n,
        "key": key,
        "bytes": os.path.getsize(path),
        "sha256": _sha256(path),
        "seconds": round(time.perf_counter() - start, 4),
        "worker": _worker_address(),
        "n_inverted": int(computed["inverted"].sum()),
        "n_uncalibrated": int(computed["uncalibrated"].sum()),
        "n_outside_rows": int((computed["n_outside"] > 0).sum()),
        "snr_max": float(snr.max()) if n else 0.0,
    }


# ---------------------------------------------------------------- manifest


def _key(identity, index, described):
    text = json.dumps({"inputs": identity, "partition": index, "options": described}, sort_keys=True)
    return hashlib.sha256(text.encode()).hexdigest()[:32]


def _load_manifest(outdir):
    path = os.path.join(outdir, MANIFEST)
    try:
        with open(path, encoding="utf-8") as fh:
            m = json.load(fh)
    except FileNotFoundError:
        return None
    except (OSError, ValueError):
        m = None
    if not isinstance(m, dict) or m.get("version") != MANIFEST_VERSION or not isinstance(m.get("partitions"), dict):
        # Unreadable or foreign: as if absent.  Each partition file is then
        # kept only if its own provenance names this run's partition key.
        return None
    return m


def _write_manifest(outdir, manifest):
    with _atomic.atomic_open(os.path.join(outdir, MANIFEST), "w") as fh:
        json.dump(manifest, fh, indent=1, sort_keys=True)
        fh.write("\n")


def _valid(outdir, entry, key, index, fmt):
    """Whether partition ``index``'s file is complete and made from the same
    inputs with the same options: the manifest's checksum when it has one,
    else the file's own provenance and row count.  Returns the manifest
    entry to keep, or None."""
    path = os.path.join(outdir, _part_name(index, fmt))
    if not os.path.isfile(path):
        return None
    if entry is not None and not _entry_complete(entry):
        entry = None  # a damaged record: judged by the file alone, as without a manifest
    if entry is not None and entry.get("key") == key:
        if entry.get("bytes") == os.path.getsize(path) and entry.get("sha256") == _sha256(path):
            return entry
        return None
    try:
        cols, prov = _read_table(path)
        rows = {len(v) for v in cols.values()}
    except Exception:  # any fault of a file cut short or overwritten: recompute it
        return None
    missing = [c for c in RESULT_COLUMNS + FLAG_COLUMNS if c not in cols]
    if missing or prov.get("partition_key") != key or rows != {int(prov.get("rows", -1))}:
        return None
    snr = np.asarray(cols["snr_all"], dtype=np.float64)
    flag = {c: np.asarray(cols[c], dtype=np.float64) for c in FLAG_COLUMNS}
    return {"index": index, "file": os.path.basename(path), "rows": rows.pop(), "key": key,
            "bytes": os.path.getsize(path), "sha256": _sha256(path), "seconds": None, "worker": None,
            "n_inverted": int(flag["inverted"].sum()), "n_uncalibrated": int(flag["uncalibrated"].sum()),
            "n_outside_rows": int((flag["n_outside"] > 0).sum()), "snr_max": float(snr.max()) if snr.size else 0.0}


_ENTRY_FIELDS = {"index": int, "file": str, "rows": int, "key": str, "bytes": int, "sha256": str,
                 "n_inverted": int, "n_uncalibrated": int, "n_outside_rows": int, "snr_max": (int, float)}


def _entry_complete(entry):
    """A manifest entry as _write_partition records it: an object with
    every field the summary reads, each of its type."""
    return isinstance(entry, dict) and all(
        isinstance(entry.get(k), t) and not isinstance(entry.get(k), bool) for k, t in _ENTRY_FIELDS.items())


# ------------------------------------------------------------------ client


@dataclasses.dataclass
class Summary:
    """What a catalog run did.  ``binaries`` counts every binary in the
    catalog's output files; ``computed``/``reused`` count partitions
    computed now and partitions kept from an earlier run."""

    outdir: str
    manifest: str
    partitions: int
    computed: int
    reused: int
    binaries: int
    binaries_computed: int
    n_inverted: int
    n_uncalibrated: int
    n_outside_rows: int
    snr_max: float
    seconds: float
    scheduler: str
    format: str
    files: list
    columns: str = ""  # how the catalog's header was read (aliases, kept columns)
    damaged: tuple = ()  # partitions whose manifest entry was damaged (judged by their files instead)

    def line(self):
        """A one-line account of the run."""
        flags = []
        if self.n_inverted:
            flags.append(f"{self.n_inverted} with inverted bands (SNR 0)")
        if self.n_uncalibrated:
            flags.append(f"{self.n_uncalibrated} outside the model's calibration")
        if self.n_outside_rows:
            flags.append(f"{self.n_outside_rows} partly outside the noise curve's range")
        if self.damaged:
            flags.append(f"the manifest's entries of partition(s) {', '.join(map(str, self.damaged))} were damaged "
                         "(judged by their files' own provenance instead)")
        read = f" ({self.columns})" if self.columns else ""
        return (f"{self.binaries} binaries{read} in {self.partitions} partitions ({self.computed} computed, "
                f"{self.reused} reused) -> {self.outdir} ({self.format}); highest SNR {self.snr_max:.4g}; "
                f"{self.seconds:.1f} s on {self.scheduler}" + ("; " + ", ".join(flags) if flags else ""))


def _check_address(scheduler):
    """A scheduler address Dask can parse (e.g. tcp://head:8786, or
    head:8786), checked before a Client would retry a malformed one."""
    from distributed.comm import parse_address, parse_host_port

    try:
        protocol, location = parse_address(str(scheduler))
        if protocol in ("tcp", "tls", "ws", "wss"):
            host, port = parse_host_port(location, default_port=8786)
            if not (host and 0 < int(port) < 65536):
                raise ValueError("needs a host and a port from 1 to 65535")
    except (ValueError, TypeError) as exc:
        raise ValueError(f"scheduler {scheduler!r}: not a Dask scheduler address such as tcp://HOST:PORT "
                         f"({exc})") from None


@contextlib.contextmanager
def _connect(client, scheduler, workers, timeout):
    if client is not None:
        yield client
        return
    from distributed import Client, LocalCluster

    if scheduler is not None:
        _check_address(scheduler)
        try:
            c = Client(scheduler, timeout=timeout, set_as_default=False)
        except (OSError, TimeoutError) as exc:
            raise SchedulerUnreachableError(
                f"no Dask scheduler answered at {scheduler} within {timeout:g} s ({exc}); start one with "
                "`dask scheduler` and workers with `dask worker ADDRESS`, or use a local cluster (workers=N; "
                "--workers N on the command line)"
            ) from None
        try:
            try:
                # A scheduler without workers would hold the tasks forever.
                c.wait_for_workers(1, timeout=timeout)
            except (OSError, TimeoutError):
                raise SchedulerUnreachableError(
                    f"the Dask scheduler at {scheduler} answered, but no worker joined it within {timeout:g} s; "
                    f"start workers with `dask worker {scheduler}`, or allow them longer (timeout=; --timeout "
                    "on the command line)") from None
            yield c
        finally:
            c.close()
        return
    n = int(workers) if workers else (os.cpu_count() or 1)
    if n < 1:
        raise ValueError(f"workers must be a positive number of processes, not {workers!r}")
    # Errors reach the caller as exceptions; the workers' own log lines
    # (which print a failed partition's rows) stay quiet.
    # Every server of the local cluster (scheduler, nannies, workers and
    # their HTTP servers) on loopback, on ports the system picks: nothing
    # is reachable from another machine, and no fixed port (the dashboard's
    # 8787) can be taken already.  No dashboard.
    with LocalCluster(n_workers=n, threads_per_worker=1, processes=True, host="127.0.0.1",
                      dashboard_address="127.0.0.1:0", worker_dashboard_address="127.0.0.1:0",
                      scheduler_kwargs={"dashboard": False}, silence_logs=logging.ERROR) as cluster:
        with Client(cluster, set_as_default=False) as c:
            yield c


def _progress(progress, total):
    if progress is None or progress is False:
        return None, None
    if progress is True:
        from ._executor import ProgressBar

        bar = ProgressBar(total, label="partitions")
        return bar, bar
    return progress, None


def snr_catalog(inputs, outdir, *, scheduler=None, workers=None, fast=True, noise=None, inclination="average",
                length=None, cosmology=None, partition_size=None, progress=True, client=None, format="csv",
                t_start=4.0, library=None, timeout=DEFAULT_TIMEOUT, overwrite=False, command=None,
                keep_columns=False, method="gauss", rtol=None):
    """SNRs of a population catalog on a Dask cluster, one output file per
    partition, resumable.

    ``inputs``: catalog files (a path, glob or list; CSV or HDF5, see
    ``read_catalog``, which also says how ``keep_columns`` carries unknown
    columns through) or a Dask DataFrame with the catalog columns (its
    own partitions are used).  ``outdir`` receives ``part-NNNNN.csv`` (or
    ``.h5`` with ``format="h5"``), one per input partition in input order,
    and ``manifest.json``; it must be visible at the same path to every
    worker.

    Where it runs: ``client`` (a ``distributed.Client``), else
    ``scheduler`` (an address such as ``tcp://head:8786``; a
    SchedulerUnreachableError after ``timeout`` seconds when none
    answers), else a LocalCluster of ``workers`` processes (default: one
    per core) with one thread each, started and stopped here.

    ``fast``, ``noise`` (default LISA, 4 years of confusion noise),
    ``inclination``, ``method`` (default "gauss", converged to ``rtol``,
    default 1e-6; "trapezoid" on a grid of ``length`` points), ``cosmology``
    (distances for rows without one), ``library`` and ``t_start`` (for rows
    without one) are as for ``binary_snr``; a noise curve and a cosmology travel to the workers by
    pickling.  ``partition_size``: binaries per partition for file inputs
    (default DEFAULT_PARTITION_SIZE).

    Run again with the same inputs and options, it keeps every partition
    whose file is complete (its checksum matches the manifest, or it parses
    with the row count and partition key its provenance states) and
    computes the others.  A second run into a directory that a run still
    holds raises CatalogBusyError.  An output directory made from other inputs or
    options raises CatalogMismatchError unless ``overwrite=True``, which
    removes the earlier partition files first.  Ctrl-C or an error keeps
    every finished partition in the manifest; no file is ever left half
    written.

    ``progress``: True for a bar over partitions on stderr, or a callable
    ``f(done, total)`` called on the client as partitions finish.
    Returns a Summary.
    """
    fmt = {"csv": "csv", "h5": "h5", "hdf5": "h5"}.get(str(format).lower())
    if fmt is None:
        raise ValueError(f"format must be 'csv' or 'h5', not {format!r}")
    if scheduler is not None and client is None:
        _check_address(scheduler)
    opts = _options(fast, noise, inclination, length, cosmology, t_start, library, method, rtol)
    described = _describe_options(opts, fmt)
    if command is None:
        from ._provenance import provenance

        command = provenance()["command"]

    if hasattr(inputs, "to_delayed") and hasattr(inputs, "npartitions"):
        if partition_size is not None:
            raise ValueError("partition_size applies to catalog files; repartition a DataFrame yourself")
        ddf = inputs
        missing = [c for c in REQUIRED_COLUMNS if c not in ddf.columns]
        if missing:
            raise CatalogError(f"the DataFrame lacks column(s) {', '.join(missing)}")
        identity = {"kind": "dataframe", "token": ddf._name, "npartitions": ddf.npartitions}
    else:
        ddf, identity = read_catalog(inputs, partition_size=partition_size, keep_columns=keep_columns)
        # Files are known by their content: a catalog edited in place with
        # its size and modification time kept is not the one a manifest
        # describes, and one merely copied or touched still is.  (SHA-256
        # streamed: about 3 s per GB here, against hours of SNRs for a
        # catalog that size.)
        for entry in identity.get("files", []):
            entry.pop("mtime_ns", None)
            entry["sha256"] = _sha256(entry["path"])
    identity["npartitions"] = ddf.npartitions
    nparts = ddf.npartitions
    keys = [_key(identity, i, described) for i in range(nparts)]

    outdir = os.path.abspath(os.fspath(outdir))
    os.makedirs(outdir, exist_ok=True)
    with _locked(outdir):
        return _fill(outdir, ddf, identity, keys, described, opts, fmt, command, overwrite, progress, client,
                     scheduler, workers, timeout)


@contextlib.contextmanager
def _locked(outdir):
    """Hold ``OUTDIR/manifest.lock`` for the run, so that a second run into
    the same directory (a batch job resubmitted while the first still runs)
    stops at once instead of racing the first for its files."""
    import fcntl

    path = os.path.join(outdir, "manifest.lock")
    fd = os.open(path, os.O_RDWR | os.O_CREAT, 0o666)
    try:
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            raise CatalogBusyError(f"{outdir}: another run is writing this catalog ({path} is held)") from None
        yield
    finally:
        os.close(fd)


def _fill(outdir, ddf, identity, keys, described, opts, fmt, command, overwrite, progress, client, scheduler,
          workers, timeout):
    """The body of snr_catalog, run while holding the output directory's lock."""
    import dask

    nparts = ddf.npartitions
    manifest = _load_manifest(outdir)
    if manifest is not None and (manifest.get("inputs") != identity or manifest.get("options") != described):
        if not overwrite:
            what = "inputs" if manifest.get("inputs") != identity else "options"
            raise CatalogMismatchError(
                f"{outdir} holds a catalog made from other {what} ({os.path.join(outdir, MANIFEST)}); "
                "choose another directory, or overwrite it (overwrite=True) to start afresh")
        manifest = None
    if manifest is None:
        if overwrite:
            for name in os.listdir(outdir):
                if _PART_RE.match(name) or _META_RE.match(name):
                    os.unlink(os.path.join(outdir, name))
        manifest = {"version": MANIFEST_VERSION, "inputs": identity, "options": described, "command": command,
                    "npartitions": nparts, "partitions": {}}
    # Temporary files of writers killed in an earlier run.
    for name in os.listdir(outdir):
        if _TMP_RE.match(name):
            with contextlib.suppress(OSError):
                os.unlink(os.path.join(outdir, name))

    entries = {}
    damaged = tuple(i for i in range(nparts) if str(i) in manifest["partitions"]
                    and not _entry_complete(manifest["partitions"][str(i)]))
    for i in range(nparts):
        e = _valid(outdir, manifest["partitions"].get(str(i)), keys[i], i, fmt)
        if e is not None:
            entries[i] = e
    reused = len(entries)
    manifest["partitions"] = {str(i): e for i, e in sorted(entries.items())}
    manifest["command"] = command
    todo = [i for i in range(nparts) if i not in entries]
    start = time.perf_counter()
    report, bar = _progress(progress, nparts)
    where = "no cluster (nothing to compute)"
    last_write = [0.0]

    def record(entry, force=False):
        if entry is not None:
            entries[entry["index"]] = entry
            manifest["partitions"][str(entry["index"])] = entry
        now = time.monotonic()
        if force or now - last_write[0] >= 1.0:
            manifest["partitions"] = {str(i): e for i, e in sorted(entries.items())}
            _write_manifest(outdir, manifest)
            last_write[0] = now

    record(None, force=True)
    try:
        if report is not None:
            report(reused, nparts)
        if todo:
            from distributed import as_completed

            with _connect(client, scheduler, workers, timeout) as c:
                where = str(getattr(c, "scheduler", None) and c.scheduler.address)
                parts = ddf.to_delayed(optimize_graph=True)
                shared = dask.delayed(_Shared(opts), pure=True, traverse=False)
                write = dask.delayed(_write_partition, pure=False)
                tasks = [write(parts[i], i, outdir, fmt, shared, keys[i], command) for i in todo]
                futures = c.compute(tasks)
                index_of = {f.key: i for f, i in zip(futures, todo)}
                try:
                    for fut in as_completed(futures, loop=c.loop):
                        try:
                            entry = fut.result()
                        except (CatalogError, LibraryNotFoundError):
                            raise
                        except Exception as exc:
                            i = index_of.get(fut.key)
                            if "CancelledError" in type(exc).__name__:
                                # Nothing here cancels a task: the scheduler
                                # went away (stopped, killed, unreachable).
                                raise SchedulerUnreachableError(
                                    f"partition {i} was cancelled by the Dask scheduler at {where}: it stopped "
                                    "or the connection to it was lost; the finished partitions are kept, and "
                                    "the same command resumes from them") from None
                            raise CatalogError(f"partition {i}: {type(exc).__name__}: {exc}", i) from exc
                        record(entry)
                        if report is not None:
                            report(len(entries), nparts)
                finally:
                    unfinished = [f for f in futures if not f.done()]
                    if unfinished:
                        c.cancel(unfinished)
            # Every partition has its file: what remains are temporary files
            # of writers killed mid-way, whose partitions ran again.
            for name in os.listdir(outdir):
                if _TMP_RE.match(name):
                    with contextlib.suppress(OSError):
                        os.unlink(os.path.join(outdir, name))
    finally:
        record(None, force=True)
        if bar is not None:
            bar.close()
    done = [entries[i] for i in range(nparts)]
    return Summary(
        outdir=outdir,
        manifest=os.path.join(outdir, MANIFEST),
        partitions=nparts,
        computed=len(todo),
        reused=reused,
        binaries=sum(e["rows"] for e in done),
        binaries_computed=sum(entries[i]["rows"] for i in todo),
        n_inverted=sum(e["n_inverted"] for e in done),
        n_uncalibrated=sum(e["n_uncalibrated"] for e in done),
        n_outside_rows=sum(e["n_outside_rows"] for e in done),
        snr_max=max((e["snr_max"] for e in done), default=0.0),
        seconds=time.perf_counter() - start,
        scheduler=where,
        format=fmt,
        files=[os.path.join(outdir, e["file"]) for e in done],
        columns=identity.get("columns", ""),
        damaged=damaged,
    )
