#!/usr/bin/env python3
"""Closed form of the intermediate amplitude's quartic (Khan et al. 2016,
Phys. Rev. D 93, 044007: the intermediate ansatz,
a polynomial delta0 + delta1 f + ... + delta4 f^4 fixed by five collocation
conditions).

The conditions, with f1 the inspiral join 0.014, f3 = f_peak and f2 between:

    I(f1) = v1,  I'(f1) = d1,  I(f2) = v2,  I(f3) = v3,  I'(f3) = d2.

They are solved here by exact elimination over the rationals (f1 = 14/1000
substituted), and every coefficient is brought over the common denominator

    D = (f1 - f3)^3 (f1 - f2)^2 (f3 - f2)^2,

over which delta_k = n_k / D with n_k a polynomial: linear in v1, v2, v3,
d1, d2, and of degree at most 7 in f2 and f3.  (The confluent Vandermonde
determinant of the system is (f2 - f1)^2 (f3 - f1)^4 (f3 - f2)^2; one factor
f3 - f1 cancels from every coefficient.)

Usage:
    intermediate_quartic.py
        prints the C++ block (n0 .. n4, a, b, c, D) that SolveIntermediate in
        utils/phenomd/merger_ringdown.cpp holds;
    intermediate_quartic.py --check merger_ringdown.cpp model.h
        reads n0 .. n4 and D from that source (and the join f1 from model.h)
        and compares them with the elimination coefficient by coefficient in
        exact rationals (each decimal literal taken as the decimal it spells);
        exit 0 when they agree, 1 when not, 77 when sympy is missing.

The comparison is mathematical: the order of the terms in the source, which
sets its rounding, is the source's own.
"""
import re
import sys

try:
    import sympy as sp
except ImportError:  # pragma: no cover - depends on the machine
    print("sympy is not installed: nothing checked", file=sys.stderr)
    sys.exit(77)

F2, F3 = sp.symbols("f2 f3")
VALUES = sp.symbols("v1 v2 v3 d1 d2")
V1, V2, V3, D1, D2 = VALUES
JOIN = sp.Rational(14, 1000)


def denominator(f1):
    return (f1 - F3) ** 3 * (f1 - F2) ** 2 * (F3 - F2) ** 2


def eliminate(f1=JOIN):
    """n_k = delta_k D as polynomials, from the five conditions."""
    x = sp.Symbol("x")
    deltas = sp.symbols("delta0:5")
    quartic = sum(deltas[k] * x**k for k in range(5))
    slope = sp.diff(quartic, x)
    conditions = [
        quartic.subs(x, f1) - V1,
        slope.subs(x, f1) - D1,
        quartic.subs(x, F2) - V2,
        quartic.subs(x, F3) - V3,
        slope.subs(x, F3) - D2,
    ]
    solution = sp.solve(conditions, deltas, dict=True)
    if len(solution) != 1:
        raise RuntimeError("the collocation system has no unique solution")
    D = denominator(f1)
    numerators = []
    for k in range(5):
        n = sp.cancel(solution[0][deltas[k]] * D)
        if sp.fraction(n)[1].free_symbols:
            raise RuntimeError("delta%d * D is not a polynomial" % k)
        numerators.append(sp.expand(n))
    return numerators


def grouped(n):
    """{value symbol: polynomial in f2, f3} of one numerator."""
    return {v: sp.Poly(sp.expand(n).coeff(v), F2, F3) for v in VALUES}


def literal(r):
    """The shortest decimal that reads back as the double nearest r."""
    text = repr(float(r))
    if sp.Rational(text) != r:
        raise RuntimeError("coefficient %s has no exact short decimal" % r)
    return text


def power(name, k):
    return name if k == 1 else "%s_%d" % (name, k)


def emit_polynomial(poly):
    """Terms in ascending total degree, then ascending power of f2."""
    terms = sorted(poly.terms(), key=lambda t: (sum(t[0]), t[0][0]))
    out = []
    for (i, j), c in terms:
        factors = [power("f2", i)] * (i > 0) + [power("f3", j)] * (j > 0)
        mag = literal(abs(c))
        if factors and mag == "1.0":
            body = " * ".join(factors)
        else:
            body = " * ".join([mag] + factors)
        sign = "-" if c < 0 else "+"
        out.append((sign, body))
    first_sign, first = out[0]
    text = ("-" if first_sign == "-" else "") + first
    for sign, body in out[1:]:
        text += " %s %s" % (sign, body)
    return text


def emit(numerators):
    lines = []
    for k, n in enumerate(numerators):
        parts = []
        for v, poly in grouped(n).items():
            if not poly.is_zero:
                parts.append("%s * (%s)" % (v, emit_polynomial(poly)))
        lines.append("const double n%d =\n    %s;" % (k, " +\n    ".join(parts)))
    lines.append("const double a = kInspiralJoin - f3;")
    lines.append("const double b = kInspiralJoin - f2;")
    lines.append("const double c = f3 - f2;")
    lines.append("const double D = a * a * a * (b * b) * (c * c);")
    return "\n".join(lines)


NUMBER = re.compile(r"(?<![\w.])(\d+\.\d*(?:[eE][-+]?\d+)?|\d+[eE][-+]?\d+|\d+)")


def to_sympy(expr, join):
    """A C++ expression of the source as an exact sympy expression."""
    expr = re.sub(r"\b(f[23])_(\d)\b", r"(\1**\2)", expr)
    expr = expr.replace("kInspiralJoin", "(%s)" % join)
    expr = NUMBER.sub(lambda m: "Rational('%s')" % m.group(1), expr)
    names = {str(s): s for s in (F2, F3) + VALUES}
    names["Rational"] = sp.Rational
    return sp.sympify(expr, locals=names)


def definitions(source):
    """name -> expression text of every `const double name = ...;`."""
    found = {}
    for m in re.finditer(r"const double (\w+)\s*=\s*([^;]*);", source):
        found[m.group(1)] = " ".join(m.group(2).split())
    return found


def check(cpp_path, model_path):
    with open(model_path) as f:
        m = re.search(r"kInspiralJoin\s*=\s*([0-9.eE+-]+)\s*;", f.read())
    if m is None:
        print("no kInspiralJoin in %s" % model_path, file=sys.stderr)
        return 1
    join = sp.Rational(m.group(1))
    with open(cpp_path) as f:
        source = f.read()
    start = source.index("void SolveIntermediate(")
    defs = definitions(source[start:])
    want = eliminate(join)
    failures = 0
    # The common denominator, from a, b and c as the source defines them.
    abc = {s: to_sympy(defs[s], join) for s in ("a", "b", "c")}
    D_src = to_sympy(defs["D"], join).subs(
        {sp.Symbol(s): abc[s] for s in abc})
    if sp.expand(D_src - denominator(join)) != 0:
        print("D differs: source %s, elimination %s"
              % (sp.factor(D_src), denominator(join)))
        failures += 1
    generated = definitions(emit(want))
    for k in range(5):
        name = "n%d" % k
        got = to_sympy(defs[name], join)
        g_got, g_want = grouped(got), grouped(want[k])
        bad = 0
        for v in VALUES:
            diff = (g_got[v] - g_want[v]).as_expr()
            if sp.expand(diff) != 0:
                print("%s, coefficient of %s differs by %s" % (name, v, diff))
                bad += 1
        # The same terms in the same order (whitespace aside): the order of
        # evaluation, and so the rounding, is the generated one too.
        if defs[name] != generated[name]:
            print("%s: the source's terms are not in the generated order"
                  % name)
            bad += 1
        terms = sum(len(p.terms()) for p in g_want.values() if not p.is_zero)
        if bad == 0:
            print("%s: %d terms agree, in the generated order" % (name, terms))
        failures += bad
    print("closed form %s" % ("agrees" if failures == 0 else
                              "DIFFERS (%d)" % failures))
    return 0 if failures == 0 else 1


def main(argv):
    if len(argv) >= 2 and argv[1] == "--check":
        if len(argv) != 4:
            print(__doc__, file=sys.stderr)
            return 2
        return check(argv[2], argv[3])
    if len(argv) != 1:
        print(__doc__, file=sys.stderr)
        return 2
    print(emit(eliminate()))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
