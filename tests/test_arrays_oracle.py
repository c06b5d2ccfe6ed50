"""Message.to_arrays of real messages against ecCodes' arrays for the same keys.

Our cells are put in ecCodes' order (subset after subset for uncompressed data, occurrence after occurrence of
all subsets for compressed data), with the order of occurrences taken from `to_long`, and compared with ecCodes'
array of the same key. Where the two readers are meant to differ, the rule is named below:
- HEADER_FIRST: a key that is also a header key (`centre`) gives the header value first, and ecCodes' plain
  array of a key can lose occurrences; those keys are read rank by rank (`#1#key`, `#2#key`, ...).
- QUALITY_SECTION: after a data-present bitmap (2 22 000 to 2 25 000, 2 32 000) ecCodes makes the quality and
  substituted values attributes of the elements they refer to (`pressure->percentConfidence`): only the values
  met before the first bitmap of the first subset are compared, and a key ecCodes lacks must be one of its
  attribute names.
- ASSOCIATED_SIGNIFICANCE: ecCodes keeps 031021, which tells what the associated fields mean, only as an
  attribute of those fields, so a message with associated fields may lack the key.
- CONSTANT_COLUMN: ecCodes gives a compressed column whose subsets are all equal as one value (its setting
  ECCODES_BUFR_MULTI_ELEMENT_CONSTANT_ARRAYS is process-wide and changes what other tests' peers read, so it is
  left alone): a one-value rank stands for every subset. The plain, unranked array of such a key is then short,
  and the key is read rank by rank.
- Two descriptors sharing a key: ecCodes merges them under the key; ours keeps the first one met under the key and
  names the others by code, so ecCodes' array is compared with our columns of that key taken together.
"""

import re
import warnings

import numpy as np
import pytest

oracle = pytest.importorskip("eccodes_oracle", reason="ecCodes is not installed")
ec = oracle.ec

import tarnwel  # noqa: E402
from tarnwel.message import ASSOCIATED_SUFFIX  # noqa: E402

LONG_MISSING = 2147483647  # ecCodes' missing value of an integer key
QUALITY_OPERATORS = {222000, 223000, 224000, 225000, 232000}
SIGNIFICANCE = "associatedFieldSignificance"
# Broken messages we refuse while ecCodes prints an error and reads on: data that end before the descriptors
# do, and a local sequence with no table.
REFUSED = re.compile(r"not enough bits while reading section 4 at bit|descriptor \d{6} was not found in Table D")


def normal_text(text):
    # We keep NULs and turn octets above 127 into "?"; ecCodes drops trailing NULs and spaces, and gives a
    # missing text as an empty one.
    return "" if text is None else "".join(c if ord(c) < 128 else "?" for c in text).rstrip("\0 ")


def quality_rows(message, count):
    """True for each row of `to_long` met after the first bitmap operator of the first subset, or in a later
    subset of a message that has one; None when the message has no bitmap."""
    if not QUALITY_OPERATORS & set(message.tables.expand(message.unexpanded_descriptors)):
        return None
    after = np.ones(count, dtype=bool)
    row = 0
    for value in message.values():
        if value.descriptor in QUALITY_OPERATORS:
            break
        if value.descriptor // 100000 != 2:
            row += 1
    after[:row] = False
    return after


def ours_by_key(message, arrays):
    """ecCodes key -> (our cells in ecCodes' order, comparable mask, is text, descriptor codes, subsets in a
    rank), and whether the message has a bitmap."""
    long = message.to_long()
    compressed = message.compressed_data
    subsets = message.number_of_subsets if compressed else 1
    after = quality_rows(message, len(long["subset"]))
    columns = message.columns()
    position = {column.name: i for i, column in enumerate(columns)}
    keys, group = {}, []
    for column in columns:
        element = message.tables.get_element(column.descriptor)
        # An unknown local descriptor has no ecCodes key either.
        key = None if element is None else element.abbreviation + (ASSOCIATED_SUFFIX if column.associated else "")
        group.append(keys.setdefault(key, len(keys)))
    rows = np.flatnonzero(long["subset"] == 0) if compressed else np.arange(len(long["subset"]))
    column_of_row = np.fromiter((position[name] for name in long["key"][rows]), dtype=np.intp, count=len(rows))
    group_of_row = np.asarray(group, dtype=np.intp)[column_of_row]
    order = np.argsort(group_of_row, kind="stable")
    bounds = np.searchsorted(group_of_row[order], np.arange(len(keys) + 1))
    out = {}
    for key, g in keys.items():
        if key is None:
            continue
        picked = rows[order[bounds[g]:bounds[g + 1]]]
        names = {columns[c].name for c in column_of_row[order[bounds[g]:bounds[g + 1]]]}
        text = columns[position[next(iter(names))]].text
        cells = np.empty((len(picked), subsets), dtype=object if text else np.float64)
        for name in names:
            at = np.flatnonzero(long["key"][picked] == name)
            array, subset, rank = arrays[name], long["subset"][picked[at]], long["rank"][picked[at]] - 1
            if compressed:
                cells[at] = (array[:, None] if array.ndim == 1 else array[:, rank]).T
            else:
                cells[at, 0] = array[subset] if array.ndim == 1 else array[subset, rank]
        comparable = np.ones(len(picked), dtype=bool) if after is None else ~after[picked]
        cells = cells.ravel()
        out[key] = (list(cells) if text else cells, np.repeat(comparable, subsets), text,
                    [columns[position[name]].descriptor for name in names], subsets)
    return out, after is not None


def eccodes_cells(h, key, text, per_rank, ranked, most=None):
    """ecCodes' values of `key` (ranked: rank by rank, `most` cells at most), as floats with NaN where
    missing, or as texts."""
    def get(name):
        if text:
            return [t or None for t in ec.codes_get_string_array(h, name)]
        values = np.asarray(ec.codes_get_array(h, name), dtype=np.float64)
        return np.where((values == oracle.MISSING) | (values == LONG_MISSING), np.nan, values)

    if not ranked:
        return get(key)
    cells = []
    rank = 1
    while (most is None or len(cells) < most) and ec.codes_is_defined(h, f"#{rank}#{key}"):
        found = list(get(f"#{rank}#{key}"))
        cells.extend(found * per_rank if len(found) == 1 else found)  # CONSTANT_COLUMN
        rank += 1
    return cells if text else np.array(cells, dtype=np.float64)


def cells_differ(ours, theirs, text, descriptors):
    if text:
        return next((i for i, (a, b) in enumerate(zip(ours, theirs)) if normal_text(a) != normal_text(b)), None)
    same = (np.isnan(ours) & np.isnan(theirs)) | np.isclose(ours, theirs, rtol=1e-12, atol=1e-12)
    if all(code // 1000 % 100 == 31 for code in descriptors):
        same |= np.isnan(theirs)  # class 31 is never missing for us; ecCodes calls all ones missing
    wrong = np.flatnonzero(~same)
    return int(wrong[0]) if len(wrong) else None


def attribute_names(h):
    names = set()
    keys = ec.codes_bufr_keys_iterator_new(h)
    while ec.codes_bufr_keys_iterator_next(keys):
        names.update(ec.codes_bufr_keys_iterator_get_name(keys).split("->")[1:])
    ec.codes_bufr_keys_iterator_delete(keys)
    return names


def disagreements(message, body):
    arrays = message.to_arrays()
    mine, quality = ours_by_key(message, arrays)
    h = ec.codes_new_from_message(body)
    problems = []
    try:
        ec.codes_set(h, "skipExtraKeyAttributes", 1)
        try:
            ec.codes_set(h, "unpack", 1)
        except ec.GribInternalError:
            return None  # ecCodes gave up on a broken message
        attributes = None
        associated = any(key.endswith(ASSOCIATED_SUFFIX) for key in mine)
        for key, (ours, comparable, text, descriptors, per_rank) in mine.items():
            if not ec.codes_is_defined(h, key):
                attributes = attribute_names(h) if attributes is None else attributes
                if not ((quality and key in attributes) or (key == SIGNIFICANCE and associated)):
                    # QUALITY_SECTION, ASSOCIATED_SIGNIFICANCE
                    problems.append(f"{key}: ecCodes has no such key")
                continue
            if quality:
                keep = int(np.argmin(comparable)) if not comparable.all() else len(comparable)
                ours = ours[:keep]
                theirs = eccodes_cells(h, key, text, per_rank, ranked=True, most=keep)[:keep]
            else:
                theirs = eccodes_cells(h, key, text, per_rank, ranked=False)
                if len(theirs) != len(ours):  # HEADER_FIRST
                    theirs = eccodes_cells(h, key, text, per_rank, ranked=True)
            if len(theirs) != len(ours):
                problems.append(f"{key}: {len(ours)} cells, ecCodes has {len(theirs)}")
                continue
            at = cells_differ(ours, theirs, text, descriptors)
            if at is not None:
                problems.append(f"{key} cell {at}: ours {ours[at]!r}, ecCodes {theirs[at]!r}")
    finally:
        ec.codes_release(h)
    return problems


def test_corpus_arrays_agree_with_eccodes(corpus_dir, definitions_root):
    checked, problems = 0, []
    for path in sorted(corpus_dir.iterdir()):
        if path.suffix in {".md", ".tsv"}:
            continue
        raw = path.read_bytes()
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", tarnwel.DecodeWarning)  # unknown local descriptors, read on
            for message in tarnwel.open(raw, definitions=definitions_root, errors="skip"):
                where = f"{path.name} message {message.index}"
                body = raw[message.offset:message.offset + message.length]
                try:
                    found = disagreements(message, body)
                except tarnwel.DecodeError as error:
                    if REFUSED.search(error.text):
                        continue
                    found = [error.text]
                if found is not None:
                    problems += [f"{where}: {p}" for p in found]
                    checked += 1
    assert problems == []
    assert checked >= 300
