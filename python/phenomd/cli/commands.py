"""The commands: snr, strain, waterfall, ratio, horizon.

Each takes the parsed arguments, checks every output path before any work,
computes through the package's Python API and writes its outputs through
``phenomd.tables`` (atomic, with provenance)."""

from __future__ import annotations

import math
import os
import sys

import numpy as np

from .. import examples
from .._inputs import InputError
from ..core import DEFAULT_LENGTH, amplitude, binary_snr
from ..tables import Catalog, check_output_path, read_catalog, write_csv_stream, write_table
from ._runtime import (
    RESULT_COLUMNS,
    CLIError,
    check_figure_size,
    convention,
    distances,
    figure,
    flags,
    noise_curve,
    noise_label,
    progress,
    provenance,
    refuse_overwriting_inputs,
    save,
    say,
    snr_method,
    warn,
    warning_text,
)

COLUMN_HELP = """\
Input columns (CSV, HDF5 or npz; names are case-sensitive; other columns
are copied to the output unchanged):
  m1, m2      source-frame component masses, solar masses      (required)
  redshift    redshift z                                         (required)
  spin1/spin2 aligned dimensionless spins in [-1, 1]            (default 0)
  distance    luminosity distance, Mpc (empty/absent: from the redshift
              with --cosmology)
  t_start     band start, years before merger, observer frame
              (default --t-start)
  t_end       band end, years before merger; <= 0 runs through merger and
              ringdown                                           (default 0)
An empty cell means the default; 'nan' is an error.
Output: the input columns with empty cells filled by the values used,
distance (if absent), snr_all, snr_ins, snr_mrg, snr_rd (sky-,
polarisation- and inclination-averaged by default: see --inclination),
f_merger_start, f_ringdown_start (Hz), n_outside (outside the noise
curve's range: how many of the band's two ends under --method gauss, the
default; grid points under --method trapezoid) and flags (inverted, outside_noise, uncalibrated,
zero_snr; ';'-separated)."""


# --------------------------------------------------------------- binaries


def _binaries(cat, args):
    """The batch of a catalog: every column filled by the one rule for
    defaults (spins 0, t_end 0, t_start --t-start) and for distances
    (given, else from the redshift through --cosmology)."""
    cols = {
        "m1": cat.column("m1"),
        "m2": cat.column("m2"),
        "spin1": cat.column("spin1", 0.0),
        "spin2": cat.column("spin2", 0.0),
        "redshift": cat.column("redshift"),
        "t_start": cat.column("t_start", args.t_start),
        "t_end": cat.column("t_end", 0.0),
    }
    cols["distance"] = distances(cat.numbers.get("distance"), cols["redshift"], args.cosmology, cat.where)
    return cols


def _located(exc, cat):
    """An InputError at a batch index, as a message naming the row."""
    index = exc.index
    if isinstance(index, tuple):
        index = index[0]
    if isinstance(index, (int, np.integer)) and 0 <= index < len(cat):
        return f"{cat.where(int(index))}: {exc}"
    return f"{cat.source}: {exc}"


def _snrs(cat, cols, curve, args, bar=None):
    try:
        res = binary_snr(
            cols["m1"], cols["m2"], cols["spin1"], cols["spin2"], cols["distance"], cols["redshift"],
            cols["t_start"], cols["t_end"],
            noise=curve, inclination=args.inclination, cosmology=args.cosmology, threads=args.threads,
            progress=bar, library=args.library, fast=args.fast, **snr_method(args, args.command == "strain"),
        )
    except InputError as exc:
        raise CLIError(_located(exc, cat)) from None
    finally:
        if bar is not None:
            bar.close()
    snr = {c: np.asarray(getattr(res, c)) for c in ("snr_all", "snr_ins", "snr_mrg", "snr_rd")}
    return res, snr


# -------------------------------------------------------------------- snr


def cmd_snr(args):
    inputs = list(args.input or [])
    if args.scheduler or args.workers:
        return _snr_distributed(args, inputs)
    if len(inputs) > 1:
        raise CLIError("several catalogs need --workers N or --scheduler ADDRESS (an output directory, "
                       "one file per partition); give one catalog otherwise")
    out = args.output
    to_stdout = out in (None, "-")
    if not to_stdout:
        check_output_path(out, "table")
        refuse_overwriting_inputs([out], inputs)
    curve = noise_curve(args)
    cat = examples.example_catalog() if not inputs else read_catalog(inputs[0], column_help=COLUMN_HELP)
    cols = _binaries(cat, args)
    res, snr = _snrs(cat, cols, curve, args, progress(args, len(cat)))

    flag_text, counts = flags(res)
    table = {}
    for name in cat.header:
        table[name] = cols[name] if name in cols else cat.other[name]
    if "distance" not in table:
        table["distance"] = cols["distance"]
    for name in RESULT_COLUMNS:
        table[name] = snr[name] if name in snr else np.asarray(getattr(res, name))
    table["n_outside"] = np.asarray(res.n_outside, dtype=np.int64)
    table["flags"] = flag_text
    prov = provenance(args, curve, input=cat.source, snr_convention=convention(args.inclination),
                      columns="snr_all, snr_ins, snr_mrg, snr_rd: SNR of the whole band, inspiral, merger, "
                              "ringdown; f_merger_start, f_ringdown_start: Hz; distance: Mpc")
    if to_stdout:
        write_csv_stream(sys.stdout, table, prov)
        sys.stdout.flush()
    else:
        write_table(out, table, prov)

    best = int(np.argmax(snr["snr_all"]))
    where = "stdout" if to_stdout else out
    line = (f"phenomd snr: {len(cat)} binaries from {cat.source} against {curve!r} "
            f"({convention(args.inclination)} SNR); wrote {where} (median SNR "
            f"{np.median(snr['snr_all']):.4g}, highest {snr['snr_all'][best]:.4g}, {cat.label(best)})")
    _summary(args, line, counts, len(cat))
    return 0


def _summary(args, line, counts, total):
    text = warning_text(counts, total)
    if args.quiet:
        if text:
            warn(args, text)
        return
    say(args, line + (f"; warnings: {text}" if text else ""))


def _snr_distributed(args, inputs):
    from .. import distributed

    if not inputs:
        raise CLIError("--workers/--scheduler need catalog files")
    if args.output in (None, "-"):
        raise CLIError("--workers/--scheduler need -o OUTDIR (one output file per partition)")
    if os.path.exists(args.output) and not os.path.isdir(args.output):
        raise CLIError(f"-o {args.output}: exists and is not a directory (a distributed run writes a "
                       "directory of partitions)")
    curve = noise_curve(args)
    kwargs = dict(scheduler=args.scheduler, workers=args.workers, fast=args.fast, noise=curve,
                  inclination=args.inclination, cosmology=args.cosmology, **snr_method(args),
                  partition_size=args.partition_size, progress=not args.no_progress,
                  t_start=args.t_start, library=args.library, format=args.format, command=args.command_line,
                  overwrite=args.overwrite)
    try:
        summary = distributed.snr_catalog(inputs, args.output, **kwargs)
    except (InputError, ValueError, ConnectionError, distributed.CatalogBusyError,
            distributed.WorkerLibraryNotFoundError) as exc:
        raise CLIError(str(exc)) from None
    say(args, f"phenomd snr: {summary.line()}")
    return 0


# ----------------------------------------------------------------- strain


def _parse_binary(text):
    parts = text.split(",")
    if len(parts) not in (5, 6, 7):
        raise CLIError(f"--binary {text!r}: expected m1,m2,spin1,spin2,redshift[,t_start[,t_end]]")
    try:
        values = [float(p) for p in parts]
    except ValueError:
        raise CLIError(f"--binary {text!r}: not all numbers") from None
    if any(math.isnan(v) for v in values):
        raise CLIError(f"--binary {text!r}: nan is not a value")
    return values


def _binary_catalog(specs, t_start):
    rows = [_parse_binary(b) for b in specs]

    def col(k, default):
        return np.array([r[k] if len(r) > k else default for r in rows], dtype=np.float64)

    numbers = {"m1": col(0, 0), "m2": col(1, 0), "spin1": col(2, 0), "spin2": col(3, 0), "redshift": col(4, 0),
               "t_start": col(5, t_start), "t_end": col(6, 0.0)}
    return Catalog("--binary", list(numbers), numbers, {}, None, item="--binary")


STRAIN_DEFAULTS = ["6e5,4e5,0.5,0.2,2.0", "6e6,2e6,0.8,0.8,5.0", "5e3,5e3,0.0,0.0,0.3"]


def cmd_strain(args):
    if args.binary and args.input:
        raise CLIError("give binaries either with --binary or as an input file, not both")
    check_output_path(args.output, "figure")
    check_figure_size(args)
    refuse_overwriting_inputs([args.output], [args.input])
    curves = [noise_curve(args, choice) for choice in args.noise]
    if args.input:
        cat = read_catalog(args.input, column_help=COLUMN_HELP)
    else:
        cat = _binary_catalog(args.binary or STRAIN_DEFAULTS, args.t_start)
    cols = _binaries(cat, args)
    try:
        amp = amplitude(
            cols["m1"], cols["m2"], cols["spin1"], cols["spin2"], cols["distance"], cols["redshift"],
            cols["t_start"], cols["t_end"], DEFAULT_LENGTH if args.length is None else args.length,
            inclination=args.inclination, cosmology=args.cosmology, threads=args.threads, library=args.library,
            fast=args.fast,
        )
    except InputError as exc:
        raise CLIError(_located(exc, cat)) from None
    res, snr = _snrs(cat, cols, curves[0], args)
    _, counts = flags(res)
    labels = [cat.label(i) for i in range(len(cat))] if "name" in cat.other else None

    from ..plotting import draw_strain

    plt, fig = figure(args)
    ax = fig.add_subplot(1, 1, 1)
    draw_strain(ax, amp, snr["snr_all"], labels, {noise_label(c): c for c in curves},
                params={k_: cols[k_] for k_ in ("m1", "m2", "spin1", "spin2", "t_start", "t_end")},
                inclination=args.inclination, snr_against=noise_label(curves[0]))
    fig.tight_layout()
    prov = provenance(args, curves, strain_convention=f"h_c {convention(args.inclination)}",
                      snr_noise=noise_label(curves[0]))
    save(plt, fig, args, prov, title=f"characteristic strain ({convention(args.inclination)})")
    line = (f"phenomd strain: {len(cat)} binaries against {', '.join(noise_label(c) for c in curves)} "
            f"({convention(args.inclination)} h_c); wrote {args.output}")
    _summary(args, line, counts, len(cat))
    return 0


# -------------------------------------------------------------- waterfall

# Default axis ranges: name -> (low, high, points).
AXIS_DEFAULTS = {
    "mass": (1e2, 1e10, 97),
    "q": (0.05, 1.0, 40),
    "redshift": (1e-2, 20.0, 61),
    "distance": (50.0, 2e5, 61),
    "spin1": (-0.99, 0.99, 41),
    "spin2": (-0.99, 0.99, 41),
    "spin": (-0.99, 0.99, 41),
    "t_start": (1e-3, 10.0, 41),
    "t_end": (0.0, 1.0, 41),
    "tobs": (0.1, 10.0, 41),
}
_TABLE_NAMES = {"mass": "total_mass", "q": "mass_ratio", "tobs": "observation_time"}


def _canonical_axis(name):
    from ..waterfall import ALIASES, PARAMETERS

    key = ALIASES.get(name, name)
    if key not in PARAMETERS:
        raise CLIError(f"unknown waterfall parameter {name!r}; use one of "
                       f"{', '.join(sorted(PARAMETERS) + sorted(ALIASES))}")
    return key


def _axis_spec(text, args, which):
    """--x/--y NAME[:LOW:HIGH[:N[:log|linear]]]"""
    parts = text.split(":")
    name = _canonical_axis(parts[0])
    lo, hi, n = AXIS_DEFAULTS[name]
    if name == "mass" and args.mass_range:
        lo, hi = args.mass_range
    if name == "redshift" and args.z_range:
        lo, hi = args.z_range
    if name == "mass" and args.nm:
        n = args.nm
    if name == "redshift" and args.nz:
        n = args.nz
    scale = None
    try:
        if len(parts) >= 3:
            lo, hi = float(parts[1]), float(parts[2])
        if len(parts) >= 4:
            n = int(parts[3])
        if len(parts) == 5:
            scale = parts[4]
        if len(parts) == 2 or len(parts) > 5:
            raise ValueError
    except ValueError:
        raise CLIError(f"--{which} {text!r}: expected NAME[:LOW:HIGH[:N[:log|linear]]]") from None
    if n < 2:
        raise CLIError(f"--{which} {text!r}: at least 2 points")
    return (name, lo, hi, n) if scale is None else (name, lo, hi, n, scale)


def _fixed(args, axes):
    """The parameters held fixed: --q, --spin1, --spin2, --t-start (unless
    an axis or a --fix entry covers them: "spin" covers both spins, "tobs"
    the start), then every --fix NAME=VALUE."""
    given = {}
    for item in args.fix or []:
        key, sep, value = item.partition("=")
        if not sep:
            raise CLIError(f"--fix {item!r}: expected NAME=VALUE")
        name = _canonical_axis(key.strip())
        if name in axes:
            raise CLIError(f"--fix {item!r}: {name} is already an axis")
        try:
            given[name] = float(value)
        except ValueError:
            raise CLIError(f"--fix {item!r}: {value!r} is not a number") from None
    chosen = set(axes) | set(given)
    covered_by = {"spin1": "spin", "spin2": "spin", "t_start": "tobs"}
    fixed = {}
    for name, value in (("q", args.q), ("spin1", args.spin1), ("spin2", args.spin2), ("t_start", args.t_start)):
        if name not in chosen and covered_by.get(name) not in chosen:
            fixed[name] = value
    fixed.update(given)
    if "q" in fixed and not 0 < fixed["q"] <= 1:
        raise CLIError(f"--q {fixed['q']:g}: the mass ratio m2/m1 must lie in (0, 1]")
    return fixed


def _grid(args, curve):
    from ..waterfall import waterfall

    x = _axis_spec(args.x, args, "x")
    y = _axis_spec(args.y, args, "y")
    fixed = _fixed(args, (x[0], y[0]))
    bar = progress(args, x[3] * y[3])
    try:
        return waterfall(x=x, y=y, fixed=fixed, noise=curve, phase=args.phase, inclination=args.inclination,
                         cosmology=args.cosmology, threads=args.threads, progress=bar,
                         library=args.library, fast=args.fast, **snr_method(args))
    except InputError as exc:
        raise CLIError(str(exc)) from None
    finally:
        if bar is not None:
            bar.close()


def _grid_table(grid, extra=None):
    cols = {}
    for name, values in grid.columns().items():
        cols[_TABLE_NAMES.get(name, name)] = values
    for name, values in (extra or {}).items():
        cols[name] = values
    return cols


def _grid_counts(grid):
    return {
        "inverted": int(np.count_nonzero(grid.inverted)),
        "band_outside_noise": int(np.count_nonzero(grid.outside)),
        "uncalibrated": int(np.count_nonzero(grid.uncalibrated)),
        "zero_snr": int(np.count_nonzero((grid.snr_all == 0) & ~grid.outside & ~grid.inverted)),
    }


def _check_figure_and_table(args):
    check_output_path(args.output, "figure")
    check_figure_size(args)
    table = args.table
    if table:
        check_output_path(table, "table")
        if os.path.abspath(table) == os.path.abspath(args.output):
            raise CLIError(f"the figure and the table are both {table}")


def cmd_waterfall(args):
    if args.compare:
        return cmd_ratio(args)
    _check_figure_and_table(args)
    curve = noise_curve(args)
    grid = _grid(args, curve)
    plt, fig = figure(args)
    ax = fig.add_subplot(1, 1, 1)
    grid.draw(ax)
    fig.tight_layout()
    prov = provenance(args, curve, snr_convention=convention(args.inclination), phase=args.phase,
                      x=grid.x.name, y=grid.y.name, fixed=repr(grid.fixed))
    save(plt, fig, args, prov, title=f"{grid.snr_label()}; {grid.title()}")
    table = args.table
    if table:
        write_table(table, _grid_table(grid), prov)
    snr = grid.snr
    best = np.unravel_index(int(np.nanargmax(snr)), snr.shape)
    line = (f"phenomd waterfall: {snr.size} binaries ({grid.x.values.size} {grid.x.name} x "
            f"{grid.y.values.size} {grid.y.name}) against {curve!r} ({convention(args.inclination)} "
            f"SNR); wrote {args.output}{' and ' + table if table else ''} (highest SNR {snr[best]:.4g} at "
            f"{grid.x.name} = {grid.x.values[best[1]]:.3g}, {grid.y.name} = {grid.y.values[best[0]]:.3g}; "
            f"SNR >= 10 on {np.mean(snr >= 10) * 100:.0f}% of the grid)")
    _summary(args, line, _grid_counts(grid), snr.size)
    return 0


def cmd_ratio(args):
    if not args.compare:
        raise CLIError("phenomd ratio needs --compare NOISE (the curve B of SNR_A/SNR_B)")
    _check_figure_and_table(args)
    curve_a = noise_curve(args)
    curve_b = noise_curve(args, args.compare)
    grid_a = _grid(args, curve_a)
    grid_b = _grid(args, curve_b)
    label_a, label_b = noise_label(curve_a), noise_label(curve_b)
    if label_a == label_b:
        label_a, label_b = f"A: {label_a}", f"B: {label_b}"

    from ..plotting import draw_ratio

    plt, fig = figure(args)
    ax = fig.add_subplot(1, 1, 1)
    draw_ratio(ax, grid_a, grid_b, label_a, label_b)
    fig.tight_layout()
    prov = provenance(args, [curve_a, curve_b], snr_convention=convention(args.inclination), phase=args.phase,
                      ratio=f"SNR({label_a}) / SNR({label_b})", x=grid_a.x.name, y=grid_a.y.name,
                      fixed=repr(grid_a.fixed))
    save(plt, fig, args, prov, title=f"SNR ratio {label_a} / {label_b}")
    with np.errstate(divide="ignore", invalid="ignore"):
        ratio = np.where(grid_b.snr > 0, grid_a.snr / grid_b.snr, np.nan)
    table = args.table
    if table:
        base = _grid_table(grid_a)
        cols = {k: v for k, v in base.items() if not k.startswith("snr_") and k not in ("outside", "inverted")}
        cols.update({"snr_a": grid_a.snr.ravel(), "snr_b": grid_b.snr.ravel(), "ratio": ratio.ravel(),
                     "outside_a": grid_a.outside.ravel(), "outside_b": grid_b.outside.ravel()})
        write_table(table, cols, prov)
    finite = ratio[np.isfinite(ratio)]
    spread = f"ratio {finite.min():.3g} to {finite.max():.3g}" if finite.size else "no cell with both SNRs"
    line = (f"phenomd ratio: SNR({label_a}) / SNR({label_b}) over {ratio.size} binaries "
            f"({convention(args.inclination)}); wrote {args.output}{' and ' + table if table else ''} ({spread})")
    parts = []
    for label, grid in ((label_a, grid_a), (label_b, grid_b)):
        text = warning_text(_grid_counts(grid), ratio.size)
        if text:
            parts.append(f"against {label}: {text}")
    text = "; ".join(parts)
    if args.quiet:
        if text:
            warn(args, text)
    else:
        say(args, line + (f"; warnings: {text}" if text else ""))
    return 0


# ---------------------------------------------------------------- horizon


def cmd_horizon(args):
    from ..horizon import horizon

    _check_figure_and_table(args)
    lo, hi, n = args.mass_range[0], args.mass_range[1], args.nm
    if not (0 < lo < hi and math.isfinite(hi)):
        raise CLIError(f"--mass-range {lo} {hi}: need 0 < low < high")
    masses = np.geomspace(lo, hi, n)
    curves = [noise_curve(args, choice) for choice in args.noise]
    results = {}
    for curve in curves:
        label = noise_label(curve)
        try:
            results[label] = horizon(
                masses, args.q, args.spin1, args.spin2, snr=args.snr, noise=curve, inclination=args.inclination,
                phase=args.phase, t_start=args.t_start, t_end=args.t_end, cosmology=args.cosmology,
                fast=args.fast, threads=args.threads, library=args.library,
                **_horizon_method(snr_method(args)),
            )
        except InputError as exc:
            raise CLIError(str(exc)) from None

    from ..plotting import draw_horizon

    plt, fig = figure(args)
    ax = fig.add_subplot(1, 1, 1)
    draw_horizon(ax, results, quantity=args.quantity)
    fig.tight_layout()
    prov = provenance(args, curves, snr_convention=convention(args.inclination), phase=args.phase,
                      threshold=args.snr, mass_ratio=args.q, spin1=args.spin1, spin2=args.spin2,
                      t_start=args.t_start, t_end=args.t_end)
    save(plt, fig, args, prov, title=f"horizon at SNR {args.snr:g} ({convention(args.inclination)})")
    table = args.table
    if table:
        parts = [r.columns() for r in results.values()]
        cols = {k: np.concatenate([np.asarray(p[k]) for p in parts]) for k in parts[0]}
        cols["noise"] = np.concatenate([np.full(len(r), label, dtype=object) for label, r in results.items()])
        write_table(table, cols, prov)
    summaries = []
    for label, r in results.items():
        ok = np.asarray(r.ok)
        if ok.any():
            i = int(np.argmax(np.where(ok, r.redshift, -np.inf)))
            summaries.append(f"{label}: deepest z = {r.redshift[i]:.3g} at M = {r.mass[i]:.3g} Msun")
        else:
            summaries.append(f"{label}: threshold never crossed in the redshift range")
    missed = sum(int(np.count_nonzero(~np.asarray(r.ok))) for r in results.values())
    line = (f"phenomd horizon: SNR {args.snr:g} ({convention(args.inclination)}), {n} masses x {len(curves)} "
            f"curve{'s' if len(curves) > 1 else ''}; wrote {args.output}{' and ' + table if table else ''} ({'; '.join(summaries)})")
    if missed:
        line += f"; {missed} masses whose threshold lies outside the redshifts searched (see the reached column)"
    say(args, line)
    return 0


def _horizon_method(m):
    """snr_method's items as ``horizon`` names them (its own rtol is the
    tolerance in ln z)."""
    return dict(method=m["method"], length=m["length"], snr_rtol=m["rtol"])
