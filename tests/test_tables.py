"""Table loading from ecCodes directories and definitions roots, lookups, expansion and the table-side classes."""

import csv
import re

import pytest

import _tarnwel
from _tarnwel import TableSet
from bufr_builder import message

PREFIX = "csv/table parse error: "
HEADER = "#code|abbreviation|type|name|unit|scale|reference|width|crex_unit|crex_scale|crex_width\n"
ROW11 = "001001|blockNumber|long|WMO BLOCK NUMBER|Numeric|0|0|7|Numeric|0|2\n"
ROW8 = "001002|stationNumber|long|WMO STATION NUMBER|Numeric|0|0|10\n"
ROW7 = "001003|region|table|REGION|CODE TABLE|0|0\n"
NOT_FOUND = "No such file or directory (os error 2)"


def write(path, content):
    path.parent.mkdir(parents=True, exist_ok=True)
    if isinstance(content, str):
        content = content.encode()
    path.write_bytes(content)


def table_dir(path, elements="", sequences="", codetables=None):
    """An ecCodes-layout directory; None leaves a file out."""
    path.mkdir(parents=True, exist_ok=True)
    if elements is not None:
        write(path / "element.table", elements)
    if sequences is not None:
        write(path / "sequence.def", sequences)
    for name, text in (codetables or {}).items():
        write(path / "codetables" / name, text)
    return path


def load(path, **files):
    return TableSet.from_eccodes(str(table_dir(path, **files)))


def load_error(path, **files):
    with pytest.raises(ValueError) as caught:
        load(path, **files)
    return str(caught.value)


def test_empty_set():
    tables = TableSet()
    assert repr(tables) == "TableSet(elements=0, sequences=0)"
    assert (tables.element_count, tables.sequence_count) == (0, 0)
    assert tables.get_element(1001) is None and tables.get_element(999999) is None
    assert tables.get_sequence(301001) is None
    assert tables.get_meaning(1003, 0) is None


@pytest.mark.parametrize(
    "text, codes",
    [
        (HEADER + ROW11 + ROW8, {1001, 1002}),  # local tables mix 11- and 8-field records
        (ROW8 + ROW11, {1001, 1002}),
        (ROW7 + ROW7, set()),  # short records are skipped
        ("x|not|a|number|u|y|z\n" * 2, set()),  # ...before any of their fields is parsed
        ("\r\n" + ROW11.replace("\n", "\r\n") + "\n\n" + ROW8.replace("\n", "\r"), {1001, 1002}),
    ],
)
def test_element_table_records(tmp_path, text, codes):
    tables = load(tmp_path, elements=text)
    assert tables.element_count == len(codes)
    assert all(tables.get_element(code).code == code for code in codes)


def csv_count_error(record, line, byte, found, first):
    return (
        f"{PREFIX}CSV error: record {record} (line: {line}, byte: {byte}): "
        f"found record with {found} fields, but the previous record has {first} fields"
    )


@pytest.mark.parametrize(
    "text, expected",
    [
        (HEADER + ROW11 + ROW7, csv_count_error(1, 3, len(HEADER + ROW11), 7, 11)),
        (ROW11 + "   \n", csv_count_error(1, 2, len(ROW11), 1, 11)),
        (ROW11 + "  # not a comment\n", csv_count_error(1, 2, len(ROW11), 1, 11)),
        (ROW7 + ROW8, csv_count_error(1, 2, len(ROW7), 8, 7)),
        (
            ROW8 + "001009|x|long|caf\xc3\xa9 \xff|u|0|0|7\n",
            f"{PREFIX}CSV parse error: record 1 (line 2, field: 3, byte: {len(ROW8)}): "
            "invalid utf-8: invalid UTF-8 in field 3 near byte index 6",
        ),
        (  # the unused CREX columns must be text as well
            ROW8 + "001009|x|long|n|u|0|0|7|\xc3|0|2\n",
            f"{PREFIX}CSV parse error: record 1 (line 2, field: 8, byte: {len(ROW8)}): "
            "invalid utf-8: invalid UTF-8 in field 8 near byte index 0",
        ),
        ("001001|a|long|n|u| 0|0|7\n", f'{PREFIX}bad i32 " 0": invalid digit found in string'),
        ("001001|a|long|n|u|0||7\n", f'{PREFIX}bad i64 "": cannot parse integer from empty string'),
        (
            "001001|a|long|n|u|0|-9223372036854775809|7\n",
            f'{PREFIX}bad i64 "-9223372036854775809": number too small to fit in target type',
        ),
        ("001001|a|long|n|u|0|0|65536\n", f'{PREFIX}bad u16 "65536": number too large to fit in target type'),
        ("001001|a|long|n|u|0|0|-1\n", f'{PREFIX}bad u16 "-1": invalid digit found in string'),
        ("0010x1|a|long|n|u|0|0|7\n", f'{PREFIX}bad descriptor code "0010x1": invalid digit found in string'),
        ("-1|a|long|n|u|0|0|7\n", f'{PREFIX}bad descriptor code "-1": invalid digit found in string'),
    ],
)
def test_element_table_errors(tmp_path, text, expected):
    # Latin-1 keeps the deliberately invalid UTF-8 bytes as they are written.
    assert load_error(tmp_path, elements=text.encode("latin-1")) == expected


def test_element_fields_and_copies(tmp_path):
    text = '" 001001 "|"a|b"|long|"Say ""hi""\tnow \u00e9"|K|-2|-9223372036854775808|65535\n'
    tables = load(tmp_path, elements=text + "001001|x|long|LATER|K|0|0|1|extra|fields|ok\n" + text)
    element = tables.get_element(1001)
    assert (element.code, element.abbreviation, element.element_type, element.unit) == (1001, "a|b", "long", "K")
    assert element.name == 'Say "hi"\tnow \u00e9'
    assert (element.scale, element.reference, element.width) == (-2, -(2**63), 65535)
    assert repr(element) == 'ElementDefinition(001001, name="Say \\"hi\\"\\tnow \u00e9")'
    assert tables.element_count == 1
    other = tables.get_element(1001)
    assert other is not element and other.name == element.name
    with pytest.raises(AttributeError):
        element.name = "changed"


@pytest.mark.parametrize(
    "name, expected",
    [
        ("a\\b\r\n\0", 'a\\\\b\\r\\n\\0'),
        ("\x01\x7f\x85\u200b", "\\u{1}\\u{7f}\\u{85}\\u{200b}"),
        # Format characters outside the common punctuation blocks are escaped as well.
        ("\u0890\u08e2\U000110cd\U00013430", "\\u{890}\\u{8e2}\\u{110cd}\\u{13430}"),
        ("it's €", "it's €"),
    ],
)
def test_element_repr_quoting(tmp_path, name, expected):
    # A quoted field keeps the line end and NUL inside the name.
    tables = load(tmp_path, elements=f'001001|a|long|"{name}"|u|0|0|7\n')
    assert repr(tables.get_element(1001)) == f'ElementDefinition(001001, name="{expected}")'


@pytest.mark.parametrize(
    "files, expected",
    [
        ({"elements": None}, PREFIX + NOT_FOUND),
        ({"sequences": None}, "io error: " + NOT_FOUND),
        ({"sequences": b"\"301001\" = [ 001001 \xff ]"}, "io error: stream did not contain valid UTF-8"),
        ({"codetables": {"7.table": "x 1 Bad\n"}}, f'{PREFIX}bad code table key "x": invalid digit found in string'),
        ({"codetables": {"README.table": ""}}, f'{PREFIX}bad descriptor code "README": invalid digit found in string'),
        ({"codetables": {"8.table": b"0 0 caf\xe9\n"}}, "io error: stream did not contain valid UTF-8"),
    ],
)
def test_directory_errors(tmp_path, files, expected):
    assert load_error(tmp_path, **files) == expected


@pytest.mark.parametrize(
    "loader, prefix",
    [(TableSet.from_eccodes, PREFIX), (TableSet.from_bufr4_45, "io error: ")],
)
def test_path_with_nul_names_no_file(tmp_path, loader, prefix):
    # The path is used as given: it must not stand for the part before the NUL.
    table_dir(tmp_path)
    with pytest.raises(ValueError) as caught:
        loader(f"{tmp_path}\0/more")
    assert str(caught.value) == prefix + "Invalid argument (os error 22)"


def test_missing_directory(tmp_path):
    with pytest.raises(ValueError) as caught:
        TableSet.from_eccodes(str(tmp_path / "absent"))
    assert str(caught.value) == PREFIX + NOT_FOUND


def test_sequence_def_statements(tmp_path):
    text = (
        "# comment\n"
        '"301001" =\n  [ 001001,\r\n\n 001002, ]\n'
        '"301002" = [ ] "301003" = [ 001003 ]\n'
        "no equals sign ]\n"
        '301004=[1,1,"2"]\n'
        '"301004" = [ 001005 ]\n'
        '"301005" = [ 001006'
    )
    tables = load(tmp_path, sequences=text)
    assert tables.sequence_count == 3
    assert tables.get_sequence(301001).members == [1001, 1002]
    assert tables.get_sequence(301002).members == []
    assert tables.get_sequence(301004).members == [1005]
    sequence = tables.get_sequence(301001)
    sequence.members.append(5)
    assert repr(sequence) == "SequenceDefinition(301001, members=[1001, 1002])"


@pytest.mark.parametrize(
    "text, message",
    [
        ('"301001" = 001001 ]', '"301001" = 001001 ]'),
        ('"301001" =\n ] 001001 [', '"301001" = ] 001001 ['),
        ('" 30100x " = [1]', 'bad descriptor code " 30100x ": invalid digit found in string'),
        ("301001 = [1, 1x]", 'bad descriptor code "1x": invalid digit found in string'),
    ],
)
def test_sequence_def_errors(tmp_path, text, message):
    assert load_error(tmp_path, sequences=text) == PREFIX + message


def test_code_tables(tmp_path):
    codetables = {
        "001003.table": "0 0 Antarctica\n1 1 Not kept\n",
        "1003.table": "# Region\n1 1 Region   I\n0 0\nx 1\n+12 12 Reserved\r\n",
        "8.table.bak": "x",
        "020003.table": "1 1 first\n2 2 second\n3 3 third\n4 4 fourth\n",
    }
    tables = load(tmp_path, elements=ROW7 + ROW7.replace("001003", "020003"), codetables=codetables)
    assert tables.get_meaning(1003, 1) == "Region I"
    assert tables.get_meaning(1003, 12) == "Reserved"
    assert tables.get_meaning(1003, 0) is None  # 1003.table sorts last and replaces 001003.table whole
    # Flag tables are looked up by the whole value, never bit by bit.
    assert tables.get_meaning(20003, 3) == "third"
    assert tables.get_meaning(20003, 0) is None
    assert load(tmp_path / "bare", elements=ROW7).get_meaning(1003, 1) is None
    with pytest.raises(OverflowError):
        tables.get_meaning(1003, -1)
    with pytest.raises(OverflowError):
        tables.get_meaning(2**32, 0)


@pytest.mark.parametrize(
    "make, expected",
    [
        (lambda root: (root / "codetables" / "8.table").mkdir(parents=True), "io error: Is a directory (os error 21)"),
        (lambda root: write(root / "codetables", ""), "io error: Not a directory (os error 20)"),
    ],
)
def test_code_tables_directory_entry_is_io_error(tmp_path, make, expected):
    make(table_dir(tmp_path))
    with pytest.raises(ValueError) as caught:
        TableSet.from_eccodes(str(tmp_path))
    assert str(caught.value) == expected


@pytest.mark.parametrize("name", ["ElementDefinition", "SequenceDefinition"])
def test_definition_classes_are_not_constructible(name):
    with pytest.raises(TypeError) as caught:
        getattr(_tarnwel, name)()
    assert str(caught.value) == f"cannot create '_tarnwel.{name}' instances"


@pytest.mark.parametrize(
    "args, kwargs, message",
    [
        ((1,), {}, "TableSet() takes 0 positional arguments but 1 was given"),
        ((), {"path": "x"}, "TableSet() got an unexpected keyword argument 'path'"),
    ],
)
def test_table_set_constructor_takes_no_arguments(args, kwargs, message):
    with pytest.raises(TypeError) as caught:
        TableSet(*args, **kwargs)
    assert str(caught.value) == message


@pytest.mark.parametrize(
    "member, signature",
    [
        ("get_element", "($self, code)"),
        ("get_sequence", "($self, code)"),
        ("get_meaning", "($self, code, raw)"),
        ("expand", "($self, descriptors)"),
        ("from_eccodes", "(path)"),
        ("from_bufr4_45", "(path)"),
        ("from_definitions", "(path, message)"),
    ],
)
def test_table_set_text_signatures(member, signature):
    assert getattr(TableSet, member).__text_signature__ == signature
    assert (TableSet.__text_signature__, TableSet.__doc__) == ("()", "")


def test_table_side_attributes_are_read_only_with_empty_docs(tmp_path):
    tables = load(tmp_path, elements=ROW8, sequences='"301001" = [ 001002 ]')
    element, sequence = tables.get_element(1002), tables.get_sequence(301001)
    attributes = {
        tables: ["element_count", "sequence_count"],
        element: ["code", "name", "unit", "abbreviation", "element_type", "scale", "reference", "width"],
        sequence: ["code", "members"],
    }
    for instance, names in attributes.items():
        for name in names:
            assert getattr(type(instance), name).__doc__ == ""
            with pytest.raises(AttributeError):
                setattr(instance, name, 0)
    # Copies compare by identity: no equality of their own.
    assert element != tables.get_element(1002) and sequence != tables.get_sequence(301001)


@pytest.mark.parametrize(
    "call, error, message",
    [
        (lambda t: t.get_element(2**32), OverflowError, "argument 'code': out of range integral type conversion attempted"),
        (lambda t: t.get_sequence(-1), OverflowError, "argument 'code': out of range integral type conversion attempted"),
        (lambda t: t.get_meaning(1003, -1), OverflowError, "argument 'raw': can't convert negative int to unsigned"),
        (lambda t: t.get_meaning(1003, 2**64), OverflowError, "argument 'raw': int too big to convert"),
        (lambda t: t.get_element("1"), TypeError, "argument 'code': 'str' object cannot be interpreted as an integer"),
        (lambda t: t.expand({1001}), TypeError, "argument 'descriptors': 'set' object cannot be cast as 'Sequence'"),
        (lambda t: t.expand([1001, 2**32]), OverflowError, "argument 'descriptors': out of range integral type conversion attempted"),
        (lambda t: TableSet.from_eccodes(b"x"), TypeError, "argument 'path': 'bytes' object cannot be cast as 'str'"),
    ],
)
def test_table_set_argument_errors(call, error, message):
    with pytest.raises(error) as caught:
        call(TableSet())
    assert str(caught.value) == message


@pytest.fixture
def expansion_tables(tmp_path):
    sequences = '"301001" = [ 001001, 001002 ]\n"300000" = [ ]\n"301999" = [ 301999 ]\n'
    return load(tmp_path, sequences=sequences)


@pytest.mark.parametrize(
    "descriptors, expanded",
    [
        ([], []),
        ([301001, 300000], [1001, 1002]),
        ((103002, 1001, 1002, 1003), [1001, 1002, 1003] * 2),
        ([101000, 31001, 1001], [31001, 1001]),
        ([204008, 31021, 12101, 204000, 12101], [31021, 999999, 12101, 12101]),
        (
            [204008, 301001, 102002, 1001, 1003, 204000, 1001],
            [999999, 1001, 999999, 1002] + [999999, 1001, 999999, 1003] * 2 + [1001],
        ),
        ([201129, 202129, 206008, 207001, 208010, 12101], [12101]),
        ([222000, 236000, 203014], [222000, 236000, 203014]),
        # Y counts by its low 8 bits: 257 replicates once, 256 is a delayed replication.
        ([101257, 1001], [1001]),
        ([101256, 31001, 1001], [31001, 1001]),
        ([204264, 12101, 204256, 12101], [999999, 12101, 12101]),
    ],
)
def test_expand(expansion_tables, descriptors, expanded):
    assert expansion_tables.expand(descriptors) == expanded


@pytest.mark.parametrize(
    "descriptors, message",
    [
        ([101000, 31001], "delayed replication descriptor 101000 is missing its replication factor or replicated descriptors"),
        ([102000, 31001], "unsupported replication descriptor 102000"),
        ([100002, 1001, 1002, 1003], "unsupported replication descriptor 100002"),
        ([102002, 1001, 101000, 1002], "unsupported replication descriptor 101000"),
        ([301999], PREFIX + "sequence expansion exceeded recursion depth"),
        ([400000], PREFIX + "invalid descriptor 400000"),
        ([1001, 399999], "descriptor 399999 was not found in Table D"),
    ],
)
def test_expand_errors(expansion_tables, descriptors, message):
    with pytest.raises(ValueError) as caught:
        expansion_tables.expand(descriptors)
    assert str(caught.value) == message


def nested_sequences(count, member_of, last):
    """sequence.def text for 340000.. each holding member_of(next code), the last holding `last`."""
    lines = [f'"{340000 + i}" = [ {member_of(340001 + i)} ]' for i in range(count - 1)]
    return "\n".join(lines + [f'"{340000 + count - 1}" = [ {last} ]'])


def test_expand_depth_limit(tmp_path):
    tables = load(tmp_path, sequences=nested_sequences(65, str, "001001"))
    assert tables.expand([340001]) == [1001]
    with pytest.raises(ValueError) as caught:
        tables.expand([340000])
    assert str(caught.value) == PREFIX + "sequence expansion exceeded recursion depth"


@pytest.mark.parametrize(
    "last, message",
    [
        ("001001", "expanded descriptor list exceeds 10000000 descriptors"),
        ("", "sequence expansion visited more than 50000000 descriptors"),
    ],
)
def test_expand_bounds_nested_replication(tmp_path, last, message):
    # 32 levels, each replicating the next 255 times: as deep as the limit allows.
    tables = load(tmp_path, sequences=nested_sequences(32, lambda code: f"101255, {code}", last))
    with pytest.raises(ValueError) as caught:
        tables.expand([340000])
    assert str(caught.value) == PREFIX + message


def test_expand_descriptors_function(tmp_path):
    directory = str(table_dir(tmp_path, sequences='"301001" = [ 001001, 001002 ]'))
    assert _tarnwel.expand_descriptors(directory, (301001, 1003)) == [1001, 1002, 1003]
    assert _tarnwel.expand_descriptors(descriptors=[], table_dir=directory) == []
    with pytest.raises(ValueError) as caught:
        _tarnwel.expand_descriptors(str(tmp_path / "absent"), [400000])
    assert str(caught.value) == PREFIX + NOT_FOUND  # the load fails before the expansion
    with pytest.raises(TypeError) as caught:
        _tarnwel.expand_descriptors(directory, "301001")
    assert str(caught.value) == "argument 'descriptors': Can't extract `str` to `Vec`"
    with pytest.raises(OverflowError) as caught:
        _tarnwel.expand_descriptors(directory, [-1])
    assert str(caught.value) == "argument 'descriptors': out of range integral type conversion attempted"


@pytest.fixture
def definitions(tmp_path):
    tables = tmp_path / "bufr" / "tables" / "0"
    table_dir(tables / "wmo" / "35", elements=ROW11 + ROW8, sequences='"301001" = [ 001001 ]')
    write(tables / "wmo" / "36", "35\n")
    write(tables / "wmo" / "19", " 36 ")
    write(tables / "wmo" / "20", "19")
    local = ROW11.replace("WMO BLOCK NUMBER", "LOCAL")
    table_dir(tables / "local" / "19-1" / "98" / "0", elements=local, sequences=None)
    table_dir(tables / "local" / "1" / "98" / "0", elements=None, sequences=None, codetables={"1001.table": "5 5 five"})
    return tmp_path


@pytest.mark.parametrize(
    "fields, block_name, meaning",
    [
        ({"master_version": 19, "local_version": 1}, "LOCAL", None),
        ({"master_version": 19, "local_version": 0}, "WMO BLOCK NUMBER", None),
        ({"master_version": 20, "local_version": 1}, "WMO BLOCK NUMBER", "five"),
        ({"master_version": 35, "local_version": 2}, "WMO BLOCK NUMBER", None),
    ],
)
def test_from_definitions(definitions, fields, block_name, meaning):
    record = _tarnwel.parse_bytes(message(**fields))
    tables = TableSet.from_definitions(str(definitions), record)
    assert tables.get_element(1001).name == block_name
    assert tables.get_element(1002).name == "WMO STATION NUMBER"
    assert tables.get_sequence(301001).members == [1001]
    assert tables.get_meaning(1001, 5) == meaning


@pytest.mark.parametrize(
    "setup, version, message_of",
    [
        (None, 37, lambda wmo: f"ecCodes table directory does not exist: {wmo}/37"),
        (("37", "35/x\n"), 37, lambda wmo: f'invalid ecCodes table alias {wmo}/37 -> "35/x"'),
        (("37", " \n"), 37, lambda wmo: f'invalid ecCodes table alias {wmo}/37 -> ""'),
        (("37", "38"), 37, lambda wmo: f"ecCodes table directory does not exist: {wmo}/38"),
        (("37", "37"), 37, lambda wmo: f"ecCodes table alias chain is too long at {wmo}/37"),
    ],
)
def test_from_definitions_errors(definitions, setup, version, message_of):
    wmo = definitions / "bufr" / "tables" / "0" / "wmo"
    if setup:
        write(wmo / setup[0], setup[1])
    with pytest.raises(ValueError) as caught:
        TableSet.from_definitions(str(definitions), _tarnwel.parse_bytes(message(master_version=version)))
    assert str(caught.value) == PREFIX + message_of(wmo)


def test_from_definitions_bad_local_file_and_arguments(definitions):
    write(definitions / "bufr/tables/0/local/19-1/98/0/sequence.def", '"301001" = ]')
    record = _tarnwel.parse_bytes(message(master_version=19, local_version=1))
    with pytest.raises(ValueError) as caught:
        TableSet.from_definitions(str(definitions), record)
    assert str(caught.value) == PREFIX + '"301001" = ]'
    with pytest.raises(TypeError) as caught:
        TableSet.from_definitions(str(definitions), 5)
    assert str(caught.value) == "argument 'message': 'int' object cannot be cast as 'BufrMessage'"


@pytest.mark.parametrize("hops, loads", [(32, True), (33, False)])
def test_alias_chain_bound(definitions, hops, loads):
    # Versions 100, 101, ... each name the next; the last names the directory 35.
    wmo = definitions / "bufr" / "tables" / "0" / "wmo"
    for step in range(hops):
        write(wmo / str(100 + step), str(101 + step) if step + 1 < hops else "35")
    record = _tarnwel.parse_bytes(message(master_version=100))
    if loads:
        assert TableSet.from_definitions(str(definitions), record).get_sequence(301001).members == [1001]
    else:
        with pytest.raises(ValueError) as caught:
            TableSet.from_definitions(str(definitions), record)
        assert str(caught.value) == f"{PREFIX}ecCodes table alias chain is too long at {wmo}/132"


def test_local_code_table_replaces_the_master_table_whole(definitions):
    write(definitions / "bufr/tables/0/wmo/35/codetables/1001.table", "5 5 master five\n6 6 six\n")
    record = _tarnwel.parse_bytes(message(master_version=20, local_version=1))
    tables = TableSet.from_definitions(str(definitions), record)
    assert (tables.get_meaning(1001, 5), tables.get_meaning(1001, 6)) == ("five", None)


def element_rows(path):
    """Table B of an element.table, read independently with the csv module."""
    with open(path, encoding="utf-8", newline="") as handle:
        rows = [row for row in csv.reader(handle, delimiter="|") if row and not row[0].startswith("#")]
    return {int(row[0]): (row[3], row[4], int(row[5]), int(row[6]), int(row[7])) for row in rows}


def sequence_codes(path):
    return set(map(int, re.findall(r'^\s*"?(\d+)"?\s*=', path.read_text(), re.MULTILINE)))


def fields_of(element):
    return (element.name, element.unit, element.scale, element.reference, element.width)


def test_eccodes_wmo_versions(definitions_root):
    wmo = definitions_root / "bufr/tables/0/wmo"
    versions = sorted((p for p in wmo.iterdir() if p.is_dir()), key=lambda p: int(p.name))
    assert versions
    for version in versions:
        tables = TableSet.from_eccodes(str(version))
        expected = element_rows(version / "element.table")
        assert tables.element_count == len(expected), version
        assert tables.sequence_count == len(sequence_codes(version / "sequence.def")), version
    # Field by field for the newest version.
    assert all(fields_of(tables.get_element(code)) == fields for code, fields in expected.items())


def test_local_tables_of_centre_98(definitions_root):
    local_root = definitions_root / "bufr/tables/0/local"
    local_dirs = sorted(p for p in local_root.glob("*/98/0") if (p / "element.table").is_file())
    assert local_dirs
    for local in local_dirs:
        name = local.parent.parent.name
        master_version, local_version = (19, int(name[3:])) if name.startswith("19-") else (30, int(name))
        record = _tarnwel.parse_bytes(message(master_version=master_version, local_version=local_version))
        tables = TableSet.from_definitions(str(definitions_root), record)
        master = element_rows(definitions_root / f"bufr/tables/0/wmo/{master_version}/element.table")
        local_rows = element_rows(local / "element.table")
        assert tables.element_count == len(master.keys() | local_rows.keys()), local
        assert all(fields_of(tables.get_element(code)) == fields for code, fields in local_rows.items())
