"""The subsets of BUFR sources as one table for `tarnwel.plotting`, and which picture suits them."""

from __future__ import annotations

import math
from dataclasses import dataclass
from functools import cached_property
from typing import Any, Iterable, Iterator, Mapping, Sequence

import numpy as np

import tarnwel
from tarnwel.errors import DecodeError

NO_COORDINATES = "no subset has a latitude and longitude"
NO_MESSAGES = "none of its {count} message(s) could be read"
NO_QUANTITY = "no numeric element to draw"
NO_FILTERED = "no subset matches the filters"
NO_SOUNDING = "no subset has values along pressure or height"
NO_SERIES = "no subset has a date and time"
SUBSET_RANGE = "subset {subset} is out of range: {count} subset(s) have values along {coordinate}"
SUBSET_KIND = "subset picks one sounding; it applies to kind='profile' only"
UNKNOWN_KEY = "no message has the key {key!r}"
NOT_ALONG = "{key!r} has no values along {coordinate}"
NOT_A_NUMBER = "the filter on {key!r} needs numbers, not {value!r}"

# Classes of elements that say where, when, who or how rather than what was observed.
NON_QUANTITY_CLASSES = frozenset({0, 1, 2, 4, 5, 6, 7, 8, 25, 27, 28, 31, 33})
NON_QUANTITY_UNITS = frozenset({"CODE TABLE", "FLAG TABLE", "CCITT IA5", "Numeric"})
# What a forecaster looks at first, when the file has it.
PREFERRED_KEYS = ("airTemperature", "windSpeed", "pressureReducedToMeanSeaLevel",
                  "significantWaveHeight")
# Vertical coordinates of a sounding, most telling first: pressure, height, geopotential height.
VERTICAL_DESCRIPTORS = (7004, 7007, 7009)
MIN_LEVELS = 3
TIME_KEYS = ("year", "month", "day", "hour", "minute", "second")
TIME_HEADER = ("typical_year", "typical_month", "typical_day", "typical_hour", "typical_minute",
               "typical_second")
WIGOS_KEYS = ("wigosIdentifierSeries", "wigosIssuerOfIdentifier", "wigosIssueNumber",
              "wigosLocalIdentifierCharacter")
NAME_KEYS = ("stationOrSiteName", "shipOrMobileLandStationIdentifier")
SERIES_MAX_STATIONS = 10
STATION_SPREAD = 1.0  # degrees: a station that moves further is a moving platform
# Shown in the units a forecaster reads: (unit shown, function of the value).
DISPLAY_UNITS = {
    "K": ("°C", lambda value: value - 273.15),
    "Pa": ("hPa", lambda value: value / 100.0),
}


class PlotError(ValueError):
    """The sources hold nothing the asked picture can show; the text names the sources."""

    def __init__(self, label: str, text: str) -> None:
        super().__init__(f"{label}: {text}")
        self.label = label
        self.text = text


@dataclass
class Element:
    """A key of the sources, with its descriptor and what the tables call it."""

    key: str
    descriptor: int
    name: str
    unit: str
    text: bool

    @property
    def is_quantity(self) -> bool:
        return (not self.text and "->" not in self.key and self.unit not in NON_QUANTITY_UNITS
                and (self.descriptor // 1000) % 100 not in NON_QUANTITY_CLASSES)

    @property
    def _display(self) -> tuple[str, Any]:
        if "BRIGHTNESS" in self.name.upper():  # radiances are read in kelvin
            return self.unit, None
        return DISPLAY_UNITS.get(self.unit, (self.unit, None))

    @property
    def shown_unit(self) -> str:
        return self._display[0]

    def shown(self, values: np.ndarray) -> np.ndarray:
        convert = self._display[1]
        values = np.asarray(values, dtype=float)
        return values if convert is None else convert(values)

    @property
    def title(self) -> str:
        name = self.name[:1].upper() + self.name[1:].lower() if self.name else self.key
        return f"{name} ({self.shown_unit})" if self.shown_unit else name


@dataclass
class Table:
    """Every subset of the sources as one row; per key, the subset's first occurrence of it."""

    label: str
    messages: list[Any]
    failed: int
    values: dict[str, np.ndarray]
    elements: dict[str, Element]
    widths: dict[str, int]
    levels: dict[str, np.ndarray]  # distinct values per subset, for the vertical coordinates
    row_message: np.ndarray
    row_subset: np.ndarray

    def __len__(self) -> int:
        return len(self.row_message)

    def resolve(self, key: str) -> str:
        """The key under which `key` (an ecCodes key or a six-digit code) is kept."""
        if key in self.values:
            return key
        for name, element in self.elements.items():
            if f"{element.descriptor:06d}" == key and "->" not in name:
                return name
        raise PlotError(self.label, UNKNOWN_KEY.format(key=key))

    def coordinates(self, rows: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
        if "latitude" not in self.values or "longitude" not in self.values:
            return np.full(len(rows), np.nan), np.full(len(rows), np.nan)
        return (_as_numbers(self.values["latitude"][rows]),
                _as_numbers(self.values["longitude"][rows]))

    @cached_property
    def times(self) -> np.ndarray:
        """datetime64[s] per subset (NaT where the date is missing)."""
        parts = [_as_numbers(self.values[key]) for key in TIME_KEYS]
        valid = np.all([np.isfinite(part) for part in parts[:4]], axis=0)
        stamps = np.full(len(self), np.datetime64("NaT"), dtype="datetime64[s]")
        if valid.any():
            year, month, day, hour, minute, second = (np.nan_to_num(part[valid]).astype(np.int64)
                                                      for part in parts)
            months = (year - 1970) * 12 + month - 1
            dates = months.astype("datetime64[M]").astype("datetime64[D]") + (day - 1)
            stamps[valid] = (dates.astype("datetime64[s]")
                             + (hour * 3600 + minute * 60 + second).astype("timedelta64[s]"))
        return stamps

    @cached_property
    def stations(self) -> np.ndarray:
        """A label per subset: station name and WMO or WIGOS identifier, "" when it has none."""
        columns = {key: self.values.get(key) for key in ("blockNumber", "stationNumber",
                                                         *WIGOS_KEYS, *NAME_KEYS)}
        labels = np.empty(len(self), dtype=object)
        for row in range(len(self)):
            labels[row] = _station({key: _text(array, row) for key, array in columns.items()})
        return labels


def _text(array: np.ndarray | None, row: int) -> str | None:
    value = None if array is None else array[row]
    if value is None or (isinstance(value, float) and not math.isfinite(value)):
        return None
    if isinstance(value, float):
        return f"{value:g}"
    return str(value).strip("\x00 ") or None


def _station(texts: dict[str, str | None]) -> str:
    block, number = texts["blockNumber"], texts["stationNumber"]
    wmo = f"{int(float(block)):02d}{int(float(number)):03d}" if block and number else None
    wigos = [texts[key] for key in WIGOS_KEYS]
    identifier = wmo or ("-".join(wigos) if all(wigos) else None)  # type: ignore[arg-type]
    name = next((texts[key] for key in NAME_KEYS if texts[key]), None)
    if name and identifier:
        return f"{name} ({identifier})"
    return name or identifier or ""


class _TableBuilder:
    """Gathers the messages' arrays, reduced to one value per subset and key."""

    def __init__(self) -> None:
        self.messages: list[Any] = []
        self.pieces: dict[str, list[tuple[int, np.ndarray]]] = {}
        self.elements: dict[str, Element] = {}
        self.widths: dict[str, int] = {}
        self.levels: dict[str, list[tuple[int, np.ndarray]]] = {}
        self.rows = 0
        self.failed = 0

    def add(self, message: Any, arrays: dict[str, np.ndarray], columns: list[Any]) -> None:
        subsets = message.number_of_subsets
        for column in columns:
            array = arrays.get(column.name)
            if array is None or len(array) != subsets:
                continue
            if column.name not in self.elements:
                self.elements[column.name] = _element(message, column)
            self.widths[column.name] = max(self.widths.get(column.name, 0), column.width)
            self.pieces.setdefault(column.name, []).append((self.rows, _first_values(array)))
            if column.descriptor in VERTICAL_DESCRIPTORS and not column.text:
                self.levels.setdefault(column.name, []).append((self.rows, _distinct(array)))
        for key, header in zip(TIME_KEYS, TIME_HEADER):
            # The section 1 time stands in where the data have none.
            fallback = np.full(subsets, float(getattr(message, header)))
            present = arrays.get(key)
            first = fallback if present is None else _as_numbers(_first_values(present))
            self.pieces.setdefault(key, []).append((self.rows, np.where(np.isfinite(first), first,
                                                                        fallback)))
        self.messages.append(message)
        self.rows += subsets

    def table(self, label: str) -> Table:
        values = {key: _assemble(pieces, self.rows) for key, pieces in self.pieces.items()}
        levels = {key: np.nan_to_num(_assemble(pieces, self.rows)).astype(np.int64)
                  for key, pieces in self.levels.items()}
        counts = [message.number_of_subsets for message in self.messages]
        row_message = np.repeat(np.arange(len(counts)), counts)
        row_subset = np.concatenate([np.arange(count) for count in counts])
        return Table(label, self.messages, self.failed, values, self.elements, self.widths, levels,
                     row_message, row_subset.astype(np.int64))


def _element(message: Any, column: Any) -> Element:
    definition = message.tables.get_element(column.descriptor)
    name = definition.name if definition is not None else ""
    unit = definition.unit if definition is not None else ""
    return Element(column.name, column.descriptor, name, unit, column.text)


def _distinct(array: np.ndarray) -> np.ndarray:
    """How many different values each subset has (a level repeated is no new level)."""
    ordered = np.sort(array.reshape(len(array), -1), axis=1)  # NaN last
    new = np.ones(ordered.shape, dtype=bool)
    new[:, 1:] = ordered[:, 1:] != ordered[:, :-1]
    return (new & np.isfinite(ordered)).sum(axis=1)


def _first_values(array: np.ndarray) -> np.ndarray:
    """Each subset's first occurrence of a (subsets,) or (subsets, occurrences) array.

    Not the first present one: a later occurrence is often another thing (the temperature at
    5 cm after the one at 2 m) and must not stand in for a missing first.
    """
    return array if array.ndim == 1 else array[:, 0]


def _assemble(pieces: list[tuple[int, np.ndarray]], rows: int) -> np.ndarray:
    text = any(piece.dtype == object for _, piece in pieces)
    whole = np.full(rows, None, dtype=object) if text else np.full(rows, np.nan)
    for start, piece in pieces:
        whole[start:start + len(piece)] = piece
    return whole


def _as_numbers(values: np.ndarray) -> np.ndarray:
    if values.dtype != object:
        return values
    return np.array([_number(value) for value in values], dtype=float)


def _number(value: Any) -> float:
    try:
        return float(value)
    except (TypeError, ValueError):
        return math.nan


def released(message: Any) -> None:
    """Drops a message's decode: memory stays at one decode, and the reader can close its map."""
    message._decoded = None


def _decoded(reader: tarnwel.Reader) -> Iterator[tuple[Any, dict[str, np.ndarray], list[Any]]]:
    """Each message with its arrays and columns from one decode; failures follow the policy."""
    for message in reader:
        try:
            arrays, columns = message.to_arrays(), message.columns()
        except DecodeError as error:
            reader.failed(error)
            continue
        finally:
            released(message)
        yield message, arrays, columns


def read_table(readers: Sequence[tarnwel.Reader], label: str) -> Table:
    builder = _TableBuilder()
    for reader in readers:
        for message, arrays, columns in _decoded(reader):
            builder.add(message, arrays, columns)
        builder.failed += reader.counts.failed
    if not builder.messages:
        raise PlotError(label, NO_MESSAGES.format(count=builder.failed))
    return builder.table(label)


# ---------------------------------------------------------------------------------------- choices


def filtered_rows(table: Table, filters: Mapping[str, Any] | Iterable[tuple[str, Any]] | None,
                  ) -> np.ndarray:
    """The rows whose first occurrence of each filter key matches it."""
    keep = np.ones(len(table), dtype=bool)
    pairs = filters.items() if isinstance(filters, Mapping) else filters or ()
    for key, wanted in pairs:
        values = table.values[table.resolve(key)]
        try:
            keep &= _matches(values, wanted)
        except (TypeError, ValueError):
            raise PlotError(table.label, NOT_A_NUMBER.format(key=key, value=wanted)) from None
    if not keep.any():
        raise PlotError(table.label, NO_FILTERED)
    return np.flatnonzero(keep)


def _matches(values: np.ndarray, wanted: Any) -> np.ndarray:
    """Which values equal `wanted`, are in a list of them, or lie in a (low, high) range."""
    if isinstance(wanted, tuple) and len(wanted) == 2:
        low, high = wanted
        numbers = _as_numbers(values)
        keep = np.isfinite(numbers)
        if low is not None:
            keep &= numbers >= float(low)
        if high is not None:
            keep &= numbers <= float(high)
        return keep
    choices = list(wanted) if isinstance(wanted, (list, set, frozenset)) else [wanted]
    if values.dtype == object:
        texts = [None if value is None else str(value).strip("\x00 ") for value in values]
        return np.isin(np.array(texts, dtype=object), [str(choice) for choice in choices])
    return np.isin(values, [float(choice) for choice in choices])


def default_key(table: Table, rows: np.ndarray, *, along: str | None = None) -> str:
    """A preferred key if present, else the first quantity that most of `rows` have.

    `along` (a vertical coordinate) asks for keys repeated along it.
    """
    def usable(key: str) -> bool:
        element = table.elements[key]
        if not element.is_quantity or table.values[key].dtype == object:
            return False
        return along is None or (key != along and table.widths.get(key, 0) >= MIN_LEVELS)

    candidates = [key for key in table.elements if usable(key)]
    counts = {key: int(np.isfinite(table.values[key][rows]).sum()) for key in candidates}
    for key in PREFERRED_KEYS:
        if counts.get(key):
            return key
    for key in candidates:
        if counts[key] * 2 >= len(rows):
            return key
    if candidates and max(counts.values()) > 0:
        return max(candidates, key=counts.__getitem__)
    raise PlotError(table.label, NO_QUANTITY)


def vertical_key(table: Table, rows: np.ndarray) -> str | None:
    """The vertical coordinate that some of `rows` have at least MIN_LEVELS levels of."""
    for descriptor in VERTICAL_DESCRIPTORS:
        for key, levels in table.levels.items():
            if table.elements[key].descriptor == descriptor and (levels[rows] >= MIN_LEVELS).any():
                return key
    return None


def sounding_rows(table: Table, rows: np.ndarray, vertical: str) -> np.ndarray:
    return rows[table.levels[vertical][rows] >= MIN_LEVELS]


def _is_station_series(table: Table, rows: np.ndarray) -> bool:
    """Few fixed stations, most of them seen at more than one time."""
    stations, times = table.stations[rows], table.times[rows]
    names = [name for name in dict.fromkeys(stations) if name]
    if not names or len(names) > SERIES_MAX_STATIONS:
        return False
    latitude, longitude = table.coordinates(rows)
    repeated = 0
    for name in names:
        mine = stations == name
        for axis in (latitude[mine], longitude[mine]):
            axis = axis[np.isfinite(axis)]
            if len(axis) and np.ptp(axis) > STATION_SPREAD:
                return False
        repeated += len(np.unique(times[mine][~np.isnat(times[mine])])) > 1
    return repeated * 2 >= len(names)


def choose_kind(table: Table, rows: np.ndarray, key: str | None) -> str:
    """"profile" for soundings, "series" for a few stations over time, else "map"."""
    vertical = vertical_key(table, rows)
    if vertical and (key is None or table.widths.get(table.resolve(key), 0) >= MIN_LEVELS):
        return "profile"
    if _is_station_series(table, rows):
        return "series"
    return "map"


def levels(message: Any, subset: int, vertical: Element, keys: Iterable[str]) -> dict[str, tuple]:
    """(coordinate, value) pairs per key: each value goes with the coordinate last met before it."""
    try:
        long = message.to_long()
    finally:
        released(message)
    rows = long["subset"] == subset
    names, numbers = long["key"][rows], long["number"][rows]
    at_coordinate = (names == vertical.key) & (long["descriptor"][rows] == vertical.descriptor)
    latest = np.maximum.accumulate(np.where(at_coordinate, np.arange(len(names)), -1))
    coordinate = np.where(latest >= 0, numbers[np.maximum(latest, 0)], np.nan)
    pairs = {}
    for key in keys:
        mine = (names == key) & np.isfinite(coordinate) & np.isfinite(numbers)
        pairs[key] = (coordinate[mine], numbers[mine])
    return pairs
