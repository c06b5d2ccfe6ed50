"""`tarnwel ls FILE...`: one line per message, from sections 0 to 3 only."""

from __future__ import annotations

import argparse
import json
import sys
from typing import Any

from tarnwel.cli.common import add_common_options, open_reader
from tarnwel.message import Message

COLUMNS = ("index", "offset", "length", "ed", "centre", "cat", "subsets", "comp", "tables",
           "typical time", "descriptors")
LINE = "{:>6} {:>10} {:>8} {:>3} {:>8} {:>4} {:>7} {:>4} {:>6}  {:<19}  {}"


def add_command(subparsers: Any) -> None:
    parser = subparsers.add_parser(
        "ls", help="list the messages of BUFR files",
        description="One line per message: index, offset, length, edition, centre/subcentre, "
                    "data category, subsets, compression, master/local table versions, typical "
                    "date and time, and the unexpanded descriptors. Section 4 is not decoded.",
    )
    parser.add_argument("files", nargs="+", metavar="FILE", help="files of BUFR messages")
    parser.add_argument("--json", action="store_true", help="one JSON object per message")
    add_common_options(parser)
    parser.set_defaults(func=run_ls)


def typical_time(message: Message) -> str:
    return (f"{message.typical_year:04d}-{message.typical_month:02d}-{message.typical_day:02d} "
            f"{message.typical_hour:02d}:{message.typical_minute:02d}:{message.typical_second:02d}")


def line(message: Message) -> str:
    return LINE.format(
        message.index, message.offset, message.length, message.edition,
        f"{message.originating_centre}/{message.originating_subcentre}", message.data_category,
        message.number_of_subsets, "yes" if message.compressed_data else "no",
        f"{message.master_tables_version_number}/{message.local_tables_version_number}",
        typical_time(message), " ".join(f"{code:06d}" for code in message.unexpanded_descriptors),
    )


def record(path: str, message: Message) -> dict[str, Any]:
    fields: dict[str, Any] = {"file": path}
    fields.update(message.header())
    fields["unexpanded_descriptors"] = [f"{code:06d}" for code in message.unexpanded_descriptors]
    return fields


def run_ls(args: argparse.Namespace) -> int:
    out = sys.stdout
    if not args.json:
        print(LINE.format(*COLUMNS), file=out)
    for path in args.files:
        with open_reader(path, args) as reader:
            if not args.json and len(args.files) > 1:
                print(f"{path}:", file=out)
            for message in reader:
                print(json.dumps(record(path, message)) if args.json else line(message), file=out)
    return 0
