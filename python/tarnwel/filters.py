"""Filter conditions of `read_dataframe`: on whole columns, on header fields, and from the command line.

A condition is a scalar (equal; None means missing), a list, tuple, set or range (member of), a
`slice(lo, hi)` (inclusive, either end open) or a callable (column -> boolean mask, or header
value -> truth).
"""

from __future__ import annotations

import math
from collections.abc import Collection, Mapping
from typing import Any

import numpy as np

Condition = Any
Filters = Mapping[str, Condition]

_COLLECTIONS = (list, tuple, set, frozenset, np.ndarray)


def check_condition(key: str, condition: Condition) -> None:
    """Rejects a condition no rule applies to, before any message is read."""
    if isinstance(condition, slice) and condition.step is not None:
        raise ValueError(f"filter on {key!r}: a slice has no step, not {condition.step!r}")
    if isinstance(condition, Mapping):
        raise TypeError(f"filter on {key!r}: a condition cannot be a mapping")


def column_mask(key: str, condition: Condition, column: Any) -> np.ndarray:
    """The rows of `column` (a pandas Series) that meet `condition`, as a boolean array."""
    if callable(condition):
        mask = np.asarray(condition(column), dtype=bool)
        if mask.shape != (len(column),):
            raise ValueError(
                f"filter on {key!r}: the callable returned {mask.shape} values for {len(column)} rows"
            )
        return mask
    if condition is None:
        return np.asarray(column.isna(), dtype=bool)
    if isinstance(condition, slice):
        mask = np.ones(len(column), dtype=bool)
        if condition.start is not None:
            mask &= np.asarray(column >= condition.start, dtype=bool)
        if condition.stop is not None:
            mask &= np.asarray(column <= condition.stop, dtype=bool)
        return mask
    if isinstance(condition, range):
        return _range_mask(condition, column)
    if isinstance(condition, _COLLECTIONS):
        return np.asarray(column.isin(list(condition)), dtype=bool)
    return np.asarray(column == condition, dtype=bool)


def _range_mask(values: range, column: Any) -> np.ndarray:
    """Membership of a range without listing it: a range may span millions of numbers."""
    numbers = np.asarray(column, dtype=float)
    if not values:
        return np.zeros(len(numbers), dtype=bool)
    low, high = sorted((values[0], values[-1]))
    with np.errstate(invalid="ignore"):
        return (numbers >= low) & (numbers <= high) & (np.mod(numbers - values.start, values.step) == 0)


def header_matches(condition: Condition, value: Any) -> bool:
    """Whether one header field's value meets `condition`."""
    if callable(condition):
        return bool(condition(value))
    if condition is None:
        return value is None
    if isinstance(condition, slice):
        return (condition.start is None or value >= condition.start) and (
            condition.stop is None or value <= condition.stop
        )
    if isinstance(condition, (range, *_COLLECTIONS)):
        return value in condition
    return bool(value == condition)


def parse_filter(text: str) -> tuple[str, Condition]:
    """``KEY=VALUE``, ``KEY=LO:HI`` (either end may be empty) or ``KEY=A,B,C`` from a command line."""
    key, equals, value = text.partition("=")
    if not equals or not key:
        raise ValueError(f"a filter is KEY=VALUE, KEY=LO:HI or KEY=A,B,...; not {text!r}")
    low, colon, high = value.partition(":")
    if colon and ":" not in high and all(_is_number(part) for part in (low, high) if part):
        return key, slice(_number(low) if low else None, _number(high) if high else None)
    if "," in value:
        return key, [_scalar(part) for part in value.split(",")]
    return key, _scalar(value)


def _is_number(text: str) -> bool:
    try:
        float(text)
    except ValueError:
        return False
    return True


def _number(text: str) -> int | float:
    try:
        return int(text)
    except ValueError:
        return float(text)


def _scalar(text: str) -> int | float | str:
    """A number where the text is one, so that ``blockNumber=10`` matches the float 10.0."""
    if _is_number(text) and math.isfinite(float(text)):
        return _number(text)
    return text


def split_filters(
    filters: Mapping[str, Condition], header_fields: Collection[str]
) -> tuple[dict[str, Condition], dict[str, Condition]]:
    """(column filters, header filters): a key that names a header field filters on it."""
    columns = {key: value for key, value in filters.items() if key not in header_fields}
    headers = {key: value for key, value in filters.items() if key in header_fields}
    return columns, headers

