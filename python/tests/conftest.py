"""Shared set-up: the package from this checkout, the module under test."""

import os
import sys
from pathlib import Path

import pytest

PYTHON_DIR = Path(__file__).resolve().parents[1]
REPO = PYTHON_DIR.parent
HEADER = REPO / "utils" / "phenomd" / "phenomd.h"
sys.path.insert(0, str(PYTHON_DIR))

try:  # no example database in the working tree
    from hypothesis import settings

    settings.register_profile("phenomd", database=None, deadline=None)
    settings.load_profile("phenomd")
except ImportError:  # pragma: no cover
    pass

import phenomd  # noqa: E402


def _find():
    try:
        return phenomd.load_library().path
    except phenomd.LibraryNotFoundError:
        return None


LIBRARY = _find()


def pytest_collection_modifyitems(config, items):
    if LIBRARY:
        return
    skip = pytest.mark.skip(reason="libphenomd.so not found: build it and set PHENOMD_LIBRARY")
    for item in items:
        if "needs_library" in item.keywords or "library_path" in getattr(item, "fixturenames", ()):
            item.add_marker(skip)


def pytest_configure(config):
    config.addinivalue_line("markers", "needs_library: calls the shared module")
    config.addinivalue_line(
        "markers", "wheel: builds the wheel with CMake and installs it into a venv (about a minute)")


@pytest.fixture(scope="session")
def library_path():
    return LIBRARY


@pytest.fixture(scope="session")
def gauss_population(library_path):
    """The population module with its quadrature entry, or a skip."""
    from phenomd import _population

    try:
        lib = _population.load_population()
    except phenomd.LibraryNotFoundError as exc:
        pytest.skip(f"libphenomd_population.so not built: {exc}")
    if lib._snr_gauss is None:
        pytest.skip("population module built before the quadrature entry")
    return lib
