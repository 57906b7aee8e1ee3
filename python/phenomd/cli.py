"""Command-line tool: ``python3 -m phenomd`` (or ``phenomd``).

    phenomd snr [INPUT.csv] [-o OUT.csv]    SNRs of binaries from a CSV file
                                            (no input: a built-in example
                                            population)
    phenomd waterfall [-o FIG.png]          SNR contours over total mass and
                                            redshift, fixed q and spins
    phenomd strain [INPUT.csv] [-o FIG.png] h_c of binaries against the noise

Run ``phenomd COMMAND --help`` for the options.
"""

from __future__ import annotations

import argparse
import csv
import math
import os
import sys

import numpy as np

from . import noise as noise_mod
from ._inputs import InputError
from ._library import LibraryNotFoundError
from ._progress import ProgressBar
from .core import DEFAULT_LENGTH, amplitude, binary_snr
from .noise import NoiseFileError

# ------------------------------------------------------------ CSV input

REQUIRED_COLUMNS = ("m1", "m2", "redshift")
OPTIONAL_COLUMNS = {  # column: default when absent or empty
    "spin1": 0.0,
    "spin2": 0.0,
    "distance": None,  # from the redshift and --cosmology
    "t_start": None,  # --t-start
    "t_end": 0.0,
}
RESULT_COLUMNS = ("snr_all", "snr_ins", "snr_mrg", "snr_rd", "f_merger_start", "f_ringdown_start")

COLUMN_HELP = """\
Input columns (CSV with a header line; names are case-sensitive; other
columns are copied to the output unchanged):
  m1, m2      source-frame component masses, solar masses      (required)
  redshift    redshift z                                         (required)
  spin1/spin2 aligned dimensionless spins in [-1, 1]            (default 0)
  distance    luminosity distance, Mpc (default/empty: from redshift with
              --cosmology)
  t_start     band start, years before merger, observer frame
              (default --t-start)
  t_end       band end, years before merger; <= 0 runs through merger and
              ringdown                                           (default 0)
Output: the input columns, distance (if computed), snr_all, snr_ins,
snr_mrg, snr_rd, f_merger_start, f_ringdown_start (Hz), and n_outside
(grid points outside a noise file's range) when --noise is a file."""


class CLIError(Exception):
    pass


class Table:
    """Rows of a CSV file, with the line each row came from."""

    def __init__(self, source, header, rows, lines):
        self.source = source
        self.header = header
        self.rows = rows
        self.lines = lines

    def column(self, name, default):
        values = []
        for row, line in zip(self.rows, self.lines):
            text = (row.get(name) or "").strip() if name in self.header else ""
            if not text:
                if default is None and name not in ("distance", "t_start"):
                    raise CLIError(f"{self.source}, line {line}: column {name} is empty")
                values.append(math.nan if default is None else default)
                continue
            try:
                values.append(float(text))
            except ValueError:
                raise CLIError(f"{self.source}, line {line}, column {name}: {text!r} is not a number") from None
        return np.array(values, dtype=np.float64)


def read_table(path):
    if path == "-":
        fh, source = sys.stdin, "<stdin>"
    else:
        try:
            fh = open(path, newline="", encoding="utf-8")
        except OSError as exc:
            raise CLIError(f"{path}: cannot read: {exc.strerror or exc}") from None
        source = path
    with fh if path != "-" else _nullcontext(fh):
        reader = csv.reader(fh)
        header = None
        rows, lines = [], []
        for record in reader:
            line = reader.line_num
            if not record or all(not c.strip() for c in record) or record[0].lstrip().startswith("#"):
                continue
            if header is None:
                header = [c.strip() for c in record]
                missing = [c for c in REQUIRED_COLUMNS if c not in header]
                if missing:
                    raise CLIError(f"{source}, line {line}: header lacks column(s) {', '.join(missing)}\n\n{COLUMN_HELP}")
                continue
            if len(record) != len(header):
                raise CLIError(f"{source}, line {line}: {len(record)} fields, header has {len(header)}")
            rows.append(dict(zip(header, record)))
            lines.append(line)
    if header is None:
        raise CLIError(f"{source}: no header line\n\n{COLUMN_HELP}")
    if not rows:
        raise CLIError(f"{source}: no binaries after the header")
    return Table(source, header, rows, lines)


class _nullcontext:
    def __init__(self, obj):
        self.obj = obj

    def __enter__(self):
        return self.obj

    def __exit__(self, *exc):
        return False


def example_population():
    """The built-in example: 60 binaries, total source-frame masses 10^4 to
    10^8.5 M_sun in half-decade steps, mass ratios 1, 0.5 and 0.1, redshifts
    1 and 5 (distances from the cosmology), spins 0.5 and 0.2, observed for
    the last four years before merger."""
    header = ["name", "m1", "m2", "spin1", "spin2", "redshift", "t_start", "t_end"]
    rows = []
    k = 0
    for logm in (4.0, 4.5, 5.0, 5.5, 6.0, 6.5, 7.0, 7.5, 8.0, 8.5):
        for q in (1.0, 0.5, 0.1):
            for z in (1.0, 5.0):
                k += 1
                m = 10.0**logm
                rows.append(
                    {
                        "name": f"ex{k:02d}",
                        "m1": repr(m / (1 + q)),
                        "m2": repr(m * q / (1 + q)),
                        "spin1": "0.5",
                        "spin2": "0.2",
                        "redshift": repr(z),
                        "t_start": "4.0",
                        "t_end": "0.0",
                    }
                )
    return Table("<example population>", header, rows, list(range(2, len(rows) + 2)))


def _binaries(table, args):
    cols = {name: table.column(name, None if name in REQUIRED_COLUMNS else default) for name, default in
            [(c, None) for c in REQUIRED_COLUMNS] + list(OPTIONAL_COLUMNS.items())}
    t_start = cols["t_start"]
    t_start[np.isnan(t_start)] = args.t_start
    dist = cols["distance"]
    return cols, dist


def _located(exc, table):
    """Translate an InputError at a batch index into the CSV line."""
    index = exc.index
    if isinstance(index, int) and 0 <= index < len(table.lines):
        return f"{table.source}, line {table.lines[index]}: {exc}"
    return f"{table.source}: {exc}"


def _noise(args):
    if args.noise == "lisa":
        return noise_mod.LISA(args.years)
    if args.noise_kind is None:
        raise CLIError("--noise FILE needs --noise-kind asd, psd or hn")
    return noise_mod.from_file(args.noise, args.noise_kind)


def _fmt(x):
    return repr(float(x))


def _progress(args, total):
    if args.no_progress:
        return None
    return ProgressBar(total)


def _compute(table, args, curve):
    cols, dist = _binaries(table, args)
    if np.isnan(dist).all():
        distance = None
    elif np.isnan(dist).any():
        # Some rows give a distance, some do not: fill those from redshift.
        from ._inputs import luminosity_distance

        distance = dist.copy()
        gap = np.isnan(distance)
        z = cols["redshift"][gap]
        if np.isfinite(z).all() and (z > -1).all():
            distance[gap] = luminosity_distance(z, args.cosmology)
    else:
        distance = dist
    try:
        return binary_snr(
            cols["m1"],
            cols["m2"],
            cols["spin1"],
            cols["spin2"],
            distance,
            cols["redshift"],
            cols["t_start"],
            cols["t_end"],
            args.length,
            noise=curve,
            cosmology=args.cosmology,
            threads=args.threads,
            progress=_progress(args, len(table.rows)),
            library=args.library,
            fast=args.fast,
        )
    except InputError as exc:
        raise CLIError(_located(exc, table)) from None


def cmd_snr(args):
    table = example_population() if args.input is None else read_table(args.input)
    curve = _noise(args)
    res = _compute(table, args, curve)
    header = list(table.header)
    extra = [] if "distance" in header else ["distance"]
    tail = list(RESULT_COLUMNS) + (["n_outside"] if not isinstance(curve, noise_mod.LISA) else [])
    out_header = header + [c for c in extra + tail if c not in header]
    out = sys.stdout if args.output in (None, "-") else _open_out(args.output)
    try:
        w = csv.writer(out, lineterminator="\n")
        w.writerow(out_header)
        computed = {
            "distance": res.distance,
            "snr_all": res.snr_all,
            "snr_ins": res.snr_ins,
            "snr_mrg": res.snr_mrg,
            "snr_rd": res.snr_rd,
            "f_merger_start": res.f_merger_start,
            "f_ringdown_start": res.f_ringdown_start,
        }
        for i, row in enumerate(table.rows):
            rec = []
            for c in out_header:
                if c in computed and (c != "distance" or c in extra or not (row.get(c) or "").strip()):
                    rec.append(_fmt(computed[c][i]))
                elif c == "n_outside":
                    rec.append(str(int(res.n_outside[i])))
                else:
                    rec.append(row.get(c, ""))
            w.writerow(rec)
    finally:
        if out is not sys.stdout:
            out.close()
    if args.output not in (None, "-"):
        best = int(np.argmax(res.snr_all))
        _say(
            args,
            f"phenomd snr: {len(res)} binaries from {table.source} against {curve!r}; "
            f"wrote {args.output} (median SNR {np.median(res.snr_all):.4g}, "
            f"highest {res.snr_all[best]:.4g}, {_row_label(table, best)})",
        )
    return 0


def _row_label(table, i):
    name = (table.rows[i].get("name") or "").strip()
    return name if name else f"line {table.lines[i]}"


def _open_out(path):
    d = os.path.dirname(path)
    if d:
        os.makedirs(d, exist_ok=True)
    return open(path, "w", newline="", encoding="utf-8")


def _say(args, text):
    if not args.quiet:
        print(text, file=sys.stderr)


def _figure(args):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig = plt.figure(figsize=(args.width / args.dpi, args.height / args.dpi), dpi=args.dpi)
    return plt, fig


def _save(plt, fig, args):
    d = os.path.dirname(args.output)
    if d:
        os.makedirs(d, exist_ok=True)
    fig.savefig(args.output, dpi=args.dpi, format="png")
    plt.close(fig)


def cmd_waterfall(args):
    if not 0 < args.q <= 1:
        raise CLIError(f"--q {args.q}: the mass ratio m2/m1 must lie in (0, 1]")
    for name in ("mass_range", "z_range"):
        lo, hi = getattr(args, name)
        if not (0 < lo < hi and math.isfinite(hi)):
            raise CLIError(f"--{name.replace('_', '-')} {lo} {hi}: need 0 < low < high")
    if args.nm < 2 or args.nz < 2:
        raise CLIError("--nm and --nz must be at least 2")
    masses = np.geomspace(*args.mass_range, args.nm)
    zs = np.geomspace(*args.z_range, args.nz)
    M, Z = np.meshgrid(masses, zs)  # rows: redshift, columns: mass
    m1 = (M / (1 + args.q)).ravel()
    m2 = (M * args.q / (1 + args.q)).ravel()
    curve = _noise(args)
    try:
        res = binary_snr(
            m1,
            m2,
            args.spin1,
            args.spin2,
            None,
            Z.ravel(),
            args.t_start,
            0.0,
            args.length,
            noise=curve,
            cosmology=args.cosmology,
            threads=args.threads,
            progress=_progress(args, m1.size),
            library=args.library,
            fast=args.fast,
        )
    except InputError as exc:
        raise CLIError(str(exc)) from None
    snr = res.snr_all.reshape(M.shape)

    from matplotlib.colors import LogNorm

    plt, fig = _figure(args)
    ax = fig.add_subplot(1, 1, 1)
    top = max(float(np.nanmax(snr)), 10.0)
    decades = np.arange(0, math.ceil(math.log10(top)) + 1)
    levels = np.unique(np.concatenate([10.0**decades, 3 * 10.0**decades[:-1]]))
    levels = levels[levels <= 10 ** decades[-1]]
    shown = np.where(snr >= levels[0], snr, np.nan)
    cs = ax.contourf(M, Z, shown, levels=levels, norm=LogNorm(levels[0], levels[-1]), cmap="viridis")
    lines = ax.contour(M, Z, snr, levels=[lv for lv in (10, 100, 1000, 10000) if lv < top], colors="white", linewidths=0.8)
    ax.clabel(lines, fmt=lambda v: f"{v:g}", fontsize=8)
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel(r"total mass, source frame [$M_\odot$]")
    ax.set_ylabel("redshift z")
    noise_name = f"LISA ({args.years:g} yr confusion)" if isinstance(curve, noise_mod.LISA) and args.years else str(args.noise)
    ax.set_title(
        f"SNR, {noise_name}; q = {args.q:g}, "
        rf"$\chi_1$ = {args.spin1:g}, $\chi_2$ = {args.spin2:g}, last {args.t_start:g} yr",
        fontsize=9,
    )
    cb = fig.colorbar(cs, ax=ax)
    cb.set_label("SNR (white: below 1)")
    fig.tight_layout()
    _save(plt, fig, args)
    best = np.unravel_index(int(np.nanargmax(snr)), snr.shape)
    _say(
        args,
        f"phenomd waterfall: {snr.size} binaries ({args.nm} masses x {args.nz} redshifts); wrote {args.output} "
        f"(highest SNR {snr[best]:.4g} at M = {M[best]:.3g} Msun, z = {Z[best]:.3g}; "
        f"SNR >= 10 on {np.mean(snr >= 10) * 100:.0f}% of the grid)",
    )
    if args.csv:
        with _open_out(args.csv) as fh:
            w = csv.writer(fh, lineterminator="\n")
            w.writerow(["total_mass", "redshift", "snr_all", "snr_ins", "snr_mrg", "snr_rd"])
            for i in range(m1.size):
                w.writerow([_fmt(M.ravel()[i]), _fmt(Z.ravel()[i]), _fmt(res.snr_all[i]), _fmt(res.snr_ins[i]),
                            _fmt(res.snr_mrg[i]), _fmt(res.snr_rd[i])])
        _say(args, f"phenomd waterfall: wrote the grid to {args.csv}")
    return 0


def _parse_binary(text):
    parts = text.split(",")
    if len(parts) not in (5, 6, 7):
        raise CLIError(f"--binary {text!r}: expected m1,m2,spin1,spin2,redshift[,t_start[,t_end]]")
    try:
        return [float(p) for p in parts]
    except ValueError:
        raise CLIError(f"--binary {text!r}: not all numbers") from None


STRAIN_DEFAULTS = ["6e5,4e5,0.5,0.2,2.0", "6e6,2e6,0.8,0.8,5.0", "5e3,5e3,0.0,0.0,0.3"]


def cmd_strain(args):
    if args.binary and args.input:
        raise CLIError("give binaries either with --binary or as an input file, not both")
    if args.input:
        table = read_table(args.input)
        cols, dist = _binaries(table, args)
        if np.isnan(dist).any():
            dist = None
        given = [cols[c] for c in ("m1", "m2", "spin1", "spin2")]
        z, ts, te = cols["redshift"], cols["t_start"], cols["t_end"]
    else:
        table = None
        vals = [_parse_binary(b) for b in (args.binary or STRAIN_DEFAULTS)]
        for v in vals:
            v += [args.t_start, 0.0][len(v) - 5:]
        arr = np.array(vals)
        given = [arr[:, i] for i in range(4)]
        z, ts, te, dist = arr[:, 4], arr[:, 5], arr[:, 6], None
    try:
        res = amplitude(*given, dist, z, ts, te, args.length, cosmology=args.cosmology, threads=args.threads,
                        library=args.library, fast=args.fast)
    except InputError as exc:
        raise CLIError(_located(exc, table) if table else str(exc)) from None
    curve = _noise(args)
    plt, fig = _figure(args)
    ax = fig.add_subplot(1, 1, 1)
    good = res.freqs[res.freqs > 1e-29]
    lo = min(1e-5, good.min()) if good.size else 1e-5
    hi = max(1.0, good.max()) if good.size else 1.0
    fgrid = np.geomspace(lo, hi, 2000)
    ax.loglog(fgrid, curve(fgrid), color="k", lw=1.2, label=f"noise: {curve!r}")
    m1, m2 = given[0], given[1]
    for i in range(len(res)):
        f, h = res.freqs[i], res.hc[i]
        if f[0] <= 1e-29:
            continue  # empty band (t_start < t_end): nothing to draw
        line, = ax.loglog(f, h, lw=1.5, label=f"$m_1$={m1[i]:.3g}, $m_2$={m2[i]:.3g} $M_\\odot$, z={res.redshift[i]:g}")
        for fb, marker in ((res.f_merger_start[i], "o"), (res.f_ringdown_start[i], "s")):
            if f[0] <= fb <= f[-1]:
                hb = np.exp(np.interp(np.log(fb), np.log(f), np.log(h)))
                ax.plot([fb], [hb], marker=marker, color=line.get_color(), ms=6, mec="k")
            ax.axvline(fb, color=line.get_color(), lw=0.6, ls=":")
    ax.plot([], [], "o", color="grey", mec="k", label="inspiral | merger")
    ax.plot([], [], "s", color="grey", mec="k", label="merger | ringdown")
    ax.set_xlabel("frequency [Hz]")
    ax.set_ylabel("characteristic strain")
    ax.legend(fontsize=7, loc="best")
    fig.tight_layout()
    _save(plt, fig, args)
    _say(args, f"phenomd strain: {len(res)} binaries; wrote {args.output}")
    return 0


# ---------------------------------------------------------------- parser


def _common(p, output=None):
    p.add_argument("--length", type=int, default=DEFAULT_LENGTH, help=f"grid points per binary (default {DEFAULT_LENGTH})")
    p.add_argument("--noise", default="lisa", help="'lisa' (default) or a two-column noise file")
    p.add_argument("--noise-kind", choices=sorted(noise_mod.KINDS), help="what a noise file's second column is")
    p.add_argument("--years", type=float, default=4.0,
                   help="LISA confusion noise for 0.5, 1, 2 or 4 years of observation (default 4; 0: none)")
    p.add_argument("--cosmology", default="Planck18", help="astropy realization for distances (default Planck18)")
    p.add_argument("--t-start", type=float, default=4.0, help="default band start, years before merger (default 4)")
    p.add_argument("--threads", type=int, default=1, help="worker threads (0: one per core; default 1)")
    p.add_argument("--library", help="path to libphenomd.so (default: search, see phenomd.load_library)")
    p.add_argument("--fast", action="store_true", help="use libphenomd_fast.so")
    p.add_argument("--no-progress", action="store_true", help="no progress bar on stderr")
    p.add_argument("-q", "--quiet", action="store_true", help="no summary on stderr")
    if output:
        p.add_argument("-o", "--output", default=output, help=f"output file (default {output})")


def _size(p, width, height):
    p.add_argument("--width", type=int, default=width, help=f"figure width, pixels (default {width})")
    p.add_argument("--height", type=int, default=height, help=f"figure height, pixels (default {height})")
    p.add_argument("--dpi", type=int, default=100, help="dots per inch (default 100)")


def build_parser():
    parser = argparse.ArgumentParser(
        prog="phenomd",
        description="Characteristic strain and SNR of aligned-spin binary black holes.",
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    sub = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")

    p = sub.add_parser("snr", help="SNRs of binaries from a CSV file (or the example population)",
                       description="SNRs of binaries from a CSV file; with no input, a built-in example "
                       "population of 60 binaries.", epilog=COLUMN_HELP,
                       formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("input", nargs="?", help="CSV file of binaries ('-': stdin; none: the example population)")
    _common(p)
    p.add_argument("-o", "--output", help="output CSV (default: stdout)")
    p.set_defaults(func=cmd_snr)

    p = sub.add_parser("waterfall", help="SNR contours over total mass and redshift (PNG)",
                       description="SNR over a grid of source-frame total mass and redshift at fixed mass "
                       "ratio and spins, as filled contours (PNG).")
    _common(p, "out/waterfall.png")
    p.add_argument("--q", type=float, default=0.2, help="mass ratio m2/m1 in (0, 1] (default 0.2)")
    p.add_argument("--spin1", type=float, default=0.8, help="spin of m1 (default 0.8)")
    p.add_argument("--spin2", type=float, default=0.8, help="spin of m2 (default 0.8)")
    p.add_argument("--mass-range", type=float, nargs=2, default=(1e2, 1e10), metavar=("LOW", "HIGH"),
                   help="total source-frame mass range, Msun (default 1e2 1e10)")
    p.add_argument("--z-range", type=float, nargs=2, default=(1e-2, 20.0), metavar=("LOW", "HIGH"),
                   help="redshift range (default 0.01 20)")
    p.add_argument("--nm", type=int, default=97, help="grid masses (default 97)")
    p.add_argument("--nz", type=int, default=61, help="grid redshifts (default 61)")
    p.add_argument("--csv", help="also write the grid's SNRs to this CSV")
    _size(p, 900, 650)
    p.set_defaults(func=cmd_waterfall)

    p = sub.add_parser("strain", help="characteristic strain of binaries against the noise (PNG)",
                       description="Characteristic strain of chosen binaries against the noise curve, with "
                       "the inspiral/merger (circle) and merger/ringdown (square) boundaries marked.",
                       epilog=COLUMN_HELP, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("input", nargs="?", help="CSV file of binaries (columns as for snr)")
    p.add_argument("--binary", action="append", metavar="m1,m2,spin1,spin2,z[,t_start[,t_end]]",
                   help="a binary to draw (repeatable; default: three examples)")
    _common(p, "out/strain.png")
    _size(p, 900, 650)
    p.set_defaults(func=cmd_strain)
    return parser


def main(argv=None):
    parser = build_parser()
    args = parser.parse_args(argv)
    if args.years == 0:
        args.years = None
    try:
        return args.func(args)
    except (CLIError, InputError, NoiseFileError, LibraryNotFoundError) as exc:
        print(f"phenomd {args.command}: error: {exc}", file=sys.stderr)
        return 2
    except BrokenPipeError:
        return 0
