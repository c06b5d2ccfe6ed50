"""The columns of `read_dataframe`: ranked names, computed columns, and batches of message columns."""

from __future__ import annotations

import re
from dataclasses import dataclass
from collections.abc import Collection, Mapping, Sequence
from typing import Union, cast

import numpy as np

# Computed columns, with the name their attrs give them.
COMPUTED_COLUMNS: dict[str, str] = {
    "data_datetime": "date and time from year, month, day, hour, minute, second",
    "WMO_station_id": "blockNumber * 1000 + stationNumber",
    "message": "index of the message in its source",
    "subset": "index of the subset in its message",
}
LONG_COLUMNS: tuple[str, ...] = ("message", "subset", "rank", "key", "descriptor", "number", "text")
DATETIME_KEYS: tuple[str, ...] = ("year", "month", "day", "hour", "minute", "second")
STATION_KEYS: tuple[str, ...] = ("blockNumber", "stationNumber")

_RANKED = re.compile(r"#([1-9][0-9]*)#(.+)", re.DOTALL)

# One piece's column: an array, float64 cells as the core gives them, or a list of texts.
Part = Union[np.ndarray, bytearray, list]
_NAN = np.float64("nan").tobytes()


@dataclass(frozen=True)
class Request:
    """A requested column: the name asked for, its key, and its rank (None: every rank)."""

    name: str
    key: str
    rank: int | None

    @property
    def column(self) -> str:
        """The batch column it is read from: ``key`` for rank 1, else ``#rank#key``."""
        if self.key in COMPUTED_COLUMNS and self.rank is None:
            return self.key
        return column_name(self.key, self.rank or 1)


def column_name(key: str, rank: int) -> str:
    return key if rank == 1 else f"#{rank}#{key}"


def parse_request(name: str, layout: str) -> Request:
    """``#N#key`` is rank N of key; a bare key is rank 1 (wide) or every rank (long)."""
    if not isinstance(name, str) or not name:
        raise TypeError(f"a column name is a non-empty str, not {name!r}")
    ranked = _RANKED.fullmatch(name)
    if ranked is not None and ranked.group(2) in COMPUTED_COLUMNS:
        # Read as an element key it would give a column of NaN without a word.
        raise ValueError(f"{name!r}: {ranked.group(2)!r} is a computed column, one value per row, "
                         "and has no ranks")
    if ranked is not None:
        return Request(name, ranked.group(2), int(ranked.group(1)))
    if layout == "long" and name in COMPUTED_COLUMNS:
        raise ValueError(f"{name!r} is a column of the wide layout; the long layout selects keys")
    if name in COMPUTED_COLUMNS:
        return Request(name, name, None)
    return Request(name, name, None if layout == "long" else 1)


def computed_dependencies(name: str) -> tuple[str, ...]:
    """The element keys a computed column is made from."""
    return {"data_datetime": DATETIME_KEYS, "WMO_station_id": STATION_KEYS}.get(name, ())


def computed_column(name: str, arrays: dict[str, np.ndarray], rows: int) -> np.ndarray:
    if name == "data_datetime":
        return data_datetime(*(_numbers(arrays.get(key), rows) for key in DATETIME_KEYS))
    if name == "WMO_station_id":
        block, station = (_numbers(arrays.get(key), rows) for key in STATION_KEYS)
        return block * 1000 + station
    return arrays["\0" + name]


def _numbers(values: np.ndarray | None, rows: int) -> np.ndarray:
    if values is None:
        return np.full(rows, np.nan)
    if values.dtype == object:
        # A key that is text in some message has no number to give.
        return np.array([value if isinstance(value, float) else np.nan for value in values])
    return values


def data_datetime(
    year: np.ndarray, month: np.ndarray, day: np.ndarray, hour: np.ndarray,
    minute: np.ndarray, second: np.ndarray,
) -> np.ndarray:
    """datetime64[us] from float columns: a missing minute or second is 0; a missing or
    impossible year, month, day or hour, or an impossible minute or second, gives NaT."""
    minute = np.where(np.isnan(minute), 0.0, minute)
    second = np.where(np.isnan(second), 0.0, second)
    with np.errstate(invalid="ignore"):
        valid = (
            _whole(year) & (year >= 1) & (year <= 9999)
            & _whole(month) & (month >= 1) & (month <= 12)
            & _whole(day) & (day >= 1) & (day <= 31)
            & _whole(hour) & (hour >= 0) & (hour <= 23)
            & _whole(minute) & (minute >= 0) & (minute <= 59)
            & (second >= 0) & (second < 60)
        )
    result = np.full(len(year), np.datetime64("NaT", "us"))
    if not valid.any():
        return result
    months = ((year[valid] - 1970) * 12 + month[valid] - 1).astype(np.int64).astype("datetime64[M]")
    days = months.astype("datetime64[D]") + (day[valid] - 1).astype(np.int64)
    # 31 February rolls over into March: such a day does not exist.
    exists = days.astype("datetime64[M]") == months
    micros = np.round((hour[valid] * 3600 + minute[valid] * 60 + second[valid]) * 1e6).astype(np.int64)
    stamps = days.astype("datetime64[us]") + micros.astype("timedelta64[us]")
    result[valid] = np.where(exists, stamps, np.datetime64("NaT", "us"))
    return result


def _whole(values: np.ndarray) -> np.ndarray:
    with np.errstate(invalid="ignore"):
        return np.floor(values) == values


class Batch:
    """Message columns gathered until they are worth filtering in one go."""

    def __init__(self) -> None:
        self.pieces: list[tuple[int, int, int, dict[str, Part]]] = []
        self.rows = 0
        self._names: set[str] = set()

    @property
    def cells(self) -> int:
        """Cells of the batch once stacked: every row has every column of the batch."""
        return self.rows * len(self._names)

    def add(self, sequence: int, message: int, rows: int, arrays: dict[str, Part]) -> None:
        self.pieces.append((sequence, message, rows, arrays))
        self.rows += rows
        self._names.update(arrays)

    def take(self) -> tuple[int, dict[str, np.ndarray]]:
        """All rows so far as one array per column, with the internal columns
        ``\\0sequence`` (the piece), ``\\0message`` and ``\\0subset``; the batch is emptied."""
        pieces, self.pieces, self.rows = self.pieces, [], 0
        self._names = set()
        counts = np.array([rows for _, _, rows, _ in pieces], dtype=np.int64)
        rows, arrays = combine([(rows, arrays) for _, _, rows, arrays in pieces])
        arrays.update(row_indexes([piece[:3] for piece in pieces], counts))
        return rows, arrays

    def __len__(self) -> int:
        return len(self.pieces)


def row_indexes(pieces: Sequence[tuple[int, int, int]], counts: np.ndarray) -> dict[str, np.ndarray]:
    """The internal columns of pieces (sequence, message, rows): ``\\0sequence`` (the piece),
    ``\\0message`` and ``\\0subset``, one cell per row."""
    rows = int(counts.sum())
    starts = np.cumsum(counts) - counts
    return {
        "\0sequence": np.repeat(np.array([piece[0] for piece in pieces], dtype=np.int64), counts),
        "\0message": np.repeat(np.array([piece[1] for piece in pieces], dtype=np.int64), counts),
        "\0subset": np.arange(rows, dtype=np.int64) - np.repeat(starts, counts),
    }


def combine(pieces: Sequence[tuple[int, Mapping[str, Part]]]) -> tuple[int, dict[str, np.ndarray]]:
    """Stacks pieces of rows column by column, filling where a piece lacks a column.

    Columns keep the order in which they are first met.
    """
    rows, names = shape(pieces)
    if len(pieces) == 1:
        return rows, {name: _array(part) for name, part in pieces[0][1].items()}
    combined = {}
    for name in names:
        parts = [(arrays.get(name), count) for count, arrays in pieces]
        kinds = {type(part) for part, _ in parts if part is not None}
        if kinds == {bytearray}:
            cells = bytearray()
            for part, count in parts:
                cells += cast(bytearray, part) if part is not None else _NAN * count
            combined[name] = np.frombuffer(cells, dtype=np.float64)
        elif kinds == {list}:
            texts: list = []
            for part, count in parts:
                texts.extend(cast(list, part) if part is not None else [None] * count)
            combined[name] = _texts(texts)
        else:
            combined[name] = _stack([(None if part is None else _array(part), count) for part, count in parts])
    return rows, combined


def _array(part: Part) -> np.ndarray:
    if isinstance(part, bytearray):
        return np.frombuffer(part, dtype=np.float64)
    if isinstance(part, list):
        return _texts(part)
    return part


def _texts(texts: list) -> np.ndarray:
    values = np.empty(len(texts), dtype=object)
    values[:] = texts
    return values


def _stack(parts: list[tuple[np.ndarray | None, int]]) -> np.ndarray:
    kind = _kind([part for part, _ in parts])
    return np.concatenate([part if part is not None else _missing(kind, count) for part, count in parts])


def shape(pieces: Sequence[tuple[int, Mapping[str, Part]]]) -> tuple[int, list[str]]:
    """Rows and column names of the pieces once stacked."""
    rows = sum(count for count, _ in pieces)
    return rows, list(dict.fromkeys(name for _, arrays in pieces for name in arrays))


def joined_dtype(dtypes: Collection[np.dtype], gaps: bool) -> np.dtype:
    """The dtype `combine` gives a column whose pieces have `dtypes`, some pieces lacking it
    where `gaps`."""
    kind = next(iter(dtypes)) if len(set(dtypes)) == 1 else np.dtype(object)
    return np.dtype(np.float64) if gaps and kind.kind in "iu" else kind


def missing(dtype: np.dtype, count: int) -> np.ndarray:
    """`count` missing cells of a column of `dtype`, as `combine` fills a piece that lacks it."""
    return _missing(dtype, count)


def _kind(parts: list[np.ndarray | None]) -> np.dtype:
    dtypes = {part.dtype for part in parts if part is not None}
    if len(dtypes) == 1:
        return dtypes.pop()
    return np.dtype(object)


def _missing(dtype: np.dtype, count: int) -> np.ndarray:
    if dtype == object:
        return np.full(count, None, dtype=object)
    if dtype.kind == "M":
        return np.full(count, np.datetime64("NaT"), dtype=dtype)
    if dtype.kind in "iu":
        # Whole numbers with a gap become floats, as pandas does.
        return np.full(count, np.nan)
    return np.full(count, np.nan, dtype=dtype)
