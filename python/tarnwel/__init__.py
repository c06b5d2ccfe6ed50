"""tarnwel: a fast, exact BUFR edition 4 decoder."""

from _tarnwel import *  # noqa: F401,F403
from _tarnwel import __all__  # noqa: F401
