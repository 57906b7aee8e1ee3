"""A plain progress bar on stderr for long batches.

It stays silent for the first ``delay`` seconds, so quick runs print
nothing, and redraws at most ten times a second.  On a terminal it redraws
one line; into a file or pipe it writes a line per tenth of the work.
"""

from __future__ import annotations

import sys
import threading
import time


class ProgressBar:
    def __init__(self, total, label="binaries", stream=None, delay=2.0, width=30):
        self.total = max(int(total), 0)
        self.label = label
        self.stream = sys.stderr if stream is None else stream
        self.delay = delay
        self.width = width
        self.done = 0
        self._start = time.monotonic()
        self._last_draw = 0.0
        self._last_tenth = -1
        self._shown = False
        self._lock = threading.Lock()
        try:
            self._tty = self.stream.isatty()
        except (AttributeError, ValueError):
            self._tty = False

    def __call__(self, done, total=None):
        """Record that ``done`` of the total units are finished."""
        with self._lock:
            self.done = done
            now = time.monotonic()
            elapsed = now - self._start
            if elapsed < self.delay and done < self.total:
                return
            if elapsed < self.delay and not self._shown:
                return  # finished before the bar was due: stay silent
            if self._tty:
                if now - self._last_draw < 0.1 and done < self.total:
                    return
                self._last_draw = now
                self.stream.write("\r" + self._line(elapsed))
            else:
                tenth = 10 * done // self.total if self.total else 10
                if tenth == self._last_tenth:
                    return
                self._last_tenth = tenth
                self.stream.write(self._line(elapsed) + "\n")
            self._shown = True
            self.stream.flush()

    def _line(self, elapsed):
        frac = self.done / self.total if self.total else 1.0
        filled = int(round(frac * self.width))
        bar = "#" * filled + "-" * (self.width - filled)
        rate = self.done / elapsed if elapsed > 0 else 0.0
        left = (self.total - self.done) / rate if rate > 0 else float("inf")
        eta = f"{left:5.0f} s left" if left != float("inf") else "      "
        return f"[{bar}] {self.done}/{self.total} {self.label} {elapsed:6.1f} s {eta}"

    def close(self):
        with self._lock:
            if self._shown and self._tty:
                self.stream.write("\n")
                self.stream.flush()
