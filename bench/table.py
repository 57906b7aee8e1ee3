"""Prints the summary table of a phenomd_bench JSON run (medians)."""
import json
import sys

path, date, cpu, compiler, commit, load = sys.argv[1:7]
with open(path) as f:
    data = json.load(f)

SCALE = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}
med = {}  # name -> (cpu ns per iteration, points, binaries)
reps = 0
for b in data["benchmarks"]:
    if b.get("aggregate_name", "median") != "median":
        continue
    name = b.get("run_name", b["name"])
    reps = max(reps, b.get("repetitions", 1))
    med[name] = (b["cpu_time"] * SCALE[b["time_unit"]], b.get("points", 0.0),
                 b.get("binaries", 0.0))


def per(name, what):
    if name not in med:
        return None
    t, points, binaries = med[name]
    if what == "point":
        return t / points
    if what == "binary":
        return t / binaries
    return t / 1e3  # us per call


def fmt(x, digits=2):
    return "-" if x is None else f"{x:.{digits}f}"


def ratio(a, b):
    return None if a is None or b is None or b == 0 else a / b


rows = []
for band, label in (("inspiral", "amplitude, inspiral bands"),
                    ("full", "amplitude, full bands"),
                    ("above_peak", "amplitude, bands above f_peak")):
    e = per(f"amplitude/{band}/exact", "point")
    fl = per(f"floor/{band}", "point")
    fa = per(f"amplitude/{band}/fast", "point")
    rows.append((label, "ns/point", e, fl, ratio(e, fl), fa, ratio(e, fa)))
e = per("snr/full/exact", "point")
fl = per("floor/snr", "point")
fa = per("snr/full/fast", "point")
rows.append(("SNR_function, full bands", "ns/point", e, fl, ratio(e, fl), fa,
             ratio(e, fa)))
e = per("amplitude/short_rows/exact", "binary")
fa = per("amplitude/short_rows/fast", "binary")
rows.append(("short rows (8 points)", "ns/binary", e, None, None, fa,
             ratio(e, fa)))


def beyond(variant):
    s = per(f"amplitude/short_rows/{variant}", "binary")
    p = per(f"amplitude/full/{variant}", "point")
    return None if s is None or p is None else s - 8 * p


e, fa = beyond("exact"), beyond("fast")
rows.append(("  per binary: short - 8 x full", "ns/binary", e, None, None, fa,
             ratio(e, fa)))
e = per("amplitude/no_grid/exact", "binary")
fa = per("amplitude/no_grid/fast", "binary")
rows.append(("  per binary: no grid (length 0)", "ns/binary", e, None, None,
             fa, ratio(e, fa)))
e = per("amplitude/empty/exact", "call")
fa = per("amplitude/empty/fast", "call")
rows.append(("per call (empty batch)", "us/call", e, None, None, fa,
             ratio(e, fa)))

print(f"phenomd bench: {date}; {cpu}; {compiler}; Release; commit {commit}")
print(f"medians of {reps} repetitions, CPU time; load average at end {load}")
ctx = data.get("context", {})
print(f"exact module {ctx.get('exact_module', '?')}; "
      f"fast module {ctx.get('fast_module', '?')}")
head = ("case", "unit", "exact", "floor", "ratio", "fast", "speed-up")
w = (34, 10, 9, 9, 6, 9, 8)
print("  ".join(h.ljust(w[i]) if i < 2 else h.rjust(w[i])
                for i, h in enumerate(head)))
for r in rows:
    cells = [r[0].ljust(w[0]), r[1].ljust(w[1]), fmt(r[2]).rjust(w[2]),
             fmt(r[3]).rjust(w[3]), fmt(r[4]).rjust(w[4]),
             fmt(r[5]).rjust(w[5]), fmt(r[6], 1).rjust(w[6])]
    print("  ".join(cells))

# The population module on the full-band batch: ns per point of the whole
# SNR (row, tabulated noise, split trapezoid) and its ratio to the same
# module's Amplitude alone on the same batch.
pop = [(v, per(f"population/full/{v}", "point"), per(f"amplitude/full/{v}", "point"))
       for v in ("exact", "fast")]
if any(p is not None for _, p, _ in pop):
    print()
    print(f"population module {ctx.get('population_module', '?')}")
    print("case                                unit        SNR/pt  Amplitude/pt   ratio")
    for v, p, a in pop:
        print(f"{'population SNR, full bands, ' + v:34}  {'ns/point':10}  {fmt(p):>6}  {fmt(a):>12}  "
              f"{fmt(ratio(p, a)):>6}")
