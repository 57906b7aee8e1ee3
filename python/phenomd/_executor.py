"""The thread executor of the batch functions: a batch split into spans of
rows (``spans``), run span by span on a thread pool (``run``), per-thread
scratch grids (``Scratch``) and the progress of long batches on stderr.

Results are placed by index, so the thread count cannot change them.

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
from concurrent.futures import FIRST_EXCEPTION, ThreadPoolExecutor, wait

import numpy as np
from tqdm import tqdm

__all__ = ["CHUNK_POINTS", "ProgressBar", "Scratch", "run", "spans"]

# Grid points handled per library call when a batch is split: small enough
# for a steady progress bar and a bounded working set in binary_snr, large
# enough that the per-call cost (tens of microseconds) is negligible.
CHUNK_POINTS = 1 << 20


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


# ------------------------------------------------------------- execution


def spans(n, length, chunk):
    """[(a, b), ...]: rows [a, b) of an n-row batch of grids of ``length``
    points, ``chunk`` rows each (default: about CHUNK_POINTS points)."""
    rows = chunk if chunk else max(1, CHUNK_POINTS // length)
    return [(a, min(a + rows, n)) for a in range(0, n, rows)]


def _progress_callback(progress, total):
    """(the callable to report to, the bar to close) for ``progress``:
    None/False nothing, True a ProgressBar, else the caller's callable."""
    if progress is None or progress is False:
        return None, None
    if progress is True:
        bar = ProgressBar(total)
        return bar, bar
    return progress, None


def run(spans, work, threads, progress, total):
    """Run ``work(a, b)`` over the spans, on ``threads`` threads; results
    are placed by index, so the thread count cannot change them.
    ``progress`` (None, True or a callable ``f(done, total)``) hears the
    rows finished after every span.

    On an exception in any span, or KeyboardInterrupt in the calling
    thread, the spans not yet started are cancelled at once and the
    exception propagates without waiting for the spans in flight (each is
    one library call of at most ``chunk`` binaries)."""
    if len(spans) == 1 and (progress is None or progress is False):
        work(*spans[0])  # one library call: no pool, no bookkeeping
        return
    report, bar = _progress_callback(progress, total)
    rows_done = [0]
    lock = threading.Lock()
    cancelled = threading.Event()

    def task(span):
        if cancelled.is_set():
            return
        work(*span)
        if report is not None:
            with lock:
                rows_done[0] += span[1] - span[0]
                report(rows_done[0], total)

    try:
        if threads <= 1 or len(spans) <= 1:
            for s in spans:
                task(s)
        else:
            pool = ThreadPoolExecutor(max_workers=min(threads, len(spans)))
            try:
                futures = [pool.submit(task, s) for s in spans]
                # Wait in short slices: the main thread comes back to the
                # interpreter at least every 0.2 s, so a SIGINT is acted on
                # even where a blocking wait is not interrupted by it.
                pending = futures
                while pending:
                    finished, pending = wait(pending, timeout=0.2, return_when=FIRST_EXCEPTION)
                    for f in finished:
                        if not f.cancelled() and f.exception() is not None:
                            raise f.exception()
            except BaseException:
                cancelled.set()
                pool.shutdown(wait=False, cancel_futures=True)
                raise
            pool.shutdown(wait=True)
    finally:
        if bar is not None:
            bar.close()


class Scratch(threading.local):
    """Per-thread grid buffers reused across chunks: fresh (rows, length)
    arrays per chunk would be page-faulted in every time."""

    def get(self, shape):
        bufs = getattr(self, "bufs", None)
        if bufs is None or bufs[0].shape != shape:
            bufs = self.bufs = (np.empty(shape), np.empty(shape))
        return bufs
