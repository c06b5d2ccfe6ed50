"""tarnwel: a fast, exact BUFR decoder.

`tarnwel.open` reads messages lazily from paths, buffers and streams and hands out NumPy
arrays; `tarnwel.read_dataframe` makes pandas frames of them, and `tarnwel.release_memory`
gives back the memory decodes keep for the next one. Everything of the exact
`_tarnwel` module is re-exported here as well.
"""

from _tarnwel import *  # noqa: F401,F403
from _tarnwel import __all__ as _exact_all

from tarnwel.errors import DecodeError, DecodeWarning
from tarnwel.memory import release_memory
from tarnwel.message import Column, Message
from tarnwel.dataframe import read_dataframe
from tarnwel.reader import DEFAULT_MAX_VALUES, Reader, open

__all__ = list(_exact_all) + [
    "open", "Reader", "Message", "Column", "DecodeError", "DecodeWarning", "DEFAULT_MAX_VALUES",
    "read_dataframe", "release_memory",
]
