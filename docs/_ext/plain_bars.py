"""Docstrings write magnitudes as |h~|, |spin| (plain text that reads well
with help()).  reStructuredText reads |name| as a substitution, so before
autodoc hands a docstring to Sphinx each |...| outside literal text becomes
a literal, ``|...|``."""

import re

# A bar-delimited span on one line, not already inside a literal and not a
# table rule: |h~|, |h~(f)|^2 (a power stays inside the literal, where
# reST allows no letter or caret straight after it), |ln h_table - ln h_curve|.
_BARS = re.compile(r"(?<![`|\w])(\|[^|\n`]+?\|(?:\^\w+)?)(?![`|])")


def literal_bars(line):
    """``line`` with each |...| outside ``...`` made a literal."""
    parts = line.split("``")
    for i in range(0, len(parts), 2):  # even parts lie outside literals
        parts[i] = _BARS.sub(r"``\1``", parts[i])
    return "``".join(parts)


def _process(app, what, name, obj, options, lines):
    lines[:] = [literal_bars(line) for line in lines]


def setup(app):
    app.connect("autodoc-process-docstring", _process, priority=400)
    return {"parallel_read_safe": True}
