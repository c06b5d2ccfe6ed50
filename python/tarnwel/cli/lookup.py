"""`tarnwel lookup DESCRIPTOR...`: an element, a sequence's members or a code table, from the tables."""

from __future__ import annotations

import argparse
import json
import os
import sys
from pathlib import Path
from typing import IO, Any

import _tarnwel
from tarnwel import _core
from tarnwel.cli.common import say
from tarnwel.tables import default_definitions_root

# Code figures listed for one code or flag table at most (a table of 16 bits or more is rare).
MAX_FIGURES = 1 << 16
TABLE_UNITS = ("CODE TABLE", "FLAG TABLE")


def add_command(subparsers: Any) -> None:
    parser = subparsers.add_parser(
        "lookup", help="show descriptors from the BUFR tables",
        description="Show what the tables say of each descriptor: an element's name, unit, scale, "
                    "reference, width and ecCodes key, with its code or flag table; a sequence's "
                    "members; what a replication or operator does.",
    )
    parser.add_argument("descriptors", nargs="+", type=descriptor, metavar="DESCRIPTOR",
                        help="six digits FXXYYY, such as 012101 or 307080")
    parser.add_argument("--definitions", metavar="ROOT", default=None,
                        help="ecCodes definitions root holding bufr/tables (default: the installed one)")
    parser.add_argument("--master-version", type=int, metavar="N", default=None,
                        help="master tables version (default: the newest under ROOT)")
    parser.add_argument("--json", action="store_true", help="one JSON object per descriptor")
    parser.set_defaults(func=run_lookup)


def descriptor(text: str) -> int:
    """An argparse type: FXXYYY, leading zeros optional."""
    stripped = text.strip()
    if not stripped.isdigit() or len(stripped) > 6:
        raise argparse.ArgumentTypeError(f"a descriptor is six digits FXXYYY, not {text!r}")
    code = int(stripped)
    f, x, y = code // 100000, code // 1000 % 100, code % 1000
    if f > 3 or x > 63 or y > 255:
        raise argparse.ArgumentTypeError(f"{code:06d} is no descriptor: F is 0-3, XX 0-63, YYY 0-255")
    return code


def master_tables(root: str | None, version: int | None) -> tuple[int, _tarnwel.TableSet]:
    root = root or default_definitions_root()
    if root is None:
        raise ValueError("no ecCodes definitions found; install libeccodes-data or pass --definitions")
    wmo = Path(root) / "bufr" / "tables" / "0" / "wmo"
    versions = sorted(int(name) for name in _listdir(wmo) if name.isdigit())
    if not versions:
        raise ValueError(f"{root}: no master tables under bufr/tables/0/wmo")
    if version is None:
        version = versions[-1]
    elif version not in versions:
        raise ValueError(f"{root}: no master tables version {version} "
                         f"(there are {versions[0]} to {versions[-1]})")
    # The reading API's loader, so that a broken table file is named with its line.
    return version, _core.load_eccodes(str(wmo / str(version)))


def _listdir(path: Path) -> list[str]:
    try:
        return os.listdir(path)
    except OSError:
        return []


def code_table(tables: _tarnwel.TableSet, element: _tarnwel.ElementDefinition) -> list[tuple[int, str]]:
    # Flag tables are keyed by bit number, from 1 to width (and width + 1 for "all bits set").
    figures = min(max(1 << element.width, element.width + 2), MAX_FIGURES)
    entries = []
    for figure in range(figures):
        meaning = tables.get_meaning(element.code, figure)
        if meaning is not None:
            entries.append((figure, meaning))
    return entries


def summary(tables: _tarnwel.TableSet, code: int) -> str:
    """A few words on a descriptor, for the member list of a sequence."""
    f, x, y = code // 100000, code // 1000 % 100, code % 1000
    if f == 0:
        element = tables.get_element(code)
        return "(not in the tables)" if element is None else f"{element.abbreviation}  {element.name}"
    if f == 1:
        times = f"{y} times" if y else "delayed"
        return f"replication of the next {x} descriptor(s), {times}"
    if f == 2:
        return f"operator {x:02d} with {y}"
    sequence = tables.get_sequence(code)
    return "(not in the tables)" if sequence is None else f"sequence of {len(sequence.members)}"


def describe(tables: _tarnwel.TableSet, code: int) -> dict[str, Any] | None:
    f = code // 100000
    entry: dict[str, Any] = {"descriptor": f"{code:06d}"}
    if f == 0:
        element = tables.get_element(code)
        if element is None:
            return None
        entry.update(kind="element", name=element.name, key=element.abbreviation, unit=element.unit,
                     scale=element.scale, reference=element.reference, width=element.width)
        if element.unit in TABLE_UNITS:
            entry["table"] = [[figure, meaning] for figure, meaning in code_table(tables, element)]
        return entry
    if f == 3:
        sequence = tables.get_sequence(code)
        if sequence is None:
            return None
        entry.update(kind="sequence", members=[
            {"descriptor": f"{member:06d}", "summary": summary(tables, member)}
            for member in sequence.members
        ])
        return entry
    entry.update(kind="replication" if f == 1 else "operator", summary=summary(tables, code))
    return entry


def print_entry(entry: dict[str, Any], out: IO[str]) -> None:
    code, kind = entry["descriptor"], entry["kind"]
    if kind == "element":
        print(f"{code}  element  {entry['name']}", file=out)
        print(f"        key {entry['key']}, unit {entry['unit']}, scale {entry['scale']}, "
              f"reference {entry['reference']}, width {entry['width']}", file=out)
        if "table" in entry:
            print(f"        {entry['unit'].lower()}:", file=out)
            for figure, meaning in entry["table"]:
                print(f"        {figure:>6}  {meaning}", file=out)
    elif kind == "sequence":
        print(f"{code}  sequence of {len(entry['members'])}", file=out)
        for member in entry["members"]:
            print(f"        {member['descriptor']}  {member['summary']}", file=out)
    else:
        print(f"{code}  {entry['summary']}", file=out)


def run_lookup(args: argparse.Namespace) -> int:
    version, tables = master_tables(args.definitions, args.master_version)
    out = sys.stdout
    status = 0
    for code in args.descriptors:
        entry = describe(tables, code)
        if entry is None:
            say(f"{code:06d}: not in master tables version {version}")
            status = 1
        elif args.json:
            print(json.dumps(entry), file=out)
        else:
            print_entry(entry, out)
    return status
