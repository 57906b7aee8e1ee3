"""The public API's docstrings: numpydoc sections present, and every
example in them runs as a doctest with the output it shows."""

import doctest
import inspect

import pytest

import phenomd
from phenomd import noise
from phenomd._band import t_start_for_frequency

pytestmark = pytest.mark.needs_library

FUNCTIONS = [phenomd.amplitude, phenomd.binary_snr, phenomd.snr, phenomd.horizon, phenomd.waterfall,
             phenomd.inclination_factor, noise.curve, noise.from_file, noise.network, t_start_for_frequency,
             phenomd.accumulated_snr, phenomd.detection_time]
RESULTS = [phenomd.AmplitudeResult, phenomd.BinarySNR, phenomd.HorizonResult, phenomd.WaterfallGrid]


@pytest.mark.parametrize("obj", FUNCTIONS + RESULTS, ids=lambda o: o.__name__)
def test_sections_and_examples(obj):
    doc = inspect.cleandoc(obj.__doc__)
    sections = ("Attributes", "Examples") if obj in RESULTS else ("Parameters", "Returns", "Raises", "Examples")
    for name in sections:
        assert f"\n{name}\n{'-' * len(name)}\n" in doc, name
    report = []
    runner = doctest.DocTestRunner(optionflags=doctest.NORMALIZE_WHITESPACE)
    tests = doctest.DocTestFinder(recurse=False).find(obj, obj.__name__, globs={})
    assert sum(len(t.examples) for t in tests) >= 2
    for t in tests:
        runner.run(t, out=report.append)
    assert runner.failures == 0, "".join(report)
