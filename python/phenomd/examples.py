"""The built-in example population of ``phenomd snr`` (no input file).

60 binaries: total source-frame masses 10^4 to 10^8.5 M_sun in half-decade
steps, mass ratios m2/m1 = 1, 0.5 and 0.1, redshifts 1 and 5 (distances from
the cosmology), spins 0.5 and 0.2, observed for the last four years before
merger (observer frame) through merger and ringdown.
"""

from __future__ import annotations

import numpy as np

from .tables import Catalog

__all__ = ["example_columns", "example_catalog"]

LOG_MASSES = (4.0, 4.5, 5.0, 5.5, 6.0, 6.5, 7.0, 7.5, 8.0, 8.5)
MASS_RATIOS = (1.0, 0.5, 0.1)
REDSHIFTS = (1.0, 5.0)


def example_columns():
    """The population as columns: name, m1, m2, spin1, spin2, redshift,
    t_start, t_end (name -> 1-D array), in the order mass, ratio, z."""
    # Python's float power (correctly rounded here), not numpy's, whose
    # last bit can differ: the population is the same doubles everywhere.
    rows = [(10.0**logm, q, z) for logm in LOG_MASSES for q in MASS_RATIOS for z in REDSHIFTS]
    n = len(rows)
    return {
        "name": np.array([f"ex{k:02d}" for k in range(1, n + 1)], dtype=object),
        "m1": np.array([m / (1 + q) for m, q, _ in rows]),
        "m2": np.array([m * q / (1 + q) for m, q, _ in rows]),
        "spin1": np.full(n, 0.5),
        "spin2": np.full(n, 0.2),
        "redshift": np.array([z for _, _, z in rows]),
        "t_start": np.full(n, 4.0),
        "t_end": np.zeros(n),
    }


def example_catalog():
    """The population as a Catalog (rows numbered from 0, no file)."""
    cols = example_columns()
    numbers = {k: v for k, v in cols.items() if k != "name"}
    return Catalog("<example population>", list(cols), numbers, {"name": cols["name"]}, None)
