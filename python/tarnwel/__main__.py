"""Command line: decode every message of a BUFR file and print its values as a table.

    python -m tarnwel FILE [--definitions ROOT] [--max-values N]
"""

import argparse
import math
import pathlib
import sys

import _tarnwel

# Where the install step puts ecCodes definitions (Debian's libeccodes-data).
DEFAULT_DEFINITIONS = (
    pathlib.Path("/usr/share/eccodes/definitions"),
    pathlib.Path("/usr/local/share/eccodes/definitions"),
)


def default_definitions_root():
    for root in DEFAULT_DEFINITIONS:
        if (root / "bufr" / "tables").is_dir():
            return str(root)
    return None


def message_chunks(data):
    """Yields the bytes of each message, located as the module's scanner does."""
    position = 0
    while True:
        start = data.find(b"BUFR", position)
        if start < 0 or len(data) - start < 8:
            return
        length = int.from_bytes(data[start + 4 : start + 7], "big")
        if length == 0:
            return
        yield data[start : start + length]
        position = start + length


def format_number(value):
    if value is None:
        return "missing"
    if math.isfinite(value) and value == int(value) and abs(value) < 1e15:
        return str(int(value))
    return repr(value)


def describe_value(value, tables):
    if value.raw_text is not None:
        # Fixed-width texts are often padded with NUL octets; they carry nothing to read.
        return repr(value.raw_text.rstrip("\x00")), ""
    if value.raw_meaning is not None:
        return f"{format_number(value.raw_value)} ({value.raw_meaning})", ""
    element = tables.get_element(value.descriptor)
    unit = element.unit if element is not None else ""
    if value.name == "operator":
        return "", ""
    if value.raw_value is None and value.raw is None:
        return "missing", unit
    return format_number(value.raw_value), unit


def print_message(index, message, values, tables, max_values, out):
    print(
        f"message {index}: centre {message.originating_centre}, category {message.data_category}, "
        f"{message.number_of_subsets} subset(s), "
        f"{'compressed' if message.compressed_data else 'uncompressed'}, "
        f"master tables {message.master_tables_version_number}, {len(values)} values",
        file=out,
    )
    shown = values if max_values is None else values[:max_values]
    for value in shown:
        text, unit = describe_value(value, tables)
        code = f"{value.descriptor:06d}"
        print(f"  {code}  {value.name[:48]:<48}  {text} {unit}".rstrip(), file=out)
    if len(shown) < len(values):
        print(f"  ... {len(values) - len(shown)} more values", file=out)


def decode_file(path, definitions, max_values, out=sys.stdout):
    data = pathlib.Path(path).read_bytes()
    table_cache = {}
    count = 0
    for index, chunk in enumerate(message_chunks(data), start=1):
        message = _tarnwel.parse_bytes(chunk)
        key = (
            message.master_table_number,
            message.master_tables_version_number,
            message.local_tables_version_number,
            message.originating_centre,
            message.originating_subcentre,
        )
        if key not in table_cache:
            table_cache[key] = _tarnwel.TableSet.from_definitions(definitions, message)
        tables = table_cache[key]
        values = _tarnwel.decode_values_with_tables(chunk, tables)
        print_message(index, message, values, tables, max_values, out)
        count += 1
    return count


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="tarnwel", description="Decode BUFR edition 4 messages and print their values."
    )
    parser.add_argument("file", help="a file of one or more BUFR messages")
    parser.add_argument(
        "--definitions",
        metavar="ROOT",
        default=None,
        help="ecCodes definitions root holding bufr/tables (default: the installed one)",
    )
    parser.add_argument(
        "--max-values", type=int, default=None, metavar="N", help="print at most N values per message"
    )
    args = parser.parse_args(argv)
    definitions = args.definitions or default_definitions_root()
    if definitions is None:
        parser.error("no ecCodes definitions found; install libeccodes-data or pass --definitions")
    try:
        count = decode_file(args.file, definitions, args.max_values)
    except (ValueError, OSError) as error:
        print(f"tarnwel: {args.file}: {error}", file=sys.stderr)
        return 1
    if count == 0:
        print(f"tarnwel: {args.file}: no BUFR message found", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
