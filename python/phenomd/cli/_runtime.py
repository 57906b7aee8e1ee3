"""What every command shares: the noise curve and inclination options, the
one rule for distances, the progress bar, warnings and their flags,
provenance, figures and the summary line."""

from __future__ import annotations

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
    "outside_noise": "with grid points outside the noise curve's range",
    "band_outside_noise": "whose whole band lies outside the noise curve's range (SNR 0: no sensitivity there)",
    "uncalibrated": f"outside the model's calibration (mass ratio > {CALIBRATED_MASS_RATIO:g} or "
                    f"|spin| > {CALIBRATED_SPIN:g})",
    "zero_snr": "with SNR exactly 0",
}


class CLIError(Exception):
    """A fault the user can fix; printed as one ``error:`` line, exit 2."""


# ---------------------------------------------------------- noise curves


def noise_names():
    return noise_mod.names()


def noise_curve(args, choice=None):
    """The noise curve an option names: a built-in name (``--years`` sets
    its confusion-noise observation time where it has one) or a file
    (``--noise-kind`` says what its second column is; ``--noise-channels``
    and ``--noise-sky-averaged`` what convention the file is in)."""
    choice = args.noise if choice is None else choice
    if choice in noise_names():
        options = {"response": args.response} if args.response else {}
        return _call_checked(noise_mod.curve, choice, years=args.years, **options)
    if not os.path.exists(choice):
        raise CLIError(f"--noise {choice!r}: neither a noise curve ({', '.join(noise_names())}) nor an existing file")
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


def _call_checked(func, *a, **kw):
    try:
        return func(*a, **kw)
    except (InputError, ValueError, TypeError) as exc:
        if isinstance(exc, TypeError) and "argument" not in str(exc):
            raise
        raise CLIError(str(exc)) from None


def noise_label(curve):
    """A short name of a curve for titles and legends."""
    name = getattr(curve, "name", None)
    return str(name) if name else repr(curve)


# ------------------------------------------------------------ inclination


def parse_inclination(text):
    """``--inclination``: average | face-on | edge-on | an angle in radians."""
    if text in ("average", "face-on", "edge-on"):
        return text
    try:
        value = float(text)
    except ValueError:
        import argparse

        raise argparse.ArgumentTypeError(
            f"{text!r}: use average, face-on, edge-on or an angle in radians") from None
    if not math.isfinite(value):
        import argparse

        raise argparse.ArgumentTypeError(f"{text!r}: an angle must be finite")
    return value


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


def flags(res):
    """Per binary, the warnings that apply, from a BinarySNR: (n,) array of
    ';'-joined flag names ("" for none) and {flag: count}."""
    n = len(res.snr_all)
    uncal = res.uncalibrated
    inverted = np.broadcast_to(np.asarray(res.inverted, dtype=bool), (n,))
    table = {
        "inverted": inverted,
        # An empty band's sentinel row lies below every curve's range: that
        # is the empty band, not a curve too narrow for the signal.
        "outside_noise": (np.broadcast_to(np.asarray(res.n_outside) > 0, (n,))) & ~inverted,
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


def warning_text(counts, total):
    parts = [f"{c} of {total} {FLAG_TEXT[k]}" for k, c in counts.items() if c]
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


def same_file(a, b):
    try:
        return os.path.samefile(a, b)
    except OSError:
        return os.path.realpath(a) == os.path.realpath(b)


def refuse_overwriting_inputs(outputs, inputs):
    for out in outputs:
        if not out or out == "-":
            continue
        for src in inputs:
            if src and src != "-" and os.path.exists(out) and same_file(out, src):
                raise CLIError(f"-o {out}: is the input file {src}; choose another output")


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
