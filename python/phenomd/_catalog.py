"""The columns of a catalog of binaries and of the SNR table made from it:
one schema for the CLI's reader (``phenomd.tables``), the Dask reader
(``phenomd.distributed``) and the result columns both write.

Each column has a name, a unit (astropy's spelling; "" dimensionless), the
dtype it is read or written as, a default and a meaning.  An input column
with default None is either required (``required=True``) or filled by the
caller: ``distance`` from the redshift and the cosmology, ``t_start`` from
an option.  Units and frames are those of ``phenomd.core``: source-frame
masses, luminosity distance, observer-frame times before merger.

``ALIASES`` maps other names of a column (as other catalogs spell them) to
the name here; ``canonical`` resolves one and ``resolve`` accounts for
every column of a catalog's header: read (under its name or an alias),
carried through (``keep=True``), or refused with a "did you mean" hint.
It is the one place such names go; ``column_help`` and ``provenance_text``
are the CLI's help and the ``columns`` provenance entry, made from here.
"""

from __future__ import annotations

import difflib
import textwrap
from dataclasses import dataclass, field

__all__ = [
    "ALIASES",
    "CATALOG_COLUMNS",
    "Column",
    "FLAG_COLUMNS",
    "FLAGS",
    "INPUT",
    "INPUT_COLUMNS",
    "NUMERIC",
    "REQUIRED",
    "RESULT",
    "RESULT_COLUMNS",
    "ColumnError",
    "Columns",
    "canonical",
    "column_help",
    "dtypes",
    "provenance_text",
    "resolve",
]


@dataclass(frozen=True)
class Column:
    """One column: ``name``, ``unit`` (astropy spelling, "" for none),
    ``dtype`` (numpy name), ``default`` (None: required or filled by the
    caller), ``meaning`` (for help texts and metadata), ``required``."""

    name: str
    unit: str
    dtype: str
    default: float | None
    meaning: str
    required: bool = False


# The input columns, in the order help texts list them.
INPUT = (
    Column("m1", "solMass", "float64", None, "source-frame mass of the first component, solar masses", True),
    Column("m2", "solMass", "float64", None, "source-frame mass of the second component, solar masses", True),
    Column("redshift", "", "float64", None, "redshift z", True),
    Column("spin1", "", "float64", 0.0, "aligned dimensionless spin of m1, in [-1, 1]"),
    Column("spin2", "", "float64", 0.0, "aligned dimensionless spin of m2, in [-1, 1]"),
    Column("distance", "Mpc", "float64", None,
           "luminosity distance, Mpc (empty: from the redshift and the cosmology)"),
    Column("t_start", "yr", "float64", None,
           "band start, years before merger, observer frame (empty: the default start)"),
    Column("t_end", "yr", "float64", 0.0, "band end, years before merger; <= 0 runs through merger and ringdown"),
    Column("inclination", "rad", "float64", None,
           "inclination of the orbit to the line of sight, radians in [0, pi] (empty: --inclination)"),
)

# Columns read as text: a label for each binary, copied to the output.
TEXT = (
    Column("name", "", "str", None, "a label of the binary, copied to the output"),
)

# The computed columns of an SNR table, after the input columns (``distance``
# among the inputs, filled where it came from the redshift).
RESULT = (
    Column("snr_all", "", "float64", None, "SNR of the whole band"),
    Column("snr_ins", "", "float64", None, "SNR of the inspiral"),
    Column("snr_mrg", "", "float64", None, "SNR of the merger"),
    Column("snr_rd", "", "float64", None, "SNR of the ringdown"),
    Column("f_merger_start", "Hz", "float64", None, "inspiral/merger boundary, observed frame, Hz"),
    Column("f_ringdown_start", "Hz", "float64", None, "merger/ringdown boundary, observed frame, Hz"),
)

# Warning flags written per binary (a count or 0/1).
FLAGS = (
    Column("n_outside", "", "int64", None,
           "outside the noise curve's range: band ends (0-2) under method gauss, grid points under trapezoid"),
    Column("inverted", "", "int8", None,
           "1: the band's end lies below its start (the module's sentinel row, SNR 0)"),
    Column("uncalibrated", "", "int8", None,
           "1: outside the model's calibration region (see phenomd._conventions)"),
)

INPUT_COLUMNS = {c.name: c for c in INPUT + TEXT}
REQUIRED = tuple(c.name for c in INPUT if c.required)
NUMERIC = tuple(c.name for c in INPUT)
RESULT_COLUMNS = tuple(c.name for c in RESULT)
FLAG_COLUMNS = tuple(c.name for c in FLAGS)

#: name -> (default when absent or empty, meaning), for readers and help.
CATALOG_COLUMNS = {c.name: (c.default, c.meaning) for c in INPUT + TEXT}

#: Other spellings of an input column -> its name here (case-sensitive,
#: like the names themselves).  ``a1``/``a2`` are read as the aligned
#: (z) components: the model takes spins along the orbital angular
#: momentum only.  ``theta_jn`` is the inclination for aligned spins
#: (J along L).
ALIASES: dict[str, str] = {
    **dict.fromkeys(("mass1", "mass_1", "m_1"), "m1"),
    **dict.fromkeys(("mass2", "mass_2", "m_2"), "m2"),
    **dict.fromkeys(("spin1z", "spin_1z", "chi1", "chi_1", "a1", "a_1", "spin_1"), "spin1"),
    **dict.fromkeys(("spin2z", "spin_2z", "chi2", "chi_2", "a2", "a_2", "spin_2"), "spin2"),
    **dict.fromkeys(("z",), "redshift"),
    **dict.fromkeys(("dL", "d_L", "DL", "luminosity_distance", "distance_Mpc", "dist"), "distance"),
    **dict.fromkeys(("tstart",), "t_start"),
    **dict.fromkeys(("tend",), "t_end"),
    **dict.fromkeys(("iota", "incl", "theta_jn"), "inclination"),
    **dict.fromkeys(("label",), "name"),
}

# Columns the SNR table adds: an input holding one is most likely an
# output read back, whose values the new ones would replace.
WRITTEN = RESULT_COLUMNS + FLAG_COLUMNS + ("flags",)


def canonical(name):
    """The schema's name for a catalog column called ``name`` (itself when
    it is not an alias)."""
    return ALIASES.get(name, name)


class ColumnError(ValueError):
    """A catalog header that cannot be read as asked; the message (one
    line) names the column.  Readers prefix the file."""


@dataclass
class Columns:
    """How a header's columns are read: ``names`` (file name -> schema name,
    for every column read), ``aliases`` (file name -> schema name, for
    those read under another name), ``kept`` (unknown columns carried
    through unchanged)."""

    names: dict = field(default_factory=dict)
    aliases: dict = field(default_factory=dict)
    kept: list = field(default_factory=list)

    def describe(self):
        """Words for a summary line: "read dL as distance; kept x" ("" if
        every column has its own name)."""
        parts = []
        if self.aliases:
            parts.append("read " + ", ".join(f"{a} as {c}" for a, c in self.aliases.items()))
        if self.kept:
            parts.append("carried through " + ", ".join(self.kept))
        return "; ".join(parts)


_KNOWN = tuple(INPUT_COLUMNS) + tuple(ALIASES)


def _suggest(name):
    """The schema column a misspelt ``name`` most likely means, or None."""
    lowered = {k.lower(): k for k in _KNOWN}
    close = difflib.get_close_matches(name.lower(), list(lowered), n=1, cutoff=0.6)
    return canonical(lowered[close[0]]) if close else None


def resolve(header, keep=False):
    """Account for every column of ``header`` (a catalog's column names, in
    the file's order): a schema name or an alias is read; a name that
    differs from one only in case, a column the SNR table writes, two
    columns meaning one quantity, or (unless ``keep``) any other name is a
    ColumnError naming it, with the closest schema column as a hint.
    Returns a Columns."""
    out = Columns()
    for name in header:
        key = canonical(name)
        if key in INPUT_COLUMNS:
            if key in out.names.values():
                first = next(k for k, v in out.names.items() if v == key)
                raise ColumnError(f"columns {first!r} and {name!r} both mean {key}: keep one of them")
            out.names[name] = key
            if key != name:
                out.aliases[name] = key
            continue
        exact = {k.lower(): k for k in _KNOWN}.get(name.lower())
        if exact is not None:
            raise ColumnError(f"column {name!r} differs from {exact!r} only in case; column names are "
                              f"case-sensitive: rename it {exact!r}")
        if name in WRITTEN:
            raise ColumnError(f"column {name!r} is one that phenomd snr writes (is this an output read back?); "
                              "remove it from the catalog")
        if keep:
            out.kept.append(name)
            continue
        guess = _suggest(name)
        hint = f"did you mean {guess!r} ({INPUT_COLUMNS[guess].meaning})? " if guess else ""
        raise ColumnError(f"unknown column {name!r}: {hint}catalog columns are {', '.join(INPUT_COLUMNS)} "
                          "(and their aliases, see --help); --keep-columns carries other columns through "
                          "to the output")
    return out


def column_help(output=True):
    """The CLI's text on catalog columns (``phenomd snr --help``), from the
    schema: every column with its meaning and default, and its aliases;
    with ``output``, the columns an SNR table adds."""
    by_column = {}
    for alias, name in ALIASES.items():
        by_column.setdefault(name, []).append(alias)
    lines = ["Input columns (CSV, HDF5 or npz; names are case-sensitive; a column that is",
             "none of these is an error, or carried through to the output with --keep-columns):"]
    for c in INPUT + TEXT:
        tail = "required" if c.required else ("default " + repr(c.default) if c.default is not None else "")
        lines.append(f"  {c.name:<12}{c.meaning}" + (f" ({tail})" if tail else ""))
        if c.name in by_column:
            lines.append(f"  {'':<12}  also read as: {', '.join(by_column[c.name])}")
    lines.append("An empty cell means the default; 'nan' is an error.")
    if not output:
        return "\n".join(lines)
    output = ("Output: the input columns (under the names above; empty cells filled with the values used), "
              "distance (if absent), " + ", ".join(f"{c.name} ({c.meaning})" for c in RESULT)
              + "; the SNRs are sky-, polarisation- and inclination-averaged by default (see --inclination); "
              + f"n_outside ({FLAGS[0].meaning}) and flags (inverted, "
              "outside_noise, uncalibrated, zero_snr; ';'-separated).")
    lines += textwrap.wrap(output, 78)
    return "\n".join(lines)


def provenance_text():
    """The ``columns`` provenance entry of an SNR table: each computed
    column and unit, from the schema."""
    parts = [f"{c.name}: {c.meaning}" for c in RESULT]
    parts.append("distance: the luminosity distance used, Mpc")
    return "; ".join(parts)


def dtypes(columns):
    """{name: numpy dtype name} of the schema's columns among ``columns``."""
    known = {c.name: c.dtype for c in INPUT + RESULT + FLAGS}
    return {c: known[c] for c in columns if c in known}
