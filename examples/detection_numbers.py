"""Averaged SNR and detection probability of two reference binaries in every
built-in detector and in the LISA + Taiji network.

    PHENOMD_LIBRARY=build/libphenomd.so PYTHONPATH=python /usr/bin/python3 examples/detection_numbers.py

Binaries: a GW150914-like one (36 + 29 Msun source frame, z = 0.09,
spins 0) and a 10^6 Msun one (5e5 + 5e5, z = 1, spins 0); luminosity
distances from Planck18.  Bands: ground curves (aligo, et) from where the
binary enters the curve's range (t_start = "band") through ringdown; space
curves (lisa, taiji, tianqin, with their 4-year galactic foreground) from
4 years before merger through ringdown.  SNR: sky-, polarisation- and
inclination-averaged (the package's convention).  p_det: fraction of sky
positions, polarisations and inclinations with SNR > 8, no noise
fluctuations; space detectors in the long-wavelength, fixed-constellation
limit; the network by the independent-members approximation
(``phenomd.noise._network``).  "empty band": the binary enters the
curve's range above the model's last frequency (Mf = 0.2), so it has no
band there (the 10^6 Msun binary in the ground detectors).
"""

import phenomd
from phenomd import noise

BINARIES = {
    "GW150914-like (36+29, z=0.09)": (36.0, 29.0, 0.09),
    "1e6 Msun (5e5+5e5, z=1)": (5e5, 5e5, 1.0),
}
THRESHOLD = 8.0


def detectors():
    yield "aligo", noise.curve("aligo"), "band"
    yield "et", noise.curve("et"), "band"
    for name in ("lisa", "taiji", "tianqin"):
        yield name, noise.curve(name, years=4), 4.0
    yield "lisa+taiji", noise.network("lisa", "taiji", years=4, p_det_approximation="independent"), 4.0


def main():
    print(f"{'detector':12s} {'band':>6s}  " + "  ".join(f"{b:>34s}" for b in BINARIES))
    print(f"{'':12s} {'':>6s}  " + "  ".join(f"{'SNR_avg':>17s} {'p_det(>8)':>16s}" for _ in BINARIES))
    for name, curve, band in detectors():
        cells = []
        for m1, m2, z in BINARIES.values():
            r = phenomd.binary_snr(m1, m2, 0.0, 0.0, None, z, band, noise=curve, threshold=THRESHOLD)
            if r.inverted[0]:  # the band starts above the model's last frequency
                cells.append(f"{'empty band':>17s} {'-':>16s}")
            else:
                cells.append(f"{r.snr_all[0]:17.4g} {r.p_det[0]:16.4f}")
        label = "band" if band == "band" else f"{band:g} yr"
        print(f"{name:12s} {label:>6s}  " + "  ".join(cells))


if __name__ == "__main__":
    main()
