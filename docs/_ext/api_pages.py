"""Sphinx extension: the API reference, generated at build time from the
package's public names.

Every public module of ``phenomd`` (found by walking the package; a name
starting with "_" is private, and ``phenomd.cli`` has its own page) that
declares ``__all__`` gets a page listing each name of its ``__all__``
through autodoc (numpydoc renders the sections).  An object exported by
several modules (``phenomd.binary_snr`` is also ``phenomd.core``'s) is
documented once, under the first module in the order ``phenomd``, then
alphabetical, so the reference uses the shortest public name.  The pages
go to docs/api/generated/ (not tracked), which docs/api/index.rst lists, so
a new public module or name appears without editing the site.
"""

import importlib
import inspect
import os
import pkgutil

SKIP = {"phenomd.cli", "phenomd.examples"}  # the CLI page; the example population's helper


def public_modules():
    import phenomd

    found = ["phenomd"]
    for info in pkgutil.walk_packages(phenomd.__path__, "phenomd."):
        parts = info.name.split(".")
        if any(p.startswith("_") for p in parts) or any(info.name == s or info.name.startswith(s + ".")
                                                       for s in SKIP):
            continue
        found.append(info.name)
    modules = []
    for name in ["phenomd"] + sorted(found[1:]):
        module = importlib.import_module(name)
        if getattr(module, "__all__", None):
            modules.append(module)
    return modules


def _directive(obj):
    if inspect.isclass(obj):
        if issubclass(obj, BaseException):
            return "autoexception", ""
        return "autoclass", "   :members:\n"
    if inspect.isroutine(obj):
        return "autofunction", ""
    return "autodata", "   :annotation:\n"


def _summary(module):
    doc = inspect.getdoc(module) or ""
    first = doc.split("\n\n")[0].strip()
    return " ".join(first.split())


def write(outdir):
    os.makedirs(outdir, exist_ok=True)
    seen = set()
    pages = []
    for module in public_modules():
        entries = []
        for name in module.__all__:
            obj = getattr(module, name)
            if inspect.ismodule(obj) or id(obj) in seen:
                continue
            if not (inspect.isclass(obj) or inspect.isroutine(obj)):
                # Constants: documented by name (ids of small ints and strings are shared).
                key = (module.__name__, name)
            else:
                key = id(obj)
            seen.add(key)
            directive, options = _directive(obj)
            entries.append(f".. {directive}:: {module.__name__}.{name}\n{options}")
        if not entries:
            continue
        title = f"``{module.__name__}``"
        # A module shadowed by a same-named attribute of its package
        # (``phenomd.horizon`` the function, over the module) is not
        # declared as a module: the attribute is the public name.
        parent, _, last = module.__name__.rpartition(".")
        shadowed = parent and getattr(importlib.import_module(parent), last) is not module
        declare = "currentmodule" if shadowed else "module"
        text = [title, "=" * len(title), "", f".. {declare}:: {module.__name__}", ""]
        summary = _summary(module)
        if summary:
            text += [summary, ""]
        text += entries
        pages.append(module.__name__)
        _write_if_changed(os.path.join(outdir, module.__name__ + ".rst"), "\n".join(text) + "\n")
    toc = ["Modules", "-------", "", ".. toctree::", "   :maxdepth: 1", ""]
    toc += [f"   generated/{name}" for name in pages]
    _write_if_changed(os.path.join(outdir, "modules.rst.inc"), "\n".join(toc) + "\n")
    for stale in set(os.listdir(outdir)) - {p + ".rst" for p in pages} - {"modules.rst.inc"}:
        os.remove(os.path.join(outdir, stale))


def _write_if_changed(path, text):
    old = open(path).read() if os.path.exists(path) else None
    if text != old:  # unchanged files keep their time: no needless rereads
        with open(path, "w") as fh:
            fh.write(text)


def _generate(app):
    write(os.path.join(app.srcdir, "api", "generated"))


def setup(app):
    app.connect("builder-inited", _generate)
    return {"parallel_read_safe": True, "parallel_write_safe": True}
