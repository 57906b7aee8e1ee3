"""What every command shares: the noise curve and inclination options, the
one rule for distances, the progress bar, warnings and their flags,
provenance, figures and the summary line."""

from __future__ import annotations

import contextlib
import math
import os
import sys

import numpy as np

from .. import noise as noise_mod
from .._catalog import RESULT_COLUMNS
from .._cosmology import luminosity_distance
from .._inputs import InputError
from .._executor import ProgressBar
from .._provenance import provenance as _provenance
from .._conventions import CALIBRATED_MASS_RATIO, CALIBRATED_SPIN, convention_label, describe
from ..tables import TableError, save_figure


FLAG_TEXT = {
    "inverted": "with an empty band (t_start below t_end, or a start above the model's last frequency)",
    "outside_noise": "whose band reaches beyond the noise curve's range where it could carry more than "
                     "0.1 % of the SNR^2 (an upper bound; that part counts nothing)",
    "outside_noise_negligible": "with the band reaching beyond the noise curve's range carrying < 0.1 % of "
                                "the SNR^2",
    "band_outside_noise": "whose whole band lies outside the noise curve's range (SNR 0: no sensitivity there)",
    "uncalibrated": f"outside the model's calibration (mass ratio > {CALIBRATED_MASS_RATIO:g} or "
                    f"|spin| > {CALIBRATED_SPIN:g})",
    "zero_snr": "with SNR exactly 0",
}


class CLIError(Exception):
    """A fault the user can fix; printed as one ``error:`` line, exit 2."""


# ---------------------------------------------------------- noise curves


#: Built-in ground curves (no galactic foreground).
GROUND_NAMES = ("aligo", "et")


def noise_names():
    return noise_mod.names()


def noise_curve(args, choice=None):
    """The noise curve an option names: a built-in name (``--years`` sets
    its confusion-noise observation time where it has one) or a file
    (``--noise-kind`` says what its second column is; ``--noise-channels``
    and ``--noise-sky-averaged`` what convention the file is in)."""
    choice = args.noise if choice is None else choice
    approx = getattr(args, "p_det_approximation", None)
    if "+" in choice and not os.path.exists(choice):
        # A network of independent detectors: lisa+taiji, aligo@H1+aligo@L1.
        options = {"p_det_approximation": approx} if approx else {}
        return _call_checked(noise_mod.network, choice, years=args.years, **options)
    if approx:
        raise CLIError(f"--p-det-approximation applies to a network (A+B); --noise {choice} is one detector")
    if str(choice).lower() in GROUND_NAMES:
        # No galactic foreground: --years (default 4) does not apply, and
        # is refused when given.
        if "years" in getattr(args, "given", set()) and args.years:
            raise CLIError(f"--years {args.years:g}: the {choice} curve has no galactic foreground (give --years 0 "
                           "or leave it out)")
        return _call_checked(noise_mod.curve, choice)
    if str(choice).lower() in noise_names():
        options = {"response": args.response} if args.response else {}
        curve = _call_checked(noise_mod.curve, choice, years=args.years, **options)
        if getattr(curve, "caveat", None) and args.quiet:
            warn(args, f"{curve.name}: {curve.caveat}")  # else the summary line says it (described, noise_label)
        return curve
    if not os.path.exists(choice):
        import difflib

        close = difflib.get_close_matches(str(choice).lower(), noise_names(), n=1, cutoff=0.6)
        hint = f"; did you mean {close[0]}?" if close else ""
        raise CLIError(f"--noise {choice!r}: neither a noise curve ({', '.join(noise_names())}) nor an existing "
                       f"file{hint}")
    if args.noise_kind is None:
        raise CLIError(f"--noise {choice}: a noise file needs --noise-kind asd, psd or hn")
    options = {}
    for opt, key in (("noise_channels", "channels"), ("noise_sky_averaged", "sky_averaged")):
        value = getattr(args, opt)
        if value is not None:
            options[key] = value
    response = args.noise_response
    if options.get("sky_averaged") is False:
        # A bare one-channel PSD is divided by a detector's averaged
        # response; LISA's unless the user names another.
        options["response"] = response or "lisa"
    elif response is not None:
        raise CLIError("--noise-response applies only to a file that is not sky-averaged "
                       "(--noise-sky-averaged no)")
    return _call_checked(noise_mod.from_file, choice, args.noise_kind, **options)


def is_ground(curves):
    """Whether every curve is a ground detector's (its range starts at 1 Hz
    or above: aligo, et, their networks): the CLI's defaults then change to
    stellar masses, nearby redshifts and bands from the curve's f_min."""
    curves = curves if isinstance(curves, (list, tuple)) else [curves]
    return all(getattr(c, "range", (0.0,))[0] >= 1.0 for c in curves)


def any_ground(curves):
    return any(getattr(c, "range", (0.0,))[0] >= 1.0 for c in curves)


def t_start_default(args, curves):
    """--t-start as given; by default 'band' for ground curves, else 4."""
    if args.t_start is not None:
        return args.t_start
    return "band" if is_ground(curves) else 4.0


def _call_checked(func, *a, **kw):
    try:
        return func(*a, **kw)
    except (InputError, ValueError, TypeError) as exc:
        if isinstance(exc, TypeError) and "argument" not in str(exc):
            raise
        raise CLIError(str(exc)) from None


def described(curve):
    """A curve's repr for a summary line, with its caveat if it has one."""
    caveat = getattr(curve, "caveat", None)
    return f"{curve!r} ({caveat})" if caveat else repr(curve)


def noise_label(curve):
    """A short name of a curve for titles and legends (with its caveat,
    e.g. TianQin's foreground uncertain by a factor ~3)."""
    name = getattr(curve, "name", None)
    label = str(name) if name else repr(curve)
    return f"{label} (foreground uncertain ×3)" if getattr(curve, "caveat", None) else label


# ------------------------------------------------------------ inclination


def parse_inclination(text):
    """``--inclination``: average | face-on | edge-on | an angle: ``60deg``,
    ``1.05rad`` or a plain number of radians in [0, pi] (a plain number
    outside it, e.g. 60, is refused with a hint: it is most likely
    degrees).  An angle with a unit comes back as an astropy Quantity."""
    import argparse
    import re

    if text in ("average", "face-on", "edge-on"):
        return text
    m = re.fullmatch(r"\s*([-+0-9.eE]+)\s*(deg|degrees?|rad|radians?)?\s*", text)
    try:
        value = float(m.group(1)) if m else float("nan")
    except ValueError:
        value = float("nan")
    if not m or value != value:
        raise argparse.ArgumentTypeError(
            f"{text!r}: use average, face-on, edge-on or an angle: 60deg, 1.05rad, or radians in [0, pi]")
    if not math.isfinite(value):
        raise argparse.ArgumentTypeError(f"{text!r}: an angle must be finite")
    unit = m.group(2)
    if unit is None:
        if not 0.0 <= value <= math.pi:
            raise argparse.ArgumentTypeError(
                f"{text}: angles are in radians, in [0, pi]; did you mean {text}deg?")
        return value
    from astropy import units as u

    return value * (u.deg if unit.startswith("deg") else u.rad)


#: Words for the averaging of an SNR or h_c, for titles and summaries.
convention = convention_label
describe_inclination = describe


# -------------------------------------------------------------- distances


def distances(given, redshift, cosmology, where):
    """The distance rule every command follows: a row's given luminosity
    distance (Mpc) is used as it is; a row without one (NaN in ``given``,
    an empty cell) takes the luminosity distance at its redshift from the
    cosmology.  ``where(i)`` names row i for a message.  Returns (n,)
    float64; a row whose redshift gives no positive distance is an error
    naming it."""
    z = np.asarray(redshift, dtype=np.float64)
    d = np.full(z.shape, np.nan) if given is None else np.array(given, dtype=np.float64)
    missing = np.isnan(d)
    if not missing.any():
        return d
    zm = z[missing]
    ok = np.isfinite(zm) & (zm > -1)
    if not ok.all():
        i = int(np.flatnonzero(missing)[np.flatnonzero(~ok)[0]])
        raise CLIError(f"{where(i)}: redshift = {z[i]!r}: must be finite and > -1")
    d[missing] = luminosity_distance(zm, cosmology)
    bad = missing & ~(np.isfinite(d) & (d > 0))
    if bad.any():
        i = int(np.flatnonzero(bad)[0])
        raise CLIError(
            f"{where(i)}: no distance given, and the luminosity distance at redshift {z[i]!r} is not "
            "positive; give the distance"
        )
    return d


# ------------------------------------------------------------- warnings


#: Flags that inform rather than warn: counted in the summary, not under
#: "warnings", and not printed with --quiet.
INFORMATION = ("outside_noise_negligible",)


def outside(res, cols, curve, args, band=None):
    """(beyond, share) per binary: whether the band reaches past the curve's
    range and a bound on the share of the SNR^2 there
    (``phenomd._outside``).  ``band``: the band's ends (f_lo, f_hi) in Hz if
    at hand, else from a two-point grid of the module."""
    from .._outside import outside_share
    from ..core import amplitude

    if band is None:
        a = amplitude(cols["m1"], cols["m2"], cols["spin1"], cols["spin2"], res.distance, res.redshift,
                      cols["t_start"], cols["t_end"], 2, inclination="edge-on", threads=args.threads,
                      library=args.library, fast=args.fast)
        band = (a.freqs[:, 0], a.freqs[:, -1])
    return outside_share(curve, band[0], band[1], res.f_merger_start, cols["m1"], cols["m2"], res.redshift,
                         res.distance, res.inclination_factor, res.snr_all)


def flags(res, beyond=None):
    """Per binary, the warnings that apply, from a BinarySNR: (n,) array of
    ';'-joined flag names ("" for none) and {flag: count}.  ``beyond``:
    ``outside``'s (beyond, share), which splits a band reaching past the
    curve's range into "outside_noise" (it could carry more than 0.1 % of
    the SNR^2) and "outside_noise_negligible"; without it, any grid point
    outside the range is "outside_noise"."""
    n = len(res.snr_all)
    uncal = res.uncalibrated
    inverted = np.broadcast_to(np.asarray(res.inverted, dtype=bool), (n,))
    # An empty band's sentinel row lies below every curve's range: that is
    # the empty band, not a curve too narrow for the signal.
    if beyond is None:
        out = {"outside_noise": (np.broadcast_to(np.asarray(res.n_outside) > 0, (n,))) & ~inverted}
    else:
        from .._outside import WARN_SHARE

        past, share = beyond
        past = np.asarray(past, dtype=bool) & ~inverted
        out = {"outside_noise": past & (share > WARN_SHARE), "outside_noise_negligible": past & ~(share > WARN_SHARE)}
    table = {
        "inverted": inverted,
        **out,
        "uncalibrated": np.broadcast_to(np.asarray(uncal, dtype=bool), (n,)),
        "zero_snr": np.asarray(res.snr_all) == 0,
    }
    counts = {k: int(np.count_nonzero(v)) for k, v in table.items()}
    text = np.full(n, "", dtype=object)
    for name, mask in table.items():
        if counts[name]:
            idx = np.flatnonzero(mask)
            text[idx] = [f"{t};{name}" if t else name for t in text[idx]]
    return text, counts


def warning_text(counts, total, information=False):
    """The counts of the warning flags (``information``: of the flags that
    only inform) in words."""
    parts = [f"{c} of {total} {FLAG_TEXT[k]}" for k, c in counts.items() if c and (k in INFORMATION) == information]
    return "; ".join(parts)


# ------------------------------------------------------------- reporting


def say(args, text):
    if not args.quiet:
        print(text, file=sys.stderr, flush=True)


def warn(args, text):
    """Warnings print even with --quiet (they change what a result means)."""
    print(f"phenomd {args.command}: warning: {text}", file=sys.stderr, flush=True)


def progress(args, total, label="binaries"):
    """A progress bar on stderr: on a terminal by default, anywhere with
    --progress, never with --no-progress.  Returns None or a ProgressBar."""
    if args.no_progress:
        return None
    bar = ProgressBar(total, label=label, delay=0.0 if args.progress else 2.0, force=args.progress)
    return bar if bar.enabled else (bar.close() or None)


def snr_method(args, grid_given=False):
    """``binary_snr``'s method, length and rtol from --method, --length and
    --rtol, or CLIError naming the conflict: --length is the grid of
    --method trapezoid, --rtol the tolerance of --method gauss.
    ``grid_given``: --length also sets another grid (the strain command's
    curves), so with gauss it is no conflict and not the SNR's."""
    from .._gauss import DEFAULT_RTOL
    from ..core import DEFAULT_LENGTH

    method = getattr(args, "method", "gauss")
    length, rtol = getattr(args, "length", None), getattr(args, "rtol", None)
    if method == "gauss":
        if length is not None and not grid_given:
            raise CLIError(f"--length {length}: that is the grid of --method trapezoid; --method gauss (the default) "
                           "integrates to --rtol instead (drop --length, or add --method trapezoid)")
        from .._population import RTOL_RANGE

        if rtol is not None and not RTOL_RANGE[0] <= rtol <= RTOL_RANGE[1]:
            raise CLIError(f"--rtol {rtol:g}: must lie in [{RTOL_RANGE[0]:g}, {RTOL_RANGE[1]:g}]")
        return dict(method="gauss", length=None, rtol=DEFAULT_RTOL if rtol is None else rtol)
    if rtol is not None:
        raise CLIError(f"--rtol {rtol:g}: the tolerance of --method gauss; --method trapezoid sums on a grid of "
                       "--length points (drop --rtol, or use --method gauss)")
    return dict(method="trapezoid", length=DEFAULT_LENGTH if length is None else length, rtol=None)


def provenance(args, curve=None, library=None, **extra):
    """The provenance of one output of this command (see
    ``phenomd._provenance``)."""
    lib = library
    if lib is None:
        try:
            from .._library import load_library

            lib = load_library(args.library, fast=args.fast)
        except Exception:  # noqa: BLE001 - only a description
            lib = args.library
    noise = curve
    if isinstance(curve, (list, tuple)):
        noise = "; ".join(repr(c) for c in curve)
    curves = list(curve) if isinstance(curve, (list, tuple)) else [curve] if curve is not None else []
    extra.setdefault("observation_window", observation_window(args, curves))
    return _provenance(
        library=lib,
        fast=args.fast,
        noise=noise,
        inclination=describe_inclination(args.inclination),
        cosmology=args.cosmology,
        **_method_provenance(args),
        command=args.command_line,
        **extra,
    )


def observation_window(args, curves=()):
    """The band each binary's SNR is over where nothing else sets it (a
    catalog row, a grid axis): a provenance entry of every output."""
    t_start = t_start_default(args, curves) if hasattr(args, "t_start") else 4.0
    start = ("where the binary enters the noise curve's range (band)" if t_start == "band"
             else f"{t_start:g} yr before merger (observer frame)")
    t_end = getattr(args, "t_end", 0.0)
    return (f"t_start {start}, t_end {t_end:g} yr (<= 0: through merger and ringdown), where a binary "
            "gives none")


def _method_provenance(args):
    """The SNR method's items: method, and rtol (gauss) or length
    (trapezoid); the strain command also records its curves' grid."""
    from ..core import DEFAULT_LENGTH, _method_record

    strain = getattr(args, "command", None) == "strain"
    m = snr_method(args, grid_given=strain)
    items = _method_record(m["method"], m["rtol"])
    length = m["length"]
    if strain and length is None:
        length = DEFAULT_LENGTH if args.length is None else args.length
    items["length"] = length
    return items


def check_figure_size(args):
    """Refuse --size with --width or --height (the size given twice), before
    anything is computed."""
    if args.size is not None:
        given = [f"--{n}" for n in ("width", "height") if getattr(args, n) is not None]
        if given:
            raise CLIError(f"--size {args.size} with {' and '.join(given)}: give the figure's size once, in "
                           f"inches (--size, pixels from --dpi) or in pixels (--width/--height)")


def figure(args):
    """The figure of a drawing command: --size in inches (column, page or
    W,H) at --dpi (default 300), or --width x --height pixels at --dpi
    (default 900 x 650 at 100).  --size with --width or --height is
    refused: the two would give the size twice."""
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    from .._figure_style import PRINT_DPI, figure_size

    check_figure_size(args)
    width, height, aspect = getattr(args, "figure_defaults", (900, 650, 0.76))
    if args.size is not None:
        args.dpi = args.dpi or PRINT_DPI
        inches = figure_size(args.size, aspect)
    else:
        args.dpi = args.dpi or 100
        args.width, args.height = args.width or width, args.height or height
        inches = (args.width / args.dpi, args.height / args.dpi)
    fig = plt.figure(figsize=inches, dpi=args.dpi)
    return plt, fig


_MATHTEXT = [(r"M_\odot", "Msun"), (r"\odot", "sun"), (r"\chi", "chi"), (r"\mathrm", ""), ("{", ""), ("}", ""),
             ("$", "")]


def plain(text):
    """A figure title without matplotlib's mathtext, for file metadata."""
    for old, new in _MATHTEXT:
        text = text.replace(old, new)
    return text


def save(plt, fig, args, prov, title=None):
    try:
        save_figure(fig, args.output, prov, dpi=args.dpi, title=plain(title) if title else None)
    finally:
        plt.close(fig)


# Bytes a computing thread holds per grid point (the grid, the strain and
# the noise of a chunk and a temporary) and the points of a chunk
# (core.CHUNK_POINTS: a chunk holds whole rows).
_BYTES_PER_POINT = 4 * 8
_CHUNK_POINTS = 1 << 20


def grid_length(args):
    """Grid points per binary this command lays (--length, default 1000;
    under --method gauss only the strain command's curves have a grid, and
    the quadrature's own buffers are smaller than one such row)."""
    from ..core import DEFAULT_LENGTH

    return DEFAULT_LENGTH if args.length is None else int(args.length)


def of_length(args):
    """' of --length N points' where --length was given, for messages."""
    return "" if args.length is None else f" of --length {args.length:,} points"


def check_work(args, binaries, kept_bytes_per_binary=0, what=None):
    """Refuse, before any work, a run whose memory would exceed the limit
    (--max-memory): each thread's chunk of grids, at least one row of
    --length points, and ``kept_bytes_per_binary`` for every binary's
    results kept to the end."""
    from .._limits import check_memory

    threads = max(1, min(int(args.threads), int(binaries)))
    per_thread = max(grid_length(args), _CHUNK_POINTS) * _BYTES_PER_POINT
    need = threads * per_thread + int(binaries) * kept_bytes_per_binary
    what = what or f"{binaries:,} binaries{of_length(args)} on {threads} thread(s)"
    _check(check_memory, need, what)


def check_figure(args):
    """The figure's size given once (``check_figure_size``), its pixels in
    memory, and a size of at least an inch each way (a --dpi above the
    pixel size would scale text beyond the figure)."""
    from .._figure_style import PRINT_DPI, figure_size
    from .._limits import check_memory

    check_figure_size(args)
    width, height, aspect = getattr(args, "figure_defaults", (900, 650, 0.76))
    if args.size is not None:
        dpi = args.dpi or PRINT_DPI
        inches = figure_size(args.size, aspect)
        width, height = round(inches[0] * dpi), round(inches[1] * dpi)
    else:
        dpi = args.dpi or 100
        width, height = args.width or width, args.height or height
    if dpi > min(width, height):
        raise CLIError(f"--dpi {dpi}: at most the figure's smaller side, {min(width, height)} "
                       f"pixels (a {width} x {height}-pixel figure at {dpi} dpi would be "
                       f"{width / dpi:.2g} x {height / dpi:.2g} inches)")
    _check(check_memory, 4 * width * height, f"a {width} x {height}-pixel figure")


def _check(func, *a):
    try:
        func(*a)
    except InputError as exc:
        raise CLIError(str(exc)) from None


def same_file(a, b):
    try:
        return os.path.samefile(a, b)
    except OSError:
        return os.path.realpath(a) == os.path.realpath(b)


def refuse_overwriting_inputs(outputs, inputs):
    """Refuse an output that is one of the files the command reads, by
    identity (same device and inode: a hard link, a symlink or another
    spelling of the path count).  ``outputs``: paths, or (option, path)
    pairs for the message."""
    for out in outputs:
        option, out = out if isinstance(out, tuple) else ("-o", out)
        if not out or out == "-":
            continue
        for src in inputs:
            if src and src != "-" and os.path.exists(out) and same_file(out, src):
                raise CLIError(f"{option} {out}: is the input file {src}; choose another output")


__all__ = [
    "CLIError",
    "RESULT_COLUMNS",
    "TableError",
    "convention",
    "distances",
    "flags",
    "noise_curve",
    "parse_inclination",
    "progress",
    "provenance",
    "say",
]


@contextlib.contextmanager
def quiet_dask_logs():
    """Silence what Dask's client logs while a cluster run is in progress:
    each failed reconnection to a lost scheduler is logged with its
    traceback (by the ``distributed`` loggers, and by asyncio's for the
    client's cancelled background tasks).  The fault itself reaches the
    command as an exception and is said in one ``error:`` line."""
    import logging

    import distributed  # noqa: F401 - sets up its loggers' levels first

    names = ["distributed", "asyncio", "tornado"] + [
        n for n in logging.root.manager.loggerDict if n.startswith(("distributed.", "asyncio.", "tornado."))]
    levels = {n: logging.getLogger(n).level for n in names}
    for n in names:
        logging.getLogger(n).setLevel(logging.CRITICAL)
    try:
        yield
    finally:
        for n, level in levels.items():
            logging.getLogger(n).setLevel(level)
