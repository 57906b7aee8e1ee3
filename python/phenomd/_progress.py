"""Progress of long batches on stderr, drawn by tqdm.

``ProgressBar(total)`` is a callable ``f(done, total)``, the form the
``progress=`` argument of ``amplitude`` and ``binary_snr`` takes; it adapts
those cumulative counts to a tqdm bar.  The bar appears only after
``delay`` seconds (quick runs print nothing) and only on a terminal,
unless ``force`` is set (then also into a file or pipe, e.g. a batch
job's log).
"""

from __future__ import annotations

import sys
import threading

from tqdm import tqdm

__all__ = ["ProgressBar"]


def _isatty(stream):
    try:
        return bool(stream.isatty())
    except (AttributeError, ValueError):
        return False


class ProgressBar:
    def __init__(self, total, label="binaries", stream=None, delay=2.0, force=False):
        stream = sys.stderr if stream is None else stream
        tty = _isatty(stream)
        self.enabled = tty or force
        self._lock = threading.Lock()
        self._done = 0
        self._total = max(int(total), 0)
        self._bar = tqdm(
            total=max(int(total), 0),
            unit=f" {label}",
            file=stream,
            delay=delay,
            disable=not self.enabled,
            mininterval=0.2 if tty else 10.0,
            dynamic_ncols=tty,
            ncols=None if tty else 100,
            leave=True,
        )

    @property
    def done(self):
        return self._done

    @property
    def total(self):
        return self._total

    def __call__(self, done, total=None):
        """Record that ``done`` of ``total`` (default: as constructed) are finished."""
        with self._lock:
            if total is not None and int(total) != self._total:
                self._total = self._bar.total = int(total)
            step = int(done) - self._done
            self._done = int(done)
            if step:
                self._bar.update(step)

    def close(self):
        with self._lock:
            self._bar.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False
