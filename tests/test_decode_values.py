"""decode_values* and DecodedValue on hand-built messages and tables: records, texts, errors and bounds."""

import gc
import sys
import time

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
]


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


def decode(tables, descriptors, bits, subsets=1):
    return _tarnwel.decode_values_with_tables(message(descriptors, bits.to_bytes(), subsets=subsets), tables)


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
    [(2002, 12, "1.2e-8"), (2002, 1, "1e-9"), (2003, 1, "1e20"), (2003, 0, "0.0"), (1001, 100, "100.0")],
)
def test_numbers_print_shortest_with_exponent_outside_range(tables, code, raw, shown):
    width = 7 if code == 1001 else 4
    (value,) = decode(tables, [code], Bits().add(raw, width))
    assert repr(value) == f"DecodedValue({code:06d}, Some({shown}))"


def test_texts_keep_controls_and_replace_high_octets(tables):
    bits = Bits().add(0x41, 8).add(0x00, 8).add(0xC4, 8).add(0x0A, 8)
    (value,) = decode(tables, [1015], bits)
    assert value.raw_text == "A\0?"  # trailing line feed removed
    assert repr(value) == 'DecodedValue(001015, "A\\0?")'


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
    with pytest.raises(TypeError):
        type(value)()


def test_names_are_shared_within_a_decode(tables):
    values = decode(tables, [101003, 1001], Bits().add(1, 7).add(2, 7).add(3, 7))
    assert values[0].name is values[2].name


def test_subsets_follow_each_other(tables):
    values = decode(tables, [300001], Bits().add(1, 7).add(100, 16).add(2, 7).add(200, 16), subsets=2)
    assert [v.raw_value for v in values] == [1.0, 1.0, 2.0, 2.0]


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
    with pytest.raises(TypeError):
        _tarnwel.decode_values_with_tables(message(), "tables")


def test_decoder_sources_stay_free_of_python():
    src = __import__("pathlib").Path(__file__).resolve().parent.parent / "src"
    offenders = [
        str(path.relative_to(src))
        for folder in ("decode", "bitstream")
        for path in sorted((src / folder).glob("*"))
        if "Python.h" in path.read_text()
    ]
    assert offenders == []
