"""`tarnwel dump FILE`: every message's values as a table, one message decoded at a time."""

from __future__ import annotations

import argparse
import json
import math
import sys
from typing import IO, Any

import numpy as np

import _tarnwel
from tarnwel.cli.common import add_common_options, count, open_reader, say
from tarnwel.errors import DecodeError
from tarnwel.message import Message


def add_command(subparsers: Any) -> None:
    parser = subparsers.add_parser(
        "dump", help="print the decoded values of a BUFR file",
        description="Decode every message of a file and print its values: descriptor, key, "
                    "value and unit. `tarnwel FILE` is the same as `tarnwel dump FILE`.",
    )
    parser.add_argument("file", metavar="FILE", help="a file of one or more BUFR messages")
    parser.add_argument("--subset", type=count, metavar="N",
                        help="only subset N of each message that has one (counted from 0)")
    parser.add_argument("--max-values", type=count, metavar="N", default=None,
                        help="print at most N values per message")
    parser.add_argument("--json", action="store_true",
                        help="one JSON object per message, its values in a list")
    add_common_options(parser)
    parser.set_defaults(func=run_dump)


def format_number(value: float | None) -> str:
    if value is None:
        return "missing"
    if math.isfinite(value) and value == int(value) and abs(value) < 1e15:
        return str(int(value))
    return repr(value)


def unit_of(value: _tarnwel.DecodedValue, tables: _tarnwel.TableSet) -> str:
    element = tables.get_element(value.descriptor)
    return element.unit if element is not None else ""


def describe(value: _tarnwel.DecodedValue, tables: _tarnwel.TableSet) -> tuple[str, str]:
    """(value, unit) as the table shows them."""
    if value.raw_text is not None:
        # Fixed-width texts are often padded with NUL octets; they carry nothing to read.
        return repr(value.raw_text.rstrip("\x00")), ""
    if value.raw_meaning is not None:
        return f"{format_number(value.raw_value)} ({value.raw_meaning})", ""
    if value.name == "operator":
        return "", ""
    if value.raw_value is None and value.raw is None:
        return "missing", unit_of(value, tables)
    return format_number(value.raw_value), unit_of(value, tables)


def value_subsets(message: Message, values: list[_tarnwel.DecodedValue]) -> np.ndarray:
    """The subset of each value. Values come subset after subset; the long rows give the
    subset of every value but operator markers, which go with the value after them."""
    subsets = np.asarray(message.to_long()["subset"], dtype=np.int64)
    placed = np.array([value.name != "operator" for value in values], dtype=bool)
    if int(placed.sum()) != len(subsets):
        raise message.error("values and their subsets do not line up")
    if not len(subsets):
        return np.zeros(len(values), dtype=np.int64)
    before = np.cumsum(placed) - placed
    return subsets[np.minimum(before, len(subsets) - 1)]


def chosen_values(message: Message, subset: int | None) -> list[_tarnwel.DecodedValue]:
    values = message.values()
    if subset is None:
        return values
    where = value_subsets(message, values)
    return [value for value, in_subset in zip(values, where == subset) if in_subset]


def heading(message: Message, values: int) -> str:
    return (
        f"message {message.index}: centre {message.originating_centre}, "
        f"category {message.data_category}, {message.number_of_subsets} subset(s), "
        f"{'compressed' if message.compressed_data else 'uncompressed'}, "
        f"master tables {message.master_tables_version_number}, {values} values"
    )


def print_table(message: Message, values: list[_tarnwel.DecodedValue], shown: int,
                out: IO[str]) -> None:
    tables = message.tables
    print(heading(message, len(values)), file=out)
    for value in values[:shown]:
        text, unit = describe(value, tables)
        print(f"  {value.descriptor:06d}  {value.name[:48]:<48}  {text} {unit}".rstrip(), file=out)
    if shown < len(values):
        print(f"  ... {len(values) - shown} more values", file=out)


def json_value(value: _tarnwel.DecodedValue, tables: _tarnwel.TableSet) -> dict[str, Any]:
    number = value.raw_value
    data: Any = value.raw_text if value.raw_text is not None else number
    if isinstance(data, float) and math.isfinite(data) and data == int(data) and abs(data) < 1e15:
        data = int(data)
    element = tables.get_element(value.descriptor)
    return {"descriptor": f"{value.descriptor:06d}",
            "key": element.abbreviation if element is not None else None, "name": value.name,
            "value": data, "unit": element.unit if element is not None else None,
            "meaning": value.raw_meaning}


def print_json(message: Message, values: list[_tarnwel.DecodedValue], shown: int,
               out: IO[str], path: str) -> None:
    tables = message.tables
    fields: dict[str, Any] = {"file": path}
    fields.update(message.header())
    fields["unexpanded_descriptors"] = [f"{code:06d}" for code in message.unexpanded_descriptors]
    fields["value_count"] = len(values)
    fields["values"] = [json_value(value, tables) for value in values[:shown]]
    print(json.dumps(fields), file=out)


def dump_message(message: Message, args: argparse.Namespace, out: IO[str]) -> bool:
    """Prints one message (False: it has no subset ``--subset``). A function of its own, so
    that one message's values are freed before the next is decoded."""
    if args.subset is not None and args.subset >= message.number_of_subsets:
        return False
    values = chosen_values(message, args.subset)
    shown = len(values) if args.max_values is None else min(args.max_values, len(values))
    if args.json:
        print_json(message, values, shown, out, args.file)
    else:
        print_table(message, values, shown, out)
    return True


def run_dump(args: argparse.Namespace) -> int:
    out = sys.stdout
    found = shown = 0
    with open_reader(args.file, args) as reader:
        for message in reader:
            found += 1
            try:
                shown += dump_message(message, args, out)
            except DecodeError as error:
                reader.failed(error)
        failed = reader.counts.failed
    if found == 0 and failed == 0:
        say(f"{args.file}: no BUFR message found")
        return 1
    if found and not shown and args.subset is not None:
        say(f"{args.file}: no message has a subset {args.subset}")
        return 1
    return 0
