"""`tarnwel.open`: a lazy reader over every message of a file, buffer or stream."""

from __future__ import annotations

import warnings
from dataclasses import dataclass
from typing import Iterable, Iterator, Sequence

import numpy as np

import _tarnwel
from tarnwel import _core
from tarnwel.errors import DecodeError, DecodeWarning, ErrorPolicy, check_policy
from tarnwel.message import Message
from tarnwel.sources import ByteSource, ScanFailure, Source
from tarnwel.tables import PathLike, TableChooser

# Real messages stay far below this (the largest of our corpus holds about 1.2 million
# values); it keeps one decode's memory to a few hundred MB.
DEFAULT_MAX_VALUES = 5_000_000


@dataclass
class ReadCounts:
    """What a reader has met so far: messages handed out, and messages that failed."""

    messages: int = 0
    failed: int = 0


class Reader:
    """Iterates the messages of one source; see `tarnwel.open`."""

    def __init__(
        self,
        source: Source,
        *,
        tables: _tarnwel.TableSet | None = None,
        definitions: PathLike | Sequence[PathLike] | None = None,
        errors: ErrorPolicy = "raise",
        max_values: int = DEFAULT_MAX_VALUES,
        master_version: int | None = None,
        chooser: TableChooser | None = None,
    ) -> None:
        check_policy(errors)
        if not isinstance(max_values, int) or max_values < 1:
            raise ValueError(f"max_values must be a positive int, not {max_values!r}")
        self.errors = errors
        self.max_values = max_values
        self.counts = ReadCounts()
        # A chooser shared by the readers of many files loads each table set once for all of them.
        self._chooser = (
            chooser if chooser is not None else TableChooser(tables, definitions, master_version)
        )
        self._source = ByteSource(source)
        self.name = self._source.name

    def __enter__(self) -> "Reader":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def close(self) -> None:
        """Drops the reader's hold on its source; messages read so far stay usable."""
        self._source.close()

    def tables_for(self, message: Message) -> _tarnwel.TableSet:
        try:
            return self._chooser.tables_for(message.record)
        except (ValueError, LookupError) as error:
            raise message.error(str(error)) from None

    def failed(self, error: DecodeError) -> None:
        """Applies the error policy to a failed message: raise it, warn, or pass over it."""
        self.counts.failed += 1
        if self.errors == "raise":
            raise error
        if self.errors == "warn":
            warnings.warn(str(error), DecodeWarning, stacklevel=3)

    def __iter__(self) -> Iterator[Message]:
        counts, parse, name = self.counts, _core.parse_message, self.name
        for index, found in enumerate(self._source.messages()):
            if isinstance(found, ScanFailure):
                self.failed(DecodeError(name, index, found.offset, found.text))
                continue
            offset, buffer, start, length = found
            try:
                record = parse(buffer, start, length)
            except ValueError as error:
                self.failed(DecodeError(name, index, offset, str(error)))
                continue
            counts.messages += 1
            yield Message(self, record, index, offset, buffer, start)

    def headers(self) -> Iterator[dict[str, object]]:
        """Every message's header, without decoding section 4."""
        for message in self:
            yield message.header()

    def arrays(self, keys: Iterable[str] | None = None) -> Iterator[tuple[Message, dict[str, np.ndarray]]]:
        """Each message with its `to_arrays(keys)`; failed decodes follow the error policy.

        A message's decode is dropped once the loop moves on to the next one.
        """
        wanted = None if keys is None else list(keys)
        for message in self:
            try:
                arrays = message.to_arrays(wanted)
            except DecodeError as error:
                self.failed(error)
                continue
            yield message, arrays
            message._decoded = None


def open(
    source: Source,
    *,
    tables: _tarnwel.TableSet | None = None,
    definitions: PathLike | Sequence[PathLike] | None = None,
    errors: ErrorPolicy = "raise",
    max_values: int = DEFAULT_MAX_VALUES,
    master_version: int | None = None,
) -> Reader:
    """Opens BUFR messages for reading.

    `source` is a path (read through a memory map), a bytes-like object (bytes, bytearray,
    memoryview, mmap; never copied) or a binary file object (streamed). Iterating the reader
    yields one `Message` at a time; section 4 is decoded only when asked for.

    `tables` is used for every message; otherwise each message's tables come from the
    `definitions` locations (ecCodes roots or table directories, BUFRDC tables), loaded once per
    distinct choice, and from the tables inside the package when no location has them
    (`master_version` overrides the message's version there). `errors` decides what a broken message does: ``"raise"`` a
    `DecodeError` naming the source, index and offset, ``"warn"`` a `DecodeWarning` and the
    next message, ``"skip"`` just the next message. `max_values` bounds one message's decode.
    """
    return Reader(source, tables=tables, definitions=definitions, errors=errors,
                  max_values=max_values, master_version=master_version)
