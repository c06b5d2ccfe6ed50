"""The `tarnwel` command line: ls, dump, export and lookup (and plot, where it is installed).

A bare file argument (`tarnwel FILE`) means `tarnwel dump FILE`.
"""

from __future__ import annotations

import argparse
import importlib
import importlib.util
import sys
from collections.abc import Sequence

from tarnwel.cli import dump, export, ls, lookup
from tarnwel.cli.common import PROGRAM, run

COMMANDS = {"ls": ls, "dump": dump, "export": export, "lookup": lookup}
PLOTTING = "tarnwel.plotting"


def build_parser() -> tuple[argparse.ArgumentParser, list[str]]:
    """The parser, and the names of its commands."""
    parser = argparse.ArgumentParser(
        prog=PROGRAM, description="Read BUFR (FM-94) messages: list, dump, export and look up.",
        epilog="`tarnwel FILE [options]` is `tarnwel dump FILE [options]`.",
    )
    subparsers = parser.add_subparsers(dest="command", metavar="COMMAND")
    for module in COMMANDS.values():
        module.add_command(subparsers)
    # The plot command lives in its own module, which may be left out of an install.
    if importlib.util.find_spec(PLOTTING) is not None:
        importlib.import_module(PLOTTING).add_plot_command(subparsers)
    return parser, list(subparsers.choices)


def with_command(argv: list[str], commands: Sequence[str]) -> list[str]:
    """Prefixes `dump` when the first argument names no command (`tarnwel FILE ...`)."""
    if argv and argv[0] not in commands and argv[0] not in ("-h", "--help"):
        return ["dump", *argv]
    return argv


def main(argv: Sequence[str] | None = None) -> int:
    parser, commands = build_parser()
    arguments = with_command(list(sys.argv[1:] if argv is None else argv), commands)
    if not arguments:
        parser.print_usage(sys.stderr)
        return 2
    args = parser.parse_args(arguments)
    return run(args.func, args)
