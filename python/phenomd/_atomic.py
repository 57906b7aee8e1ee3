"""Outputs replaced atomically: written to a temporary file in the target's
directory and renamed over the target only once complete.

A reader of the target therefore sees either the previous file or the new
one whole, never a file cut short by a full disk, an exception or Ctrl-C;
on any failure the temporary file is removed and the previous file is left
as it was.  A target that is a symbolic link is written through (its
target replaced, the link kept).  The writer holds a lock on its temporary
file; a later write of the same output removes such files that nobody
holds (left by a writer killed with SIGKILL).
"""

from __future__ import annotations

import contextlib
import fcntl
import os
import re
import tempfile

__all__ = ["atomic_path", "atomic_open"]


@contextlib.contextmanager
def atomic_path(path):
    """Yield a temporary path beside ``path``; rename it over ``path`` when
    the block completes without an exception (including KeyboardInterrupt),
    remove it otherwise.  The caller writes the temporary file by name (for
    writers that take a path, e.g. matplotlib's savefig or h5py)."""
    path = os.fspath(path)
    # A symbolic link is written through: its target is replaced and the
    # link stays a link (renaming over the link would turn it into a
    # regular file and leave the target stale).
    if os.path.islink(path):
        path = os.path.realpath(path)
    directory = os.path.dirname(os.path.abspath(path))
    base = os.path.basename(path)
    # Keep the extension last so that writers choosing a format by suffix
    # see the target's.
    stem, ext = os.path.splitext(base)
    _remove_stale(directory, stem, ext)
    fd, tmp = tempfile.mkstemp(prefix=f".{stem}.", suffix=f".tmp{ext}", dir=directory)
    try:
        # The writer holds a lock on its temporary file while it lives, so
        # that a later run can tell a killed writer's leftover (unlocked)
        # from a file another run is still writing.  (Where the file system
        # has no locks, none is held, and no other run removes anything:
        # it cannot take a lock there either.)
        with contextlib.suppress(OSError):
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        yield tmp
        with open(tmp, "rb") as fh:
            os.fsync(fh.fileno())
        _copy_mode(path, tmp)
        os.replace(tmp, path)
    except BaseException:
        with contextlib.suppress(OSError):
            os.unlink(tmp)
        raise
    finally:
        os.close(fd)


def _remove_stale(directory, stem, ext):
    """Remove temporary files of earlier writers of the same output that
    were killed (SIGKILL, a power cut) before they could clean up: those
    named as atomic_path names them whose lock nobody holds."""
    pattern = re.compile(re.escape(f".{stem}.") + r"[A-Za-z0-9_]{8}" + re.escape(f".tmp{ext}") + "$")
    try:
        names = [n for n in os.listdir(directory) if pattern.match(n)]
    except OSError:
        return
    for name in names:
        stale = os.path.join(directory, name)
        try:
            fd = os.open(stale, os.O_RDONLY | os.O_NOFOLLOW)
        except OSError:
            continue
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:
            continue  # a live writer holds it (or the file system has no locks)
        else:
            with contextlib.suppress(OSError):
                os.unlink(stale)
        finally:
            os.close(fd)


@contextlib.contextmanager
def atomic_open(path, mode="w", **kwargs):
    """``open`` for writing whose result replaces ``path`` only when the
    block completes; ``mode`` is "w" or "wb" (text mode takes ``encoding``,
    ``newline`` as ``open`` does; UTF-8 by default)."""
    if mode not in ("w", "wb"):
        raise ValueError(f"atomic_open writes a new file: mode must be 'w' or 'wb', not {mode!r}")
    if mode == "w":
        kwargs.setdefault("encoding", "utf-8")
    with atomic_path(path) as tmp:
        with open(tmp, mode, **kwargs) as fh:
            yield fh
            fh.flush()


def _copy_mode(target, tmp):
    # mkstemp creates 0600; give the new file the old one's permissions, or
    # the usual ones (0666 less the umask) for a new file.
    try:
        mode = os.stat(target).st_mode & 0o7777
    except OSError:
        umask = os.umask(0)
        os.umask(umask)
        mode = 0o666 & ~umask
    os.chmod(tmp, mode)
