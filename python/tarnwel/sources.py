"""Where message bytes come from: a path (memory-mapped), a bytes-like object, or a file object.

Every source is split into messages by the core's scanner, one message at a time, so that a
file of any size is read in bounded memory.
"""

from __future__ import annotations

import io
import mmap
import os
from typing import IO, Iterator, NamedTuple, Union

from tarnwel import _core

Source = Union[str, "os.PathLike[str]", bytes, bytearray, memoryview, mmap.mmap, IO[bytes]]

_MARKER = b"BUFR"
_CHUNK = 1 << 20


# Named tuples rather than frozen dataclasses: one is made per message, and a tuple is made
# several times faster.
class Located(NamedTuple):
    """A whole message: ``buffer[start:start + length]``, ``offset`` bytes into the source."""

    offset: int
    buffer: object
    start: int
    length: int


class ScanFailure(NamedTuple):
    """The scan could not frame a message at ``offset``; it goes on after that marker."""

    offset: int
    text: str


Found = Union[Located, ScanFailure]


def source_name(source: object) -> str:
    if isinstance(source, (str, os.PathLike)):
        return os.fspath(source)
    name = getattr(source, "name", None)
    return name if isinstance(name, str) else "<bytes>"


class ByteSource:
    """Opens `source` for scanning; a context manager that closes what it opened."""

    def __init__(self, source: Source) -> None:
        self.name = source_name(source)
        self._opened: list[object] = []
        self._stream: IO[bytes] | None = None
        self._buffer: object | None = None
        if isinstance(source, (str, os.PathLike)):
            with open(source, "rb") as handle:
                self._buffer = self._map(handle.fileno())
        elif isinstance(source, (bytes, bytearray, memoryview, mmap.mmap)):
            self._buffer = source
        elif hasattr(source, "read"):
            self._buffer = self._map_file_object(source)
            if self._buffer is None:
                self._stream = source
        else:
            self._buffer = memoryview(source)  # any other buffer; TypeError if it is none

    def _map(self, fileno: int) -> object:
        if os.fstat(fileno).st_size == 0:
            return b""
        mapped = mmap.mmap(fileno, 0, access=mmap.ACCESS_READ)
        self._opened.append(mapped)
        return mapped

    def _map_file_object(self, handle: IO[bytes]) -> object | None:
        """A regular file at its start is mapped; anything else is streamed."""
        try:
            fileno = handle.fileno()
            if handle.tell() != 0 or not os.path.isfile(f"/proc/self/fd/{fileno}"):
                return None
        except (OSError, AttributeError, io.UnsupportedOperation):
            return None
        return self._map(fileno)

    def close(self) -> None:
        # The map is not closed here: messages and decodes still using it keep it alive,
        # and it is unmapped when the last of them goes.
        self._opened.clear()
        self._buffer = None

    def __enter__(self) -> "ByteSource":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def messages(self) -> Iterator[Found]:
        if self._stream is not None:
            return _scan_stream(self._stream)
        return _scan_buffer(self._buffer)


def _scan_failure(buffer: object, position: int, error: ValueError) -> tuple[ScanFailure, int]:
    """The failure at the next marker, and where the scan resumes: just past that marker."""
    marker = _find(buffer, position)
    return ScanFailure(marker, str(error)), marker + len(_MARKER)


def _find(buffer: object, position: int) -> int:
    finder = getattr(buffer, "find", None)
    if finder is not None:
        return int(finder(_MARKER, position))
    # A memoryview cannot search itself; this copy is made only after a failure.
    return position + bytes(memoryview(buffer)[position:]).find(_MARKER)  # type: ignore[arg-type]


def _scan_buffer(buffer: object) -> Iterator[Found]:
    position = 0
    while True:
        try:
            step = _core.next_message(buffer, position, False)
        except ValueError as error:
            failure, position = _scan_failure(buffer, position, error)
            yield failure
            continue
        if step is None:
            return
        start, length, _ = step
        yield Located(start, buffer, start, length)
        position = start + length


def _scan_stream(stream: IO[bytes]) -> Iterator[Found]:
    window = bytearray()
    base = 0  # source offset of window[0]
    position = 0
    at_end = False
    while True:
        try:
            step = _core.next_message(window, position, not at_end)
        except ValueError as error:
            failure, position = _scan_failure(window, position, error)
            yield ScanFailure(base + failure.offset, failure.text)
            continue
        if step is None:
            return
        start, length, complete = step
        if complete:
            yield Located(base + start, bytes(window[start : start + length]), 0, length)
            position = start + length
            continue
        # More bytes are needed: keep only what the next message may use.
        del window[:start]
        base += start
        position = 0
        chunk = stream.read(max(_CHUNK, length - len(window)))
        if chunk:
            window += chunk
        else:
            at_end = True
