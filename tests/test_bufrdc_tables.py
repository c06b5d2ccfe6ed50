"""BUFRDC text tables: written here from the ecCodes tables, read back, chosen for a message, and refused when broken.

BUFRDC has no key or type column, so ElementDefinition.abbreviation and element_type are empty, and a name
holds at most 64 characters: a longer ecCodes name comes back cut to 64 (trailing blanks dropped).
"""

import os
import re

import pytest

import _tarnwel
from _tarnwel import TableSet
from tarnwel import _core, locations

PREFIX = "csv/table parse error: "
EXAMPLES = ["synop_uncompressed", "temp_uncompressed", "amv_compressed", "ship_local_section"]


# A writer of BUFRDC files from an ecCodes table directory.

def read_elements(eccodes_dir):
    rows = []
    for line in (eccodes_dir / "element.table").read_text().splitlines():
        fields = line.split("|")
        if line.startswith("#") or len(fields) < 8:
            continue
        code, _key, _type, name, unit, scale, reference, width = fields[:8]
        rows.append((int(code), name, unit, int(scale), int(reference), int(width)))
    return rows


def read_sequences(eccodes_dir):
    text = (eccodes_dir / "sequence.def").read_text()
    return [(int(code), [int(m) for m in members.replace(",", " ").split()])
            for code, members in re.findall(r'"(\d+)"\s*=\s*\[([^\]]*)\]', text)]


def read_code_tables(eccodes_dir):
    tables = {}
    for path in sorted((eccodes_dir / "codetables").glob("*.table")):
        entries = {}
        for line in path.read_text().splitlines():
            words = line.split()
            if len(words) >= 3 and not line.lstrip().startswith("#"):
                entries[int(words[0])] = " ".join(words[2:])
        if entries:
            tables[int(path.stem)] = entries
    return tables


def b_record(code, name, unit, scale, reference, width):
    unit = "CCITTIA5" if unit == "CCITT IA5" else unit
    numbers = f"{scale:3d} {reference:12d} {width:3d}"
    return f" {code:06d} {name[:64]:<64} {unit[:24]:<24} {numbers} {unit[:24]:<24} {scale:3d} {width:3d}"


def d_records(code, members):
    yield f" {code:06d}{len(members):3d} {members[0]:06d}"
    yield from (f"{'':11}{member:06d}" for member in members[1:])


def wrapped(text, width=60):
    lines, line = [], ""
    for word in text.split(" "):
        if line and len(line) + 1 + len(word) > width:
            lines.append(line)
            line = word
        else:
            line = f"{line} {word}" if line else word
    return lines + [line]


def c_records(code, entries):
    for index, (figure, meaning) in enumerate(sorted(entries.items())):
        lines = wrapped(meaning)
        lead = f"{code:06d} {len(entries):04d} " if index == 0 else " " * 12
        yield f"{lead}{figure:04d} {len(lines):02d} {lines[0]}"
        yield from (f"{'':20}{line}" for line in lines[1:])


def write_lines(path, lines, line_end="\n"):
    path.write_bytes("".join(line + line_end for line in lines).encode())


def write_set(directory, stem, eccodes_dir, line_end="\n"):
    """B, C and D files of `stem` in `directory` with the contents of an ecCodes table directory."""
    directory.mkdir(parents=True, exist_ok=True)
    write_lines(directory / f"B{stem}.TXT", (b_record(*row) for row in read_elements(eccodes_dir)), line_end)
    write_lines(directory / f"D{stem}.TXT", (r for s in read_sequences(eccodes_dir) for r in d_records(*s)), line_end)
    tables = read_code_tables(eccodes_dir)
    write_lines(directory / f"C{stem}.TXT", (r for c, e in tables.items() for r in c_records(c, e)), line_end)
    return directory


def wmo_stem(version, master_table=0):
    return f"{master_table:03d}0000000000{version:03d}000"


def load(directory, master_table=0, version=13, centre=0, subcentre=0, local=0):
    return _core.load_bufrdc(str(directory), master_table, version, centre, subcentre, local)


# Read back, then decode.

@pytest.mark.parametrize("line_end", ["\n", "   \r\n"])
def test_written_tables_read_back_entry_by_entry(definitions_root, tmp_path, line_end):
    eccodes_dir = definitions_root / "bufr/tables/0/wmo/37"
    write_set(tmp_path, wmo_stem(37), eccodes_dir, line_end)
    tables, name = load(tmp_path, version=37)
    assert name == f"B{wmo_stem(37)}.TXT"
    elements = read_elements(eccodes_dir)
    assert tables.element_count == len(elements)
    for code, element_name, unit, scale, reference, width in elements:
        ours = tables.get_element(code)
        assert (ours.code, ours.name, ours.unit, ours.scale, ours.reference, ours.width) == (
            code, element_name[:64].rstrip(), unit[:24].rstrip(), scale, reference, width)
        assert (ours.abbreviation, ours.element_type) == ("", "")
    sequences = read_sequences(eccodes_dir)
    assert tables.sequence_count == len(sequences)
    assert all(tables.get_sequence(code).members == members for code, members in sequences)
    for code, entries in read_code_tables(eccodes_dir).items():
        assert all(tables.get_meaning(code, figure) == meaning for figure, meaning in entries.items())


def value_fields(values):
    return [(v.descriptor, v.name, v.raw, repr(v.raw_value), v.raw_text, v.raw_meaning) for v in values]


@pytest.mark.parametrize("name", EXAMPLES)
def test_decoding_with_written_tables_matches_eccodes_tables(definitions_root, data_dir, tmp_path, name):
    raw = (data_dir / f"{name}.bufr").read_bytes()
    message = _tarnwel.parse_bytes(raw)
    eccodes_dir = definitions_root / f"bufr/tables/0/wmo/{message.master_tables_version_number}"
    write_set(tmp_path, wmo_stem(message.master_tables_version_number), eccodes_dir)
    tables, _ = load(tmp_path, message.master_table_number, message.master_tables_version_number,
                     message.originating_centre, message.originating_subcentre, message.local_tables_version_number)
    expected = value_fields(_tarnwel.decode_values_with_tables(raw, TableSet.from_eccodes(str(eccodes_dir))))
    expected = [(d, n[:64].rstrip(), *rest) for d, n, *rest in expected]
    assert value_fields(_tarnwel.decode_values_with_tables(raw, tables)) == expected
    assert len(expected) > 30


# Which file set serves a message.

def write_marked_set(directory, stem, mark, suffix=".TXT"):
    """A set of one element 001001 named `mark`, and one sequence."""
    directory.mkdir(parents=True, exist_ok=True)
    write_lines(directory / f"B{stem}{suffix}", [b_record(1001, mark, "NUMERIC", 0, 0, 7)])
    write_lines(directory / f"D{stem}{suffix}", list(d_records(301001, [1001])))


CHOICE_FILES = {
    "0000000000098013102": "centre 98",
    "0000000700098013102": "centre 98 subcentre 7",
    "0000000000085014001": "centre 85 master 14",
    wmo_stem(13): "wmo 13",
    wmo_stem(14): "wmo 14",
    wmo_stem(17): "wmo 17",
    wmo_stem(14, master_table=10): "oceanographic 14",
}


@pytest.mark.parametrize(
    "key, chosen",
    [
        ((0, 13, 98, 0, 102), "0000000000098013102"),
        ((0, 13, 98, 7, 102), "0000000700098013102"),
        ((0, 13, 98, 5, 102), "0000000000098013102"),  # subcentre 0 serves every subcentre
        ((0, 13, 98, 0, 0), wmo_stem(13)),  # no local tables
        ((0, 13, 98, 0, 101), wmo_stem(13)),  # never another local version
        ((0, 13, 85, 0, 1), wmo_stem(13)),  # never another master version of a centre
        ((0, 16, 0, 0, 0), wmo_stem(14)),  # the highest WMO version below
        ((0, 40, 0, 0, 0), wmo_stem(17)),
        ((10, 15, 0, 0, 0), wmo_stem(14, master_table=10)),
        ((0, 12, 0, 0, 0), None),
        ((2, 13, 0, 0, 0), None),
    ],
)
def test_file_set_choice(tmp_path, key, chosen):
    for stem, mark in CHOICE_FILES.items():
        write_marked_set(tmp_path, stem, mark)
    (tmp_path / f"B{wmo_stem(15)}.TXT").mkdir()  # not a file: never chosen
    found = load(tmp_path, *key)
    if chosen is None:
        assert found is None
    else:
        tables, name = found
        assert (name, tables.get_element(1001).name) == (f"B{chosen}.TXT", CHOICE_FILES[chosen])


def test_lower_case_suffix_and_optional_code_table_file(tmp_path):
    write_marked_set(tmp_path, wmo_stem(20), "lower", suffix=".txt")
    tables, name = load(tmp_path, version=20)
    assert (name, tables.get_element(1001).name, tables.get_meaning(1001, 0)) == (f"B{wmo_stem(20)}.txt", "lower", None)


def test_a_centre_set_replaces_the_wmo_set(tmp_path):
    write_marked_set(tmp_path, wmo_stem(13), "wmo")
    write_lines(tmp_path / f"B{wmo_stem(13)}.TXT", [b_record(1002, "WMO ONLY", "NUMERIC", 0, 0, 10)])
    write_marked_set(tmp_path, "0000000000098013001", "local")
    tables, _ = load(tmp_path, centre=98, local=1)
    assert (tables.element_count, tables.get_element(1002)) == (1, None)


def load_error(directory, *key):
    with pytest.raises(ValueError) as excinfo:
        load(directory, *key)
    return str(excinfo.value)


def test_load_errors(tmp_path):
    missing = tmp_path / "missing"
    assert load_error(missing) == f"io error: BUFRDC table directory does not exist: {missing}"
    assert load_error(tmp_path, 0, 13, 100000, 0, 1) == (
        "csv/table parse error: a BUFRDC table file name cannot hold master table 0, subcentre 0, centre 100000, "
        "versions 13 and 1")
    write_lines(tmp_path / f"B{wmo_stem(13)}.TXT", [GOOD_B])
    assert load_error(tmp_path) == f"io error: {tmp_path}/D{wmo_stem(13)}.TXT: the BUFRDC set has no Table D file"


# Broken files: each error names the file and the line.

GOOD_B = b_record(1001, "WMO BLOCK NUMBER", "NUMERIC", 0, 0, 7)
GOOD_D = list(d_records(301001, [1001, 1002]))


def b_with(**changes):
    fields = dict(code=1002, name="WMO STATION NUMBER", unit="NUMERIC", scale=0, reference=0, width=10) | changes
    return b_record(**fields)


@pytest.mark.parametrize(
    "lines, line, text",
    [
        ([GOOD_B, " 001002 SHORT"], 2, "a Table B record needs more than 97 characters, this line has 13"),
        ([b_with(unit="U" * 24)[:97]], 1, "a Table B record needs more than 97 characters, this line has 97"),
        ([GOOD_B.replace(" 0 ", " x ", 1)], 1, 'scale: bad i32 "x": invalid digit found in string'),
        ([GOOD_B[:104]], 1, "the reference value is missing"),
        ([GOOD_B[:114]], 1, "the data width is missing"),
        ([b_with(width=70000)], 1, 'data width: bad u16 "70000": number too large to fit in target type'),
        (["x" + GOOD_B[1:]], 1, "expected a blank in column 1"),
        ([GOOD_B.replace("BLOCK NUMBER ", "BLOCK NUMBER" + "X" * 60, 1)], 1, "expected a blank in column 73"),
        ([" 00100A" + GOOD_B[7:]], 1, 'expected an element descriptor FXXYYY, found "00100A"'),
        ([" 301001" + GOOD_B[7:]], 1, 'expected an element descriptor FXXYYY, found "301001"'),
        ([" 064001" + GOOD_B[7:]], 1, 'expected an element descriptor FXXYYY, found "064001"'),
        ([GOOD_B, "", GOOD_B[:11] + "\0" + GOOD_B[12:]], 3, "control character 0x00 in column 12"),
        ([GOOD_B[:20] + "\t" + GOOD_B[21:]], 1, "control character 0x09 in column 21"),
        ([GOOD_B[:20] + "\r" + GOOD_B[21:]], 1, "control character 0x0D in column 21"),
    ],
)
def test_broken_table_b(tmp_path, lines, line, text):
    path = tmp_path / f"B{wmo_stem(13)}.TXT"
    write_lines(path, lines)
    write_lines(tmp_path / f"D{wmo_stem(13)}.TXT", GOOD_D)
    with pytest.raises(ValueError) as excinfo:
        load(tmp_path)
    assert str(excinfo.value) == f"{PREFIX}{path} line {line}: {text}"


def test_invalid_utf8_is_refused_at_its_column(tmp_path):
    path = tmp_path / f"B{wmo_stem(13)}.TXT"
    path.write_bytes(GOOD_B[:30].encode() + b"\xe9" + GOOD_B[31:].encode() + b"\n")
    with pytest.raises(ValueError) as excinfo:
        load(tmp_path)
    assert str(excinfo.value) == f"{PREFIX}{path} line 1: invalid UTF-8 in column 31"


SEQUENCE = " 300003  3 000010"


@pytest.mark.parametrize(
    "lines, line, text",
    [
        ([SEQUENCE, f"{'':11}000011"], 2, "the file ends after 2 of the 3 members of sequence 300003 of line 1"),
        ([SEQUENCE, *GOOD_D], 2, "sequence 300003 of line 1 has 1 of its 3 members"),
        ([" 301001  1 001001", f"{'':11}001002"], 2, "expected a sequence descriptor in columns 2 to 7"),
        ([" 301001  1 001001 001002"], 1, "sequence 301001 of line 1 has more members than its count 1"),
        ([" 301001999 001001"], 1, "the file ends after 1 of the 999 members of sequence 301001 of line 1"),
        ([" 301001 -1 001001"], 1, 'member count: bad u16 "-1": invalid digit found in string'),
        ([" 301001  0"], 1, "sequence 301001 of line 1 declares no members"),
        ([" 301001"], 1, "the member count is missing"),
        ([" 301001  x 001001"], 1, 'member count: bad u16 "x": invalid digit found in string'),
        ([f"{'':11}001001"], 1, "expected a sequence descriptor in columns 2 to 7"),
        (["301001  1 001001"], 1, "expected a blank in column 1"),
        ([" 001001  1 001001"], 1, 'expected a sequence descriptor FXXYYY, found "001001"'),
        ([" 301001  2 001001", f"{'':11}0010x2"], 2, 'expected a descriptor FXXYYY, found "0010x2"'),
        ([" 301001  2 001001", f"{'':11}4010002"], 2, 'expected a descriptor FXXYYY, found "4010002"'),
    ],
)
def test_broken_table_d(tmp_path, lines, line, text):
    write_lines(tmp_path / f"B{wmo_stem(13)}.TXT", [GOOD_B])
    path = tmp_path / f"D{wmo_stem(13)}.TXT"
    write_lines(path, lines)
    with pytest.raises(ValueError) as excinfo:
        load(tmp_path)
    assert str(excinfo.value) == f"{PREFIX}{path} line {line}: {text}"


def test_members_on_continuation_lines_only(tmp_path):
    write_lines(tmp_path / f"B{wmo_stem(13)}.TXT", [GOOD_B])
    write_lines(tmp_path / f"D{wmo_stem(13)}.TXT", [" 301002  2", f"{'':11}001001", f"{'':11}001002", *GOOD_D])
    tables, _ = load(tmp_path)
    assert (tables.get_sequence(301002).members, tables.get_sequence(301001).members) == ([1001, 1002], [1001, 1002])


CODE_TABLE = ["001003 0002 0000 01 ANTARCTICA", f"{'':12}0001 02 REGION", f"{'':20}ONE"]


def test_code_table_entries_and_continuation_lines(tmp_path):
    write_lines(tmp_path / f"B{wmo_stem(13)}.TXT", [GOOD_B])
    write_lines(tmp_path / f"D{wmo_stem(13)}.TXT", GOOD_D)
    write_lines(tmp_path / f"C{wmo_stem(13)}.TXT", [*CODE_TABLE, "002002 0001 00008 01 FLAG   TEXT"])
    tables, _ = load(tmp_path)
    assert [tables.get_meaning(1003, f) for f in (0, 1, 2)] == ["ANTARCTICA", "REGION ONE", None]
    assert tables.get_meaning(2002, 8) == "FLAG   TEXT"


@pytest.mark.parametrize(
    "lines, line, text",
    [
        (CODE_TABLE[:2], 2, "the file ends inside code table 001003 of line 1"),
        (CODE_TABLE[:1], 1, "the file ends inside code table 001003 of line 1"),
        ([*CODE_TABLE[:2], "002002 0001 0001 01 X"], 3,
         "code figure 1 of code table 001003 of line 1 lacks 1 of its lines"),
        ([*CODE_TABLE[:1], "002002 0001 0001 01 X"], 2, "code table 001003 of line 1 lacks 1 of its entries"),
        ([f"{'':12}0001 01 X"], 1, "expected a code table descriptor in columns 1 to 6"),
        (["001003 0001 x 01 X"], 1, 'code figure: bad code table key "x": invalid digit found in string'),
        (["001003 0001 0001 00 X"], 1, "code figure 1 declares no lines"),
        (["001003 0000"], 1, "code table 001003 of line 1 declares no entries"),
        (["001003 70000 0001 01 X"], 1, 'entry count: bad u16 "70000": number too large to fit in target type'),
        (["001003 0001 0001"], 1, "the line count is missing"),
        (["0010030001 0001 01 X"], 1, "expected a blank in column 7"),
        (["301003 0001 0001 01 X"], 1, 'expected an element descriptor FXXYYY, found "301003"'),
    ],
)
def test_broken_table_c(tmp_path, lines, line, text):
    write_lines(tmp_path / f"B{wmo_stem(13)}.TXT", [GOOD_B])
    write_lines(tmp_path / f"D{wmo_stem(13)}.TXT", GOOD_D)
    path = tmp_path / f"C{wmo_stem(13)}.TXT"
    write_lines(path, lines)
    with pytest.raises(ValueError) as excinfo:
        load(tmp_path)
    assert str(excinfo.value) == f"{PREFIX}{path} line {line}: {text}"


@pytest.mark.parametrize(
    "arguments, error, text",
    [
        ((0, 256, 0, 0, 0), OverflowError,
         "argument 'master_version': out of range integral type conversion attempted"),
        ((0, 13, -1, 0, 0), OverflowError, "argument 'centre': out of range integral type conversion attempted"),
        ((0, 13, 0, 0, "1"), TypeError, "argument 'local_version': 'str' object cannot be interpreted as an integer"),
    ],
)
def test_load_bufrdc_argument_errors(tmp_path, arguments, error, text):
    with pytest.raises(error) as excinfo:
        _core.load_bufrdc(str(tmp_path), *arguments)
    assert str(excinfo.value) == text


# Table locations.

def test_locations_classify_and_serve_a_message(definitions_root, data_dir, tmp_path):
    raw = (data_dir / "synop_uncompressed.bufr").read_bytes()
    message = _core.parse_message(raw, 0, len(raw))
    version = message.master_tables_version_number
    eccodes_dir = definitions_root / f"bufr/tables/0/wmo/{version}"
    bufrdc = write_set(tmp_path / "bufrdc", wmo_stem(version), eccodes_dir)
    empty_bufrdc = tmp_path / "other"
    write_marked_set(empty_bufrdc, wmo_stem(version + 1), "later")
    expected = value_fields(_tarnwel.decode_values_with_tables(raw, TableSet.from_eccodes(str(eccodes_dir))))
    for path, kind in [(definitions_root, "eccodes-root"), (eccodes_dir, "eccodes-tables"), (bufrdc, "bufrdc")]:
        assert locations.classify(path) == kind
        tables = locations.tables_for(locations.locate(path), message)
        decoded = value_fields(_tarnwel.decode_values_with_tables(raw, tables))
        assert [v[0] for v in decoded] == [v[0] for v in expected] and len(decoded) > 50, kind
    assert locations.tables_for(str(empty_bufrdc), message) is None


def test_an_eccodes_root_without_the_master_version_has_no_tables(tmp_path, data_dir):
    raw = (data_dir / "synop_uncompressed.bufr").read_bytes()
    (tmp_path / "bufr/tables/0/wmo/2").mkdir(parents=True)
    assert locations.tables_for(tmp_path, _tarnwel.parse_bytes(raw)) is None


def test_locations_refuse_what_holds_no_tables(tmp_path):
    (tmp_path / "B123.TXT").write_text("")
    (tmp_path / "file").write_text("")
    with pytest.raises(ValueError) as excinfo:
        locations.classify(tmp_path)
    assert str(excinfo.value) == ("table location holds no BUFR tables "
                                  f"(no bufr/tables/, element.table or BUFRDC B*.TXT files): {tmp_path}")
    with pytest.raises(ValueError) as excinfo:
        locations.classify(tmp_path / "file")
    assert str(excinfo.value) == f"table location is not a directory: {tmp_path / 'file'}"


def test_locations_from_env(tmp_path, definitions_root, monkeypatch):
    bufrdc = tmp_path / "bufrdc"
    write_marked_set(bufrdc, wmo_stem(13), "x")
    monkeypatch.setenv("TARNWEL_TABLES", os.pathsep.join([str(bufrdc), "", str(definitions_root), ""]))
    assert locations.locations_from_env() == [
        locations.Location(str(bufrdc), "bufrdc"), locations.Location(str(definitions_root), "eccodes-root")]
    assert locations.locations_from_env({}) == []
    with pytest.raises(ValueError) as excinfo:
        locations.locations_from_env({"TARNWEL_TABLES": str(tmp_path)})
    assert str(excinfo.value) == ("TARNWEL_TABLES: table location holds no BUFR tables "
                                  f"(no bufr/tables/, element.table or BUFRDC B*.TXT files): {tmp_path}")
