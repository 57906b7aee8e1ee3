"""docs/bad_inputs.md: every call in its Python column is run as written and
raises what the row says (exception, argument, a fragment of the message),
or is accepted where it says so."""

import re
from pathlib import Path

import numpy as np
import pytest

import phenomd

pytestmark = pytest.mark.needs_library

DOC = Path(__file__).resolve().parents[2] / "docs" / "bad_inputs.md"
SOUND = dict(m1=1e6, m2=5e5, spin1=0.0, spin2=0.0, distance=1e3, redshift=1.0, t_start=4.0, t_end=0.0, length=100)
ITEM = re.compile(r'`([a-z]+\([^`]*\))` → (?:`(\w+)` \(`(\w+)`\): "([^"]+)"|(accepted))')


def amplitude(**changed):
    return phenomd.amplitude(**{**SOUND, **changed})


def snr(hn_point):
    a = amplitude()
    hn = np.full(a.freqs.shape, 1e-20)
    hn[0, 50] = hn_point
    return phenomd.snr(a.freqs, a.hc, hn, a.f_merger_start, a.f_ringdown_start)


def rows():
    table = [line for line in DOC.read_text().splitlines() if line.startswith("|") and not line.startswith("|---")]
    cells = [[c.strip() for c in line.strip().strip("|").split(" | ")] for line in table]
    return [c for c in cells if len(c) == 4 and c[0] != "bad input"]


def test_every_row_is_what_the_package_does():
    found = rows()
    assert len(found) == 17
    for bad, _, python, _ in found:
        items = ITEM.findall(python)
        assert items, f"row {bad!r}: no call in {python!r}"
        for call, error, argument, fragment, accepted in items:
            if accepted:
                eval(call, {"amplitude": amplitude, "snr": snr})
                continue
            with pytest.raises(getattr(phenomd, error)) as err:
                eval(call, {"amplitude": amplitude, "snr": snr})
            assert err.value.argument == argument and fragment in str(err.value), (bad, call, str(err.value))
