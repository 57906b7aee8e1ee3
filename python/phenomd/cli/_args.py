"""The command line's options (argparse)."""

from __future__ import annotations

import argparse
import os
import shlex
import sys

from .. import __version__
from .._conventions import AVERAGED
from ..core import DEFAULT_LENGTH
from . import commands
from ._runtime import noise_names, parse_inclination

KINDS = ("asd", "psd", "hn")


def _int_at_least(low, what):
    def parse(text):
        try:
            value = int(text)
        except ValueError:
            raise argparse.ArgumentTypeError(f"{text!r}: {what} must be an integer") from None
        if value < low:
            raise argparse.ArgumentTypeError(f"{text}: {what} must be at least {low}")
        return value

    return parse


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


def _years(text):
    value = _finite_float(text)
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
    g.add_argument("--length", type=_int_at_least(2, "--length"), default=DEFAULT_LENGTH,
                   help=f"grid points per binary, at least 2 (default {DEFAULT_LENGTH})")
    g.add_argument("--fast", action="store_true", help="use the fast module libphenomd_fast.so")
    g.add_argument("--library", help="path to libphenomd.so (default: search, see phenomd.load_library)")
    g.add_argument("--threads", type=_int_at_least(1, "--threads"), default=os.cpu_count() or 1,
                   help=f"worker threads (default: one per core, here {os.cpu_count() or 1})")
    g.add_argument("--cosmology", default="Planck18",
                   help="astropy realization for distances from redshifts (default Planck18)")
    g.add_argument("--t-start", type=_positive_float("--t-start"), default=4.0,
                   help="band start, years before merger (observer frame), where a binary gives none (default 4)")

    g = p.add_argument_group("convention")
    g.add_argument("--inclination", type=parse_inclination, default="average",
                   metavar="average|face-on|edge-on|RADIANS",
                   help=f"average (default): the {AVERAGED} h_c = "
                        "sqrt(16/5) f|h~| and SNR; face-on (sqrt(8) f|h~|); edge-on (f|h~|, the C module's "
                        "own h_c); or an angle in radians")

    g = p.add_argument_group("noise")
    names = ", ".join(noise_names())
    if several_noise:
        g.add_argument("--noise", action="append", metavar="NAME|FILE",
                       help=f"noise curve, repeatable: {names} (default lisa) or a two-column file")
    else:
        g.add_argument("--noise", default="lisa", metavar="NAME|FILE",
                       help=f"noise curve: {names} (default lisa) or a two-column file")
    g.add_argument("--years", type=_years, default=4.0,
                   help="observation time setting the galactic foreground of a named curve (default 4; "
                        "0: instrument noise only)")
    g.add_argument("--response", choices=("numerical", "approximate"),
                   help="LISA's sky-averaged response: numerical (default) or the approximation of Robson, "
                        "Cornish & Liu (2019) eq. 9")
    g.add_argument("--noise-kind", choices=KINDS, help="what a noise file's second column is")
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
    p.add_argument("--width", type=_int_at_least(1, "--width"),
                   help=f"figure width, pixels (default {width}; not with --size)")
    p.add_argument("--height", type=_int_at_least(1, "--height"),
                   help=f"figure height, pixels (default {height}; not with --size)")
    p.add_argument("--dpi", type=_int_at_least(1, "--dpi"),
                   help=f"dots per inch (default 100; {PRINT_DPI} with --size)")
    p.set_defaults(figure_defaults=(width, height, aspect))


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
                   help="mass ratio m2/m1 in (0, 1] when not an axis (default 0.2)")
    g.add_argument("--spin1", type=_finite_float, default=0.8, help="spin of m1 when not an axis (default 0.8)")
    g.add_argument("--spin2", type=_finite_float, default=0.8, help="spin of m2 when not an axis (default 0.8)")
    g.add_argument("--mass-range", type=_positive_float("--mass-range"), nargs=2, metavar=("LOW", "HIGH"),
                   help="total source-frame mass range of a mass axis, Msun (default 1e2 1e10)")
    g.add_argument("--z-range", type=_positive_float("--z-range"), nargs=2, metavar=("LOW", "HIGH"),
                   help="range of a redshift axis (default 0.01 20)")
    g.add_argument("--nm", type=_int_at_least(2, "--nm"), help="points of a mass axis (default 97)")
    g.add_argument("--nz", type=_int_at_least(2, "--nz"), help="points of a redshift axis (default 61)")
    g.add_argument("--phase", choices=("all", "ins", "mrg", "rd"), default="all",
                   help="whose SNR: the whole band (default), inspiral, merger or ringdown")
    g.add_argument("--table", metavar="FILE", help="also write the grid: .csv, .h5, .hdf5 or .npz")


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
        epilog=commands.COLUMN_HELP, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("input", nargs="*", help="catalog file(s) ('-': CSV on stdin; none: the example population)")
    _common(p)
    p.add_argument("-o", "--output", help="output table: .csv, .h5, .hdf5 or .npz (default: CSV on stdout); "
                                          "with --workers/--scheduler a directory")
    g = p.add_argument_group("cluster (Dask)")
    g.add_argument("--scheduler", metavar="ADDRESS", help="a running Dask scheduler, e.g. tcp://head:8786")
    g.add_argument("--workers", type=_int_at_least(1, "--workers"),
                   help="start a local Dask cluster of N worker processes")
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
        epilog=commands.COLUMN_HELP, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("input", nargs="?", help="catalog of binaries (columns as for snr)")
    p.add_argument("--binary", action="append", metavar="m1,m2,spin1,spin2,z[,t_start[,t_end]]",
                   help="a binary to draw (repeatable; default: three examples)")
    _common(p, several_noise=True)
    _figure(p, "out/strain.png", aspect=1.0)
    p.set_defaults(func=commands.cmd_strain)

    p = sub.add_parser(
        "horizon", help="redshift at which binaries reach an SNR, against total mass (figure)",
        description="The horizon: the redshift (and luminosity distance) at which a binary of each total "
                    "mass reaches the SNR threshold, for one or more noise curves on one figure.")
    _common(p, several_noise=True)
    _figure(p, "out/horizon.png")
    p.add_argument("--snr", type=_positive_float("--snr"), default=10.0, help="SNR threshold (default 10)")
    p.add_argument("--mass-range", type=_positive_float("--mass-range"), nargs=2, default=(1e2, 1e10),
                   metavar=("LOW", "HIGH"), help="total source-frame masses, Msun (default 1e2 1e10)")
    p.add_argument("--nm", type=_int_at_least(2, "--nm"), default=49, help="masses, log-spaced (default 49)")
    p.add_argument("--q", type=_positive_float("--q"), default=0.2, help="mass ratio m2/m1 (default 0.2)")
    p.add_argument("--spin1", type=_finite_float, default=0.8, help="spin of m1 (default 0.8)")
    p.add_argument("--spin2", type=_finite_float, default=0.8, help="spin of m2 (default 0.8)")
    p.add_argument("--t-end", type=_finite_float, default=0.0,
                   help="band end, years before merger; <= 0 through merger and ringdown (default 0)")
    p.add_argument("--phase", choices=("all", "ins", "mrg", "rd"), default="all",
                   help="whose SNR reaches the threshold (default all)")
    p.add_argument("--quantity", choices=("redshift", "distance"), default="redshift",
                   help="vertical axis: redshift (with the distance on the right) or luminosity distance")
    p.add_argument("--table", metavar="FILE", help="also write the horizons: .csv, .h5, .hdf5 or .npz")
    p.set_defaults(func=commands.cmd_horizon)

    from . import warning

    warning.add_parser(sub)
    return parser


def parse(argv=None):
    parser = build_parser()
    argv = sys.argv[1:] if argv is None else list(argv)
    args = parser.parse_args(argv)
    args.command_line = shlex.join(["phenomd"] + argv)
    if isinstance(args.noise, list) or args.noise is None:
        args.noise = args.noise or ["lisa"]
    return parser, args
