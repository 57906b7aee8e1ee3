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
the name here; ``canonical`` resolves one.  It is the one place such names
go.
"""

from __future__ import annotations

from dataclasses import dataclass

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
    "canonical",
    "dtypes",
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

INPUT_COLUMNS = {c.name: c for c in INPUT}
REQUIRED = tuple(c.name for c in INPUT if c.required)
NUMERIC = tuple(INPUT_COLUMNS)
RESULT_COLUMNS = tuple(c.name for c in RESULT)
FLAG_COLUMNS = tuple(c.name for c in FLAGS)

#: name -> (default when absent or empty, meaning), for readers and help.
CATALOG_COLUMNS = {c.name: (c.default, c.meaning) for c in INPUT}

#: Other spellings of an input column -> its name here.
ALIASES: dict[str, str] = {}


def canonical(name):
    """The schema's name for a catalog column called ``name`` (itself when
    it is not an alias)."""
    return ALIASES.get(name, name)


def dtypes(columns):
    """{name: numpy dtype name} of the schema's columns among ``columns``."""
    known = {c.name: c.dtype for c in INPUT + RESULT + FLAGS}
    return {c: known[c] for c in columns if c in known}
