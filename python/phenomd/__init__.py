"""phenomd: characteristic strain and signal-to-noise ratio of aligned-spin
binary black holes from the PhenomD amplitude model, over numpy batches.

    import phenomd
    a = phenomd.amplitude(m1=5e5, m2=5e5, spin1=0, spin2=0, redshift=1.0,
                          t_start=4.0, length=512)
    s = phenomd.snr(a.freqs, a.hc, phenomd.noise.lisa(a.freqs),
                    a.f_merger_start, a.f_ringdown_start)

Inputs are checked here, before the library (which validates nothing) is
called.  Masses are source-frame solar masses, distances luminosity
distances in Mpc, times years before merger in the observer frame.
"""

from . import noise
from ._lib import LibraryNotFound, load
from .core import (AmplitudeResult, SnrResult, amplitude, snr,
                   snr_of_binaries)

__all__ = ["amplitude", "snr", "snr_of_binaries", "noise", "load",
           "AmplitudeResult", "SnrResult", "LibraryNotFound"]
