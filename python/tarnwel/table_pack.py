"""BUFR tables that ship with the package: the table pack, and the tables a message's section 1 selects from it.

The pack (tables/pack.bin, made by scripts/build_table_pack.py) holds every master table version and local table
of the ecCodes definitions, and newer versions from WMO. A message gets its master tables, with its local tables
laid over them code by code when the pack has them, chosen as from a definitions root on disk. Loaded sets are
kept for the life of the process: there are only as many as the pack has directories.
"""

from __future__ import annotations

import array
import json
import pathlib
import struct
import sys
import threading
import zlib
from typing import NamedTuple

from _tarnwel import TableSet

from tarnwel import _core

__all__ = ["PackTables", "pack_tables", "pack_versions", "pack_local_tables"]

PACK_PATH = pathlib.Path(__file__).resolve().parent / "tables" / "pack.bin"

_MAGIC = b"TARNWEL TABLE PACK\n\0"
_FORMAT = 1
_NONE = 0xFFFFFFFF

_NO_MASTER_TABLE = "the table pack has no BUFR master table {table} (it has {known})"
_NO_VERSION = "the table pack has no version {version} of BUFR master table {table} (it has {known})"
_BAD_PACK = "table pack {path} is damaged: {reason}"


_Text = bytes | memoryview


class PackTables(NamedTuple):
    """The tables for a message, and the master version they are (newer than the message's only by fallback)."""

    tables: TableSet
    used_master_version: int


class _Pack:
    """The pack file, read once; texts are inflated only when a unit is loaded."""

    def __init__(self, path: pathlib.Path) -> None:
        data = path.read_bytes()
        head = len(_MAGIC) + 8
        if not data.startswith(_MAGIC) or len(data) < head:
            raise ValueError(_BAD_PACK.format(path=path, reason="not a table pack"))
        version, index_length = struct.unpack_from("<II", data, len(_MAGIC))
        if version != _FORMAT:
            raise ValueError(_BAD_PACK.format(path=path, reason=f"format {version}, expected {_FORMAT}"))
        index = json.loads(zlib.decompress(data[head : head + index_length]))
        self.payload = memoryview(data)[head + index_length :]
        self.groups = index["groups"]
        self.units = index["units"]
        self.sources = index["sources"]
        self.masters = {int(t): {int(v): u for v, u in versions.items()} for t, versions in index["masters"].items()}
        self.locals = {int(t): dict(names) for t, names in index["locals"].items()}

    def unit_texts(self, unit: int) -> tuple[_Text | None, _Text | None, dict[int, _Text]]:
        """(element.table, sequence.def, {code: code table}) of one directory, as UTF-8: bytes, or views of the
        inflated groups, which they keep alive."""
        offset, length = self.units[unit]
        words = array.array("I")
        words.frombytes(zlib.decompress(self.payload[offset : offset + length], -15))
        if sys.byteorder == "big":
            words.byteswap()
        record = words.tolist()
        inflated: dict[int, memoryview] = {}

        def inflate(group: int) -> memoryview:
            group_offset, group_length, raw_length = self.groups[group]
            packed = self.payload[group_offset : group_offset + group_length]
            text = inflated[group] = memoryview(zlib.decompress(packed, -15, raw_length))
            return text

        def pieces(first: int, step: int, count: int):
            # (text of the piece's group, start, end) of `count` pieces, `step` words apart from `first`.
            for group, start, size in zip(record[first : first + step * count : step],
                                          record[first + 1 : first + step * count : step],
                                          record[first + 2 : first + step * count : step]):
                text = inflated.get(group)
                yield inflate(group) if text is None else text, start, start + size

        position = 0
        texts: list[bytes | memoryview | None] = []
        for _ in range(2):
            count = record[position]
            if count == _NONE:
                texts.append(None)
                position += 1
                continue
            # Pieces that follow one another in a group are taken as one slice, and a single slice as it is.
            spans: list[list] = []
            for text, start, end in pieces(position + 1, 3, count):
                if spans and spans[-1][0] is text and spans[-1][2] == start:
                    spans[-1][2] = end
                else:
                    spans.append([text, start, end])
            slices = [text[start:end] for text, start, end in spans]
            texts.append(slices[0] if len(slices) == 1 else b"".join(slices))
            position += 1 + 3 * count
        count = record[position]
        codes = record[position + 1 : position + 1 + 4 * count : 4]
        code_tables = {code: text[start:end] for code, (text, start, end) in zip(codes, pieces(position + 2, 4, count))}
        return texts[0], texts[1], code_tables


_lock = threading.Lock()
_pack: _Pack | None = None
_sets: dict[tuple[int, ...], TableSet] = {}


def _the_pack() -> _Pack:
    global _pack
    with _lock:
        if _pack is None:
            _pack = _Pack(PACK_PATH)
        return _pack


def _load(key: tuple[int, ...], base: TableSet | None) -> TableSet:
    """The set of unit key[-1] (over `base`, the set of key[:-1]), made once per process."""
    tables = _sets.get(key)
    if tables is None:
        element_table, sequence_def, code_tables = _the_pack().unit_texts(key[-1])
        tables = _core.tables_from_texts(element_table, sequence_def, code_tables, base)
        # Two threads may load the same unit at once; both then hand out the first one kept.
        tables = _sets.setdefault(key, tables)
    return tables


def _known_versions(versions: list[int]) -> str:
    return ", ".join(map(str, sorted(versions)))


def pack_tables(master_table_number: int, master_version: int, centre: int, subcentre: int,
                local_version: int) -> PackTables:
    """The tables of a message with these section 1 fields, as a definitions root on disk gives them.

    A master version newer than every one in the pack falls back to the newest: `used_master_version` then differs
    from `master_version`. Local tables apply when `local_version` is not 0 and the pack has them for the centre and
    subcentre (version "19-<local>" under master version 19). Raises ValueError for a master table the pack lacks.
    """
    pack = _the_pack()
    versions = pack.masters.get(master_table_number)
    if versions is None:
        raise ValueError(_NO_MASTER_TABLE.format(table=master_table_number,
                                                 known=_known_versions(list(pack.masters))))
    used = master_version
    if master_version not in versions:
        if master_version < max(versions):
            raise ValueError(_NO_VERSION.format(version=master_version, table=master_table_number,
                                                known=_known_versions(list(versions))))
        used = max(versions)
    master_unit = versions[used]
    tables = _load((master_unit,), None)
    if local_version != 0:
        # As on disk, the name comes from the message's own master version, not the one used.
        name = f"{'19-' if master_version == 19 else ''}{local_version}/{centre}/{subcentre}"
        local_unit = pack.locals.get(master_table_number, {}).get(name)
        if local_unit is not None:
            tables = _load((master_unit, local_unit), tables)
    return PackTables(tables, used)


def pack_versions() -> dict[int, tuple[int, ...]]:
    """{master table number: its versions in the pack, oldest first}."""
    return {table: tuple(sorted(versions)) for table, versions in sorted(_the_pack().masters.items())}


def pack_local_tables() -> dict[int, tuple[str, ...]]:
    """{master table number: its local tables, as "<local version>/<centre>/<subcentre>"}."""
    return {table: tuple(names) for table, names in sorted(_the_pack().locals.items())}
