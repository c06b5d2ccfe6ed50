"""Table locations: what kind of BUFR tables a directory holds, and the tables it has for a message.

A location is one of
- ``"eccodes-root"``: an ecCodes definitions tree (it holds ``bufr/tables/``), whose master and local tables
  are chosen from each message's section 1;
- ``"eccodes-tables"``: one ecCodes table directory (it holds ``element.table``), used for every message;
- ``"bufrdc"``: a directory of BUFRDC text tables (``B<19 digits>.TXT`` files and their C and D files), whose
  file set is chosen from each message's section 1.

``TARNWEL_TABLES`` names locations to search, separated by ``os.pathsep``.
"""

from __future__ import annotations

import os
import re
from collections.abc import Mapping
from dataclasses import dataclass
from typing import Literal, Union

from _tarnwel import BufrMessage, TableSet

from tarnwel import _core

__all__ = ["ENVIRONMENT_VARIABLE", "Kind", "Location", "classify", "locate", "locations_from_env", "tables_for"]

Kind = Literal["eccodes-root", "eccodes-tables", "bufrdc"]
ENVIRONMENT_VARIABLE = "TARNWEL_TABLES"

_BUFRDC_TABLE_B = re.compile(r"B[0-9]{19}\.(TXT|txt)")


@dataclass(frozen=True)
class Location:
    """A directory of tables and its kind."""

    path: str
    kind: Kind


PathLike = Union[str, "os.PathLike[str]"]


def classify(path: PathLike) -> Kind:
    """The kind of tables the directory `path` holds; ValueError when it is no directory or holds none."""
    path = os.fspath(path)
    if not os.path.isdir(path):
        raise ValueError(f"table location is not a directory: {path}")
    if os.path.isdir(os.path.join(path, "bufr", "tables")):
        return "eccodes-root"
    if os.path.isfile(os.path.join(path, "element.table")):
        return "eccodes-tables"
    if any(_BUFRDC_TABLE_B.fullmatch(name) for name in os.listdir(path)):
        return "bufrdc"
    raise ValueError(
        f"table location holds no BUFR tables (no bufr/tables/, element.table or BUFRDC B*.TXT files): {path}"
    )


def locate(path: PathLike) -> Location:
    """`path` with the kind of tables it holds."""
    path = os.fspath(path)
    return Location(path, classify(path))


def tables_for(location: Location | PathLike, message: BufrMessage) -> TableSet | None:
    """The tables `location` has for `message` (a parsed message of any edition), or None when it has none.

    An ecCodes root has none when it lacks the master table version the message names; a BUFRDC directory
    when it holds neither a set for the message's centre nor a WMO set (see ``tarnwel._core.load_bufrdc``).
    An ecCodes table directory serves every message. A table that cannot be read raises ValueError whose
    text starts with the table file and, when one line is at fault, the line (``FILE:LINE: TEXT``).
    """
    if not isinstance(location, Location):
        location = locate(location)
    if location.kind == "eccodes-tables":
        return _core.load_eccodes(location.path)
    if location.kind == "eccodes-root":
        master = os.path.join(
            location.path, "bufr", "tables", str(message.master_table_number), "wmo",
            str(message.master_tables_version_number),
        )
        # A version may also be an alias file naming another one.
        if not os.path.lexists(master):
            return None
        return _core.load_definitions(location.path, message)
    found = _core.load_bufrdc(
        location.path, message.master_table_number, message.master_tables_version_number,
        message.originating_centre, message.originating_subcentre, message.local_tables_version_number,
    )
    return None if found is None else found[0]


def locations_from_env(environ: Mapping[str, str] | None = None) -> list[Location]:
    """The locations ``TARNWEL_TABLES`` names, in its order; empty entries are skipped."""
    value = (os.environ if environ is None else environ).get(ENVIRONMENT_VARIABLE, "")
    locations = []
    for entry in value.split(os.pathsep):
        if not entry:
            continue
        try:
            locations.append(locate(entry))
        except ValueError as error:
            raise ValueError(f"{ENVIRONMENT_VARIABLE}: {error}") from None
    return locations
