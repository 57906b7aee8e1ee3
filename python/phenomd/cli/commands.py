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
from .._catalog import column_help, provenance_text
from .._conventions import SKY_AVERAGED
from .._inputs import InputError
from ..core import amplitude, binary_snr
from ..tables import Catalog, check_output_path, read_catalog, write_csv_stream, write_table
from ._runtime import (
    RESULT_COLUMNS,
    CLIError,
    check_figure,
    check_work,
    grid_length,
    of_length,
    convention,
    described,
    distances,
    figure,
    quiet_dask_logs,
    any_ground,
    flags,
    is_ground,
    noise_curve,
    noise_label,
    outside,
    progress,
    provenance,
    refuse_overwriting_inputs,
    save,
    say,
    t_start_default,
    snr_method,
    warn,
    warning_text,
)

# From the one catalog schema (phenomd._catalog), with the aliases.
COLUMN_HELP = column_help(output=False)

SNR_OUTPUT_HELP = """\
Output: the input columns with empty cells filled by the values used,
distance (if absent), snr_all, snr_ins, snr_mrg, snr_rd (sky-,
polarisation- and inclination-averaged by default: see --inclination),
f_merger_start, f_ringdown_start (Hz), n_outside (outside the noise
curve's range: how many of the band's two ends under --method gauss, the
default; grid points under --method trapezoid) and flags (';'-separated: inverted; outside_noise,
the band reaches beyond the curve's range where it could carry more than
0.1 % of the SNR^2, a bound from the leading-order strain against the
curve's edge value; outside_noise_negligible, it reaches beyond but
carries less; uncalibrated; zero_snr).  With --threshold: p_det, the
fraction of sky positions, polarisations and inclinations whose SNR
exceeds it.  For a network (--noise lisa+taiji): snr_all_<member> for
every member too."""

#: snr --help: the catalog's columns and the table written.
SNR_HELP = COLUMN_HELP + "\n" + SNR_OUTPUT_HELP

#: strain --help: the same catalog columns; the output is a figure.
STRAIN_HELP = COLUMN_HELP + """
Output: a figure of each binary's h_c (sky-, polarisation- and
inclination-averaged by default: see --inclination) against the noise
curves, with the inspiral/merger (circle) and merger/ringdown (square)
boundaries; the legend's SNR is against the first --noise. No table."""


# --------------------------------------------------------------- binaries


def _binaries(cat, args, curves=None):
    """The batch of a catalog: every column filled by the one rule for
    defaults (spins 0, t_end 0, t_start --t-start, 'band': from where the
    binary enters the lowest-starting curve's range) and for distances
    (given, else from the redshift through --cosmology)."""
    start = t_start_default(args, curves or [])
    if start == "band":
        from .._band import band_start

        lowest = min(curves, key=lambda c: c.range[0])
        try:
            start = band_start("band", cat.column("m1"), cat.column("m2"), cat.column("redshift"), lowest,
                               args.library)
        except InputError as exc:
            raise CLIError(_located(exc, cat)) from None
    cols = {
        "m1": cat.column("m1"),
        "m2": cat.column("m2"),
        "spin1": cat.column("spin1", 0.0),
        "spin2": cat.column("spin2", 0.0),
        "redshift": cat.column("redshift"),
        "t_start": (cat.column("t_start", start) if np.ndim(start) == 0
                    else np.where(np.isnan(cat.column("t_start")), start, cat.column("t_start"))),
        "t_end": cat.column("t_end", 0.0),
    }
    cols["distance"] = distances(cat.numbers.get("distance"), cols["redshift"], args.cosmology, cat.where)
    if "inclination" in cat.numbers:
        cols["inclination"] = _inclinations(cat, args.inclination)
    return cols


def _inclinations(cat, option):
    """A catalog's own inclinations (radians), each empty cell filled with
    the angle --inclination names (face-on 0, edge-on pi/2, or an angle);
    the average over inclinations is no angle, so with it (the default) an
    empty cell is an error naming the row."""
    col = cat.numbers["inclination"]
    empty = np.isnan(col)
    if not empty.any():
        return col
    angle = {"face-on": 0.0, "edge-on": math.pi / 2}.get(option) if isinstance(option, str) else option
    if angle is None:
        raise CLIError(f"{cat.where(int(np.flatnonzero(empty)[0]))}: column inclination is empty; give an angle "
                       "(radians) on every row, or --inclination face-on, edge-on or an angle for the empty "
                       "cells (the default, the average over inclinations, is no angle)")
    angle = float(getattr(angle, "to_value", lambda unit: angle)("rad"))
    return np.where(empty, angle, col)


def _inclination(cols, args):
    """The inclination passed to the model: the catalog's column when it
    has one, else --inclination; and words for it."""
    if "inclination" in cols:
        return cols["inclination"], f"{SKY_AVERAGED}, at each binary's inclination (catalog column)"
    return args.inclination, convention(args.inclination)


def _read_columns_text(cat):
    """Words on how the catalog's columns were read, for the summary."""
    text = cat.columns.describe() if cat.columns is not None else ""
    return f" ({text})" if text else ""


def _located(exc, cat):
    """An InputError at a batch index, as a message naming the row; one
    about a catalog column as a whole names the catalog, and one about
    something else (the noise curve, the memory) stands alone."""
    from .._catalog import INPUT_COLUMNS

    index = exc.index
    if isinstance(index, tuple):
        index = index[0]
    if isinstance(index, (int, np.integer)) and 0 <= index < len(cat):
        return f"{cat.where(int(index))}: {exc}"
    if exc.argument not in INPUT_COLUMNS:
        return str(exc)
    return f"{cat.source}: {exc}"


def _snrs(cat, cols, curve, args, bar=None):
    try:
        res = binary_snr(
            cols["m1"], cols["m2"], cols["spin1"], cols["spin2"], cols["distance"], cols["redshift"],
            cols["t_start"], cols["t_end"],
            noise=curve, inclination=_inclination(cols, args)[0], cosmology=args.cosmology, threads=args.threads,
            progress=bar, library=args.library, fast=args.fast, threshold=getattr(args, "threshold", None),
            noise_fluctuations=bool(getattr(args, "noise_fluctuations", False)),
            **snr_method(args, args.command == "strain"),
        )
    except InputError as exc:
        raise CLIError(_located(exc, cat)) from None
    finally:
        if bar is not None:
            bar.close()
    snr = {c: np.asarray(getattr(res, c)) for c in ("snr_all", "snr_ins", "snr_mrg", "snr_rd")}
    return res, snr


# -------------------------------------------------------------------- snr


def _check_detection(args):
    if getattr(args, "noise_fluctuations", False) and getattr(args, "threshold", None) is None:
        raise CLIError("--noise-fluctuations applies with --threshold")


def cmd_snr(args):
    _check_detection(args)
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
        refuse_overwriting_inputs([out], inputs + _noise_files(args))
    curve = noise_curve(args)
    cat = (examples.example_catalog() if not inputs
           else read_catalog(inputs[0], column_help=COLUMN_HELP, keep=args.keep_columns))
    check_work(args, len(cat), kept_bytes_per_binary=8 * 24)
    cols = _binaries(cat, args, [curve])
    res, snr = _snrs(cat, cols, curve, args, progress(args, len(cat)))
    _, words = _inclination(cols, args)

    flag_text, counts = flags(res, outside(res, cols, curve, args))
    table = {}
    for name in cat.header:
        table[name] = cols[name] if name in cols else cat.other[name]
    if "distance" not in table:
        table["distance"] = cols["distance"]
    for name in RESULT_COLUMNS:
        table[name] = snr[name] if name in snr else np.asarray(getattr(res, name))
    table["n_outside"] = np.asarray(res.n_outside, dtype=np.int64)
    table["flags"] = flag_text
    extra = {"input_columns": cat.columns.describe()} if cat.columns.describe() else {}
    if "inclination" in cols:
        extra["inclination_per_binary"] = "catalog column inclination, radians"
    if res.members is not None:
        for name, member in res.members.items():
            table[f"snr_all_{name}"] = np.asarray(member.snr_all)
        extra["members"] = res._record.get("members", "")
    if res.p_det is not None:
        table["p_det"] = np.asarray(res.p_det)
        extra.update({k: res._record[k] for k in ("p_det", "p_det_detector", "threshold", "noise_fluctuations")})
    if t_start_default(args, [curve]) == "band":
        extra["t_start"] = (f"band: where each binary enters the noise curve's range (f_min = {curve.range[0]:g} Hz), "
                            "for rows without a t_start of their own")
    prov = provenance(args, curve, input=cat.source, snr_convention=words,
                      columns=provenance_text()
                      + ("; snr_all_<member>: each network member's alone" if res.members else "")
                      + ("; p_det: detection probability (see p_det_detector)" if res.p_det is not None else ""),
                      **extra)
    if to_stdout:
        write_csv_stream(sys.stdout, table, prov, comments=args.comments)
        sys.stdout.flush()
    else:
        write_table(out, table, prov, comments=args.comments)

    best = int(np.argmax(snr["snr_all"]))
    where = "stdout" if to_stdout else out
    line = (f"phenomd snr: {len(cat)} binaries from {cat.source}{_read_columns_text(cat)} against "
            f"{described(curve)} ({words} SNR); wrote {where} (median SNR "
            f"{np.median(snr['snr_all']):.4g}, highest {snr['snr_all'][best]:.4g}, {cat.label(best)})")
    _summary(args, line, counts, len(cat))
    return 0


def _summary(args, line, counts, total):
    text = warning_text(counts, total)
    if args.quiet:
        if text:
            warn(args, text)
        return
    info = warning_text(counts, total, information=True)
    say(args, line + (f"; {info}" if info else "") + (f"; warnings: {text}" if text else ""))


def _snr_distributed(args, inputs):
    from .. import distributed

    if not inputs:
        raise CLIError("--workers/--scheduler need catalog files")
    if args.output in (None, "-"):
        raise CLIError("--workers/--scheduler need -o OUTDIR (one output file per partition)")
    if os.path.exists(args.output) and not os.path.isdir(args.output):
        raise CLIError(f"-o {args.output}: exists and is not a directory (a distributed run writes a "
                       "directory of partitions)")
    parent = os.path.dirname(os.path.abspath(args.output))
    if not os.path.isdir(parent):
        raise CLIError(f"-o {args.output}: the directory {parent} does not exist; create it first")
    curve = noise_curve(args)
    t_start = t_start_default(args, [curve])
    if t_start == "band" or args.threshold is not None or "+" in str(args.noise):
        raise CLIError("--workers/--scheduler compute SNRs only: give --t-start in years, and no --threshold or "
                       "network (A+B)")
    kwargs = dict(keep_columns=args.keep_columns,
                  scheduler=args.scheduler, workers=args.workers, fast=args.fast, noise=curve,
                  inclination=args.inclination, cosmology=args.cosmology, **snr_method(args),
                  partition_size=args.partition_size, progress=not args.no_progress,
                  t_start=t_start, library=args.library, format=args.format, command=args.command_line,
                  overwrite=args.overwrite, timeout=args.timeout)
    try:
        with quiet_dask_logs():
            summary = distributed.snr_catalog(inputs, args.output, **kwargs)
    except (InputError, ValueError, ConnectionError, distributed.CatalogBusyError,
            distributed.WorkerLibraryNotFoundError) as exc:
        # The library's advice names its keyword; here the option is --overwrite.
        raise CLIError(str(exc).replace("(overwrite=True)", "(--overwrite)")) from None
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
# With a ground curve: a GW150914-like binary (36 + 29 Msun, z = 0.09,
# spins 0), the multiband source that sweeps through LISA's band years
# before it merges in Advanced LIGO's, and a 1000 Msun one.
STRAIN_GROUND_DEFAULTS = ["36,29,0,0,0.09", "500,500,0,0,0.5"]


def cmd_strain(args):
    if args.binary and args.input:
        raise CLIError("give binaries either with --binary or as an input file, not both")
    check_output_path(args.output, "figure", create=_default_output(args))
    check_figure(args)
    refuse_overwriting_inputs([args.output], [args.input] + _noise_files(args))
    curves = [noise_curve(args, choice) for choice in args.noise]
    if args.input:
        cat = read_catalog(args.input, column_help=COLUMN_HELP, keep=args.keep_columns)
    else:
        cat = _binary_catalog(args.binary or (STRAIN_GROUND_DEFAULTS if any_ground(curves) else STRAIN_DEFAULTS),
                              math.nan)
    cols = _binaries(cat, args, curves)
    # Every binary's grid and strain are kept to be drawn (matplotlib copies
    # each line's points once more, twice for the path).
    check_work(args, len(cat), kept_bytes_per_binary=6 * 8 * grid_length(args))
    try:
        amp = amplitude(
            cols["m1"], cols["m2"], cols["spin1"], cols["spin2"], cols["distance"], cols["redshift"],
            cols["t_start"], cols["t_end"], grid_length(args),
            inclination=_inclination(cols, args)[0], cosmology=args.cosmology, threads=args.threads,
            library=args.library,
            fast=args.fast,
        )
    except InputError as exc:
        raise CLIError(_located(exc, cat)) from None
    res, snr = _snrs(cat, cols, curves[0], args)
    _, counts = flags(res, outside(res, cols, curves[0], args, band=(amp.freqs[:, 0], amp.freqs[:, -1])))
    labels = [cat.label(i) for i in range(len(cat))] if "name" in cat.other else None

    from ..plotting import draw_strain

    plt, fig = figure(args)
    ax = fig.add_subplot(1, 1, 1)
    draw_strain(ax, amp, snr["snr_all"], labels, {noise_label(c): c for c in curves},
                params={k_: cols[k_] for k_ in ("m1", "m2", "spin1", "spin2", "t_start", "t_end")},
                inclination=("each binary at its catalog inclination" if "inclination" in cols else args.inclination),
                snr_against=noise_label(curves[0]))
    fig.tight_layout()
    prov = provenance(args, curves, strain_convention=f"h_c {_inclination(cols, args)[1]}",
                      snr_noise=noise_label(curves[0]), t_start=str(t_start_default(args, curves)))
    save(plt, fig, args, prov, title=f"characteristic strain ({convention(args.inclination)})")
    line = (f"phenomd strain: {len(cat)} binaries{_read_columns_text(cat)} against "
            f"{', '.join(noise_label(c) for c in curves)} ({_inclination(cols, args)[1]} h_c); wrote {args.output}")
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


# Ground curves: stellar and intermediate masses, nearby redshifts.
GROUND_AXIS_DEFAULTS = {"mass": (1.0, 1e3, 97), "redshift": (1e-3, 10.0, 61), "distance": (5.0, 1e5, 61)}


def _axis_spec(text, args, which, ground=False):
    """--x/--y NAME[:LOW:HIGH[:N[:log|linear]]]; --mass-range/--z-range and
    --nm/--nz fill what the --x/--y text leaves out, and giving both is refused."""
    parts = text.split(":")
    name = _canonical_axis(parts[0])
    given = getattr(args, "given", set())
    for option, dest, axis, index in (("--mass-range", "mass_range", "mass", 1), ("--nm", "nm", "mass", 3),
                                      ("--z-range", "z_range", "redshift", 1), ("--nz", "nz", "redshift", 3)):
        if dest in given and name == axis and len(parts) > index:
            what = "range" if index == 1 else "number of points"
            raise CLIError(f"--{which} {text} and {option} both give the {axis} axis' {what}: give it once")
    lo, hi, n = (GROUND_AXIS_DEFAULTS if ground and name in GROUND_AXIS_DEFAULTS else AXIS_DEFAULTS)[name]
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


def _unused_axis_options(args, axes):
    """--mass-range/--nm/--z-range/--nz with no such axis would be ignored."""
    given = getattr(args, "given", set())
    for option, dest, axis in (("--mass-range", "mass_range", "mass"), ("--nm", "nm", "mass"),
                               ("--z-range", "z_range", "redshift"), ("--nz", "nz", "redshift")):
        if dest in given and axis not in axes:
            raise CLIError(f"{option} applies to a {axis} axis, and neither --x nor --y is {axis}")


def _fixed(args, axes, curve=None):
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
        if name in given:
            raise CLIError(f"--fix {item!r}: {name} is fixed twice")
        try:
            given[name] = float(value)
        except ValueError:
            raise CLIError(f"--fix {item!r}: {value!r} is not a number") from None
    chosen = set(axes) | set(given)
    covered_by = {"spin1": "spin", "spin2": "spin", "t_start": "tobs"}
    options = getattr(args, "given", set())
    fixed = {}
    start = t_start_default(args, [curve] if curve is not None else [])
    for name, value in (("q", args.q), ("spin1", args.spin1), ("spin2", args.spin2), ("t_start", start)):
        if name not in chosen and covered_by.get(name) not in chosen:
            fixed[name] = value
        elif name in options:
            by = name if name in chosen else covered_by[name]
            how = "an axis" if by in axes else f"fixed by --fix {by}="
            raise CLIError(f"--{name.replace('_', '-')} {value:g}: {by} is {how}; give it once")
    fixed.update(given)
    return fixed


def _grid(args, curve):
    from ..waterfall import waterfall

    ground = is_ground([curve])
    x = _axis_spec(args.x, args, "x", ground)
    y = _axis_spec(args.y, args, "y", ground)
    _unused_axis_options(args, (x[0], y[0]))
    fixed = _fixed(args, (x[0], y[0]), curve)
    check_work(args, x[3] * y[3], kept_bytes_per_binary=8 * 24,
               what=f"a grid of {x[3]:,} x {y[3]:,} binaries{of_length(args)}")
    bar = progress(args, x[3] * y[3])
    try:
        return waterfall(x=x, y=y, fixed=fixed, noise=curve, phase=args.phase, inclination=args.inclination,
                         cosmology=args.cosmology, threads=args.threads, progress=bar,
                         library=args.library, fast=args.fast, threshold=getattr(args, "threshold", None),
                         noise_fluctuations=bool(getattr(args, "noise_fluctuations", False)), **snr_method(args))
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


def _default_output(args):
    """Whether -o is the command's own default (under out/, made if missing)."""
    return args.output == getattr(args, "default_output", None)


def _noise_files(args):
    """The noise files a command reads (--noise and --compare that name
    files rather than built-in curves)."""
    from ._runtime import noise_names

    given = args.noise if isinstance(args.noise, list) else [args.noise]
    given = given + [getattr(args, "compare", None)]
    return [g for g in given if g and g not in noise_names() and os.path.exists(g)]


def _check_figure_and_table(args):
    check_output_path(args.output, "figure", create=_default_output(args))
    check_figure(args)
    table = args.table
    if table:
        check_output_path(table, "table")
        if os.path.abspath(table) == os.path.abspath(args.output):
            raise CLIError(f"the figure and the table are both {table}")
    refuse_overwriting_inputs([args.output, ("--table", table)], _noise_files(args))


def cmd_waterfall(args):
    if args.compare:
        if args.threshold is not None:
            raise CLIError("--threshold draws p_det of one curve: not with --compare")
        return cmd_ratio(args)
    _check_detection(args)
    _check_figure_and_table(args)
    curve = noise_curve(args)
    grid = _grid(args, curve)
    plt, fig = figure(args)
    ax = fig.add_subplot(1, 1, 1)
    grid.draw(ax)
    fig.tight_layout()
    detection = {k: v for k, v in grid.provenance.items() if k.startswith("p_det") or k in ("threshold",
                                                                                               "noise_fluctuations")}
    prov = provenance(args, curve, snr_convention=convention(args.inclination), phase=args.phase,
                      x=grid.x.name, y=grid.y.name, fixed=repr(grid.fixed), **detection)
    what = (f"detection probability at SNR > {grid.threshold:g}" if grid.p_det is not None else grid.snr_label())
    save(plt, fig, args, prov, title=f"{what}; {grid.title()}")
    table = args.table
    if table:
        write_table(table, _grid_table(grid), prov, comments=args.comments)
    snr = grid.snr
    best = np.unravel_index(int(np.nanargmax(snr)), snr.shape)
    line = (f"phenomd waterfall: {snr.size} binaries ({grid.x.values.size} {grid.x.name} x "
            f"{grid.y.values.size} {grid.y.name}) against {described(curve)} ({convention(args.inclination)} "
            f"SNR); wrote {args.output}{' and ' + table if table else ''} (highest SNR {snr[best]:.4g} at "
            f"{grid.x.name} = {grid.x.values[best[1]]:.3g}, {grid.y.name} = {grid.y.values[best[0]]:.3g}; "
            f"SNR >= 10 on {np.mean(snr >= 10) * 100:.0f}% of the grid"
            + (f"; p_det >= 0.5 on {np.mean(grid.p_det >= 0.5) * 100:.0f}%" if grid.p_det is not None else "") + ")")
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
        write_table(table, cols, prov, comments=args.comments)
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
    curves = [noise_curve(args, choice) for choice in args.noise]
    if args.mass_range is not None:
        lo, hi = args.mass_range
    else:
        lo, hi = (1.0, 1e3) if is_ground(curves) else (1.0, 1e10) if any_ground(curves) else (1e2, 1e10)
    n = args.nm
    if not (0 < lo < hi and math.isfinite(hi)):
        raise CLIError(f"--mass-range {lo} {hi}: need 0 < low < high")
    if args.noise_fluctuations and args.p_det is None:
        raise CLIError("--noise-fluctuations applies with --p-det")
    check_work(args, n, kept_bytes_per_binary=8 * 24, what=f"--nm {n:,} masses{of_length(args)}")
    masses = np.geomspace(lo, hi, n)
    t_start = t_start_default(args, curves)
    results = {}
    for curve in curves:
        label = noise_label(curve)
        try:
            results[label] = horizon(
                masses, args.q, args.spin1, args.spin2, snr=args.snr, noise=curve, inclination=args.inclination,
                phase=args.phase, t_start=t_start, t_end=args.t_end, cosmology=args.cosmology,
                fast=args.fast, threads=args.threads, library=args.library,
                p_det=args.p_det, noise_fluctuations=args.noise_fluctuations,
                z_max=args.z_max, **_horizon_method(snr_method(args)),
            )
        except InputError as exc:
            raise CLIError(str(exc)) from None

    if not any(np.isin(np.asarray(r.reached), ("ok", "above")).any() for r in results.values()):
        why = (f" (--t-end {args.t_end:g} is not below --t-start {t_start:g}: the band is empty)"
               if not isinstance(t_start, str) and args.t_end >= t_start else "")
        raise CLIError(f"no mass in {lo:g}-{hi:g} Msun reaches SNR {args.snr:g} even at the smallest redshift "
                       f"searched, against {', '.join(results)}{why}: nothing to draw")

    from ..plotting import draw_horizon

    plt, fig = figure(args)
    ax = fig.add_subplot(1, 1, 1)
    draw_horizon(ax, results, quantity=args.quantity)
    fig.tight_layout()
    prov = provenance(args, curves, snr_convention=convention(args.inclination), phase=args.phase,
                      threshold=args.snr, mass_ratio=args.q, spin1=args.spin1, spin2=args.spin2,
                      t_start=t_start, t_end=args.t_end,
                      **({"p_det": f"{args.p_det:g} of orientations with SNR > {args.snr:g}",
                          "noise_fluctuations": "included" if args.noise_fluctuations else "not included",
                          "p_det_detector": "; ".join(r.provenance.get("p_det_detector", "")
                                                      for r in results.values())} if args.p_det else {}))
    what = (f"horizon where p_det = {args.p_det:g} at SNR > {args.snr:g}" if args.p_det else
            f"horizon at SNR {args.snr:g} ({convention(args.inclination)})")
    save(plt, fig, args, prov, title=what)
    table = args.table
    if table:
        parts = [r.columns() for r in results.values()]
        cols = {k: np.concatenate([np.asarray(p[k]) for p in parts]) for k in parts[0]}
        cols["noise"] = np.concatenate([np.full(len(r), label, dtype=object) for label, r in results.items()])
        write_table(table, cols, prov, comments=args.comments)
    summaries = [f"{label}: {_horizon_summary(r, args.z_max)}" for label, r in results.items()]
    missed = sum(int(np.count_nonzero(~np.asarray(r.ok))) for r in results.values())
    line = (f"phenomd horizon: SNR {args.snr:g} ({convention(args.inclination)}), {n} masses x {len(curves)} "
            f"curve{'s' if len(curves) > 1 else ''}; wrote {args.output}{' and ' + table if table else ''} ({'; '.join(summaries)})")
    if missed:
        line += (f"; {missed} masses whose horizon lies outside the redshifts searched (redshift nan; see the "
                 "reached and redshift_bound columns)")
    say(args, line)
    return 0


def _mass_span(masses):
    lo, hi = float(np.min(masses)), float(np.max(masses))
    span = f"M = {lo:.3g} Msun" if lo == hi else f"M = {lo:.3g}-{hi:.3g} Msun"
    return span + (f" ({masses.size} masses)" if masses.size > 1 else "")


def _horizon_summary(r, z_max):
    """One curve's horizons in words: the masses whose horizon lies beyond
    the largest redshift searched (then no "deepest" is named: those go
    deeper), else the deepest horizon found; masses below the smallest."""
    reached = np.asarray(r.reached)
    parts = []
    if (reached == "above").any():
        parts.append(f"beyond z = {z_max:g} for {_mass_span(r.mass[reached == 'above'])}")
    elif (reached == "ok").any():
        i = int(np.nanargmax(np.where(reached == "ok", r.redshift, np.nan)))
        parts.append(f"deepest z = {r.redshift[i]:.3g} at M = {r.mass[i]:.3g} Msun")
    if (reached == "below").any():
        parts.append(f"below z = {float(np.nanmin(r.redshift_bound)):g} for {_mass_span(r.mass[reached == 'below'])}")
    return ", ".join(parts)


def _horizon_method(m):
    """snr_method's items as ``horizon`` names them (its own rtol is the
    tolerance in ln z)."""
    return dict(method=m["method"], length=m["length"], snr_rtol=m["rtol"])
