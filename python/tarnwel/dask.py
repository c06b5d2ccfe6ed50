"""`tarnwel.dask.read_dataframe`: a Dask DataFrame over BUFR archives, one partition per file or
per byte range of a large file, cut where a message starts."""

from __future__ import annotations

import glob
import os
from collections.abc import Iterable, Mapping, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any

import numpy as np

from tarnwel.dataframe import FrameBuilder, Query, require_pandas, table_chooser
from tarnwel.errors import DecodeError, check_policy
from tarnwel.reader import Reader
from tarnwel.tables import PathLike, TableChooser

if TYPE_CHECKING:
    import dask.dataframe
    import pandas as pd

# A file larger than this is read as several partitions.
DEFAULT_BLOCKSIZE = 64 << 20

# One chooser per worker process and definitions, so that a worker loads each table set once.
_CHOOSERS: dict[tuple[str, ...] | None, TableChooser] = {}


def require_dask() -> Any:
    try:
        import dask.dataframe
    except ImportError:
        raise ImportError(
            "tarnwel.dask.read_dataframe needs Dask: pip install 'tarnwel[dask]'"
        ) from None
    return dask.dataframe


@dataclass(frozen=True)
class Part:
    """Bytes ``start`` to ``stop`` of a file (None, None: all of it); ``first_index`` is the
    index of its first message in the file."""

    path: str
    start: int | None = None
    stop: int | None = None
    first_index: int = 0


def expand_paths(paths: str | PathLike | Iterable[str | PathLike]) -> list[str]:
    """A glob pattern (its matches, sorted), a path, or a list of paths."""
    if isinstance(paths, (str, os.PathLike)):
        text = os.fspath(paths)
        found = sorted(glob.glob(text)) if glob.has_magic(text) else [text]
        if not found:
            raise FileNotFoundError(f"no file matches {text!r}")
        return found
    return [os.fspath(path) for path in paths]


def plan(paths: Sequence[str], blocksize: int) -> list[Part]:
    """One part per file, or parts of about `blocksize` bytes cut where messages start."""
    parts = []
    for path in paths:
        if os.path.getsize(path) <= blocksize:
            parts.append(Part(path))
            continue
        start, first_index = 0, 0
        with Reader(path, errors="skip") as reader:
            for message in reader:
                if message.offset - start >= blocksize:
                    parts.append(Part(path, start, message.offset, first_index))
                    start, first_index = message.offset, message.index
        parts.append(Part(path, start, os.path.getsize(path), first_index))
    return parts


class _RangeReader(Reader):
    """A reader of a file's byte range whose errors name the file, its indexes and offsets."""

    def __init__(self, part: Part, data: bytes, **options: Any) -> None:
        super().__init__(data, **options)
        self.name = part.path
        self._part = part

    def failed(self, error: DecodeError) -> None:
        super().failed(DecodeError(
            self.name, error.index + self._part.first_index,
            error.offset + (self._part.start or 0), error.text,
        ))


@dataclass(frozen=True)
class ReadPart:
    """What each partition runs: read one part into a frame shaped like `meta`."""

    columns: list[str] | None
    filters: Mapping[str, Any] | None
    header_filters: Mapping[str, Any] | None
    layout: str
    definitions: tuple[str, ...] | None
    errors: str
    meta: Any = None

    def __call__(self, part: Part) -> "pd.DataFrame":
        query = Query.make(self.columns, self.filters, self.header_filters, self.layout)
        chooser = _chooser(self.definitions)
        builder = FrameBuilder(query, chooser=chooser, errors=self.errors)
        if part.start is None:
            reader = builder.reader(part.path)
        else:
            with open(part.path, "rb") as handle:
                handle.seek(part.start)
                data = handle.read(part.stop - part.start)  # type: ignore[operator]
            reader = _RangeReader(part, data, chooser=chooser, errors=self.errors)
        with reader:
            builder.read(reader, part.first_index)
        frame = builder.frame()
        return frame if self.meta is None else conform(frame, self.meta, part.path)


def _chooser(definitions: tuple[str, ...] | None) -> TableChooser:
    chooser = _CHOOSERS.get(definitions)
    if chooser is None:
        chooser = _CHOOSERS[definitions] = table_chooser(None, definitions)
    return chooser


def conform(frame: "pd.DataFrame", meta: "pd.DataFrame", where: str) -> "pd.DataFrame":
    """`frame` with `meta`'s columns and dtypes: a column it lacks is missing throughout.

    A column `meta` lacks, or one of texts where `meta` has numbers, is an error rather than
    a silent loss."""
    pd = require_pandas()
    extra = [name for name in frame.columns if name not in meta.columns]
    if extra:
        shown = ", ".join(extra[:5]) + (", ..." if len(extra) > 5 else "")
        raise ValueError(
            f"{where}: columns {shown} are not in the first partition; pass columns="
        )
    data = {}
    for name, dtype in meta.dtypes.items():
        if name not in frame.columns:
            data[name] = pd.Series(_missing(dtype, len(frame)), dtype=dtype)
            continue
        column = frame[name]
        if column.dtype != dtype:
            if dtype != object:
                raise ValueError(
                    f"{where}: column {name} holds {column.dtype} values, the first partition {dtype}"
                )
            values = np.asarray(column, dtype=object)
            values[column.isna().to_numpy()] = None
            column = pd.Series(values, dtype=object)
        data[name] = column.reset_index(drop=True)
    return pd.DataFrame(data, columns=meta.columns)


def _missing(dtype: np.dtype, rows: int) -> np.ndarray:
    if dtype == object:
        return np.full(rows, None, dtype=object)
    if dtype.kind == "M":
        return np.full(rows, np.datetime64("NaT"), dtype=dtype)
    return np.full(rows, np.nan)


def read_dataframe(
    paths: str | PathLike | Iterable[str | PathLike],
    columns: Iterable[str] | None = None,
    *,
    filters: Mapping[str, Any] | None = None,
    header_filters: Mapping[str, Any] | None = None,
    layout: str = "wide",
    definitions: PathLike | Sequence[PathLike] | None = None,
    errors: str = "raise",
    blocksize: int = DEFAULT_BLOCKSIZE,
) -> "dask.dataframe.DataFrame":
    """A Dask DataFrame of BUFR files (needs ``tarnwel[dask]``), as `tarnwel.read_dataframe`
    makes of them, with one partition per file, or per `blocksize` bytes of a larger file.

    `paths` is a glob pattern or a list of paths; the other arguments are those of
    `tarnwel.read_dataframe` (workers load their tables from `definitions`). The first
    partition is read at once to give the frame's columns and dtypes; every other partition
    is made to match them, so with ``columns=None`` a partition with a column the first one
    lacks is an error: name the columns for archives of unlike messages. Each partition has
    its own index from 0.
    """
    dd = require_dask()
    check_policy(errors)
    if not isinstance(blocksize, int) or blocksize < 1:
        raise ValueError(f"blocksize must be a positive int, not {blocksize!r}")
    names = None if columns is None else ([columns] if isinstance(columns, str) else list(columns))
    Query.make(names, filters, header_filters, layout)  # reject a bad query before any work
    roots: tuple[str, ...] | None
    if definitions is None:
        roots = None
    elif isinstance(definitions, (str, os.PathLike)):
        roots = (os.fspath(definitions),)
    else:
        roots = tuple(os.fspath(root) for root in definitions)
    parts = plan(expand_paths(paths), blocksize)
    if not parts:
        raise ValueError("no files to read")
    read = ReadPart(names, filters, header_filters, layout, roots, errors)
    meta = read(parts[0]).iloc[:0]
    return dd.from_map(
        ReadPart(names, filters, header_filters, layout, roots, errors, meta),
        parts, meta=meta, divisions=None, label="tarnwel-read-bufr", enforce_metadata=False,
    )
