"""The package's version: one number for the modules, the CMake package and
the wheel, kept in the file VERSION at the repository root.

An installed package carries a copy of it (``phenomd/VERSION``, written by
setup.py's build step); run from a checkout (``PYTHONPATH=python``), the
package reads the root file itself.
"""

from pathlib import Path


def _read_version():
    here = Path(__file__).resolve().parent
    for path in (here / "VERSION", here.parent.parent / "VERSION"):
        if path.is_file():
            return path.read_text().strip()
    raise ImportError(
        f"phenomd: no VERSION file in {here} (an installed package) or in "
        f"{here.parent.parent} (a checkout); reinstall the package"
    )


__version__ = _read_version()
