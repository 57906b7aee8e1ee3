"""Older name of the loader, kept for scripts that import ``phenomd._lib``
(e.g. ``_lib.load(fast=True)``); new code uses ``phenomd.load_library``."""

from ._library import _DOUBLE_P, LibraryNotFoundError, load_library as load  # noqa: F401
