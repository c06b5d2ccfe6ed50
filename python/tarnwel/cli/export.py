"""`tarnwel export FILE... -o OUT`: messages as a table in Parquet, CSV or JSON lines."""

from __future__ import annotations

import argparse
import os
import sys
from pathlib import Path
from typing import Any

from tarnwel import filters as conditions
from tarnwel.cli.common import add_common_options, say
from tarnwel.cli.writers import WRITERS
from tarnwel.dataframe import (
    LAYOUTS, FrameBuilder, HEADER_FILTER_FIELDS, Query, require_pandas, table_chooser,
)
from tarnwel.message import Message

FORMATS = {".parquet": "parquet", ".pq": "parquet", ".csv": "csv", ".jsonl": "json",
           ".ndjson": "json", ".json": "json"}


def add_command(subparsers: Any) -> None:
    parser = subparsers.add_parser(
        "export", help="write BUFR messages as a table (Parquet, CSV or JSON lines)",
        description="Decode BUFR files into one table, one row per subset (or per value with "
                    "--layout long), and write it as Parquet (.parquet, needs pyarrow), CSV "
                    "(.csv) or JSON lines (.jsonl, .ndjson, .json), chosen by OUT's suffix. "
                    "Messages are read and written a batch at a time, so memory is bounded by "
                    "a batch, not by the input. Without --columns the wide layout has a "
                    "column for every key met, in the order first met, empty in the rows "
                    "before it first appears: JSON lines rows name the columns met up to "
                    "their batch, while CSV and Parquet, which fix their columns before the "
                    "first row, keep the batches in a temporary spool beside OUT until the "
                    "last one is read. OUT is written under a temporary name and replaced "
                    "only once complete.",
    )
    parser.add_argument("files", nargs="+", metavar="FILE", help="files of BUFR messages")
    parser.add_argument("-o", "--output", required=True, metavar="OUT", help="the table to write")
    parser.add_argument("--columns", action="append", metavar="A,B,...",
                        help="columns to write, in order (ranked names like #2#key and "
                             "data_datetime, WMO_station_id, message, subset too); repeatable; "
                             "default: every key")
    parser.add_argument("--filter", dest="filters", action="append", default=[],
                        type=_filter, metavar="KEY=VALUE",
                        help="keep rows whose KEY is VALUE, one of A,B,... or in LO:HI (inclusive, "
                             "either end may be left out); a header field (data_category, "
                             "typical_year, ...) filters whole messages; repeatable")
    parser.add_argument("--layout", choices=LAYOUTS, default="wide",
                        help="wide: one row per subset (default); long: one row per value")
    add_common_options(parser)
    parser.set_defaults(func=run_export)


def _filter(text: str) -> tuple[str, conditions.Condition]:
    try:
        return conditions.parse_filter(text)
    except ValueError as error:
        raise argparse.ArgumentTypeError(str(error)) from None


def output_format(path: str) -> str:
    suffix = Path(path).suffix.lower()
    if suffix not in FORMATS:
        raise ValueError(
            f"{path}: cannot tell the format from the suffix {suffix or '(none)'}; "
            "use .parquet, .csv, .jsonl, .ndjson or .json"
        )
    return FORMATS[suffix]


class Progress:
    """A bar over the bytes of every file, with the file and message count beside it; shown
    only when stderr is a terminal."""

    def __init__(self, paths: list[str]) -> None:
        from tqdm import tqdm  # type: ignore[import-untyped]

        self._sizes = [_size(path) for path in paths]
        self._bar = tqdm(total=sum(self._sizes), unit="B", unit_scale=True, file=sys.stderr,
                         disable=not sys.stderr.isatty(), leave=False, dynamic_ncols=True)
        self._files = len(paths)
        self._done = 0  # bytes of the files already finished
        self._position = 0
        self._messages = 0

    def start(self, number: int, path: str) -> None:
        self._bar.set_description_str(f"file {number + 1}/{self._files} {os.path.basename(path)}",
                                      refresh=False)

    def message(self, message: Message) -> None:
        self._messages += 1
        end = self._done + message.offset + message.length
        if end > self._position:
            self._bar.update(end - self._position)
            self._position = end
        if self._messages % 64 == 0:
            self._bar.set_postfix_str(f"{self._messages} messages", refresh=False)

    def finish_file(self, number: int) -> None:
        self._done += self._sizes[number]
        if self._done > self._position:
            self._bar.update(self._done - self._position)
            self._position = self._done

    def close(self) -> None:
        self._bar.close()


def _size(path: str) -> int:
    try:
        return os.path.getsize(path)
    except OSError:
        return 0


def run_export(args: argparse.Namespace) -> int:
    kind = output_format(args.output)
    require_pandas()
    columns = None
    if args.columns:
        columns = [name for group in args.columns for name in group.split(",") if name]
    row_filters, header_filters = conditions.split_filters(dict(args.filters), HEADER_FILTER_FIELDS)
    query = Query.make(columns, row_filters, header_filters, args.layout)
    fixed = None if query.layout == "wide" and query.requests is None else query.output_names(())
    writer = WRITERS[kind](args.output, fixed, query.layout)
    progress = Progress(args.files)
    builder = FrameBuilder(query, chooser=table_chooser(None, args.definitions), errors=args.errors,
                           on_message=progress.message, on_batch=writer.write)
    try:
        for number, path in enumerate(args.files):
            progress.start(number, path)
            with builder.reader(path) as reader:
                builder.read(reader)
            progress.finish_file(number)
        builder.finish()
        writer.finish()
    except BaseException:
        writer.discard()
        raise
    finally:
        progress.close()
    counts = builder.counts
    say(f"{args.output}: {counts.rows} rows from {counts.written} messages written; "
        f"{counts.skipped} skipped, {counts.failed} failed")
    return 0
