"""``phenomd warning``: when each binary of a catalog becomes detectable.

Per binary: the detection time (years before merger at which the SNR
accumulated from t_start reaches --snr), its flag, and the SNR accumulated
up to each --before time; optionally a figure of accumulated SNR against
time to merger for a few binaries (--figure) and a map of the detection
time over total mass and redshift (--map)."""

from __future__ import annotations

import os
import sys

import numpy as np

from .. import examples
from .._inputs import InputError
from ..tables import check_output_path, output_format, read_catalog, save_figure, write_csv_stream, write_table
from ._runtime import (CLIError, convention, noise_curve, provenance, quiet_dask_logs, say, t_start_default,
                       warn)

HELP = """\
Input columns as for 'phenomd snr' (m1, m2, redshift required; spin1,
spin2, distance, t_start optional). The accumulation runs from t_start to
merger: a t_end column is not used (a warning says so when it holds values
other than 0).
Output: the input columns, distance, snr_total (the whole band's SNR),
t_detect (years before merger, observer frame, at which the SNR accumulated
from t_start first reaches --snr; nan: never), t_detect_flag (0 crossed in
the band, 1 never, 2 at the band's start: within 1e-3 of the accumulation's
span of its start), f_detect (Hz at t_detect) and snr_before_LABEL for each
--before time (SNR accumulated from t_start to that time before merger).
Every SNR is the converged quadrature's, sky-, polarisation- and
inclination-averaged unless --inclination says otherwise.
With --workers N or --scheduler ADDRESS the catalog's partitions run on a
Dask cluster, one file each (with its provenance) in -o OUTDIR; no figures.
Durations: a number and s, min, h, d, w (7 d), mo (1/12 Julian year,
30.4375 d) or yr (Julian year, 365.25 d), e.g. 1mo,1w,1d,1h; astropy times
('3 hour'); a bare number is years."""


def add_parser(sub):
    from ._args import _common, _int_at_least, _positive_float, _finite_float, _size
    import argparse

    p = sub.add_parser(
        "warning", help="detection time and SNR accumulated before merger (table, figures)",
        description="When each binary becomes detectable: the time before merger at which the SNR accumulated "
                    "from t_start reaches --snr, and the SNR accumulated up to each --before time.",
        epilog=HELP, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("input", nargs="?", help="catalog file ('-': CSV on stdin; none: the example population)")
    _common(p)
    p.set_defaults(length=None)  # the quadrature has no grid: --length is refused
    p.add_argument("-o", "--output", help="output table: .csv, .h5, .hdf5 or .npz (default: CSV on stdout "
                                          "unless only figures are asked for)")
    p.add_argument("--snr", type=_positive_float("--snr"), default=10.0, help="SNR threshold (default 10)")
    p.add_argument("--before", default="1mo,1w,1d,1h", metavar="T1,T2,...",
                   help="times before merger for accumulated-SNR columns (default 1mo,1w,1d,1h)")
    g = p.add_argument_group("cluster (Dask)")
    g.add_argument("--scheduler", metavar="ADDRESS", help="a running Dask scheduler, e.g. tcp://head:8786")
    g.add_argument("--workers", type=_int_at_least(1, "--workers"),
                   help="start a local Dask cluster of N worker processes")
    g.add_argument("--partition-size", type=_int_at_least(1, "--partition-size"),
                   help="binaries per partition (default: the package's)")
    g.add_argument("--format", choices=("csv", "h5"), default="csv", help="partition files' format (default csv)")
    g = p.add_argument_group("figures")
    g.add_argument("--figure", metavar="FIG", help="accumulated SNR against time to merger (.png, .pdf, .svg)")
    g.add_argument("--sources", type=_int_at_least(1, "--sources"), default=5,
                   help="binaries drawn on --figure, at evenly spaced ranks of total SNR (default 5)")
    g.add_argument("--map", metavar="FIG", help="detection time over total mass and redshift (.png, .pdf, .svg)")
    g.add_argument("--mass-range", type=_positive_float("--mass-range"), nargs=2, default=(1e4, 1e9),
                   metavar=("LOW", "HIGH"), help="--map: total source-frame masses, Msun (default 1e4 1e9)")
    g.add_argument("--z-range", type=_positive_float("--z-range"), nargs=2, default=(0.1, 20.0),
                   metavar=("LOW", "HIGH"), help="--map: redshifts (default 0.1 20)")
    g.add_argument("--nm", type=_int_at_least(2, "--nm"), default=41, help="--map: masses, log-spaced (default 41)")
    g.add_argument("--nz", type=_int_at_least(2, "--nz"), default=31, help="--map: redshifts, log-spaced "
                                                                          "(default 31)")
    g.add_argument("--q", type=_positive_float("--q"), default=1.0, help="--map: mass ratio m2/m1 (default 1)")
    g.add_argument("--spin1", type=_finite_float, default=0.0, help="--map: spin of m1 (default 0)")
    g.add_argument("--spin2", type=_finite_float, default=0.0, help="--map: spin of m2 (default 0)")
    g.add_argument("--size", type=_size, metavar="column|page|W,H",
                   help="figures' print size: column (3.4 in), page (7 in) or W,H in inches (default page)")
    g.add_argument("--dpi", type=_int_at_least(1, "--dpi"), help="figures' dots per inch (default 300)")
    p.set_defaults(func=cmd_warning)
    return p


def _times(text):
    from ..early_warning import parse_duration

    out = []
    for part in text.split(","):
        if not part.strip():
            raise CLIError(f"--before {text!r}: an empty time")
        try:
            years, label = parse_duration(part)
        except InputError as exc:
            raise CLIError(f"--before: {exc}") from None
        out.append((years, label))
    labels = [lab for _, lab in out]
    dup = {lab for lab in labels if labels.count(lab) > 1}
    if dup:
        raise CLIError(f"--before {text!r}: {', '.join(sorted(dup))} given twice")
    return out


def _distributed(args, times):
    """The catalog's partitions on a Dask cluster, one file each in -o OUTDIR
    (``phenomd.early_warning_distributed.warning_catalog``)."""
    from .. import distributed
    from ..early_warning_distributed import warning_catalog

    if not args.input or args.input == "-":
        raise CLIError("--workers/--scheduler need a catalog file")
    if args.output in (None, "-"):
        raise CLIError("--workers/--scheduler need -o OUTDIR (one output file per partition)")
    if os.path.exists(args.output) and not os.path.isdir(args.output):
        raise CLIError(f"-o {args.output}: exists and is not a directory (a distributed run writes a directory "
                       "of partitions)")
    if args.figure or args.map:
        raise CLIError("--figure and --map are drawn in one process: run them without --workers/--scheduler")
    curve = noise_curve(args)
    t_start = t_start_default(args, [curve])
    if t_start == "band":
        raise CLIError("--workers/--scheduler: give --t-start in years (a band start is computed in one process)")
    try:
        with quiet_dask_logs():
            parts = warning_catalog(args.input, args.output, snr=args.snr, before=args.before,
                                    scheduler=args.scheduler, workers=args.workers, fast=args.fast, noise=curve,
                                    inclination=args.inclination, cosmology=args.cosmology, t_start=t_start,
                                    library=args.library, rtol=args.rtol, partition_size=args.partition_size,
                                    format=args.format, command=args.command_line)
    except (InputError, ValueError, ConnectionError, distributed.WorkerLibraryNotFoundError) as exc:
        raise CLIError(str(exc)) from None
    rows = sum(p["rows"] for p in parts)
    never = sum(p["never"] for p in parts)
    say(args, f"phenomd warning: {rows} binaries in {len(parts)} partitions -> {args.output} ({args.format}); "
              f"{never} never reach SNR {args.snr:g}")
    return 0


def _check_outputs(args):
    paths = []
    if args.output not in (None, "-"):
        check_output_path(args.output, "table")
        paths.append(args.output)
    for opt in ("figure", "map"):
        path = getattr(args, opt)
        if path:
            check_output_path(path, "figure")
            output_format(path, "figure")
            paths.append(path)
    absolute = [os.path.abspath(p) for p in paths]
    if len(set(absolute)) < len(absolute):
        raise CLIError(f"the outputs {', '.join(paths)}: two are the same file")
    if args.input and args.input != "-":
        for p in paths:
            if os.path.exists(p) and os.path.exists(args.input) and os.path.samefile(p, args.input):
                raise CLIError(f"{p}: is the input file; choose another output")


def _figure(args, aspect):
    import matplotlib

    matplotlib.use("Agg")
    from .._figure_style import PRINT_DPI, new_figure

    args.dpi = args.dpi or PRINT_DPI
    return new_figure(args.size or "page", aspect=aspect, dpi=args.dpi)


def cmd_warning(args):
    from ..early_warning import accumulated_snr, detection_time

    from .._gauss import DEFAULT_RTOL

    if args.length is not None or args.method != "gauss":
        given = f"--length {args.length}" if args.length is not None else f"--method {args.method}"
        raise CLIError(f"{given}: warning integrates by converged quadrature (--method gauss), not on a grid; "
                       "use --rtol")
    if args.rtol is None:
        args.rtol = DEFAULT_RTOL
    times = _times(args.before)
    if args.scheduler or args.workers:
        return _distributed(args, times)
    _check_outputs(args)
    if not 1e-9 <= args.rtol <= 0.1:
        raise CLIError(f"--rtol {args.rtol:g}: outside [1e-9, 0.1]")
    curve = noise_curve(args)
    from .commands import COLUMN_HELP, _binaries, _inclination, _located

    cat = examples.example_catalog() if not args.input else read_catalog(args.input, column_help=COLUMN_HELP)
    cols = _binaries(cat, args, [curve])
    if np.any(cols["t_end"] != 0):
        warn(args, "the catalog's t_end column is not used: the accumulation runs from t_start to merger")
    common = dict(noise=curve, inclination=_inclination(cols, args)[0], cosmology=args.cosmology, rtol=args.rtol,
                  fast=args.fast, library=args.library, threads=args.threads)
    binary = (cols["m1"], cols["m2"], cols["spin1"], cols["spin2"], cols["distance"], cols["redshift"],
              cols["t_start"])
    try:
        det = detection_time(*binary, snr=args.snr, **common)
        acc = accumulated_snr(*binary, [t for t, _ in times], **common)
    except InputError as exc:
        raise CLIError(_located(exc, cat)) from None

    label = convention(args.inclination)
    years = ", ".join(f"snr_before_{lab} = {t:.10g} yr" for t, lab in times)
    prov = provenance(args, curve, input=cat.source, snr_convention=label, threshold=args.snr,
                      snr_path=det.provenance["snr_path"],
                      columns="t_detect: years before merger (observer frame; Julian year) at which the SNR "
                              "accumulated from t_start first reaches the threshold, nan: never; t_detect_flag: "
                              "0 crossed in the band, 1 never, 2 at the band's start; f_detect: Hz; snr_total: "
                              f"SNR of the whole band; {years}; distance: Mpc",
                      durations="h 3600 s, d 86400 s, w 7 d, mo 1/12 Julian year (30.4375 d), yr 365.25 d")
    table = {}
    for name in cat.header:
        table[name] = cols[name] if name in cols else cat.other[name]
    if "distance" not in table:
        table["distance"] = cols["distance"]
    table["snr_total"] = det.snr_total
    table["t_detect"] = det.t_detect
    table["t_detect_flag"] = det.flag.astype(np.int64)
    table["f_detect"] = det.f_detect
    for j, (_, lab) in enumerate(times):
        table[f"snr_before_{lab}"] = acc.snr[:, j]

    wrote = []
    if args.output == "-" or (args.output is None and not (args.figure or args.map)):
        write_csv_stream(sys.stdout, table, prov, comments=args.comments)
        sys.stdout.flush()
        wrote.append("stdout")
    elif args.output:
        write_table(args.output, table, prov, comments=args.comments)
        wrote.append(args.output)
    if args.figure:
        _draw_curves(args, cat, binary, det, common, prov, label)
        wrote.append(args.figure)
    if args.map:
        _draw_map(args, curve, common, prov, label)
        wrote.append(args.map)

    counts = np.bincount(det.flag, minlength=3)
    found = det.flag != 1
    med = f"median t_detect {np.median(det.t_detect[found]) * 365.25:.3g} d" if found.any() else "none detected"
    say(args, f"phenomd warning: {len(cat)} binaries from {cat.source} against {curve!r} ({label} SNR >= "
              f"{args.snr:g}): {counts[0]} cross in the band, {counts[2]} at its start, {counts[1]} never; {med}; "
              f"wrote {', '.join(wrote)}")
    return 0


def _draw_curves(args, cat, binary, det, common, prov, label):
    from .._figure_style import format_mass, format_number, legend_below
    from ..early_warning import accumulated_snr
    from .._warning_figures import accumulation_curves

    n = len(cat)
    order = np.argsort(det.snr_total)
    m = min(args.sources, n)
    pick = order[np.unique(np.round(np.linspace(0, n - 1, m)).astype(int))][::-1]
    sub = [np.asarray(b)[pick] for b in binary]
    if np.ndim(common["inclination"]):  # one angle per catalog row: the picked rows'
        common = dict(common, inclination=np.asarray(common["inclination"])[pick])
    # From the earliest start to a third of the earliest model end (Mf =
    # 0.2: the curves are flat after it), at least three decades.
    t_first = float(np.max(det.t_first[pick]))
    t_end = accumulated_snr(*sub, 0.0, **common).t_model_end
    t_last = min(float(np.min(t_end)) / 3.0, t_first * 1e-3)
    grid = np.geomspace(t_first, t_last, 200)
    acc = accumulated_snr(*sub, grid, **common)
    labels = [f"{cat.label(int(i))}: {format_mass(sub[0][k] + sub[1][k])}, z = {format_number(sub[5][k])}"
              for k, i in enumerate(pick)]
    fig = _figure(args, 0.95 if (args.size or "page") == "column" else 0.62)
    ax = fig.add_subplot(1, 1, 1)
    handles = accumulation_curves(grid, acc.snr, threshold=args.snr, t_detect=det.t_detect[pick], labels=labels,
                                  ax=ax, convention=label)
    from .._figure_style import fit_text

    title = (f"SNR accumulated from t_start against {noise_label_of(common['noise'])}; dots: t_detect\n"
             f"({_unbroken(label)})")
    ax.set_title(title if fig.get_figwidth() > 5 else fit_text(fig, title, 0.95 * fig.bbox.width, 7),
                 fontsize=8 if fig.get_figwidth() > 5 else 7)
    legend_below(ax, handles, fontsize=7)
    save_figure(fig, args.figure, dict(prov, figure="accumulated SNR against time to merger; dots: t_detect"),
                dpi=args.dpi, title="accumulated SNR against time to merger")
    import matplotlib.pyplot as plt

    plt.close(fig)


def _unbroken(text):
    """``text`` with no break after its commas (fit_text breaks there)."""
    return text.replace(", ", ",\u00a0")


def noise_label_of(curve):
    from ._runtime import noise_label

    return noise_label(curve)


def _draw_map(args, curve, common, prov, label):
    from ..early_warning import detection_time
    from .._warning_figures import detection_map
    from .._figure_style import format_number

    mass = np.geomspace(*args.mass_range, args.nm)
    z = np.geomspace(*args.z_range, args.nz)
    mm, zz = np.meshgrid(mass, z)
    # The map's grid of binaries: the command line's inclination and t_start,
    # not a catalog's rows.
    common = dict(common, inclination=args.inclination)
    t_start = t_start_default(args, [curve])
    m1 = mm.ravel() / (1.0 + args.q)
    m2 = mm.ravel() - m1
    try:
        det = detection_time(m1, m2, args.spin1, args.spin2, None, zz.ravel(), t_start, snr=args.snr, **common)
    except InputError as exc:
        raise CLIError(f"--map: {exc}") from None
    fig = _figure(args, 0.85 if (args.size or "page") == "column" else 0.7)
    ax = fig.add_subplot(1, 1, 1)
    title = (f"when the SNR reaches {format_number(args.snr)}: {noise_label_of(curve)}, "
             f"q = {format_number(args.q)}, "
             rf"$\chi_1$ = {format_number(args.spin1)}, $\chi_2$ = {format_number(args.spin2)}, "
             f"t_start = {format_number(t_start)} yr\n({_unbroken(label)} SNR)")
    small = fig.get_figwidth() <= 5
    _, handles = detection_map(ax, mass, z, det.t_detect.reshape(zz.shape), title=title, fontsize=7 if small else 8)
    if handles:
        from .._figure_style import legend_below

        legend_below(ax, handles, fontsize=7)
    save_figure(fig, args.map, dict(prov, figure="detection time over total mass and redshift; contours 1 d, "
                                                 "1 wk, 1 mo", q=args.q, spin1=args.spin1, spin2=args.spin2),
                dpi=args.dpi, title="detection time over total mass and redshift")
    import matplotlib.pyplot as plt

    plt.close(fig)
