"""Detection times and accumulated SNRs of a catalog on a Dask cluster.

``warning_dataframe(ddf, ...)`` adds, lazily and partition by partition,
the columns of ``phenomd warning`` to a Dask DataFrame of binaries;
``warning_catalog(inputs, outdir, ...)`` computes a catalog's partitions on
a cluster and writes one file per partition (``part-NNNNN.csv`` or
``.h5``), each atomically and with its provenance.  The catalog columns,
partitioning, option checks and cluster connection are those of
``phenomd.distributed`` (``snr_catalog``); unlike ``snr_catalog`` a run
keeps no manifest and does not resume: it recomputes every partition.

Columns added: ``distance`` (Mpc; filled from the redshift where empty),
``snr_total`` (the whole band's SNR), ``t_detect`` (years before merger,
observer frame, at which the SNR accumulated from t_start first reaches
``snr``; NaN: never), ``t_detect_flag`` (0 in the band, 1 never, 2 at the
band's start), ``f_detect`` (Hz) and ``snr_before_LABEL`` per ``before``
time; every SNR in ``accumulated_snr``'s convention (by default sky-,
polarisation- and inclination-averaged).  Values are those of
``detection_time`` and ``accumulated_snr`` on the same rows in one process.
"""

from __future__ import annotations

import os

import numpy as np

from .early_warning import parse_duration

__all__ = ["warning_catalog", "warning_dataframe"]


def _times(before):
    if isinstance(before, str):
        before = before.split(",")
    out = []
    for b in before:
        if isinstance(b, str):
            out.append(parse_duration(b))
        else:
            years = float(getattr(b, "to_value", lambda unit: b)("yr"))
            out.append((years, f"{years:g}yr".replace(".", "p")))
    labels = [lab for _, lab in out]
    if len(set(labels)) < len(labels):
        raise ValueError(f"before: a time is given twice ({', '.join(labels)})")
    return out


def _computed_names(times):
    return ("distance", "snr_total", "t_detect", "t_detect_flag", "f_detect") + tuple(
        f"snr_before_{lab}" for _, lab in times)


def _warning_columns(pdf, opts, times, snr, rtol, partition=None):
    from .distributed import CatalogError, _column, _Shared
    from .early_warning import accumulated_snr, detection_time
    from ._inputs import InputError

    if isinstance(opts, _Shared):
        opts = opts.opts
    n = len(pdf)
    cols = [_column(pdf, c, d) for c, d in (("m1", None), ("m2", None), ("spin1", 0.0), ("spin2", 0.0))]
    z = _column(pdf, "redshift", None)
    ts = _column(pdf, "t_start", opts["t_start"])
    dist = _column(pdf, "distance", None)
    out = {c: np.empty(n, dtype=np.int64 if c == "t_detect_flag" else np.float64) for c in _computed_names(times)}
    kw = dict(noise=opts["noise"], inclination=opts["inclination"], cosmology=opts["cosmology"], rtol=rtol,
              fast=opts["fast"], library=opts["library"], threads=1)
    given = ~np.isnan(dist)
    for rows, d in ((np.flatnonzero(given), True), (np.flatnonzero(~given), False)):
        if rows.size == 0:
            continue
        b = [c[rows] for c in cols] + [dist[rows] if d else None, z[rows], ts[rows]]
        try:
            det = detection_time(*b, snr=snr, **kw)
            acc = accumulated_snr(*b, [t for t, _ in times], **kw)
        except InputError as exc:
            raise CatalogError(f"partition {partition}: {exc}", partition) from None
        out["distance"][rows] = dist[rows] if d else _distances(z[rows], opts["cosmology"])
        out["snr_total"][rows] = det.snr_total
        out["t_detect"][rows] = det.t_detect
        out["t_detect_flag"][rows] = det.flag
        out["f_detect"][rows] = det.f_detect
        for j, (_, lab) in enumerate(times):
            out[f"snr_before_{lab}"][rows] = acc.snr[:, j]
    return out


def _distances(z, cosmology):
    from ._cosmology import luminosity_distance

    return luminosity_distance(z, cosmology)


def _frame(pdf, opts, times, snr, rtol, partition=None):
    import pandas as pd

    from .distributed import _ordered

    computed = _warning_columns(pdf, opts, times, snr, rtol, partition)
    return pd.DataFrame({c: computed[c] if c in computed else pdf[c] for c in _ordered(pdf, computed)},
                        index=pdf.index)


def _meta(meta_in, times):
    import pandas as pd

    out = meta_in.iloc[:0].copy()
    for c in _computed_names(times):
        out[c] = pd.Series([], dtype="int64" if c == "t_detect_flag" else "float64")
    return out


def warning_dataframe(ddf, *, snr=10.0, before=("1mo", "1w", "1d", "1h"), fast=True, noise=None,
                      inclination="average", cosmology=None, t_start=4.0, library=None, rtol=1e-6):
    """Lazy detection times and accumulated SNRs of a Dask DataFrame of
    binaries (columns as for ``phenomd.distributed.snr_dataframe``; the
    added ones in the module docstring).

    Parameters
    ----------
    ddf : dask.dataframe.DataFrame
        m1, m2, redshift; optional spin1, spin2, distance, t_start.
    snr : float
        The detection threshold.
    before : str or sequence
        Times before merger ("1mo,1w,1d,1h", durations of
        ``parse_duration``, years, or time Quantities).
    fast, noise, inclination, cosmology, t_start, library, rtol
        As for ``detection_time`` (``t_start`` for rows without one).

    Returns
    -------
    dask.dataframe.DataFrame
        Nothing is computed until it is.

    Examples
    --------
    >>> import dask.dataframe as dd, pandas as pd  # doctest: +SKIP
    >>> frame = pd.DataFrame({"m1": [5e5], "m2": [5e5], "redshift": [1.0]})  # doctest: +SKIP
    >>> ddf = dd.from_pandas(frame, npartitions=1)  # doctest: +SKIP
    >>> warning_dataframe(ddf, before="1d").compute()  # doctest: +SKIP
    """
    import dask

    from .distributed import REQUIRED_COLUMNS, CatalogError, _options, _Shared

    times = _times(before)
    opts = _options(fast, noise, inclination, 1000, cosmology, t_start, library)
    missing = [c for c in REQUIRED_COLUMNS if c not in ddf.columns]
    if missing:
        raise CatalogError(f"the DataFrame lacks column(s) {', '.join(missing)}")
    shared = dask.delayed(_Shared(opts), pure=True, traverse=False)
    return ddf.map_partitions(_frame, shared, times, float(snr), float(rtol), meta=_meta(ddf._meta, times),
                              enforce_metadata=False, align_dataframes=False)


def _write_part(pdf, index, outdir, fmt, opts, times, snr, rtol, command):
    from ._library import load_library
    from ._provenance import provenance
    from .distributed import FORMATS, _ordered, _Shared
    from .tables import write_table

    if isinstance(opts, _Shared):
        opts = opts.opts
    computed = _warning_columns(pdf, opts, times, snr, rtol, index)
    columns = {}
    for c in _ordered(pdf, computed):
        if c in computed:
            columns[c] = computed[c]
        elif pdf[c].dtype.kind in "fiu":
            columns[c] = np.ascontiguousarray(pdf[c].to_numpy())
        else:
            columns[c] = ["" if x is None or (isinstance(x, float) and np.isnan(x)) else str(x) for x in pdf[c]]
    cosmo = opts["cosmology"]
    prov = provenance(library=load_library(opts["library"], fast=opts["fast"]), fast=opts["fast"],
                      noise=opts["noise"], inclination=opts["inclination"],
                      cosmology=getattr(cosmo, "name", None) or ("Planck18" if cosmo is None else str(cosmo)),
                      length="none (Gauss-Legendre quadrature)", command=command, partition=index, rows=len(pdf),
                      threshold=snr, rtol=rtol,
                      columns="t_detect: years before merger (observer frame; Julian year) at which the SNR "
                              "accumulated from t_start first reaches the threshold, nan: never; t_detect_flag: "
                              "0 crossed in the band, 1 never, 2 at the band's start; f_detect: Hz; snr_total: "
                              "SNR of the whole band; " + ", ".join(f"snr_before_{lab} = {t:.10g} yr"
                                                                   for t, lab in times) + "; distance: Mpc")
    path = os.path.join(outdir, f"part-{index:05d}{FORMATS[fmt]}")
    write_table(path, columns, prov)
    return {"file": os.path.basename(path), "rows": len(pdf), "never": int((computed["t_detect_flag"] == 1).sum())}


def warning_catalog(inputs, outdir, *, snr=10.0, before=("1mo", "1w", "1d", "1h"), scheduler=None, workers=None,
                    client=None, fast=True, noise=None, inclination="average", cosmology=None, t_start=4.0,
                    library=None, rtol=1e-6, partition_size=None, format="csv", command=None, timeout=30.0):
    """Detection times and accumulated SNRs of a catalog on a Dask cluster,
    one file per partition.

    ``inputs``: catalog files (path, glob or list; CSV or HDF5) or a Dask
    DataFrame; ``outdir`` receives ``part-NNNNN.csv`` (or ``.h5``), each
    written atomically with its provenance (threshold, times, convention).
    Where it runs (``client``, ``scheduler``, a LocalCluster of
    ``workers``) as ``phenomd.distributed.snr_catalog``; the other options
    as ``warning_dataframe``.  Every partition is computed (no resume).

    Returns
    -------
    list of dict
        Per partition: file, rows, and how many never reach the threshold.
    """
    import dask

    from .distributed import _connect, _options, _Shared, read_catalog
    from ._provenance import provenance

    fmt = {"csv": "csv", "h5": "h5", "hdf5": "h5"}.get(str(format).lower())
    if fmt is None:
        raise ValueError(f"format must be 'csv' or 'h5', not {format!r}")
    times = _times(before)
    opts = _options(fast, noise, inclination, 1000, cosmology, t_start, library)
    if command is None:
        command = provenance()["command"]
    if hasattr(inputs, "to_delayed") and hasattr(inputs, "npartitions"):
        ddf = inputs
    else:
        ddf, _ = read_catalog(inputs, partition_size=partition_size)
    outdir = os.path.abspath(os.fspath(outdir))
    os.makedirs(outdir, exist_ok=True)
    shared = dask.delayed(_Shared(opts), pure=True, traverse=False)
    tasks = [dask.delayed(_write_part)(part, i, outdir, fmt, shared, times, float(snr), float(rtol), command)
             for i, part in enumerate(ddf.to_delayed())]
    with _connect(client, scheduler, workers, timeout) as c:
        return list(c.compute(tasks, sync=True))
