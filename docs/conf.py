"""Sphinx configuration of the phenomd documentation site (built by
``bash scripts/docs``, which sets PYTHONPATH and PHENOMD_LIBRARY to the
package and the modules it built).

Pages are Markdown (MyST) or reStructuredText files under docs/ listed in a
toctree; a gallery example is a script dropped into examples/gallery/; the
detectors page's figure and table are generated here at build time from
``phenomd.noise.names()``, so a new built-in curve appears by itself.
"""

import os
import sys

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(here)
sys.path.insert(0, os.path.join(root, "python"))
sys.path.insert(0, os.path.join(here, "_ext"))

import phenomd  # noqa: E402
from sphinx_gallery.sorting import FileNameSortKey  # noqa: E402

project = "phenomd"
author = "the phenomd developers"
copyright = "the phenomd developers"
version = release = phenomd.__version__

extensions = [
    "sphinx.ext.autodoc",
    "sphinx.ext.doctest",
    "sphinx.ext.mathjax",
    "numpydoc",
    "myst_parser",
    "sphinxarg.ext",
    "sphinx_gallery.gen_gallery",
    "detector_pages",
    "api_pages",
]

source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
exclude_patterns = ["_build", "**.ipynb_checkpoints", "bad_inputs.md", "cluster.md", "conventions.md",
                    "gallery/*.md5", "gallery/*.py", "gallery/*.ipynb", "gallery/*.pickle"]
# The three notes above stay where they are (README and other engineers
# link them) and are included into guide/ pages instead of being pages.

# No dollar math: the site is read offline too (MathJax would come from a CDN),
# so the pages write formulas in Unicode or as code.
myst_enable_extensions = []
myst_heading_anchors = 3

# API reference: numpydoc sections; members in source order.
autodoc_member_order = "bysource"
autodoc_default_options = {"members": False}
numpydoc_show_class_members = False
numpydoc_class_members_toctree = False

# Doctests: the documented API's Examples and the guide's >>> blocks run
# in a fresh namespace with the package imported.
doctest_global_setup = """
import numpy as np
import phenomd
"""

sphinx_gallery_conf = {
    "examples_dirs": os.path.join(root, "examples", "gallery"),
    "gallery_dirs": "gallery",
    "filename_pattern": r"/plot_",  # every plot_*.py is run
    "ignore_pattern": r"__init__\.py",
    "download_all_examples": True,
    "remove_config_comments": True,
    "abort_on_example_error": True,
    "plot_gallery": "True",
    "matplotlib_animations": False,
    "image_scrapers": ("matplotlib",),
    "within_subsection_order": FileNameSortKey,
}

html_theme = "pydata_sphinx_theme"
html_title = f"phenomd {release}"
html_theme_options = {"show_prev_next": True, "navigation_with_keys": False}
html_static_path = []
html_last_updated_fmt = None
html_show_sourcelink = False
