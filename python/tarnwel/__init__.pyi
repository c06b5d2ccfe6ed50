# Type stubs for the tarnwel package: the exact module's names, and the reading API.
from _tarnwel import *
from tarnwel.dataframe import read_dataframe as read_dataframe
from tarnwel.errors import DecodeError as DecodeError, DecodeWarning as DecodeWarning
from tarnwel.memory import release_memory as release_memory
from tarnwel.message import Column as Column, Message as Message
from tarnwel.reader import DEFAULT_MAX_VALUES as DEFAULT_MAX_VALUES, Reader as Reader, open as open

__all__: list[str]
