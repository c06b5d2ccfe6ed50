"""The reading API: tarnwel.open over every kind of source, error policies, and arrays that
hold exactly what the DecodedValue list holds."""

import io
import math
import mmap
import warnings

import numpy as np
import pytest

import _tarnwel
import tarnwel

pytestmark = pytest.mark.usefixtures("definitions_root")


def example_files(data_dir):
    return sorted(data_dir.glob("*.bufr"))


def corpus_files(corpus_dir):
    return sorted(corpus_dir.glob("*.bufr"))


def expected_cells(message, subsets):
    """(column name, subset, occurrence) -> DecodedValue for the first `subsets` subsets,
    grouped from the flat list by hand."""
    columns = {(c.descriptor, c.associated): c.name for c in message.columns()}
    values = message.values()
    subset_of = subset_boundaries(message, values)
    cells = {}
    counts = {}
    for position, value in enumerate(values):
        if value.name == "operator":
            continue
        if subset_of[position] >= subsets:
            break
        associated = value.descriptor == 999999
        descriptor = values[position + 1].descriptor if associated else value.descriptor
        name = columns[(descriptor, associated)]
        seen = counts.setdefault(subset_of[position], {})
        cells[(name, subset_of[position], seen.get(name, 0))] = value
        seen[name] = seen.get(name, 0) + 1
    return cells


def subset_boundaries(message, values):
    """The subset of each value. The flat list does not carry it: a compressed message repeats
    one layout per subset; for an uncompressed one the long rows' subset numbers are taken
    (markers have no row), after checking that they run in order over every other value."""
    subsets = message.number_of_subsets
    if message.compressed_data:
        per_subset = len(values) // subsets if subsets else 0
        assert per_subset * subsets == len(values)
        return [position // per_subset for position in range(len(values))]
    rows = message.to_long()["subset"].tolist()
    assert len(rows) == sum(v.name != "operator" for v in values)
    assert rows == sorted(rows)
    numbers = iter(rows)
    return [None if v.name == "operator" else next(numbers) for v in values]


def assert_arrays_match_values(message, most_values=None):
    """Compares every cell of every array; with `most_values`, only as many leading subsets
    as hold about that many values (the shapes are still checked whole)."""
    arrays = message.to_arrays()
    columns = {c.name: c for c in message.columns()}
    assert list(arrays) == list(columns)
    subsets = message.number_of_subsets
    for name, array in arrays.items():
        width = columns[name].width
        assert array.shape == ((subsets,) if width == 1 else (subsets, width)), name
    checked = subsets
    if most_values is not None and subsets:
        checked = max(1, most_values * subsets // max(1, message.decoded().size))
    cells = expected_cells(message, checked)
    filled = set()
    for (name, subset, occurrence), value in cells.items():
        array = arrays[name]
        cell = array[subset] if array.ndim == 1 else array[subset, occurrence]
        filled.add((name, subset, occurrence))
        if columns[name].text:
            assert cell == value.raw_text, (name, subset, occurrence)
        elif value.raw_value is None:
            assert math.isnan(cell), (name, subset, occurrence)
        else:
            assert cell == value.raw_value, (name, subset, occurrence)
    # Every other cell is padding and must read as missing.
    for name, array in arrays.items():
        grid = array.reshape(subsets, -1)
        for subset in range(min(subsets, checked)):
            for occurrence in range(grid.shape[1]):
                if (name, subset, occurrence) not in filled:
                    cell = grid[subset, occurrence]
                    assert cell is None or (isinstance(cell, float) and math.isnan(cell))


def test_arrays_hold_exactly_the_decoded_values_of_every_example(data_dir):
    compared = 0
    for path in example_files(data_dir):
        for message in tarnwel.open(path):
            assert_arrays_match_values(message)
            compared += 1
    assert compared >= 5


def test_subsets_whose_replications_end_at_an_associated_field_keep_their_columns():
    """Subsets of 2, 1 and 2 replications: each agrees with the one before up to an
    associated field, whose element then differs (airTemperature, then nonCoordinatePressure)."""
    from bufr_builder import Bits
    from bufr_builder import message as build

    bits = Bits()
    for repeats in (2, 1, 2):
        bits.add(1, 6).add(repeats, 8)  # 0 31 021, then the factor 0 31 001
        for level in range(repeats):
            bits.add(10 + level, 8).add(27_315 + level, 16)  # associated field, 0 12 101
        bits.add(20 + repeats, 8).add(5_000 + repeats, 14)  # associated field, 0 10 004
    descriptors = [204008, 31021, 101000, 31001, 12101, 10004, 204000]
    data = build(descriptors=descriptors, data=bits.to_bytes(), subsets=3)
    message = next(iter(tarnwel.open(data)))
    assert_arrays_match_values(message)
    arrays = message.to_arrays()
    assert arrays["nonCoordinatePressure->associatedField"].tolist() == [22, 21, 22]
    assert arrays["airTemperature->associatedField"].tolist()[1][0] == 10


def test_compressed_grids_of_many_subsets_hold_exactly_the_decoded_values():
    """300 subsets fill a grid in tiles and a column in blocks with a short last one; the
    widths and sums take every way an increment is read and made a number: 10 bits from a
    small base, 58 bits from a base of 2^60, missing increments among them."""
    import random

    from bufr_builder import Bits
    from bufr_builder import message as build

    subsets, rng = 300, random.Random(7)
    bits = Bits()
    for _ in range(5):  # 1 01 005, 0 12 101: 16 bits wide
        bits.add(27_000, 16).add(10, 6)
        for _ in range(subsets):
            bits.add(rng.choice([1023, rng.randrange(1023)]), 10)
    bits.add(1 << 60, 61).add(58, 6)  # 0 12 101 widened by 2 01 173 to 61 bits
    for _ in range(subsets):
        bits.add(rng.choice([(1 << 58) - 1, rng.randrange((1 << 58) - 1)]), 58)
    descriptors = [101005, 12101, 201173, 12101, 201000]
    data = build(descriptors=descriptors, data=bits.to_bytes(), subsets=subsets, flags=0xC0)
    message = next(iter(tarnwel.open(data)))
    assert_arrays_match_values(message)
    arrays = message.to_arrays()
    assert [array.shape for array in arrays.values()] == [(subsets, 6)]
    assert 0 < np.isnan(arrays["airTemperature"]).sum() < subsets * 6


def test_wide_compressed_grids_hold_exactly_the_decoded_values():
    """Eleven ranks of every kind the eight-by-eight kernel converts (increments of 1 to 50
    bits, missing ones, ranks with one value for all, one missing for all) over 300 subsets:
    a partial group of ranks, rows left to the tiles, and a last rank whose reads near the
    end of the data leave more rows to them."""
    import random

    from bufr_builder import Bits
    from bufr_builder import message as build

    subsets, rng = 300, random.Random(11)
    widths = [0, 1, 7, 13, 31, 50, 3, 0, 24, 50, 9]
    bits = Bits()
    for rank, width in enumerate(widths):  # 0 12 101 widened by 2 01 169 to 57 bits
        if width == 0:
            bits.add((1 << 57) - 1 if rank == 7 else 29_315, 57).add(0, 6)
            continue
        bits.add(rng.randrange(1 << 49), 57).add(width, 6)
        for _ in range(subsets):
            bits.add(rng.choice([(1 << width) - 1, rng.randrange(1 << width)]), width)
    data = build(descriptors=[201169, 101011, 12101, 201000], data=bits.to_bytes(), subsets=subsets,
                 flags=0xC0)
    message = next(iter(tarnwel.open(data)))
    assert_arrays_match_values(message)
    grid = message.to_arrays()["airTemperature"]
    assert grid.shape == (subsets, len(widths))
    assert np.isnan(grid[:, 7]).all() and (grid[:, 0] == 293.15).all()
    assert 0 < np.isnan(grid).sum() < subsets * (len(widths) - 1)


def test_arrays_hold_exactly_the_decoded_values_of_the_corpus(corpus_dir):
    compared = failed = 0
    for path in corpus_files(corpus_dir):
        reader = tarnwel.open(path, errors="skip")
        for message in reader:
            try:
                message.decoded()
            except tarnwel.DecodeError:
                failed += 1
                continue
            assert_arrays_match_values(message, most_values=5_000)
            compared += 1
    assert compared >= 200, (compared, failed)


def test_list_from_the_reader_equals_the_exact_module(data_dir):
    for path in example_files(data_dir):
        data = path.read_bytes()
        for message in tarnwel.open(path):
            chunk = data[message.offset : message.offset + message.length]
            expected = _tarnwel.decode_values_with_tables(chunk, message.tables)
            got = message.values()
            assert [repr(v) for v in got] == [repr(v) for v in expected]
            assert [(v.raw, v.raw_value, v.raw_text, v.raw_meaning, v.name) for v in got] == [
                (v.raw, v.raw_value, v.raw_text, v.raw_meaning, v.name) for v in expected
            ]


def sources_of(path):
    data = path.read_bytes()
    handle = path.open("rb")
    mapped = mmap.mmap(handle.fileno(), 0, access=mmap.ACCESS_READ)
    yield "path", str(path)
    yield "bytes", data
    yield "bytearray", bytearray(data)
    yield "memoryview", memoryview(data)[:]
    yield "mmap", mapped
    yield "file", handle
    yield "stream", io.BytesIO(data)


def test_every_source_kind_gives_the_messages_of_parse_all_bytes(data_dir):
    path = data_dir / "multi.bufr"
    expected = [repr(m) for m in _tarnwel.parse_all_bytes(path.read_bytes())]
    for kind, source in sources_of(path):
        messages = list(tarnwel.open(source))
        assert [repr(m.record) for m in messages] == expected, kind
        assert [m.to_arrays(["latitude"])["latitude"].tolist() for m in messages] == [
            m.to_arrays(["latitude"])["latitude"].tolist() for m in tarnwel.open(str(path))
        ], kind


def test_a_stream_read_in_small_chunks_finds_every_message(data_dir, monkeypatch):
    monkeypatch.setattr(tarnwel.sources, "_CHUNK", 7)
    data = b"junk" + (data_dir / "multi.bufr").read_bytes() + b"BUF"
    offsets = [m.offset for m in tarnwel.open(io.BytesIO(data))]
    assert offsets == [m.offset for m in tarnwel.open(data)]
    assert len(offsets) == 4


def broken_in_the_middle(data_dir):
    """Three good messages around one whose terminator is damaged."""
    good = (data_dir / "synop_uncompressed.bufr").read_bytes()
    good = good[good.index(b"BUFR") :]
    bad = bytearray(good)
    bad[-1] = ord("6")
    return good + good + bytes(bad) + good, len(good)


def test_raise_names_the_source_index_and_offset(data_dir):
    data, length = broken_in_the_middle(data_dir)
    with pytest.raises(tarnwel.DecodeError) as caught:
        list(tarnwel.open(data))
    error = caught.value
    assert (error.source, error.index, error.offset) == ("<bytes>", 2, 2 * length)
    assert error.text == "section 5 terminator is not 7777"
    assert str(error) == f"<bytes>: message 2 at offset {2 * length}: section 5 terminator is not 7777"
    assert isinstance(error, ValueError)


def test_warn_and_skip_go_on_with_the_next_message(data_dir):
    data, length = broken_in_the_middle(data_dir)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        reader = tarnwel.open(data, errors="warn")
        assert [m.index for m in reader] == [0, 1, 3]
    assert [str(w.message) for w in caught] == [
        f"<bytes>: message 2 at offset {2 * length}: section 5 terminator is not 7777"
    ]
    assert caught[0].category is tarnwel.DecodeWarning
    reader = tarnwel.open(data, errors="skip")
    assert [m.offset for m in reader] == [0, length, 3 * length]
    assert (reader.counts.messages, reader.counts.failed) == (3, 1)


def test_a_truncated_last_message_is_reported_where_it_starts(data_dir):
    good = (data_dir / "synop_uncompressed.bufr").read_bytes()
    good = good[good.index(b"BUFR") :]
    data = good + good[:40]
    with pytest.raises(tarnwel.DecodeError) as caught:
        list(tarnwel.open(data))
    assert str(caught.value) == f"<bytes>: message 1 at offset {len(good)}: section 0 at offset {len(good)} is truncated"
    assert [m.offset for m in tarnwel.open(data, errors="skip")] == [0]
    # The core's scanner and the reader agree on trailing junk that starts like a message.
    with pytest.raises(tarnwel.DecodeError, match="message is too short to be BUFR$"):
        list(tarnwel.open(good + b"BUFR\0\0"))


def test_the_value_budget_stops_an_amplifying_message_with_a_clear_error(data_dir):
    from bufr_builder import message as build

    # 255 markers per subset, 65,535 subsets, and no data at all.
    data = build(descriptors=[101255, 237000], subsets=65535, data=b"")
    message = next(iter(tarnwel.open(data, max_values=1_000_000)))
    with pytest.raises(tarnwel.DecodeError) as caught:
        message.to_arrays()
    assert caught.value.text == (
        "message needs more than 1000000 decoded values, the max_values budget; "
        "pass a larger max_values to decode it"
    )


@pytest.mark.parametrize(
    "keys, expected",
    [
        (["latitude"], ["latitude"]),
        (["005001", "airTemperature"], ["005001", "airTemperature"]),
        (["noSuchKey"], []),
        ("latitude", ["latitude"]),
        ((key for key in ["airTemperature", 5, "latitude"]), ["airTemperature", "latitude"]),
    ],
)
def test_keys_name_ecCodes_keys_or_codes(data_dir, keys, expected):
    message = next(iter(tarnwel.open(data_dir / "synop_uncompressed.bufr")))
    arrays = message.to_arrays(keys)
    assert list(arrays) == expected
    if "005001" in arrays:
        np.testing.assert_array_equal(arrays["005001"], message.to_arrays(["latitude"])["latitude"])


def test_two_descriptors_sharing_a_key_stay_apart(data_dir):
    # 005001 and 005002 are both "latitude" in the ecCodes tables.
    from bufr_builder import message as build

    data = build(descriptors=[5001, 5002], subsets=1, data=bytes(8))
    message = next(iter(tarnwel.open(data)))
    assert [(c.name, c.descriptor) for c in message.columns()] == [("latitude", 5001), ("005002", 5002)]


def test_a_given_table_set_is_used_for_every_message(data_dir, definitions_root):
    path = data_dir / "multi.bufr"
    first = _tarnwel.parse_all_bytes(path.read_bytes())[0]
    tables = _tarnwel.TableSet.from_definitions(str(definitions_root), first)
    assert all(m.tables is tables for m in tarnwel.open(path, tables=tables))
    # Messages that choose the same tables share one loaded set; the others do not.
    synop = (data_dir / "synop_uncompressed.bufr").read_bytes()
    # multi.bufr's first message chooses what the SYNOP example does, its second another set.
    chosen = [m.tables for m in tarnwel.open(synop + synop + path.read_bytes())]
    assert chosen[0] is chosen[1] is chosen[2]
    assert chosen[3] is not chosen[0]


@pytest.mark.parametrize(
    "arguments, error, text",
    [
        ({"errors": "loud"}, ValueError, "errors must be one of 'raise', 'warn' or 'skip', not 'loud'"),
        ({"max_values": 0}, ValueError, "max_values must be a positive int, not 0"),
        ({"tables": "tables"}, TypeError, "tables must be a TableSet, not str"),
    ],
)
def test_bad_arguments_are_refused(data_dir, arguments, error, text):
    with pytest.raises(error) as caught:
        tarnwel.open(data_dir / "multi.bufr", **arguments)
    assert str(caught.value) == text


def unknown_local_message():
    from bufr_builder import message as build

    # 2 06 012 announces 012 bits for 0 63 250, which no table has; then 0 01 001 (7 bits).
    bits = "101010101010" + "0000011" + "0" * 5
    return build(descriptors=[206012, 63250, 1001], data=int(bits, 2).to_bytes(3, "big"))


def test_an_unknown_local_descriptor_after_2_06_is_stepped_over_with_a_warning():
    data = unknown_local_message()
    message = next(iter(tarnwel.open(data)))
    with pytest.warns(tarnwel.DecodeWarning) as caught:
        values = message.values()
    assert [str(w.message) for w in caught] == [
        "<bytes>: message 0 at offset 0: unknown local descriptors read as numbers of the width "
        "2 06 YYY gave them: 063250"
    ]
    assert [(v.descriptor, v.name, v.raw, v.raw_value) for v in values] == [
        (63250, "unknownLocalDescriptor", 0b101010101010, 0b101010101010),
        (1001, message.tables.get_element(1001).name, 3, 3.0),
    ]
    assert message.to_arrays()["063250"].tolist() == [0b101010101010]
    # The exact module keeps refusing it.
    with pytest.raises(ValueError) as refused:
        _tarnwel.decode_values_with_tables(data, message.tables)
    assert str(refused.value) == "descriptor 063250 was not found in Table B"


def test_each_message_reports_its_own_unknown_local_descriptors(data_dir):
    # Decodes with one table set reuse its caches of table entries; a cache that met an
    # unknown code must not hide it from the next message, nor leak it into a plain one.
    plain = (data_dir / "synop_uncompressed.bufr").read_bytes()
    with tarnwel.open(unknown_local_message() * 2 + plain) as reader:
        messages = list(reader)
    with pytest.warns(tarnwel.DecodeWarning):
        assert [m.decoded().unknown_local for m in messages[:2]] == [[63250], [63250]]
    assert messages[2].decoded().unknown_local == []


def test_messages_stay_usable_after_the_reader_is_closed(data_dir):
    with tarnwel.open(data_dir / "multi.bufr") as reader:
        messages = list(reader)
        first = messages[0].to_arrays(["latitude"])
    assert messages[1].to_arrays(["latitude"])["latitude"].size == messages[1].number_of_subsets
    np.testing.assert_array_equal(messages[0].to_arrays(["latitude"])["latitude"], first["latitude"])
