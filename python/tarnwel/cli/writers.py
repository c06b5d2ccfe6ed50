"""The tables of `tarnwel export`, written a batch at a time: Parquet, CSV and JSON lines.

Each writer takes the batches of a FrameBuilder (rows, {column: array}) as they come and
holds at most one of them, so memory is bounded by a batch, not by the input. What it writes
reads back as the frame `read_dataframe` gives for the same input. The table goes to a
temporary file beside OUT, moved onto OUT only once it is complete.
"""

from __future__ import annotations

import os
import pickle
import shutil
import tempfile
from collections.abc import Iterator
from typing import IO, Any

import numpy as np

from tarnwel.columns import joined_dtype, missing
from tarnwel.dataframe import check_size, empty_column, make_frame, require_pandas

Arrays = dict[str, np.ndarray]
DATE_FORMAT = "%Y-%m-%d %H:%M:%S"


class TableWriter:
    """One output table of `layout`. `names` is its fixed column list (asked-for columns, or
    the long layout's), or None when the columns are those met, in the order they are first met."""

    mode = "w"

    def __init__(self, path: str, names: list[str] | None, layout: str) -> None:
        self.path = path
        self._fixed = names
        self._layout = layout
        self._met: dict[str, None] = {}
        self._rows = 0
        self._pd = require_pandas()
        directory = os.path.dirname(os.path.abspath(path))
        descriptor, self._temporary = tempfile.mkstemp(prefix=".tarnwel-export-", dir=directory)
        self._out: IO[Any] = os.fdopen(descriptor, self.mode)

    def write(self, rows: int, arrays: Arrays) -> None:
        self._met.update(dict.fromkeys(arrays))
        self._rows += rows
        check_size(self._rows, len(self._met))
        self._write(rows, arrays)

    def finish(self) -> None:
        """Completes the table and puts it in place."""
        self._finish()
        self._out.close()
        os.replace(self._temporary, self.path)

    def discard(self) -> None:
        """Drops what was written (after a failure)."""
        self._out.close()
        try:
            os.unlink(self._temporary)
        except FileNotFoundError:
            pass

    def _names(self) -> list[str]:
        return self._fixed if self._fixed is not None else list(self._met)

    def _frame(self, names: list[str], rows: int, arrays: Arrays) -> Any:
        columns = {name: arrays[name] if name in arrays else empty_column(name, rows, self._layout)
                   for name in names}
        return make_frame(self._pd, names, columns, rows)

    def _write(self, rows: int, arrays: Arrays) -> None:
        raise NotImplementedError

    def _finish(self) -> None:
        raise NotImplementedError


class JsonLinesWriter(TableWriter):
    """One object per row, appended batch by batch; a row names every column met up to its
    batch (null where it has none), so a column that first appears late is simply absent
    from the rows before it."""

    def __init__(self, path: str, names: list[str] | None, layout: str) -> None:
        super().__init__(path, names, layout)
        self._written = False

    def _write(self, rows: int, arrays: Arrays) -> None:
        if rows:
            self._out.write(_json(self._frame(self._names(), rows, arrays)))
            self._written = True

    def _finish(self) -> None:
        if not self._written:
            self._out.write(_json(self._frame(self._names(), 0, {})))


def _json(frame: Any) -> str:
    return frame.to_json(orient="records", lines=True, date_format="iso", date_unit="s")


class CsvWriter(TableWriter):
    """A header, then the rows of each batch. A CSV has one column set, named in its first
    line: with fixed columns, rows are appended as they come; otherwise the batches wait in a
    spool until the last column is known."""

    def __init__(self, path: str, names: list[str] | None, layout: str) -> None:
        super().__init__(path, names, layout)
        self._spool = None if names is not None else Spool(self._temporary, layout)
        if names is not None:
            self._out.write(self._frame(names, 0, {}).to_csv(index=False))

    def _write(self, rows: int, arrays: Arrays) -> None:
        if self._spool is not None:
            self._spool.add(rows, arrays)
        elif rows:
            self._append(self._frame(self._names(), rows, arrays))

    def _append(self, frame: Any) -> None:
        # One form for every batch: left to itself, pandas drops the time of a batch whose
        # times are all midnight. The seconds of a data_datetime are whole.
        frame.to_csv(self._out, index=False, header=False, date_format=DATE_FORMAT)

    def _finish(self) -> None:
        if self._spool is None:
            return
        names = self._names()
        self._out.write(self._frame(names, 0, {}).to_csv(index=False))
        for rows, arrays in self._spool.aligned(names):
            if rows:
                self._append(make_frame(self._pd, names, arrays, rows))

    def discard(self) -> None:
        if self._spool is not None:
            self._spool.close()
        super().discard()


class ParquetWriter(TableWriter):
    """One row group per batch, under one schema. The schema is known only once every
    batch is in (a column may first appear, or first hold a value, in the last one), so
    the batches wait in a spool and are written, cast to it, at the end."""

    mode = "wb"

    def __init__(self, path: str, names: list[str] | None, layout: str) -> None:
        try:
            import pyarrow  # type: ignore[import-untyped]
        except ImportError:
            raise ImportError("writing Parquet needs pyarrow: pip install 'tarnwel[parquet]'") from None
        self._pa = pyarrow
        super().__init__(path, names, layout)
        self._spool = Spool(self._temporary, layout)
        # Column -> the Arrow types its text columns hold (null: no value yet).
        self._types: dict[str, set[Any]] = {}

    def _write(self, rows: int, arrays: Arrays) -> None:
        for name, values in arrays.items():
            if values.dtype == object:
                try:
                    kind = self._pa.infer_type(values, from_pandas=True)
                except (self._pa.ArrowInvalid, self._pa.ArrowTypeError):
                    kind = "numbers and texts"
                self._types.setdefault(name, set()).add(kind)
        self._spool.add(rows, arrays)

    def _finish(self) -> None:
        import pyarrow.parquet as parquet  # type: ignore[import-untyped]

        names = self._names()
        schema = None
        writer = None
        try:
            for rows, arrays in self._spool.aligned(names):
                table = self._pa.Table.from_pandas(make_frame(self._pd, names, arrays, rows),
                                                   preserve_index=False)
                if writer is None:
                    schema = self._schema(table.schema)
                    writer = parquet.ParquetWriter(self._out, schema)
                writer.write_table(table.cast(schema))
            if writer is None:
                frame = self._frame(names, 0, {})
                parquet.write_table(self._pa.Table.from_pandas(frame, preserve_index=False), self._out)
        finally:
            if writer is not None:
                writer.close()

    def _schema(self, first: Any) -> Any:
        """The first batch's schema, with each text column's type as all batches have it."""
        fields = []
        for field in first:
            kinds = {kind for kind in self._types.get(field.name, ()) if kind != self._pa.null()}
            if len(kinds) > 1:
                raise ValueError(f"{self.path}: column {field.name} holds values of types "
                                 f"{', '.join(sorted(map(str, kinds)))}; Parquet needs one")
            fields.append(field.with_type(kinds.pop()) if kinds else field)
        return self._pa.schema(fields, metadata=first.metadata)

    def discard(self) -> None:
        self._spool.close()
        super().discard()


class Spool:
    """Batches kept on disk, beside the output, until the table's columns are all known; given
    back aligned to them with the dtypes that joining them into one frame would give."""

    def __init__(self, beside: str, layout: str) -> None:
        self._layout = layout
        self._directory = tempfile.mkdtemp(prefix=os.path.basename(beside) + ".", dir=os.path.dirname(beside))
        self._count = 0
        self._dtypes: dict[str, set[np.dtype]] = {}
        self._present: dict[str, int] = {}

    def add(self, rows: int, arrays: Arrays) -> None:
        for name, values in arrays.items():
            self._dtypes.setdefault(name, set()).add(values.dtype)
            self._present[name] = self._present.get(name, 0) + 1
        with open(self._file(self._count), "wb") as out:
            pickle.dump((rows, arrays), out, protocol=pickle.HIGHEST_PROTOCOL)
        self._count += 1

    def aligned(self, names: list[str]) -> Iterator[tuple[int, Arrays]]:
        """Each batch with every column of `names`, in that order; the spool is emptied."""
        dtypes = {name: joined_dtype(self._dtypes[name], self._present[name] < self._count)
                  for name in names if name in self._dtypes}
        try:
            for number in range(self._count):
                with open(self._file(number), "rb") as spooled:
                    rows, arrays = pickle.load(spooled)
                os.unlink(self._file(number))
                yield rows, {name: _aligned(arrays.get(name), dtypes.get(name), name, rows, self._layout)
                             for name in names}
        finally:
            self.close()

    def close(self) -> None:
        shutil.rmtree(self._directory, ignore_errors=True)

    def _file(self, number: int) -> str:
        return os.path.join(self._directory, f"{number:08d}.pickle")


def _aligned(
    values: np.ndarray | None, dtype: np.dtype | None, name: str, rows: int, layout: str,
) -> np.ndarray:
    if dtype is None:
        return empty_column(name, rows, layout)
    if values is None:
        return missing(dtype, rows)
    return values if values.dtype == dtype else values.astype(dtype)


WRITERS: dict[str, type[TableWriter]] = {
    "parquet": ParquetWriter, "csv": CsvWriter, "json": JsonLinesWriter,
}
