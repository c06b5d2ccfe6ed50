"""decode_values* and DecodedValue on hand-built messages and tables: records, texts, errors and bounds."""

import gc
import sys
import time
import tracemalloc

import pytest

import _tarnwel
from bufr_builder import Bits, message

ELEMENTS = [
    # code, name, unit, scale, reference, width
    ("001001", "WMO BLOCK NUMBER", "Numeric", 0, 0, 7),
    ("001015", "STATION OR SITE NAME", "CCITT IA5", 0, 0, 32),
    ("012101", "TEMPERATURE", "K", 2, 0, 16),
    ("020003", "PRESENT WEATHER", "CODE TABLE", 0, 0, 4),
    ("031001", "DELAYED DESCRIPTOR REPLICATION FACTOR", "Numeric", 0, 0, 8),
    ("002002", "TINY", "Numeric", 9, 0, 4),
    ("002003", "HUGE", "Numeric", -20, 0, 4),
    ("002004", "WIDE", "Numeric", 0, 0, 64),
    ("002005", "MICRO", "Numeric", 6, 0, 8),
    ("002006", "NEGATIVE", "Numeric", 8, -25, 8),
    ("002007", "VAST", "Numeric", -290, 0, 64),
    # 10^-400 is 0.0 as a double, so every value divides by zero.
    ("002008", "OVERFLOWING", "Numeric", -400, -1, 4),
    ("031031", "DATA PRESENT INDICATOR", "FLAG TABLE", 0, 0, 1),
    ("001016", "SHORT NAME", "CCITT IA5", 0, 0, 20),
]
WIDTHS = {int(code): width for code, *_, width in ELEMENTS}


@pytest.fixture(scope="module")
def table_dir(tmp_path_factory):
    root = tmp_path_factory.mktemp("tables")
    lines = ["#code|abbreviation|type|name|unit|scale|reference|width|crex_unit|crex_scale|crex_width"]
    for code, name, unit, scale, reference, width in ELEMENTS:
        lines.append(f"{code}|abbr{code}|long|{name}|{unit}|{scale}|{reference}|{width}|x|0|0")
    (root / "element.table").write_text("\n".join(lines) + "\n")
    (root / "sequence.def").write_text('"300001" = [  001001, 012101 ]\n')
    (root / "codetables").mkdir()
    (root / "codetables" / "20003.table").write_text("2 2 Drizzle\n15 15 Not known\n")
    return str(root)


@pytest.fixture(scope="module")
def tables(table_dir):
    return _tarnwel.TableSet.from_eccodes(table_dir)


def decode(tables, descriptors, bits, subsets=1, flags=0x80):
    data = message(descriptors, bits.to_bytes(), subsets=subsets, flags=flags)
    return _tarnwel.decode_values_with_tables(data, tables)


def test_values_carry_every_field(tables):
    bits = Bits().add(12, 7).add(27315, 16).add_text("AB\"\\").add(2, 4).add(15, 4).add(127, 7)
    values = decode(tables, [1001, 12101, 1015, 20003, 20003, 1001], bits)
    seen = [(v.descriptor, v.name, v.raw, v.raw_value, v.raw_text, v.raw_meaning, v.data) for v in values]
    assert seen == [
        (1001, "WMO BLOCK NUMBER", 12, 12.0, None, None, 12.0),
        (12101, "TEMPERATURE", 27315, 273.15, None, None, 273.15),
        (1015, "STATION OR SITE NAME", None, 1004.0, 'AB"\\', None, 'AB"\\'),
        (20003, "PRESENT WEATHER", 2, 2.0, None, "Drizzle", "Drizzle"),
        (20003, "PRESENT WEATHER", 15, None, None, "Not known", "Not known"),
        (1001, "WMO BLOCK NUMBER", 127, None, None, None, None),
    ]
    assert [repr(v) for v in values] == [
        "DecodedValue(001001, Some(12.0))",
        "DecodedValue(012101, Some(273.15))",
        'DecodedValue(001015, "AB\\"\\\\")',
        'DecodedValue(020003, "Drizzle")',
        'DecodedValue(020003, "Not known")',
        "DecodedValue(001001, None)",
    ]


@pytest.mark.parametrize(
    ("code", "raw", "shown"),
    [
        (2002, 12, "1.2e-8"),
        (2002, 1, "1e-9"),
        (2003, 1, "1e20"),
        (2003, 0, "0.0"),
        (1001, 100, "100.0"),
        (2004, 10**16, "1e16"),
        (2004, 10**16 - 2, "9999999999999998.0"),
        (2004, 2**64 - 1, "1.8446744073709552e19"),  # 64 bits are never missing
        (2004, 0, "0.0"),
        (2005, 100, "0.0001"),
        (2005, 15, "1.5e-5"),
        (2006, 0, "-2.5e-7"),
        (2007, 1797693134862315708, "1.7976931348623157e308"),
        (2008, 6, "inf"),
        (2008, 0, "-inf"),
        (2008, 1, "NaN"),
    ],
)
def test_numbers_print_shortest_with_exponent_outside_range(tables, code, raw, shown):
    (value,) = decode(tables, [code], Bits().add(raw, WIDTHS[code]))
    assert repr(value) == f"DecodedValue({code:06d}, Some({shown}))"


def test_texts_keep_controls_and_replace_high_octets(tables):
    bits = Bits().add(0x41, 8).add(0x00, 8).add(0xC4, 8).add(0x0A, 8)
    (value,) = decode(tables, [1015], bits)
    assert value.raw_text == "A\0?"  # trailing line feed removed
    assert repr(value) == 'DecodedValue(001015, "A\\0?")'


@pytest.mark.parametrize(
    ("octets", "text"),
    [
        (b"AB\t ", "AB"),
        (b"AB\x0b\x0c", "AB"),
        (b"AB\r\n", "AB"),
        (b" A B", " A B"),  # leading and inner spaces stay
        (b"AB\x1c ", "AB\x1c"),  # only the six white space characters go
        (b"A\0\0\0", "A\0\0\0"),
        (b"    ", ""),
        (b"\xff\xff\xff\xff", None),
        (b"\xff\xff\xff\xfe", "????"),
        (b"\x80\x7fAB", "?\x7fAB"),
    ],
)
def test_trailing_white_space_and_all_missing_texts(tables, octets, text):
    (value,) = decode(tables, [1015], Bits().add(int.from_bytes(octets, "big"), 32))
    assert (value.raw_text, value.raw_value) == (text, 1004.0)


def test_a_text_of_part_octets_counts_its_whole_characters(tables):
    (value,) = decode(tables, [1016], Bits().add_text("AB").add(0b0100, 4))
    assert (value.raw_text, value.raw_value) == ("AB@", 1002.0)


def test_operators_and_character_data_records(tables):
    bits = Bits().add_text("HELLO")
    values = decode(tables, [222000, 205005], bits)
    assert [(v.descriptor, v.name, v.raw, v.raw_value, v.raw_text) for v in values] == [
        (222000, "operator", 0, 0.0, None),
        (205005, "characterData", None, 1005.0, "HELLO"),
    ]


def test_values_are_small_untracked_and_immutable(tables):
    (value,) = decode(tables, [1001], Bits().add(5, 7))
    assert sys.getsizeof(value) <= 64
    assert not gc.is_tracked(value)
    with pytest.raises(AttributeError):
        value.raw = 3
    with pytest.raises(TypeError) as error:
        type(value)()
    assert str(error.value) == "cannot create '_tarnwel.DecodedValue' instances"


@pytest.mark.parametrize("attribute", ["descriptor", "name", "raw", "raw_value", "raw_text", "raw_meaning", "data"])
def test_every_attribute_is_read_only_with_an_empty_docstring(tables, attribute):
    (value,) = decode(tables, [1015], Bits().add_text("ABCD"))
    with pytest.raises(AttributeError) as error:
        setattr(value, attribute, None)
    assert str(error.value) == f"attribute '{attribute}' of '_tarnwel.DecodedValue' objects is not writable"
    assert getattr(_tarnwel.DecodedValue, attribute).__doc__ == ""


def test_results_hold_about_72_bytes_a_value_and_nothing_leaks(tables):
    # 64 for the object and 8 for its list slot; names are shared.
    bits = Bits()
    for k in range(1000):
        bits.add(k % 100, 7).add(500 + k, 16)
    data = message([1001, 12101], bits.to_bytes(), subsets=1000)
    failing = message([1001, 12101], b"\0", subsets=2)
    _tarnwel.decode_values_with_tables(data, tables)
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        values = _tarnwel.decode_values_with_tables(data, tables)
        held = tracemalloc.get_traced_memory()[0] - before
        assert len(values) == 2000 and held / len(values) < 80
        del values
        for _ in range(50):
            _tarnwel.decode_values_with_tables(data, tables)
            with pytest.raises(ValueError):
                _tarnwel.decode_values_with_tables(failing, tables)
        gc.collect()
        assert tracemalloc.get_traced_memory()[0] - before < 20_000
    finally:
        tracemalloc.stop()


def test_strings_are_released_with_their_values(tables):
    descriptors, bits = [1015, 20003, 1015], Bits().add_text("WXYZ").add(2, 4).add_text("WXYZ")
    values = decode(tables, descriptors, bits)
    text = values[0].raw_text
    del values
    # The text is held by this frame and the call only, like a string made here.
    assert sys.getrefcount(text) == sys.getrefcount("".join(["un", "shared"]))
    # Names and meanings are kept by the table set for its later decodes; decoding
    # again and dropping the results leaves their counts where they were.
    values = decode(tables, descriptors, bits)
    shared = [values[0].name, values[1].raw_meaning, values[1].name]
    del values
    before = [sys.getrefcount(string) for string in shared]
    for _ in range(20):
        decode(tables, descriptors, bits)
    assert [sys.getrefcount(string) for string in shared] == before


def test_results_of_one_table_set_share_names_and_meanings(tables):
    bits = Bits().add_text("WXYZ").add(2, 4)
    first = decode(tables, [1015, 20003], bits)
    second = decode(tables, [1015, 20003], bits)
    assert first[0].name is second[0].name
    assert first[1].raw_meaning is second[1].raw_meaning
    assert first[0].raw_text == second[0].raw_text


def test_names_are_shared_within_a_decode(tables):
    values = decode(tables, [101003, 1001], Bits().add(1, 7).add(2, 7).add(3, 7))
    assert values[0].name is values[2].name


def test_subsets_follow_each_other(tables):
    values = decode(tables, [300001], Bits().add(1, 7).add(100, 16).add(2, 7).add(200, 16), subsets=2)
    assert [v.raw_value for v in values] == [1.0, 1.0, 2.0, 2.0]


def fields(values):
    return [(v.descriptor, v.raw, v.raw_value, v.raw_text) for v in values]


def test_compressed_columns_come_out_subset_by_subset(tables):
    bits = Bits().add(5, 7).add(2, 6).add(0, 2).add(1, 2)  # R0 5, increments 0 and 1
    bits.add_text("AB  ").add(0, 6)  # one text for both subsets
    bits.add_text("WXYZ").add(2, 6).add_text("ab").add(0xFFFF, 16)  # two characters each
    values = decode(tables, [1001, 1015, 1015, 222000], bits, subsets=2, flags=0xC0)
    assert fields(values) == [
        (1001, 5, 5.0, None),
        (1015, None, 1004.0, "AB"),
        (1015, None, 3004.0, "ab"),
        (222000, 0, 0.0, None),
        (1001, 6, 6.0, None),
        (1015, None, 2004.0, "AB"),
        (1015, None, 4004.0, None),
        (222000, 0, 0.0, None),
    ]


def test_compressed_bitmaps_take_the_first_subset(tables):
    # The indicator reads 0 in subset 1 and 1 (all ones, but class 31) in subset 2.
    bits = Bits().add(5, 7).add(0, 6)
    bits.add(0, 1).add(1, 6).add(0, 1).add(1, 1)
    bits.add(9, 7).add(0, 6)
    values = decode(tables, [1001, 236000, 31031, 223255], bits, subsets=2, flags=0xC0)
    assert [(v.descriptor, v.raw_value) for v in values] == [
        (1001, 5.0), (236000, 0.0), (31031, 0.0), (1001, 9.0),
        (1001, 5.0), (236000, 0.0), (31031, 1.0), (1001, 9.0),
    ]


def test_bitmap_counts_back_from_where_it_was_defined(tables):
    # Ten elements h0..h9 (h5 TEMPERATURE, h7 PRESENT WEATHER), then a bitmap of five
    # that stands for h5..h9 and marks h5 and h7 present.
    history = [1001] * 5 + [12101, 1001, 20003, 1001, 1001]
    bits = Bits()
    for code in history:
        bits.add(0, WIDTHS[code])
    for present in (0, 1, 0, 1, 1):
        bits.add(present, 1)
    bits.add(300, 16).add(2, 4).add(400, 16)
    descriptors = history + [236000, 101005, 31031, 223255, 223255, 223255, 237000, 223255]
    values = decode(tables, descriptors, bits)[len(history) + 6 :]
    assert [(v.descriptor, v.raw_value) for v in values] == [(12101, 3.0), (20003, 2.0), (237000, 0.0), (12101, 4.0)]


@pytest.mark.parametrize(
    ("factor", "bits", "count"),
    [
        (31001, Bits().add(255, 8), 255),  # class 31: all ones is a count
        (12101, Bits().add(270, 16), 2),  # 2.7, truncated
        (1001, Bits().add(127, 7), 0),  # missing
        (2006, Bits().add(0, 8), 0),  # negative
        (1015, Bits().add_text("0003"), 0),  # text
    ],
)
def test_delayed_replication_counts(tables, factor, bits, count):
    values = decode(tables, [101000, factor, 222000], bits)
    assert [v.descriptor for v in values] == [factor] + [222000] * count


def test_three_functions_give_the_same_values(tables, table_dir):
    data = message([1001, 12101], Bits().add(9, 7).add(500, 16).to_bytes())
    with_tables = _tarnwel.decode_values_with_tables(data, tables)
    from_dir = _tarnwel.decode_values(data=data, table_dir=table_dir)
    assert [repr(v) for v in with_tables] == [repr(v) for v in from_dir] == [
        "DecodedValue(001001, Some(9.0))",
        "DecodedValue(012101, Some(5.0))",
    ]


@pytest.mark.parametrize(
    ("descriptors", "bits", "text"),
    [
        ([1001, 12101], Bits().add(1, 7), "csv/table parse error: not enough bits while reading section 4 "
         "at bit 7 for width 16 (8 bits available)"),
        ([201200, 1001], Bits().add(0, 64), "csv/table parse error: cannot read 79 bits into u64"),
        ([1002], Bits().add(0, 8), "descriptor 001002 was not found in Table B"),
        ([101000, 31001], Bits().add(0, 8), "delayed replication descriptor 101000 is missing its "
         "replication factor or replicated descriptors"),
    ],
)
def test_decode_errors_are_value_errors(tables, descriptors, bits, text):
    with pytest.raises(ValueError) as error:
        decode(tables, descriptors, bits)
    assert str(error.value) == text


@pytest.mark.parametrize(
    ("descriptors", "bits", "text"),
    [
        ([1001], Bits().add(1, 7).add(0, 1), "csv/table parse error: not enough bits while reading section 4 "
         "at bit 7 for width 6 (8 bits available)"),
        ([1001], Bits().add(1, 7).add(3, 6).add(0, 3), "csv/table parse error: not enough bits while reading "
         "section 4 at bit 16 for width 3 (16 bits available)"),
        ([101000, 31001, 1001], Bits().add(3, 8).add(1, 6).add(0, 1).add(1, 1), "csv/table parse error: "
         "compressed delayed replication with varying factors is not implemented"),
        ([201200, 1001], Bits().add(0, 64), "csv/table parse error: cannot read 79 bits into u64"),
    ],
    ids=["increment width", "increment", "varying factor", "wide reference value"],
)
def test_compressed_decode_errors(tables, descriptors, bits, text):
    with pytest.raises(ValueError) as error:
        decode(tables, descriptors, bits, subsets=2, flags=0xC0)
    assert str(error.value) == text


def test_hostile_replication_ends_quickly(tables):
    # Four nested replications of 255 around a marker-free operator read no bits.
    start = time.perf_counter()
    with pytest.raises(ValueError) as error:
        decode(tables, [104255, 103255, 102255, 101255, 201000], Bits())
    assert str(error.value) == "csv/table parse error: descriptor walk exceeds 100000000 steps"
    assert time.perf_counter() - start < 30


def test_message_errors_come_before_tables(tmp_path):
    with pytest.raises(ValueError) as error:
        _tarnwel.decode_values(b"no marker here", str(tmp_path / "absent"))
    assert str(error.value) == "missing BUFR marker"
    broken = message([1001], b"\0")[:-1] + b"8"
    with pytest.raises(ValueError) as error:
        _tarnwel.decode_values_with_definitions(broken, str(tmp_path / "absent"))
    assert str(error.value) == "section 5 terminator is not 7777"


def test_tables_argument_must_be_a_table_set():
    with pytest.raises(TypeError) as error:
        _tarnwel.decode_values_with_tables(message(), "tables")
    assert str(error.value) == "argument 'tables': 'str' object cannot be cast as 'TableSet'"


def call_decoder(function, data, tables, table_dir):
    other = {"decode_values": table_dir, "decode_values_with_tables": tables}
    return getattr(_tarnwel, function)(data, other.get(function, table_dir + "/no definitions here"))


FIRST = message([1001], Bits().add(42, 7).to_bytes())


@pytest.mark.parametrize("function", ["decode_values", "decode_values_with_tables", "decode_values_with_definitions"])
@pytest.mark.parametrize(
    ("data", "text"),
    [
        (b"", "missing BUFR marker"),
        (b"xx BUFX" * 3, "missing BUFR marker"),
        (FIRST + b"BUFR", "message is too short to be BUFR"),
        (FIRST + b"\0" + FIRST[:-1], f"section 0 at offset {len(FIRST) + 1} is truncated"),
    ],
    ids=["empty", "no marker", "marker at the end", "second truncated"],
)
def test_the_whole_buffer_is_scanned_before_the_first_message_is_used(tables, table_dir, function, data, text):
    with pytest.raises(ValueError) as error:
        call_decoder(function, data, tables, table_dir)
    assert str(error.value) == text


@pytest.mark.parametrize("function", ["decode_values", "decode_values_with_tables"])
def test_only_the_first_message_is_parsed(tables, table_dir, function):
    # Octets before it are skipped; a later message of edition 3 is never parsed.
    later = bytearray(message([1001], b"\0"))
    later[7] = 3
    values = call_decoder(function, b"garbage" + FIRST + b"between" + bytes(later) + b"after", tables, table_dir)
    assert [repr(v) for v in values] == ["DecodedValue(001001, Some(42.0))"]


def test_decoder_sources_stay_free_of_python():
    src = __import__("pathlib").Path(__file__).resolve().parent.parent / "src"
    offenders = [
        str(path.relative_to(src))
        for folder in ("decode", "bitstream")
        for path in sorted((src / folder).glob("*"))
        if "Python.h" in path.read_text()
    ]
    assert offenders == []
