"""The command line's options (argparse)."""

from __future__ import annotations

import argparse
import os
import shlex
import sys

from .. import __version__
from .._conventions import AVERAGED
from .._gauss import DEFAULT_RTOL
from ..core import DEFAULT_LENGTH
from . import commands
from ._runtime import noise_names, parse_inclination

KINDS = ("asd", "psd", "hn")


def _int_at_least(low, what, high=None, why=""):
    def parse(text):
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"{text!r}: {what} must be an integer") from None
        if value < low:
            raise argparse.ArgumentTypeError(f"{text}: {what} must be at least {low}")
        if high is not None and value > high:
            raise argparse.ArgumentTypeError(f"{text}: {what} must be at most {high}{why}")
        return value

    return parse


def _memory_size(text):
    from .._limits import parse_size

    try:
        return parse_size(text)
    except ValueError as exc:
        raise argparse.ArgumentTypeError(f"--max-memory {exc}") from None


# Matplotlib's raster renderer draws at most 2^16 - 1 pixels each way.
MAX_PIXELS = (1 << 16) - 1


def _positive_float(what):
    def parse(text):
        try:
            value = float(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"{text!r}: {what} must be a number") from None
        if not (value > 0 and value < float("inf")):
            raise argparse.ArgumentTypeError(f"{text}: {what} must be finite and positive")
        return value

    return parse


def _finite_float(text):
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r}: not a number") from None
    if value != value or value in (float("inf"), float("-inf")):
        raise argparse.ArgumentTypeError(f"{text}: must be finite")
    return value


def _t_start(text):
    if text.strip().lower() == "band":
        return "band"
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r}: --t-start must be a number of years or 'band'") from None
    if not (value > 0 and value < float("inf")):
        raise argparse.ArgumentTypeError(f"{text}: --t-start must be finite and positive (years) or 'band'")
    return value


def _probability(text):
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r}: a detection probability must be a number") from None
    if not 0 < value < 1:
        raise argparse.ArgumentTypeError(f"{text}: a detection probability must lie strictly between 0 and 1")
    return value


def _years(text):
    """--years: a number of years, or a time with its unit (4yr, 1461d,
    18 months as 1.5); another unit is refused naming it."""
    try:
        value = _finite_float(text)
    except argparse.ArgumentTypeError:
        from astropy import units as u

        try:
            q = u.Quantity(text)
        except (TypeError, ValueError):
            raise argparse.ArgumentTypeError(f"{text!r}: a number of years or a time such as 4yr") from None
        try:
            value = float(q.to_value(u.yr))
        except u.UnitsError:
            raise argparse.ArgumentTypeError(f"{text!r}: unit {q.unit} is not a time (e.g. 4yr)") from None
        if value != value or value in (float("inf"), float("-inf")):
            raise argparse.ArgumentTypeError(f"{text}: must be finite")
    if value < 0:
        raise argparse.ArgumentTypeError(f"{text}: years of observation must be >= 0 (0: no foreground)")
    return value or None


def _yes_no(text):
    if text.lower() in ("yes", "true", "1"):
        return True
    if text.lower() in ("no", "false", "0"):
        return False
    raise argparse.ArgumentTypeError(f"{text!r}: yes or no")


def _common(p, *, several_noise=False):
    g = p.add_argument_group("model and grid")
    g.add_argument("--method", choices=("gauss", "trapezoid"), default="gauss",
                   help="how the SNR integral is evaluated: gauss (default), Gauss-Legendre quadrature in ln f "
                        "converged to --rtol, each phase from its own boundary; trapezoid, the C library's sum "
                        "on a grid of --length points (earlier versions' results)")
    g.add_argument("--rtol", type=_positive_float("--rtol"),
                   help=f"relative tolerance of every SNR under --method gauss, 1e-9 to 0.1 (default "
                        f"{DEFAULT_RTOL:g})")
    g.add_argument("--length", type=_int_at_least(2, "--length", 2**31 - 1, " (the C interface's int)"),
                   help=f"grid points per binary of --method trapezoid (and of the strain curves), at least 2 "
                        f"(default {DEFAULT_LENGTH})")
    g.add_argument("--fast", action="store_true", help="use the fast module libphenomd_fast.so")
    g.add_argument("--library", help="path to libphenomd.so (default: search, see phenomd.load_library)")
    g.add_argument("--threads", type=_int_at_least(1, "--threads"), default=os.cpu_count() or 1,
                   help=f"worker threads (default: one per core, here {os.cpu_count() or 1})")
    g.add_argument("--cosmology", default="Planck18",
                   help="astropy realization for distances from redshifts (default Planck18)")
    g.add_argument("--t-start", type=_t_start, default=None, metavar="YEARS|band",
                   help="band start, years before merger (observer frame), where a binary gives none; 'band': "
                        "where each binary enters the noise curve's range (default: band for ground curves "
                        "aligo, et; 4 years otherwise)")

    g = p.add_argument_group("convention")
    g.add_argument("--inclination", type=parse_inclination, default="average",
                   metavar="average|face-on|edge-on|ANGLE",
                   help=f"average (default): the {AVERAGED} h_c = "
                        "sqrt(16/5) f|h~| and SNR; face-on (sqrt(8) f|h~|); edge-on (f|h~|, the C module's "
                        "own h_c); or an angle: 60deg, 1.05rad, or a plain number of radians in [0, pi]")

    g = p.add_argument_group("noise")
    names = ", ".join(noise_names())
    if several_noise:
        g.add_argument("--noise", action="append", metavar="NAME|FILE|A+B",
                       help=f"noise curve, repeatable: {names} (default lisa), a two-column file, or a "
                            "network such as lisa+taiji")
    else:
        g.add_argument("--noise", default="lisa", metavar="NAME|FILE|A+B",
                       help=f"noise curve: {names} (default lisa), a two-column file, or a network of "
                            "independent detectors such as lisa+taiji or aligo@H1+aligo@L1+aligo@V1")
    g.add_argument("--years", type=_years, default=4.0,
                   help="observation time setting the galactic foreground of a named curve, in years or "
                        "with a time unit (4yr, 1461d; default 4; 0: instrument noise only)")
    g.add_argument("--response", choices=("numerical", "approximate"),
                   help="LISA's sky-averaged response: numerical (default) or the approximation of Robson, "
                        "Cornish & Liu (2019) eq. 9")
    g.add_argument("--noise-kind", choices=KINDS, help="what a noise file's second column is")
    g.add_argument("--p-det-approximation", choices=("independent",),
                   help="p_det of a network whose geometry is unknown (e.g. lisa+taiji): independent = each "
                        "member's orientation drawn independently (default: refuse)")
    g.add_argument("--noise-channels", type=int, choices=(1, 2),
                   help="a noise file is the sensitivity of 1 channel or 2 combined (default 2)")
    g.add_argument("--noise-sky-averaged", type=_yes_no, metavar="yes|no",
                   help="a noise file is sky- and polarisation-averaged (yes, default) or the bare noise "
                        "PSD of one channel (no: with --noise-channels 1)")
    g.add_argument("--noise-response", metavar="NAME",
                   help=f"for a file that is not sky-averaged: whose averaged response R(f) converts it "
                        f"({names}, or low-frequency for R = 3/10; default lisa)")

    g = p.add_argument_group("output")
    g.add_argument("--progress", action="store_true",
                   help="a progress bar on stderr even when it is not a terminal")
    g.add_argument("--no-progress", action="store_true", help="no progress bar")
    g.add_argument("-q", "--quiet", action="store_true", help="no summary on stderr (warnings still print)")
    g.add_argument("--max-memory", type=_memory_size, metavar="SIZE",
                   help="refuse work whose grids, tables or figures would need more memory than SIZE (e.g. 8G, "
                        "512M; default half the physical memory)")
    g.add_argument("--comments", action="store_true",
                   help="CSV outputs: the provenance as leading '# key: value' lines (read them with "
                        "comment='#') instead of beside the file in NAME.csv.meta.json (default)")


def _catalog_options(p):
    p.add_argument("--keep-columns", action="store_true",
                   help="carry catalog columns that are none of the columns below through to the output "
                        "(default: such a column is an error, with the name it most likely means)")


def _size(text):
    from .._figure_style import figure_size
    from .._inputs import InputError

    try:
        figure_size(text)
    except InputError as exc:
        raise argparse.ArgumentTypeError(str(exc)) from None
    return text


def _figure(p, output, width=900, height=650, aspect=0.76):
    from .._figure_style import PRINT_DPI, WIDTHS

    p.add_argument("-o", "--output", default=output,
                   help=f"figure: .png, .pdf or .svg (default {output})")
    p.add_argument("--size", type=_size, metavar="column|page|W,H",
                   help=f"print size: column ({WIDTHS['column']:g} in wide), page ({WIDTHS['page']:g} in), both "
                        f"{aspect:g} times as high, or W,H in inches; text stays 7 pt or larger. Pixels are the "
                        f"size times --dpi (default {PRINT_DPI} with --size); not with --width/--height")
    p.add_argument("--width", type=_int_at_least(1, "--width", MAX_PIXELS, " pixels (the renderer's limit)"),
                   help=f"figure width, pixels (default {width}; not with --size)")
    p.add_argument("--height", type=_int_at_least(1, "--height", MAX_PIXELS, " pixels (the renderer's limit)"),
                   help=f"figure height, pixels (default {height}; not with --size)")
    p.add_argument("--dpi", type=_int_at_least(1, "--dpi"),
                   help=f"dots per inch (default 100; {PRINT_DPI} with --size)")
    p.set_defaults(figure_defaults=(width, height, aspect), default_output=output)


def _grid_options(p):
    g = p.add_argument_group("grid (parameters: mass, q, redshift, distance, spin1, spin2, spin, t_start, "
                             "t_end, tobs)")
    g.add_argument("--x", default="mass", metavar="NAME[:LOW:HIGH[:N[:log|linear]]]",
                   help="horizontal axis (default mass:1e2:1e10:97:log)")
    g.add_argument("--y", default="redshift", metavar="NAME[:LOW:HIGH[:N[:log|linear]]]",
                   help="vertical axis (default redshift:0.01:20:61:log)")
    g.add_argument("--fix", action="append", metavar="NAME=VALUE",
                   help="hold a parameter at a value (repeatable), e.g. --fix spin=0.9 --fix tobs=2")
    g.add_argument("--q", type=_positive_float("--q"), default=0.2,
                   help="mass ratio m2/m1 when not an axis (default 0.2; q > 1: m2 the heavier body, each "
                        "spin staying with its body, as in horizon)")
    g.add_argument("--spin1", type=_finite_float, default=0.8, help="spin of m1 when not an axis (default 0.8)")
    g.add_argument("--spin2", type=_finite_float, default=0.8, help="spin of m2 when not an axis (default 0.8)")
    g.add_argument("--mass-range", type=_positive_float("--mass-range"), nargs=2, metavar=("LOW", "HIGH"),
                   help="total source-frame mass range of a mass axis, Msun (default 1e2 1e10; 1 1e3 for a "
                        "ground curve)")
    g.add_argument("--z-range", type=_positive_float("--z-range"), nargs=2, metavar=("LOW", "HIGH"),
                   help="range of a redshift axis (default 0.01 20; 1e-3 10 for a ground curve)")
    g.add_argument("--nm", type=_int_at_least(2, "--nm"), help="points of a mass axis (default 97)")
    g.add_argument("--nz", type=_int_at_least(2, "--nz"), help="points of a redshift axis (default 61)")
    g.add_argument("--phase", choices=("all", "ins", "mrg", "rd"), default="all",
                   help="whose SNR: the whole band (default), inspiral, merger or ringdown")
    g.add_argument("--table", metavar="FILE", help="also write the grid: .csv, .h5, .hdf5 or .npz")


def _detection(p):
    g = p.add_argument_group("detection probability")
    g.add_argument("--threshold", type=_positive_float("--threshold"),
                   help="SNR threshold: adds p_det, the fraction of sky positions, polarisations and "
                        "inclinations whose SNR exceeds it (waterfall: draws p_det)")
    g.add_argument("--noise-fluctuations", action="store_true",
                   help="with --threshold: include the detector noise's fluctuation of the observed SNR "
                        "(non-central chi^2)")


def build_parser():
    parser = argparse.ArgumentParser(
        prog="phenomd",
        description="Characteristic strain and SNR of aligned-spin binary black holes. Every SNR and h_c is "
                    f"{AVERAGED} unless --inclination says otherwise.",
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    parser.add_argument("--version", action="version", version=f"phenomd {__version__}")
    sub = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    p = sub.add_parser(
        "snr", help="SNRs of binaries from a catalog (or the example population)",
        description="SNRs of binaries from a CSV, HDF5 or npz catalog; with no input, a built-in example "
                    "population of 60 binaries. With --workers or --scheduler, catalogs are split into "
                    "partitions computed on a Dask cluster, one output file per partition in -o OUTDIR.",
        epilog=commands.SNR_HELP, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("input", nargs="*", help="catalog file(s) ('-': CSV on stdin; none: the example population)")
    _common(p)
    _catalog_options(p)
    p.add_argument("-o", "--output", help="output table: .csv, .h5, .hdf5 or .npz (default: CSV on stdout); "
                                          "with --workers/--scheduler a directory")
    _detection(p)
    g = p.add_argument_group("cluster (Dask)")
    g.add_argument("--scheduler", metavar="ADDRESS", help="a running Dask scheduler, e.g. tcp://head:8786")
    g.add_argument("--workers", type=_int_at_least(1, "--workers"),
                   help="start a local Dask cluster of N worker processes")
    g.add_argument("--timeout", type=_positive_float("--timeout"), default=20.0, metavar="SECONDS",
                   help="with --scheduler: how long to wait for the scheduler to answer and for its first "
                        "worker to join before giving up with an error (default 20)")
    g.add_argument("--partition-size", type=_int_at_least(1, "--partition-size"),
                   help="binaries per partition (default: the package's)")
    g.add_argument("--format", choices=("csv", "h5"), default="csv", help="partition files' format (default csv)")
    g.add_argument("--overwrite", action="store_true",
                   help="recompute into an OUTDIR that holds partitions made from another catalog or with "
                        "other options (default: refuse; the same command resumes)")
    p.set_defaults(func=commands.cmd_snr)

    p = sub.add_parser(
        "waterfall", help="SNR over a grid of two parameters (figure)",
        description="The SNR over a grid of any two parameters (default: source-frame total mass x "
                    "redshift) with the others fixed, as filled contours. With --compare NOISE: the ratio "
                    "of the SNRs against --noise and NOISE (as phenomd ratio).")
    _common(p)
    _figure(p, "out/waterfall.png")
    _grid_options(p)
    p.add_argument("--compare", metavar="NAME|FILE", help="draw SNR(--noise) / SNR(NOISE) instead")
    _detection(p)
    p.set_defaults(func=commands.cmd_waterfall)

    p = sub.add_parser(
        "ratio", help="SNR ratio of two noise curves over a grid (figure)",
        description="SNR_A / SNR_B over a grid of two parameters: A against --noise, B against --compare.")
    _common(p)
    _figure(p, "out/ratio.png")
    _grid_options(p)
    p.add_argument("--compare", metavar="NAME|FILE", required=True, help="noise curve B")
    p.set_defaults(func=commands.cmd_ratio)

    p = sub.add_parser(
        "strain", help="characteristic strain of binaries against noise curves (figure)",
        description="Characteristic strain of chosen binaries against one or more noise curves (each drawn "
                    "within its range), with the inspiral/merger (circle) and merger/ringdown (square) "
                    "boundaries; the legend's SNR is against the first curve.",
        epilog=commands.STRAIN_HELP, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("input", nargs="?", help="catalog of binaries (columns as for snr)")
    p.add_argument("--binary", action="append", metavar="m1,m2,spin1,spin2,z[,t_start[,t_end]]",
                   help="a binary to draw (repeatable; default: three examples)")
    _common(p, several_noise=True)
    _catalog_options(p)
    _figure(p, "out/strain.png", aspect=1.0)
    p.set_defaults(func=commands.cmd_strain)

    p = sub.add_parser(
        "horizon", help="redshift at which binaries reach an SNR, against total mass (figure)",
        description="The horizon: the redshift (and luminosity distance) at which a binary of each total "
                    "mass reaches the SNR threshold, for one or more noise curves on one figure.")
    _common(p, several_noise=True)
    _figure(p, "out/horizon.png")
    p.add_argument("--snr", type=_positive_float("--snr"), default=10.0, help="SNR threshold (default 10)")
    p.add_argument("--mass-range", type=_positive_float("--mass-range"), nargs=2, default=None,
                   metavar=("LOW", "HIGH"), help="total source-frame masses, Msun (default 1e2 1e10; 1 1e3 for "
                                                 "ground curves; 1 1e10 for space and ground together)")
    p.add_argument("--nm", type=_int_at_least(2, "--nm"), default=49, help="masses, log-spaced (default 49)")
    p.add_argument("--q", type=_positive_float("--q"), default=0.2,
                   help="mass ratio m2/m1 (default 0.2; q > 1: m2 the heavier body, each spin staying with its "
                        "body, as in waterfall)")
    p.add_argument("--spin1", type=_finite_float, default=0.8, help="spin of m1 (default 0.8)")
    p.add_argument("--spin2", type=_finite_float, default=0.8, help="spin of m2 (default 0.8)")
    p.add_argument("--t-end", type=_finite_float, default=0.0,
                   help="band end, years before merger; <= 0 through merger and ringdown (default 0)")
    p.add_argument("--phase", choices=("all", "ins", "mrg", "rd"), default="all",
                   help="whose SNR reaches the threshold (default all)")
    p.add_argument("--z-max", type=_positive_float("--z-max"), default=100.0,
                   help="largest redshift searched, up to 1000 (default 100); masses whose horizon lies "
                        "beyond it are marked, not given a value")
    p.add_argument("--quantity", choices=("redshift", "distance"), default="redshift",
                   help="vertical axis: redshift (with the distance on the right) or luminosity distance")
    p.add_argument("--table", metavar="FILE", help="also write the horizons: .csv, .h5, .hdf5 or .npz")
    p.add_argument("--p-det", type=_probability, metavar="P",
                   help="the redshift where a fraction P of sky positions, polarisations and inclinations has "
                        "SNR above --snr (instead of where the averaged SNR equals --snr)")
    p.add_argument("--noise-fluctuations", action="store_true",
                   help="with --p-det: include the detector noise's fluctuation of the observed SNR")
    p.set_defaults(func=commands.cmd_horizon)

    from . import warning

    warning.add_parser(sub)
    return parser


def _actions(parser):
    for action in parser._actions:
        if isinstance(action, argparse._SubParsersAction):
            for sub in action.choices.values():
                yield from _actions(sub)
        else:
            yield action


def _given(argv):
    """The options the command line gives explicitly (their dests): the
    same parse with every default suppressed, so that abbreviations and
    ``--opt=value`` count as argparse counts them."""
    bare = build_parser()
    for action in _actions(bare):
        if action.dest not in ("help", "version"):
            action.default = argparse.SUPPRESS
    return set(vars(bare.parse_args(argv)))


def _is_file_choice(choice):
    from ._runtime import noise_names

    return str(choice).lower() not in noise_names()


def conflicts(args):
    """The first pair of options that contradict each other, or that give
    an option with nothing to apply to (a silent choice otherwise), as a
    message; None when there is none."""
    given = args.given
    if {"progress", "no_progress"} <= given:
        return "--progress and --no-progress: give one"
    choices = list(args.noise) if isinstance(args.noise, list) else [args.noise]
    if getattr(args, "compare", None):
        choices.append(args.compare)
    names = [c for c in choices if not _is_file_choice(c)]
    files = [c for c in choices if _is_file_choice(c)]
    for dest in ("noise_kind", "noise_channels", "noise_sky_averaged", "noise_response"):
        if dest in given and not files:
            return (f"--{dest.replace('_', '-')} describes a noise file, but --noise {' '.join(names)} "
                    "names a built-in curve")
    if "years" in given and not names:
        return f"--years sets a built-in curve's galactic foreground; {' '.join(files)} is a file"
    if "response" in given and "lisa" not in [n.lower() for n in names]:
        return "--response applies to the lisa curve, which is not among the noise curves chosen"
    if args.command == "snr":
        if "workers" in given and "scheduler" in given:
            return "--workers starts a local cluster and --scheduler names a running one: give one"
        if not ({"workers", "scheduler"} & given):
            for dest in ("partition_size", "format", "overwrite"):
                if dest in given:
                    return f"--{dest.replace('_', '-')} applies only with --workers or --scheduler"
    return None


def parse(argv=None):
    parser = build_parser()
    argv = sys.argv[1:] if argv is None else list(argv)
    args = parser.parse_args(argv)
    args.command_line = shlex.join(["phenomd"] + argv)
    args.given = _given(argv)
    from .._limits import set_max_memory

    set_max_memory(getattr(args, "max_memory", None))
    if isinstance(args.noise, list) or args.noise is None:
        args.noise = args.noise or ["lisa"]
    problem = conflicts(args)
    if problem:
        parser.exit(2, f"phenomd {args.command}: error: {problem}\n")
    return parser, args
