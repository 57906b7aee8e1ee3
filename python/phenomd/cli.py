"""Command line: `python3 -m phenomd {snr,waterfall,strain}`."""

import argparse
import csv
import sys
import time

import numpy as np

from . import noise as noise_mod
from .core import amplitude, snr

INPUT_COLUMNS = ("m1", "m2", "spin1", "spin2", "redshift")
OPTIONAL_COLUMNS = {"distance": None, "t_start": 4.0, "t_end": 0.0}
OUTPUT_COLUMNS = ("snr_all", "snr_ins", "snr_mrg", "snr_rd", "f_merger_start",
                  "f_ringdown_start")


class Progress:
    """A progress line on stderr, shown once a run has taken two seconds."""

    def __init__(self, total, label):
        self.total, self.label, self.start = total, label, time.monotonic()

    def update(self, done):
        elapsed = time.monotonic() - self.start
        if elapsed > 2.0 and self.total:
            bar = "#" * int(30 * done / self.total)
            sys.stderr.write(f"\r{self.label} [{bar:<30}] {done}/{self.total} "
                             f"{elapsed:5.1f}s")
            if done == self.total:
                sys.stderr.write("\n")
            sys.stderr.flush()


def example_population(n=200, seed=1):
    """A fixed population of massive black-hole binaries: total mass
    log-uniform in 1e4-1e8 Msun, mass ratio 1-10, spins in (-0.99, 0.99),
    redshift 0.5-5."""
    rng = np.random.default_rng(seed)
    M = 10 ** rng.uniform(4, 8, n)
    q = rng.uniform(1, 10, n)
    return {"m1": M * q / (1 + q), "m2": M / (1 + q),
            "spin1": rng.uniform(-0.99, 0.99, n),
            "spin2": rng.uniform(-0.99, 0.99, n),
            "redshift": rng.uniform(0.5, 5.0, n),
            "distance": None, "t_start": np.full(n, 4.0), "t_end": np.zeros(n)}


def read_binaries(path):
    with open(path, newline="") as fh:
        rows = list(csv.DictReader(fh))
    if not rows:
        raise SystemExit(f"{path}: no binaries")
    missing = [c for c in INPUT_COLUMNS if c not in rows[0]]
    if missing:
        raise SystemExit(f"{path}: missing columns {', '.join(missing)}")
    cols = {}
    for c in INPUT_COLUMNS:
        cols[c] = np.array([float(r[c]) for r in rows])
    for c, default in OPTIONAL_COLUMNS.items():
        cols[c] = (np.array([float(r[c]) for r in rows]) if c in rows[0]
                   else (None if default is None else np.full(len(rows), default)))
    return cols


def population_snr(b, curve, length, threads, chunk=2000):
    n = len(b["m1"])
    out = {c: np.empty(n) for c in OUTPUT_COLUMNS}
    progress = Progress(n, "snr")
    for lo in range(0, n, chunk):
        hi = min(n, lo + chunk)
        dist = None if b["distance"] is None else b["distance"][lo:hi]
        a = amplitude(b["m1"][lo:hi], b["m2"][lo:hi], b["spin1"][lo:hi],
                      b["spin2"][lo:hi], dist, b["redshift"][lo:hi],
                      b["t_start"][lo:hi], b["t_end"][lo:hi], length,
                      threads=threads)
        s = snr(a.freqs, a.hc, curve(a.freqs), a.f_merger_start,
                a.f_ringdown_start, threads=threads)
        for c, v in zip(OUTPUT_COLUMNS, (s.snr_all, s.snr_ins, s.snr_mrg,
                                         s.snr_rd, a.f_merger_start,
                                         a.f_ringdown_start)):
            out[c][lo:hi] = v
        progress.update(hi)
    return out


def _curve(args):
    if args.noise_file:
        return noise_mod.from_file(args.noise_file, args.noise_kind)
    return lambda f: noise_mod.lisa(f, years=args.years)


def cmd_snr(args):
    b = read_binaries(args.input) if args.input else example_population()
    out = population_snr(b, _curve(args), args.length, args.threads)
    with open(args.output, "w", newline="") as fh:
        w = csv.writer(fh)
        w.writerow(INPUT_COLUMNS + OUTPUT_COLUMNS)
        for i in range(len(b["m1"])):
            w.writerow([repr(float(b[c][i])) for c in INPUT_COLUMNS] +
                       [repr(float(out[c][i])) for c in OUTPUT_COLUMNS])
    print(f"wrote {len(b['m1'])} binaries to {args.output}")


def cmd_waterfall(args):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    masses = np.logspace(args.mass_min, args.mass_max, args.points)
    zs = np.logspace(np.log10(args.z_min), np.log10(args.z_max), args.points)
    Mg, Zg = np.meshgrid(masses, zs)
    q = args.q
    b = {"m1": (Mg * q / (1 + q)).ravel(), "m2": (Mg / (1 + q)).ravel(),
         "spin1": np.full(Mg.size, args.spin1),
         "spin2": np.full(Mg.size, args.spin2), "redshift": Zg.ravel(),
         "distance": None, "t_start": np.full(Mg.size, args.t_start),
         "t_end": np.zeros(Mg.size)}
    out = population_snr(b, _curve(args), args.length, args.threads)
    s = out["snr_all"].reshape(Mg.shape)
    fig, ax = plt.subplots(figsize=(7, 5), dpi=100)
    levels = [10, 20, 50, 100, 200, 500, 1000, 2000, 5000, 1e4]
    cs = ax.contourf(Mg, Zg, np.log10(np.maximum(s, 1e-3)),
                     levels=np.log10([1e-3, 1] + levels + [1e6]), cmap="viridis")
    ax.contour(Mg, Zg, s, levels=levels, colors="k", linewidths=0.5)
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("total source-frame mass [M$_\\odot$]")
    ax.set_ylabel("redshift")
    ax.set_title(f"SNR, q = {q:g}, spins {args.spin1:g}/{args.spin2:g}, "
                 f"last {args.t_start:g} yr")
    fig.colorbar(cs, ax=ax, label="log$_{10}$ SNR")
    fig.savefig(args.output)
    print(f"wrote {args.output} ({args.points}x{args.points} binaries)")


def cmd_strain(args):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    a = amplitude(args.m1, args.m2, args.spin1, args.spin2, None, args.redshift,
                  args.t_start, 0.0, args.length)
    fig, ax = plt.subplots(figsize=(7, 5), dpi=100)
    f = a.freqs
    ax.loglog(f[0], _curve(args)(f[0]), "k", label="noise $h_n$")
    for i in range(f.shape[0]):
        line, = ax.loglog(f[i], a.hc[i], label=f"binary {i}")
        for fb, ls in ((a.f_merger_start[i], "--"), (a.f_ringdown_start[i], ":")):
            ax.axvline(fb, color=line.get_color(), ls=ls, lw=0.8)
    ax.set_xlabel("frequency [Hz]")
    ax.set_ylabel("characteristic strain")
    ax.set_title("--: merger start, ..: ringdown start")
    ax.legend()
    fig.savefig(args.output)
    print(f"wrote {args.output}")


def main(argv=None):
    p = argparse.ArgumentParser(prog="phenomd", description=__doc__)
    sub = p.add_subparsers(dest="command", required=True)

    def common(sp):
        sp.add_argument("--length", type=int, default=256,
                        help="grid points per binary")
        sp.add_argument("--threads", type=int, default=1)
        sp.add_argument("--years", type=float, default=4.0,
                        help="LISA confusion noise: 0.5, 1, 2 or 4 years")
        sp.add_argument("--noise-file", help="two-column noise curve")
        sp.add_argument("--noise-kind", default="asd",
                        choices=("asd", "psd", "hn"))

    s = sub.add_parser("snr", help="SNR of binaries from a CSV file")
    s.add_argument("input", nargs="?",
                   help="CSV with columns m1,m2,spin1,spin2,redshift "
                        "[,distance,t_start,t_end]; default: built-in example")
    s.add_argument("-o", "--output", default="snr.csv")
    common(s)
    s.set_defaults(func=cmd_snr)

    w = sub.add_parser("waterfall", help="SNR over total mass and redshift")
    w.add_argument("-o", "--output", default="waterfall.png")
    w.add_argument("--q", type=float, default=1.0)
    w.add_argument("--spin1", type=float, default=0.0)
    w.add_argument("--spin2", type=float, default=0.0)
    w.add_argument("--t-start", type=float, default=4.0)
    w.add_argument("--mass-min", type=float, default=4.0, help="log10 Msun")
    w.add_argument("--mass-max", type=float, default=9.0, help="log10 Msun")
    w.add_argument("--z-min", type=float, default=0.1)
    w.add_argument("--z-max", type=float, default=20.0)
    w.add_argument("--points", type=int, default=40)
    common(w)
    w.set_defaults(func=cmd_waterfall)

    t = sub.add_parser("strain", help="strain of binaries against the noise")
    t.add_argument("-o", "--output", default="strain.png")
    for name, default in (("m1", [5e5]), ("m2", [5e5]), ("spin1", [0.0]),
                          ("spin2", [0.0]), ("redshift", [1.0])):
        t.add_argument(f"--{name}", type=float, nargs="+", default=default)
    t.add_argument("--t-start", type=float, default=4.0)
    common(t)
    t.set_defaults(func=cmd_strain)

    args = p.parse_args(argv)
    args.func(args)


if __name__ == "__main__":
    main()
