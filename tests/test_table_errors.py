"""Table errors of the reading API name the table file and the line at fault; _tarnwel's texts stay as they were."""

import pathlib
import subprocess
import sys

import pytest

import _tarnwel
import tarnwel

TARNWEL = pathlib.Path(sys.executable).parent / "tarnwel"

ELEMENTS = "001001|blockNumber|long|WMO BLOCK NUMBER|Numeric|0|0|7|Numeric|0|2\n"
SEQUENCES = '"300002" = [ 000002, 000003 ]\n'
BAD_NUMBER = "001002|stationNumber|long|WMO STATION NUMBER|Numeric|0|zero|10\n"
SHORT_RECORD = "001003|region|long|REGION\n"

# (files of the table directory, table file at fault, line, the core's unchanged text)
FAULTS = {
    "bad number in element.table": (
        {"element.table": ELEMENTS + BAD_NUMBER, "sequence.def": SEQUENCES}, "element.table", 2,
        'csv/table parse error: bad i64 "zero": invalid digit found in string'),
    "bad CSV line in element.table": (
        {"element.table": ELEMENTS + ELEMENTS + SHORT_RECORD, "sequence.def": SEQUENCES}, "element.table", 3,
        f"csv/table parse error: CSV error: record 2 (line: 3, byte: {2 * len(ELEMENTS)}): found record with "
        "4 fields, but the previous record has 11 fields"),
    "sequence.def missing": (
        {"element.table": ELEMENTS}, "sequence.def", None,
        "io error: No such file or directory (os error 2)"),
    "statement without its list": (
        {"element.table": ELEMENTS, "sequence.def": SEQUENCES + "\n" + '"300003" = 000010 ]\n'}, "sequence.def", 3,
        'csv/table parse error: "300003" = 000010 ]'),
    "bad figure in a code table": (
        {"element.table": ELEMENTS, "sequence.def": SEQUENCES, "codetables/1001.table": "0 0 Zero\nx x Bad\n"},
        "codetables/1001.table", 2, 'csv/table parse error: bad code table key "x": invalid digit found in string'),
}


def write_tables(directory, files):
    for name, text in files.items():
        (directory / name).parent.mkdir(parents=True, exist_ok=True)
        (directory / name).write_text(text)


@pytest.fixture(scope="module")
def synop(data_dir):
    path = data_dir / "synop_uncompressed.bufr"
    first = next(iter(tarnwel.open(path, tables=_tarnwel.TableSet())))
    return path, first.master_table_number, first.master_tables_version_number


@pytest.mark.parametrize("layout", ["table directory", "definitions root"])
@pytest.mark.parametrize("fault", FAULTS, ids=list(FAULTS))
def test_table_errors_name_the_file_and_line(tmp_path, synop, layout, fault):
    files, at_fault, line, text = FAULTS[fault]
    path, table_number, version = synop
    tables = tmp_path / "tables"
    if layout == "definitions root":
        tables = tmp_path / "bufr" / "tables" / str(table_number) / "wmo" / str(version)
    tables.mkdir(parents=True)
    write_tables(tables, files)
    place = f"{tables / at_fault}:{line}" if line else f"{tables / at_fault}"
    location = tmp_path if layout == "definitions root" else tables

    with pytest.raises(tarnwel.DecodeError) as raised:
        for message in tarnwel.open(path, definitions=location):
            message.values()
    assert raised.value.text == f"{place}: {text}"
    assert (raised.value.index, raised.value.offset) == (0, 0)

    # The module's own loaders keep the text without a place.
    with pytest.raises(ValueError) as plain:
        if layout == "definitions root":
            _tarnwel.TableSet.from_definitions(str(location), _tarnwel.parse_all_bytes(path.read_bytes())[0])
        else:
            _tarnwel.TableSet.from_eccodes(str(location))
    assert str(plain.value) == text


@pytest.mark.parametrize("command", ["dump", "lookup"])
def test_command_line_prints_the_table_error_as_one_line(tmp_path, synop, command):
    path, table_number, version = synop
    files = {"element.table": ELEMENTS + BAD_NUMBER, "sequence.def": SEQUENCES}
    text = 'csv/table parse error: bad i64 "zero": invalid digit found in string'
    if command == "dump":
        tables = tmp_path
        args, where = ["dump", str(path)], f"{path}: message 0 at offset 0: "
    else:
        tables = tmp_path / "bufr" / "tables" / str(table_number) / "wmo" / str(version)
        args, where = ["lookup", "--master-version", str(version), "001001"], ""
    tables.mkdir(parents=True, exist_ok=True)
    write_tables(tables, files)
    result = subprocess.run([str(TARNWEL), *args, "--definitions", str(tmp_path)],
                            capture_output=True, text=True, timeout=120)
    assert (result.returncode, result.stdout) == (1, "")
    assert result.stderr == f"tarnwel: {where}{tables / 'element.table'}:2: {text}\n"
