"""What every subcommand shares: its common options, opening files, and one-line errors."""

from __future__ import annotations

import argparse
import os
import sys
import warnings
from typing import Any, Callable

from tarnwel.errors import ERROR_POLICIES, DecodeError, DecodeWarning
from tarnwel.reader import Reader

PROGRAM = "tarnwel"


def add_common_options(parser: argparse.ArgumentParser) -> None:
    parser.add_argument(
        "--definitions", metavar="ROOT", default=None,
        help="ecCodes definitions root holding bufr/tables (default: the installed one)",
    )
    parser.add_argument(
        "--errors", choices=ERROR_POLICIES, default="raise",
        help="what a broken message does: stop with an error (raise, the default), "
             "print a warning and go on (warn), or go on quietly (skip)",
    )


def count(text: str) -> int:
    """An argparse type: a whole number of at least 0."""
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if value < 0:
        raise argparse.ArgumentTypeError(f"must be 0 or more, not {value}")
    return value


def open_reader(path: str, args: argparse.Namespace, **options: Any) -> Reader:
    return Reader(path, definitions=args.definitions, errors=args.errors, **options)


def say(text: str) -> None:
    """One line on stderr, after the program's name."""
    print(f"{PROGRAM}: {text}", file=sys.stderr)


def _warn_on_one_line(message: Any, *_: Any, **__: Any) -> None:
    say(f"warning: {message}")


def run(command: Callable[[argparse.Namespace], int], args: argparse.Namespace) -> int:
    """Runs a subcommand: its failures become one line on stderr and status 1, a closed
    pipe on stdout ends quietly with status 0."""
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("always", DecodeWarning)
            warnings.showwarning = _warn_on_one_line
            status = command(args)
            sys.stdout.flush()
        return status
    except BrokenPipeError:
        _silence_stdout()
        return 0
    except DecodeError as error:
        say(str(error))
    except OSError as error:
        where = error.filename if error.filename is not None else ""
        say(f"{where}: {error.strerror or error}" if where else str(error.strerror or error))
    except (ImportError, ValueError) as error:
        say(str(error))
    except KeyboardInterrupt:
        return 130
    return 1


def _silence_stdout() -> None:
    """Points stdout at /dev/null so that the interpreter's last flush finds no closed pipe."""
    try:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, sys.stdout.fileno())
        os.close(devnull)
    except (OSError, ValueError):
        pass
