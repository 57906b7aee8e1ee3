"""Command-line tool: ``python3 -m phenomd`` (or ``phenomd``).

    phenomd snr [CATALOG] [-o OUT.csv|.h5|.npz]  SNRs of binaries (no input: a
                                                 built-in example population)
    phenomd waterfall [-o FIG.png|.pdf|.svg]     SNR over any two parameters
    phenomd ratio --compare NOISE [-o FIG]       SNR ratio of two noise curves
    phenomd strain [CATALOG] [-o FIG]            h_c of binaries against noise
    phenomd horizon [-o FIG]                     redshift reached at an SNR
    phenomd warning [CATALOG] [-o OUT] [--figure FIG] [--map FIG]
                                                 detection time and SNR
                                                 accumulated before merger

Run ``phenomd COMMAND --help`` for the options.  The parts: ``_args``
(argparse), ``commands`` (one function per command), ``_runtime`` (what
the commands share: noise, inclination, distances, warnings, provenance);
tables and figures are read and written by ``phenomd.tables``.

Every fault a user can fix prints one ``phenomd COMMAND: error: ...`` line
and exits with status 2; Ctrl-C exits with status 130, SIGTERM 143 and
SIGHUP 129, each leaving every output as it was (outputs are replaced only
when complete; the temporary file is removed).
"""

from __future__ import annotations

import contextlib
import errno
import os
import sys

from ._runtime import RESULT_COLUMNS, CLIError

__all__ = ["main", "RESULT_COLUMNS", "CLIError", "build_parser"]


def build_parser():
    from ._args import build_parser as build

    return build()


def _os_message(exc):
    what = exc.strerror or str(exc)
    if exc.errno == errno.ENOSPC:
        what = "no space left on the device; the previous file, if any, is unchanged"
    name = exc.filename if exc.filename else None
    return f"{name}: {what}" if name else what


class _Terminated(BaseException):
    """SIGTERM or SIGHUP, raised in the main thread like Ctrl-C's
    KeyboardInterrupt, so that every output being written is abandoned
    and its temporary file removed on the way out."""

    def __init__(self, signum):
        super().__init__(signum)
        self.signum = signum


def _raise_terminated(signum, frame):
    raise _Terminated(signum)


@contextlib.contextmanager
def _terminating():
    """SIGTERM and SIGHUP end the command as Ctrl-C does (in the main
    thread only; the previous handlers are restored after)."""
    import signal
    import threading

    if threading.current_thread() is not threading.main_thread():
        yield
        return
    previous = {}
    for sig in (signal.SIGTERM, signal.SIGHUP):
        with contextlib.suppress(OSError, ValueError):
            previous[sig] = signal.signal(sig, _raise_terminated)
    try:
        yield
    finally:
        for sig, handler in previous.items():
            signal.signal(sig, handler)


def main(argv=None):
    """Run the command line ``argv`` (default sys.argv[1:]); returns the exit
    status: 0 done, 2 an error, 130 interrupted, 128 + N on signal N
    (SIGTERM 143, SIGHUP 129)."""
    with _terminating():
        return _main(argv)


def _main(argv):
    command = "?"
    try:
        from .._inputs import InputError
        from .._library import LibraryNotFoundError
        from ..noise import NoiseFileError
        from ..tables import TableError
        from ._args import parse

        parser, args = parse(argv)
        command = args.command
        try:
            return args.func(args)
        except (CLIError, InputError, NoiseFileError, LibraryNotFoundError, TableError) as exc:
            print(f"phenomd {command}: error: {exc}", file=sys.stderr)
            return 2
        except OSError as exc:
            if isinstance(exc, BrokenPipeError):
                raise
            print(f"phenomd {command}: error: {_os_message(exc)}", file=sys.stderr)
            return 2
        except MemoryError:
            # Sizes are checked before the large allocations; this is the
            # backstop for any other.
            print(f"phenomd {command}: error: out of memory; ask for less (a shorter --length, a smaller "
                  "catalog or grid)", file=sys.stderr)
            return 2
    except KeyboardInterrupt:
        print(f"\nphenomd {command}: interrupted; outputs left as they were", file=sys.stderr)
        return 130
    except _Terminated as exc:
        import signal

        name = signal.Signals(exc.signum).name
        print(f"\nphenomd {command}: stopped by {name}; outputs left as they were", file=sys.stderr)
        return 128 + exc.signum
    except BrokenPipeError:
        # The reader of stdout went away (e.g. `phenomd snr | head`): stop
        # quietly, and keep Python from reporting the failed final flush.
        try:
            devnull = os.open(os.devnull, os.O_WRONLY)
            os.dup2(devnull, sys.stdout.fileno())
        except (OSError, ValueError):
            pass
        return 0
