"""`tarnwel.read_dataframe`: BUFR messages as a pandas DataFrame, one row per subset or per value.

Messages are decoded one at a time; only the arrays of the columns asked for (and those the
filters and computed columns need) are kept, gathered into batches, filtered with NumPy and
pandas a batch at a time, and joined into one frame at the end.
"""

from __future__ import annotations

import operator
import os
import re
from collections import Counter
from collections.abc import Callable, Iterable, Mapping, Sequence
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any

import numpy as np

import _tarnwel
from tarnwel import _core
from tarnwel import filters as conditions
from tarnwel.columns import (
    COMPUTED_COLUMNS, LONG_COLUMNS, Batch, Request, column_name, combine, computed_column,
    computed_dependencies, parse_request, shape,
)
from tarnwel.errors import DecodeError, check_policy
from tarnwel.message import HEADER_FIELDS, Message
from tarnwel.reader import DEFAULT_MAX_VALUES, Reader
from tarnwel.sources import Source
from tarnwel.tables import PathLike, TableChooser
from tarnwel.wide_batch import TakenBatch, parallel

if TYPE_CHECKING:
    import pandas as pd

LAYOUTS = ("wide", "long")
_first = operator.itemgetter(0)
# Fields a header filter may name: the message's header and where it was found.
HEADER_FILTER_FIELDS = frozenset(HEADER_FIELDS) | {"index", "offset", "length"}
# A batch is filtered and trimmed once it holds this many rows or cells.
BATCH_ROWS = 1 << 16
BATCH_CELLS = 1 << 22
# Keys that `DecodedMessage.take` also finds by descriptor code; a frame finds columns by name.
_CODE_KEY = re.compile(r"[0-9]{6}(->associatedField)?")
# The most cells a frame may have (4 GiB of float64): a wide frame of unlike messages has a
# column for every key and rank of any of them, and every row has them all.
MAX_CELLS = 1 << 29


def require_pandas() -> Any:
    """The pandas module, or an ImportError that names the extra to install."""
    try:
        import pandas
    except ImportError:
        raise ImportError(
            "tarnwel.read_dataframe needs pandas: pip install 'tarnwel[pandas]'"
        ) from None
    return pandas


class Described(dict):  # type: ignore[type-arg]
    """A frame's attrs entry of column descriptions, shared (not copied) by the frames pandas
    derives from it: pandas deep-copies attrs on every column access, which for a frame of
    thousands of columns would cost more than the access. Treat it as read-only."""

    def __deepcopy__(self, memo: dict[int, Any]) -> "Described":
        return self


@dataclass
class FrameCounts:
    """Messages read so far: those that gave rows, those left out by the filters, those that failed."""

    written: int = 0
    skipped: int = 0
    failed: int = 0
    rows: int = 0


@dataclass
class Query:
    """What `read_dataframe` was asked for, checked once before any message is read."""

    layout: str
    requests: list[Request] | None
    filters: dict[str, conditions.Condition]
    header_filters: dict[str, conditions.Condition]
    computed: list[str] = field(default_factory=list)
    # Element key -> the ranks to keep; None: every key and rank.
    ranks: dict[str, set[int]] | None = None
    # The keys to take from each message in one call, when every one is a name.
    keys: list[str] | None = None
    # No key starts with a digit: none can be the name of a column named by its code.
    plain_keys: bool = False

    @classmethod
    def make(
        cls,
        columns: Iterable[str] | None,
        filters: Mapping[str, Any] | None,
        header_filters: Mapping[str, Any] | None,
        layout: str,
    ) -> "Query":
        if layout not in LAYOUTS:
            raise ValueError(f"layout must be 'wide' or 'long', not {layout!r}")
        if isinstance(columns, str):
            columns = [columns]
        requests = None if columns is None else [parse_request(name, layout) for name in columns]
        counted = Counter(request.name for request in requests or ())
        twice = sorted(name for name, times in counted.items() if times > 1)
        if twice:
            raise ValueError(f"columns: {', '.join(map(repr, twice))} asked for more than once")
        query = cls(layout, requests, dict(filters or {}), dict(header_filters or {}))
        for key, condition in [*query.filters.items(), *query.header_filters.items()]:
            conditions.check_condition(key, condition)
        unknown = sorted(set(query.header_filters) - HEADER_FILTER_FIELDS)
        if unknown:
            raise ValueError(f"header_filters: {', '.join(map(repr, unknown))} is no header field")
        query._plan()
        return query

    def _plan(self) -> None:
        """Which element keys each message must give, and which computed columns to make."""
        if self.layout == "long":
            unknown = sorted(set(self.filters) - set(LONG_COLUMNS))
            if unknown:
                raise ValueError(
                    f"filters: {', '.join(map(repr, unknown))} is no column of the long layout "
                    f"({', '.join(LONG_COLUMNS)})"
                )
            return
        wanted = [request.name for request in self.requests or ()] + list(self.filters)
        self.computed = [name for name in COMPUTED_COLUMNS if name in wanted]
        if self.requests is None:
            return
        ranks: dict[str, set[int]] = {}
        for name in wanted:
            request = parse_request(name, "wide")
            if request.rank is not None:
                ranks.setdefault(request.key, set()).add(request.rank)
        for name in self.computed:
            for key in computed_dependencies(name):
                ranks.setdefault(key, set()).add(1)
        self.ranks = ranks
        if not any(_CODE_KEY.fullmatch(key) for key in ranks):
            self.keys = list(ranks)
            self.plain_keys = not any(key[0].isdigit() for key in ranks)

    def output_names(self, batch_names: Iterable[str]) -> list[str]:
        """The columns of a batch that the frame shows, in order."""
        if self.layout == "long":
            return list(LONG_COLUMNS)
        if self.requests is not None:
            return [request.name for request in self.requests]
        return [name for name in batch_names if name[0] != "\0" and name not in COMPUTED_COLUMNS]


class FrameBuilder:
    """Reads messages into batches of columns and joins them; one per `read_dataframe` call."""

    def __init__(
        self,
        query: Query,
        *,
        chooser: TableChooser,
        errors: str = "raise",
        max_values: int = DEFAULT_MAX_VALUES,
        on_message: Callable[[Message], None] | None = None,
        on_batch: Callable[[int, dict[str, np.ndarray]], None] | None = None,
    ) -> None:
        """`on_batch`, when given, takes each filtered batch (rows, columns) as it is made, in
        place of `frame`: a writer that streams them holds one batch at a time."""
        check_policy(errors)
        self.query = query
        self.counts = FrameCounts()
        self._chooser = chooser
        self._errors = errors
        self._max_values = max_values
        self._on_message = on_message
        self._on_batch = on_batch
        self._batch: Batch | TakenBatch = Batch() if query.keys is None else TakenBatch(query.ranks or {})
        self._results: list[tuple[int, dict[str, np.ndarray]]] = []
        self._elements: dict[str, tuple[int, bool, str | None, str | None]] = {}
        self._sequence = 0
        # One core decoder per table set: it keeps table entries from message to message.

    def reader(self, source: Source) -> Reader:
        return Reader(source, chooser=self._chooser, errors=self._errors,  # type: ignore[arg-type]
                      max_values=self._max_values)

    def read(self, reader: Reader, first_index: int = 0) -> None:
        """Every message of `reader`; `first_index` is added to its message indexes."""
        failed_before = reader.counts.failed
        try:
            for message in reader:
                self._read_message(reader, message, first_index)
        finally:
            self.counts.failed += reader.counts.failed - failed_before

    def _read_message(self, reader: Reader, message: Message, first_index: int) -> None:
        if not self._header_matches(message):
            self.counts.skipped += 1
        else:
            try:
                piece = self._piece(message)
            except DecodeError as error:
                reader.failed(error)
            else:
                keys = self._batch.add(self._sequence, first_index + message.index, *piece)
                if keys is not None:
                    self._remember_keys(message, keys)
                self._sequence += 1
                if self._batch.rows >= BATCH_ROWS or self._batch.cells >= BATCH_CELLS:
                    self._flush()
        if self._on_message is not None:
            self._on_message(message)

    def _header_matches(self, message: Message) -> bool:
        if not self.query.header_filters:
            return True
        for key, condition in self.query.header_filters.items():
            value = getattr(message, key)
            if not conditions.header_matches(condition, value):
                return False
        return True

    def _piece(self, message: Message) -> tuple[int, Any]:
        if self.query.layout == "long":
            return self._long_piece(message)
        if self.query.keys is not None:
            return self._taken_piece(message, self.query.keys)
        return self._wide_piece(message)

    def _taken_piece(self, message: Message, keys: list[str]) -> tuple[int, tuple[tuple[Any, ...], ...]]:
        """The cells of `keys`, found by the core without naming every column of the message
        first (which costs more than the decode); the message's own decode gives the error or
        the warning of a message that has one, and resolves keys that may be codes."""
        if self.query.plain_keys:
            try:
                subsets, *taken, unknown = _core.decode_take(
                    message._buffer, message._start, message.record, message.tables,
                    self._max_values, keys)
            except ValueError:
                pass
            else:
                if not unknown:
                    return subsets, tuple(taken)
        decoded = message.decoded()
        return decoded.subsets, parallel(decoded.take(keys))

    def _remember_keys(self, message: Message, keys: tuple[str, ...]) -> None:
        """The elements behind taken keys met for the first time."""
        new = set(keys) - self._elements.keys()
        if new:
            for key, descriptor, associated, _, _ in message.decoded().columns():
                if key in new:
                    self._remember(message, key, descriptor, associated)

    def _wide_piece(self, message: Message) -> tuple[int, dict[str, Any]]:
        decoded = message.decoded()
        columns = decoded.columns()
        wanted = self.query.ranks
        if wanted is None:
            chosen = list(range(len(columns)))
        else:
            # Keys are unique within a message; the lookup runs at C speed, unlike a loop.
            where = dict(zip(map(_first, columns), range(len(columns))))
            chosen = sorted(where[key] for key in wanted if key in where)
        subsets = decoded.subsets
        arrays: dict[str, Any] = {}
        for index, cells in zip(chosen, decoded.arrays(chosen)):
            key, descriptor, associated, text, width = columns[index]
            if key not in self._elements:
                self._remember(message, key, descriptor, associated)
            if width == 1:
                # Kept as the core gave it (float64 cells, or a list of texts): the batch
                # joins them in one go.
                if wanted is None or 1 in wanted[key]:
                    arrays[key] = cells
                continue
            values = _cells(cells, text).reshape(subsets, width)
            ranks = range(1, width + 1) if wanted is None else sorted(r for r in wanted[key] if r <= width)
            for rank in ranks:
                arrays[column_name(key, rank)] = values[:, rank - 1]
        return subsets, arrays

    def _long_piece(self, message: Message) -> tuple[int, dict[str, np.ndarray]]:
        rows = message.to_long()
        requests = self.query.requests
        if requests is not None:
            mask = np.zeros(len(rows["key"]), dtype=bool)
            for request in requests:
                match = rows["key"] == request.key
                if request.rank is not None:
                    match &= rows["rank"] == request.rank
                mask |= match
            rows = {name: values[mask] for name, values in rows.items()}
        for key in dict.fromkeys(rows["key"].tolist()):
            if key not in self._elements:
                descriptor = int(rows["descriptor"][rows["key"] == key][0])
                self._remember(message, key, descriptor, key.endswith("->associatedField"))
        arrays = {name: rows[name] if name in ("key", "number", "text") else rows[name].astype(np.int64)
                  for name in ("subset", "rank", "key", "descriptor", "number", "text")}
        return len(arrays["key"]), arrays

    def _remember(self, message: Message, key: str, descriptor: int, associated: bool) -> None:
        """The element behind a key, for the frame's attrs: first met, first kept."""
        element = None if associated else message.tables.get_element(descriptor)
        self._elements[key] = (
            descriptor, associated,
            None if element is None else element.name,
            None if element is None else element.unit,
        )

    def _flush(self) -> None:
        """Filters the batch and keeps only the columns the frame shows."""
        if not self._batch.pieces:
            return
        pieces = len(self._batch)
        rows, arrays = self._batch.take()
        for name in self.query.computed:
            arrays[name] = computed_column(name, arrays, rows)
        if self.query.layout == "long":
            arrays["message"] = arrays["\0message"]
        mask = self._mask(arrays, rows)
        sequence = arrays["\0sequence"]
        if mask is not None:
            sequence = sequence[mask]
            rows = int(np.count_nonzero(mask))
        kept = {}
        for name in self.query.output_names(arrays):
            source = self._source_name(name)
            if source in arrays:
                kept[name] = arrays[source] if mask is None else arrays[source][mask]
        # Kept even without rows: the columns' dtypes stay known.
        if self._on_batch is not None:
            self._on_batch(rows, kept)
        else:
            self._results.append((rows, kept))
        written = int(np.count_nonzero(np.diff(sequence))) + 1 if rows else 0
        self.counts.rows += rows
        self.counts.written += written
        self.counts.skipped += pieces - written

    def _source_name(self, name: str) -> str:
        """The batch column behind a requested name (``#1#key`` is ``key``)."""
        if self.query.layout == "long" or name in COMPUTED_COLUMNS:
            return name
        return parse_request(name, "wide").column

    def _mask(self, arrays: dict[str, np.ndarray], rows: int) -> np.ndarray | None:
        if not self.query.filters:
            return None
        pd = require_pandas()
        mask = np.ones(rows, dtype=bool)
        for name, condition in self.query.filters.items():
            values = arrays.get(self._source_name(name))
            if values is None:
                values = np.full(rows, np.nan)
            series = pd.Series(values, dtype=values.dtype, copy=False)
            mask &= conditions.column_mask(name, condition, series)
        return mask

    def finish(self) -> None:
        """Hands the last batch to `on_batch`; call once, after the last `read`."""
        self._flush()

    def frame(self) -> "pd.DataFrame":
        """The frame of every message read; call once, after the last `read`."""
        pd = require_pandas()
        self._flush()
        rows, names = shape(self._results)
        check_size(rows, len(names))
        rows, arrays = combine(self._results)
        self._results = []
        names = self.query.output_names(arrays)
        for name in names:
            if name not in arrays:
                arrays[name] = empty_column(name, rows, self.query.layout)
        frame = make_frame(pd, names, arrays, rows)
        frame.attrs.update(self._attrs(names))
        return frame

    def _attrs(self, names: list[str]) -> dict[str, Any]:
        if self.query.layout == "long":
            keys = Described((key, self._describe(key)) for key in self._elements)
            return {"keys": keys}
        described = Described()
        for name in names:
            if name in COMPUTED_COLUMNS:
                described[name] = {"descriptor": None, "name": COMPUTED_COLUMNS[name], "unit": None}
            else:
                described[name] = self._describe(parse_request(name, "wide").key)
        return {"columns": described}

    def _describe(self, key: str) -> dict[str, Any]:
        element = self._elements.get(key)
        if element is None:
            return {"descriptor": None, "name": None, "unit": None}
        descriptor, associated, name, unit = element
        code = f"{descriptor:06d}" + ("->associatedField" if associated else "")
        return {"descriptor": code, "name": name, "unit": unit}


def check_size(rows: int, columns: int) -> None:
    """Refuses a frame of more than MAX_CELLS cells, before it is made."""
    if rows * columns > MAX_CELLS:
        raise ValueError(
            f"the frame would have {rows} rows of {columns} columns, more than "
            f"{MAX_CELLS} cells; choose columns, or the long layout"
        )


def make_frame(pd: Any, names: list[str], arrays: dict[str, np.ndarray], rows: int) -> "pd.DataFrame":
    """The columns as a frame, one 2-D block per dtype: a frame built column by column costs
    pandas tens of microseconds a column, and a sounding may have 50,000 of them."""
    groups: dict[np.dtype, list[str]] = {}
    for name in names:
        groups.setdefault(arrays[name].dtype, []).append(name)
    parts = []
    for dtype, group in groups.items():
        # Column j of a Fortran-ordered block is one run of memory, as pandas keeps it.
        block = np.empty((rows, len(group)), dtype=dtype, order="F")
        for column, name in enumerate(group):
            block[:, column] = arrays.pop(name)
        parts.append(pd.DataFrame(block, columns=group, dtype=dtype, copy=False))
    if not parts:
        return pd.DataFrame(index=pd.RangeIndex(rows))
    frame = parts[0] if len(parts) == 1 else pd.concat(parts, axis=1)
    return frame if list(frame.columns) == names else frame[names]


def _cells(cells: Any, text: bool) -> np.ndarray:
    if text:
        values = np.empty(len(cells), dtype=object)
        values[:] = cells
        return values
    return np.frombuffer(cells, dtype=np.float64)


def empty_column(name: str, rows: int, layout: str) -> np.ndarray:
    """A column no message gave: typed as the layout's own column of that name, else missing
    (a wide frame's `rank` or `key` is an element's, not the long layout's)."""
    if layout == "long" and name in ("message", "subset", "rank", "descriptor"):
        return np.zeros(rows, dtype=np.int64)
    if layout == "long" and name in ("key", "text"):
        return np.full(rows, None, dtype=object)
    if layout == "wide" and name in ("message", "subset"):
        return np.zeros(rows, dtype=np.int64)  # computed; absent only from a frame of no rows
    if layout == "wide" and name == "data_datetime":
        return np.full(rows, np.datetime64("NaT", "us"))
    return np.full(rows, np.nan)


def table_chooser(
    tables: _tarnwel.TableSet | None, definitions: PathLike | Sequence[PathLike] | None
) -> TableChooser:
    """One chooser for every file of a call, so that each table set is loaded once."""
    return TableChooser(tables, definitions)


def source_list(source: Source | Sequence[PathLike]) -> list[Any]:
    """A list of paths stays a list; anything else is one source."""
    if isinstance(source, (list, tuple)):
        for item in source:
            if not isinstance(item, (str, os.PathLike)):
                raise TypeError(f"a list of sources holds paths, not {type(item).__name__}")
        return list(source)
    return [source]


def read_dataframe(
    source: Source | Sequence[PathLike],
    columns: Iterable[str] | None = None,
    *,
    filters: Mapping[str, Any] | None = None,
    header_filters: Mapping[str, Any] | None = None,
    layout: str = "wide",
    tables: _tarnwel.TableSet | None = None,
    definitions: PathLike | Sequence[PathLike] | None = None,
    errors: str = "raise",
) -> "pd.DataFrame":
    """Reads BUFR messages into a pandas DataFrame (needs ``tarnwel[pandas]``).

    `source` is anything `tarnwel.open` takes, or a list of paths.

    ``layout="wide"`` gives one row per subset. A key's first occurrence in a subset is the
    column ``key``, later ones ``#2#key``, ``#3#key``, ... `columns` selects and orders them
    (ranked names included; ``#1#key`` is ``key``), or ``None`` for every key met. Besides
    element keys, `columns` may name the computed ``data_datetime`` (from year, month, day,
    hour, minute, second: a missing minute or second counts as 0, a missing or impossible
    date or hour gives NaT), ``WMO_station_id`` (blockNumber * 1000 + stationNumber),
    ``message`` (its index in its source) and ``subset`` (0-based).

    ``layout="long"`` gives one row per value: message, subset, rank, key, descriptor,
    number, text; `columns` then names the keys whose values are kept (``#N#key`` one rank).

    `filters` maps a column to a condition, applied to whole columns: a scalar (equal; None:
    missing), a list, set, tuple or range (member of), ``slice(lo, hi)`` (inclusive) or a
    callable (a batch of the column as a pandas Series -> boolean mask). A filter's column
    need not be among `columns`. `header_filters` takes the same forms on header fields
    (``data_category``, ``originating_centre``, ``typical_year``, ...), checked before
    section 4 is decoded; a callable there gets the field's value.

    Missing numbers are NaN, missing texts None (object columns). ``frame.attrs["columns"]``
    (wide) or ``frame.attrs["keys"]`` (long) gives each column's or key's descriptor, element
    name and unit. `tables`, `definitions` and `errors` are those of `tarnwel.open`.
    """
    require_pandas()
    query = Query.make(columns, filters, header_filters, layout)
    builder = FrameBuilder(query, chooser=table_chooser(tables, definitions), errors=errors)
    for item in source_list(source):
        reader = builder.reader(item)
        with reader:
            builder.read(reader)
    return builder.frame()
