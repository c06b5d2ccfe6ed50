"""Choosing the tables for each message, loading every table set once per file."""

from __future__ import annotations

import os
from pathlib import Path
from typing import Sequence, Union

import _tarnwel

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
    """Gives each message its TableSet: the caller's, or one loaded from a definitions root.

    Loaded sets are cached by the section 1 fields that select them, so a file of 100,000
    messages loads each distinct set once.
    """

    def __init__(
        self,
        tables: _tarnwel.TableSet | None = None,
        definitions: PathLike | Sequence[PathLike] | None = None,
    ) -> None:
        if tables is not None and not isinstance(tables, _tarnwel.TableSet):
            raise TypeError(f"tables must be a TableSet, not {type(tables).__name__}")
        self._tables = tables
        if definitions is None:
            roots = [default_definitions_root()]
        elif isinstance(definitions, (str, os.PathLike)):
            roots = [os.fspath(definitions)]
        else:
            roots = [os.fspath(root) for root in definitions]
        self._roots = [root for root in roots if root is not None]
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
        if not self._roots:
            raise NoTablesError(
                "no BUFR tables found: pass tables= or definitions=, or install ecCodes definitions"
            )
        return _tarnwel.TableSet.from_definitions(self._roots[0], message)
