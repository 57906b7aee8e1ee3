"""Sphinx configuration of the phenomd documentation site (built by
``bash scripts/docs``, which sets PYTHONPATH and PHENOMD_LIBRARY to the
package and the modules it built).

Adding to the site:

* a user-guide page: a Markdown (MyST) or reST file in docs/guide/ and
  its name in docs/guide/index.md's list, where it takes its place (a page
  left out of the list fails the build: "document isn't included in any
  toctree"); a note kept at the top of docs/ is a page holding
  ```{include} ../NOTE.md```;
* a gallery example: examples/gallery/plot_NAME.py, a script that draws one
  figure, opening with a docstring whose first line is a reST title; it is
  run at every build and offered as a notebook;
* an API entry: nothing, the reference is generated from each public
  module's ``__all__`` (docs/_ext/api_pages.py), its Examples run as
  doctests;
* a noise curve: nothing, the detectors page draws ``phenomd.noise.names()``
  (docs/_ext/detector_pages.py).
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
    "plain_bars",
]

source_suffix = {".rst": "restructuredtext", ".md": "markdown"}
# The notes at the top of docs/ (conventions.md, cluster.md, bad_inputs.md,
# and any added later) stay where they are, linked from the README and
# edited with the code; guide/ pages include them ({include}) rather than
# the site reading them as pages of their own.
notes = sorted(n for n in os.listdir(here) if n.endswith(".md") and n != "index.md")
exclude_patterns = ["_build", "**.ipynb_checkpoints", *notes,
                    "gallery/*.md5", "gallery/*.py", "gallery/*.ipynb", "gallery/*.pickle"]

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
html_static_path = ["_static"]
html_css_files = ["phenomd.css"]
html_last_updated_fmt = None
html_show_sourcelink = False
