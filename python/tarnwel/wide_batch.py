"""Batches of the cells `DecodedMessage.take` gives, joined into columns a whole batch at a time.

Messages of one kind (a file of SYNOPs) give the same keys, widths and types, so a batch is
kept as groups of alike messages: each group's cells are joined in one call per column and
cut into ranks with one reshape, and no Python code runs per message and column.
"""

from __future__ import annotations

from collections.abc import Mapping
from itertools import chain
from typing import Any

import numpy as np

from tarnwel.columns import column_name, row_indexes


class _Group:
    """Alike messages of a batch: their cell tuples (one entry per key) and where their rows are."""

    __slots__ = ("keys", "texts", "widths", "cells", "pieces")

    def __init__(self, keys: tuple[str, ...], texts: tuple[bool, ...], widths: tuple[int, ...]) -> None:
        self.keys = keys
        self.texts = texts
        self.widths = widths
        self.cells: list[tuple[Any, ...]] = []
        self.pieces: list[int] = []  # the pieces of the batch, in order


class TakenBatch:
    """Taken cells gathered until they are worth filtering in one go; `ranks` gives, for each
    key, the ranks the frame keeps."""

    def __init__(self, ranks: Mapping[str, set[int]]) -> None:
        self._ranks = {key: sorted(wanted) for key, wanted in ranks.items()}
        self._groups: dict[tuple[Any, ...], _Group] = {}
        self._pieces: list[tuple[int, int, int]] = []
        self.rows = 0
        self.cells = 0

    @property
    def pieces(self) -> list[tuple[int, int, int]]:
        return self._pieces

    def add(
        self, sequence: int, message: int, rows: int, taken: tuple[tuple[Any, ...], ...],
    ) -> tuple[str, ...] | None:
        """Adds one message's taken cells (see `parallel`); returns its keys when the batch has
        not met their like before (so that their elements are described once), else None."""
        keys, cells, texts, widths = taken
        shape = (keys, texts, widths)
        group = self._groups.get(shape)
        new = group is None
        if group is None:
            group = self._groups[shape] = _Group(keys, texts, widths)
        group.cells.append(cells)
        group.pieces.append(len(self._pieces))
        self._pieces.append((sequence, message, rows))
        self.rows += rows
        self.cells += rows * len(keys)
        return keys if new else None

    def __len__(self) -> int:
        return len(self._pieces)

    def take(self) -> tuple[int, dict[str, np.ndarray]]:
        """All rows so far as one array per column, with the internal columns ``\\0sequence``,
        ``\\0message`` and ``\\0subset``; the batch is emptied."""
        pieces, groups = self._pieces, list(self._groups.values())
        self._pieces, self._groups, self.rows, self.cells = [], {}, 0, 0
        counts = np.array([rows for _, _, rows in pieces], dtype=np.int64)
        rows, arrays = int(counts.sum()), row_indexes(pieces, counts)
        parts: dict[str, list[tuple[np.ndarray | None, np.ndarray]]] = {}
        for group in groups:
            where = None if len(groups) == 1 else _rows_of(group.pieces, counts)
            for name, values in _group_columns(group, self._ranks):
                parts.setdefault(name, []).append((where, values))
        for name, found in parts.items():
            arrays[name] = _scatter(found, rows)
        return rows, arrays


def parallel(taken: list[tuple[str, Any, bool, int]]) -> tuple[tuple[Any, ...], ...]:
    """`DecodedMessage.take`'s (key, cells, text, width) entries as the four tuples of keys,
    cells, text flags and widths that `_core.decode_take` gives."""
    return tuple(zip(*taken)) if taken else ((), (), (), ())


def _group_columns(group: _Group, ranks: Mapping[str, list[int]]) -> list[tuple[str, np.ndarray]]:
    """The kept ranks of each key of a group, over the group's rows."""
    columns = []
    for key, cells, text, width in zip(group.keys, zip(*group.cells), group.texts, group.widths):
        if text:
            values: np.ndarray = np.empty(sum(map(len, cells)), dtype=object)
            values[:] = list(chain.from_iterable(cells))
        else:
            values = np.frombuffer(bytearray().join(cells), dtype=np.float64)
        if width > 1:
            values = values.reshape(-1, width)
        for rank in ranks.get(key, ()):
            if rank <= width:
                columns.append((column_name(key, rank), values if width == 1 else values[:, rank - 1]))
    return columns


def _rows_of(pieces: list[int], counts: np.ndarray) -> np.ndarray:
    """The batch rows of the given pieces, in order."""
    chosen = counts[pieces]
    starts = (np.cumsum(counts) - counts)[pieces]
    return np.arange(int(chosen.sum()), dtype=np.int64) + np.repeat(starts - (np.cumsum(chosen) - chosen), chosen)


def _scatter(found: list[tuple[np.ndarray | None, np.ndarray]], rows: int) -> np.ndarray:
    """One column from the groups' parts; rows no part has are missing (NaN, or None where a
    part holds texts)."""
    if len(found) == 1 and found[0][0] is None:
        return found[0][1]
    dtype = found[0][1].dtype if len({values.dtype for _, values in found}) == 1 else np.dtype(object)
    column = np.full(rows, None if dtype == object else np.nan, dtype=dtype)
    for where, values in found:
        column[where] = values
    return column
