"""The reading API's errors: where a message failed, and the core's own text."""

from __future__ import annotations

from typing import Literal

ErrorPolicy = Literal["raise", "warn", "skip"]
ERROR_POLICIES: tuple[str, ...] = ("raise", "warn", "skip")


class DecodeError(ValueError):
    """A message that could not be read, framed, matched with tables or decoded.

    ``source`` names the file (or ``"<bytes>"``), ``index`` is the message's position in it
    (0-based, counting every message found, broken ones too), ``offset`` its first byte, and
    ``text`` the decoder's own description of the failure.
    """

    def __init__(self, source: str, index: int, offset: int, text: str) -> None:
        super().__init__(f"{source}: message {index} at offset {offset}: {text}")
        self.source = source
        self.index = index
        self.offset = offset
        self.text = text


class DecodeWarning(UserWarning):
    """Issued for a message that failed when ``errors="warn"``; the reader goes on."""


def check_policy(errors: str) -> None:
    if errors not in ERROR_POLICIES:
        raise ValueError(f"errors must be one of 'raise', 'warn' or 'skip', not {errors!r}")
