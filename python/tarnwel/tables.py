"""Choosing the tables for each message, loading every table set once per file."""

from __future__ import annotations

import os
import warnings
from pathlib import Path
from typing import Sequence, Union

import _tarnwel

from tarnwel.errors import DecodeWarning
from tarnwel.locations import locate, locations_from_env, tables_for
from tarnwel.table_pack import pack_tables

PathLike = Union[str, "os.PathLike[str]"]

# Where system packages put ecCodes definitions (Debian's libeccodes-data, a local build).
SYSTEM_DEFINITIONS: tuple[Path, ...] = (
    Path("/usr/share/eccodes/definitions"),
    Path("/usr/local/share/eccodes/definitions"),
)


def default_definitions_root() -> str | None:
    """The first installed ecCodes definitions root, or None."""
    for root in SYSTEM_DEFINITIONS:
        if (root / "bufr" / "tables").is_dir():
            return str(root)
    return None


def selection_key(message: _tarnwel.BufrMessage) -> tuple[int, ...]:
    """The section 1 fields that choose a message's tables."""
    return (
        message.master_table_number,
        message.master_tables_version_number,
        message.local_tables_version_number,
        message.originating_centre,
        message.originating_subcentre,
    )


class NoTablesError(LookupError):
    """No table location is known for a message."""


class TableChooser:
    """Gives each message its TableSet.

    Resolution order: the caller's `tables` (used for every message); the caller's
    `definitions` locations, earlier ones first; the locations of the ``TARNWEL_TABLES``
    environment variable; then the tables that ship inside the package. A message whose
    master version is newer than every version there is decoded with the newest one, with a
    warning naming both; `master_version` replaces the message's version for the packed
    tables (for encoders that write a wrong one). Each location is an ecCodes
    definitions root, an ecCodes table directory or a directory of BUFRDC tables, told apart
    by what it holds. Loaded sets are cached by the section 1 fields that select them, so a
    file of 100,000 messages loads each distinct set once.
    """

    def __init__(
        self,
        tables: _tarnwel.TableSet | None = None,
        definitions: PathLike | Sequence[PathLike] | None = None,
        master_version: int | None = None,
    ) -> None:
        if tables is not None and not isinstance(tables, _tarnwel.TableSet):
            raise TypeError(f"tables must be a TableSet, not {type(tables).__name__}")
        self._tables = tables
        if definitions is None:
            given: list[PathLike] = []
        elif isinstance(definitions, (str, os.PathLike)):
            given = [definitions]
        else:
            given = list(definitions)
        self.locations = [locate(path) for path in given] + locations_from_env()
        self.master_version = master_version
        self._cache: dict[tuple[int, ...], _tarnwel.TableSet] = {}

    def tables_for(self, message: _tarnwel.BufrMessage) -> _tarnwel.TableSet:
        """The tables for `message`; ValueError (the loader's text) when they cannot be loaded."""
        if self._tables is not None:
            return self._tables
        key = selection_key(message)
        cached = self._cache.get(key)
        if cached is None:
            cached = self._cache[key] = self._load(message)
        return cached

    def _load(self, message: _tarnwel.BufrMessage) -> _tarnwel.TableSet:
        if self.master_version is None:
            for location in self.locations:
                found = tables_for(location, message)
                if found is not None:
                    return found
        wanted = self.master_version or message.master_tables_version_number
        packed = pack_tables(message.master_table_number, wanted, message.originating_centre,
                             message.originating_subcentre, message.local_tables_version_number)
        if packed.used_master_version != wanted:
            warnings.warn(
                f"master table version {wanted} is newer than every table available; "
                f"decoding with version {packed.used_master_version}",
                DecodeWarning, stacklevel=4,
            )
        return packed.tables
