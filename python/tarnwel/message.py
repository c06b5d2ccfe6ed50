"""One message of a reader: its header at once, its values and arrays when asked for."""

from __future__ import annotations

import warnings
from typing import TYPE_CHECKING, Any, Iterable, NamedTuple

import numpy as np

import _tarnwel
from tarnwel import _core
from tarnwel.errors import DecodeError, DecodeWarning

if TYPE_CHECKING:
    from tarnwel.reader import Reader

# The section 0 to 3 fields of a message, under BufrMessage's names.
HEADER_FIELDS: tuple[str, ...] = (
    "edition",
    "total_length",
    "master_table_number",
    "originating_centre",
    "originating_subcentre",
    "update_sequence_number",
    "local_section_present",
    "data_category",
    "international_data_subcategory",
    "local_data_subcategory",
    "master_tables_version_number",
    "local_tables_version_number",
    "typical_year",
    "typical_month",
    "typical_day",
    "typical_hour",
    "typical_minute",
    "typical_second",
    "number_of_subsets",
    "observed_data",
    "compressed_data",
    "unexpanded_descriptors",
)

ASSOCIATED_SUFFIX = "->associatedField"

# Bound once: to_arrays makes one array per key of every message.
_frombuffer = np.frombuffer
_FLOAT64 = np.dtype(np.float64)


class Column(NamedTuple):
    """One array of `Message.to_arrays`: its key, element and how many occurrences a subset has."""

    name: str
    descriptor: int
    associated: bool
    text: bool
    width: int

    @property
    def code(self) -> str:
        """The six-digit descriptor code, with the associated-field suffix where it applies."""
        return f"{self.descriptor:06d}" + (ASSOCIATED_SUFFIX if self.associated else "")


class Message:
    """A message found by `tarnwel.open`: header fields, `index`, `offset`, `length`.

    Header fields have BufrMessage's names; for editions 2 and 3 the fields their section 1
    lacks are None, and a two-digit year of century reads as a full year.

    Section 4 is decoded on the first call of `values`, `to_arrays` or `to_long`, and the
    decode is kept with the message (drop the message to free it).
    """

    __slots__ = (
        "record", "index", "offset", "length", "_reader", "_buffer", "_start", "_decoded", "_absent",
    )

    def __init__(
        self, reader: "Reader", record: _tarnwel.BufrMessage, index: int, offset: int,
        buffer: object, start: int,
    ) -> None:
        self.record = record
        self.index = index
        self.offset = offset
        self.length = record.total_length
        self._reader = reader
        self._buffer = buffer
        self._start = start
        self._decoded: Any = None
        # Editions 2 and 3 lack some fields of edition 4; those read as None.
        self._absent: tuple[str, ...] = _core.absent_header_fields(record) if record.edition < 4 else ()

    def __getattr__(self, name: str) -> Any:
        if name in HEADER_FIELDS:
            return None if name in self._absent else getattr(self.record, name)
        raise AttributeError(f"'Message' object has no attribute {name!r}")

    def __repr__(self) -> str:
        return (
            f"Message(index={self.index}, offset={self.offset}, length={self.length}, "
            f"edition={self.record.edition}, subsets={self.record.number_of_subsets}, "
            f"category={self.record.data_category}, centre={self.record.originating_centre})"
        )

    def header(self) -> dict[str, Any]:
        """Every header field, with `index`, `offset` and `length`."""
        fields = {name: getattr(self, name) for name in HEADER_FIELDS}
        fields.update(index=self.index, offset=self.offset, length=self.length)
        return fields

    @property
    def tables(self) -> _tarnwel.TableSet:
        """The TableSet this message is decoded with."""
        return self._reader.tables_for(self)

    def error(self, text: str) -> DecodeError:
        return DecodeError(self._reader.name, self.index, self.offset, text)

    def decoded(self) -> Any:
        """The core's columnar decode (`tarnwel._core.DecodedMessage`)."""
        decoded = self._decoded
        if decoded is None:
            decoded = self._decode(_core.decode)
        return decoded

    def _decode(self, decode: Any, *more: Any) -> Any:
        """Runs `decode` (`_core.decode` or `_core.decode_blocks`) on this message and keeps the
        decoded message it gives, alone or first of a tuple; reports what the decode met."""
        reader = self._reader
        tables = reader.tables_for(self)
        try:
            result = decode(self._buffer, self._start, self.record, tables, reader.max_values, *more)
        except ValueError as error:
            raise self.error(str(error)) from None
        decoded = self._decoded = result[0] if more else result
        if decoded.unknown_local:
            codes = ", ".join(f"{code:06d}" for code in decoded.unknown_local)
            warnings.warn(
                str(self.error(f"unknown local descriptors read as numbers of the width "
                               f"2 06 YYY gave them: {codes}")),
                DecodeWarning, stacklevel=3,
            )
        return result

    def values(self) -> list[_tarnwel.DecodedValue]:
        """The flat DecodedValue list, as `_tarnwel.decode_values_with_tables` gives it."""
        return self.decoded().values()

    def columns(self) -> list[Column]:
        """The arrays this message has, in the order their elements are first met."""
        return [Column(*column) for column in self.decoded().columns()]

    def to_arrays(self, keys: Iterable[str] | None = None) -> dict[str, np.ndarray]:
        """One NumPy array per element key.

        Shape ``(subsets,)`` for an element met at most once per subset, else
        ``(subsets, most occurrences)`` padded as missing. Numbers are float64 (NaN where
        missing), texts object arrays of str (None where missing). `keys` may name ecCodes keys
        or six-digit codes; keys the message lacks are left out.
        """
        if isinstance(keys, str):
            keys = [keys]
        elif keys is not None and not isinstance(keys, (list, tuple)):
            keys = list(keys)
        # A first use decodes and fills in one release of the lock, so a thread beside it
        # waits for the lock once. Number cells come in blocks whose memory the next decode
        # reuses once these arrays are gone.
        if self._decoded is None:
            decoded, taken = self._decode(_core.decode_blocks, keys)
        else:
            decoded = self._decoded
            taken = decoded.take_blocks(keys)
        subsets = decoded.subsets
        arrays: dict[str, np.ndarray] = {}
        for key, cells, text, width in taken:
            if text:
                array = np.empty(len(cells), dtype=object)
                array[:] = cells
            else:
                array = _frombuffer(cells, _FLOAT64)
            arrays[key] = array if width == 1 else array.reshape(subsets, width)
        return arrays

    def to_long(self) -> dict[str, np.ndarray]:
        """One row per value but operator markers: subset, rank, key, descriptor, number, text."""
        decoded = self.decoded()
        names = np.array([column[0] for column in decoded.columns()], dtype=object)
        subset, column, rank, descriptor, number, text = decoded.long_rows()
        columns = np.frombuffer(column, dtype=np.uint32)
        texts = np.empty(len(text), dtype=object)
        texts[:] = text
        return {
            "subset": np.frombuffer(subset, dtype=np.uint32),
            "rank": np.frombuffer(rank, dtype=np.uint32),
            "key": names[columns] if len(names) else np.empty(0, dtype=object),
            "descriptor": np.frombuffer(descriptor, dtype=np.uint32),
            "number": np.frombuffer(number, dtype=np.float64),
            "text": texts,
        }

