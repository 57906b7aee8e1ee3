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
    return None, ""


def _attr_doc(name, modules):
    """A constant's ``#:`` comment in the source of any public module, as
    Sphinx's source analyser finds it ([] when there is none)."""
    from sphinx.pycode import ModuleAnalyzer

    for module in modules:
        try:
            docs = ModuleAnalyzer.for_module(module.__name__).find_attr_docs()
        except Exception:  # a module without source: no comments to find
            continue
        if ("", name) in docs:
            return [line for line in docs[("", name)] if line.strip()]
    return []


def _data(module, name, obj, modules):
    """A constant: its value (when short) and its ``#:`` comment.  Not
    autodata, which shows the docstring of the value's type (int's) when
    the constant has no comment."""
    text = f".. py:data:: {module.__name__}.{name}\n"
    value = repr(obj)
    if len(value) <= 60 and "\n" not in value:
        text += f"   :value: {value}\n"
    doc = _attr_doc(name, modules)
    if doc:
        text += "\n" + "".join(f"   {line}\n" for line in doc)
    return text


def _summary(module):
    doc = inspect.getdoc(module) or ""
    first = doc.split("\n\n")[0].strip()
    return " ".join(first.split())


def write(outdir):
    os.makedirs(outdir, exist_ok=True)
    seen = set()
    pages = []
    modules = public_modules()
    for module in modules:
        entries = []
        for name in module.__all__:
            obj = getattr(module, name)
            if inspect.ismodule(obj):
                continue
            if inspect.isclass(obj) or inspect.isroutine(obj):
                key = id(obj)
            else:
                # Constants: by name and value (ids of small ints and strings are
                # shared), so a re-exported one is documented once.
                key = (name, repr(obj))
            if key in seen:
                continue
            seen.add(key)
            directive, options = _directive(obj)
            if directive is None:
                entries.append(_data(module, name, obj, modules))
            else:
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
