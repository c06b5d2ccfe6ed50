"""The table pack: for every directory it holds, the same tables as loading its files from disk."""

import csv
import glob
import importlib.util
import json
import pathlib
import struct
import subprocess
import sys
import zlib

import pytest

import _tarnwel
from _tarnwel import TableSet
from bufr_builder import message
from conftest import DEFINITIONS_ROOT
from tarnwel import _core, table_pack
from tarnwel.table_pack import pack_local_tables, pack_tables, pack_versions

REPO_ROOT = pathlib.Path(__file__).resolve().parent.parent
SCRIPT = REPO_ROOT / "scripts" / "build_table_pack.py"

MASTERS = [(table, version) for table, versions in pack_versions().items() for version in versions]
LOCALS = [(table, name) for table, names in pack_local_tables().items() for name in names]


def contents(tables):
    """Everything a set holds, through the TableSet API."""
    elements, sequences, figures = _core.table_codes(tables)
    fields = ("abbreviation", "element_type", "name", "unit", "scale", "reference", "width")
    return {
        "elements": {c: tuple(getattr(tables.get_element(c), f) for f in fields) for c in elements},
        "sequences": {c: tables.get_sequence(c).members for c in sequences},
        "meanings": {c: {f: tables.get_meaning(c, f) for f in fs} for c, fs in figures.items()},
    }


def section1_message(table, master_version, local_version=0, centre=98, subcentre=0):
    return _tarnwel.parse_bytes(message(master_table=table, master_version=master_version,
                                        local_version=local_version, centre=centre, subcentre=subcentre))


def local_fields(table, name):
    """(master version, local version, centre, subcentre) of a message that selects local table `name`."""
    version, centre, subcentre = name.split("/")
    master = 19 if version.startswith("19-") else max(pack_versions()[table])
    return master, int(version.rpartition("-")[2]), int(centre), int(subcentre)


def write_unit(root, path, texts):
    element_table, sequence_def, code_tables = texts
    target = root / "bufr" / "tables" / path
    (target / "codetables").mkdir(parents=True)
    if element_table is not None:
        (target / "element.table").write_bytes(element_table)
    if sequence_def is not None:
        (target / "sequence.def").write_bytes(sequence_def)
    for code, text in code_tables.items():
        (target / "codetables" / f"{code}.table").write_bytes(text)


def in_the_tree(table, version):
    return (DEFINITIONS_ROOT / "bufr" / "tables" / str(table) / "wmo" / str(version)).is_dir()


@pytest.fixture(scope="session")
def unpacked(tmp_path_factory):
    """The pack's directories written out as files: a definitions root. Master versions the ecCodes tree on disk
    has are compared with it instead, except those local tables are laid over here."""
    root = tmp_path_factory.mktemp("unpacked")
    pack = table_pack._the_pack()
    over = {(table, local_fields(table, name)[0]) for table, name in LOCALS}
    for table, versions in pack.masters.items():
        for version, unit in versions.items():
            if not in_the_tree(table, version) or (table, version) in over:
                write_unit(root, f"{table}/wmo/{version}", pack.unit_texts(unit))
    for table, names in pack.locals.items():
        for name, unit in names.items():
            write_unit(root, f"{table}/local/{name}", pack.unit_texts(unit))
    return root


def packed_or_error(*fields):
    try:
        return contents(pack_tables(*fields).tables)
    except ValueError as error:
        return str(error)


def disk_or_error(root, record):
    try:
        return contents(TableSet.from_definitions(str(root), record))
    except ValueError as error:
        return str(error)


@pytest.mark.parametrize("table,version", MASTERS)
def test_master_tables_equal_their_files(unpacked, table, version):
    record = section1_message(table, version)
    packed = packed_or_error(table, version, 98, 0, 0)
    # Where the ecCodes tree on disk has the version, the pack gives just what it does.
    root = DEFINITIONS_ROOT if in_the_tree(table, version) else unpacked
    assert isinstance(packed, dict) and packed == disk_or_error(root, record)


@pytest.mark.parametrize("table,name", LOCALS)
def test_local_tables_laid_over_master_tables_equal_their_files(unpacked, table, name):
    master, local, centre, subcentre = local_fields(table, name)
    record = section1_message(table, master, local, centre, subcentre)
    packed = packed_or_error(table, master, centre, subcentre, local)
    assert packed == disk_or_error(unpacked, record)
    # The name was found: a set of its own was made over the master tables.
    assert pack_tables(table, master, centre, subcentre, local).tables is not pack_tables(
        table, master, centre, subcentre, 0).tables


def test_a_message_newer_than_the_pack_gets_the_newest_version():
    newest = max(pack_versions()[0])
    fallback = pack_tables(0, 250, 98, 0, 0)
    assert fallback.used_master_version == newest
    assert fallback.tables is pack_tables(0, newest, 98, 0, 0).tables
    # The local table name follows the message's own version; 1/98/0 exists, so it is laid over the newest.
    local = pack_tables(0, 250, 98, 0, 1)
    assert local.used_master_version == newest
    assert local.tables is pack_tables(0, newest, 98, 0, 1).tables
    assert local.tables is not fallback.tables


def test_versions_and_tables_the_pack_lacks():
    with pytest.raises(ValueError) as error:
        pack_tables(0, 3, 98, 0, 0)
    known = ", ".join(map(str, pack_versions()[0]))
    assert str(error.value) == f"the table pack has no version 3 of BUFR master table 0 (it has {known})"
    with pytest.raises(ValueError) as error:
        pack_tables(9, 13, 98, 0, 0)
    assert str(error.value) == "the table pack has no BUFR master table 9 (it has 0, 3)"
    # Local tables the pack lacks leave the master tables alone, as a missing directory does on disk.
    assert pack_tables(0, 39, 7, 0, 1).tables is pack_tables(0, 39, 98, 0, 0).tables


def messages_of(data):
    """The bytes of each message in `data`."""
    position = 0
    while (found := _core.next_message(data, position, False)) is not None:
        start, length, _ = found
        yield data[start : start + length]
        position = start + length


@pytest.mark.parametrize("path", sorted(glob.glob(str(REPO_ROOT / "tests" / "data" / "*.bufr"))),
                         ids=lambda p: pathlib.Path(p).name)
def test_decoding_with_pack_tables_equals_decoding_with_the_tree(definitions_root, path):
    fields = ("descriptor", "name", "raw", "raw_value", "raw_text", "raw_meaning", "data")
    row = lambda value: tuple(getattr(value, f) for f in fields)
    for data in messages_of(pathlib.Path(path).read_bytes()):
        record = _tarnwel.parse_bytes(data)
        tables = pack_tables(record.master_table_number, record.master_tables_version_number,
                             record.originating_centre, record.originating_subcentre,
                             record.local_tables_version_number).tables
        packed = [row(v) for v in _tarnwel.decode_values_with_tables(data, tables)]
        assert packed and packed == [row(v) for v in
                                     _tarnwel.decode_values_with_definitions(data, str(definitions_root))]


@pytest.mark.parametrize("files,texts", [
    ({"element.table": b"000001|a|long|N|U|0|0|1 \n"}, (b"000001|a|long|N|U|0|0|1 \n", None, {})),
    ({"element.table": b"x|y\n1|2|3\n"}, (b"x|y\n1|2|3\n", None, {})),
    ({"sequence.def": b'"300001" = [ 000001 ]\n"3\xff" = [ 1 ]\n'}, (None, b'"300001" = [ 000001 ]\n"3\xff" = [ 1 ]\n', {})),
    ({"codetables/1.table": b"0 0 a\nx x b\n"}, (None, None, {1: b"0 0 a\nx x b\n"})),
], ids=["bad width", "field count", "not UTF-8", "bad figure"])
def test_texts_fail_as_their_files_do(tmp_path, files, texts):
    (tmp_path / "codetables").mkdir()
    for name in ("element.table", "sequence.def"):
        (tmp_path / name).write_bytes(b"")
    for name, text in files.items():
        (tmp_path / name).write_bytes(text)
    with pytest.raises(ValueError) as from_files:
        TableSet.from_eccodes(str(tmp_path))
    with pytest.raises(ValueError) as from_texts:
        _core.tables_from_texts(*texts, None)
    assert str(from_texts.value) == str(from_files.value)


# --- the pack's making: needs its sources ---------------------------------------------------------------------------

@pytest.fixture(scope="session")
def build_script():
    spec = importlib.util.spec_from_file_location("build_table_pack", SCRIPT)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def test_wmo_code_tables_are_those_of_the_csv(wmo_csv_dir):
    """Master versions without ecCodes code tables take WMO's, over those of the newest ecCodes version."""
    newest = max(pack_versions()[0])
    tables = pack_tables(0, newest, 98, 0, 0).tables
    expected = {}
    for path in sorted(wmo_csv_dir.glob("BUFRCREX_CodeFlag_en_*.csv")):
        with open(path, newline="", encoding="utf-8") as f:
            for row in csv.DictReader(f):
                meaning = " ".join(row["EntryName_en"].split())
                if row["CodeFigure"].isdigit() and meaning:
                    expected.setdefault(int(row["FXY"]), {})[int(row["CodeFigure"])] = meaning
    _, _, figures = _core.table_codes(tables)
    assert {c: {f: tables.get_meaning(c, f) for f in fs} for c, fs in expected.items()} == expected
    assert {c: set(figures[c]) for c in expected} == {c: set(fs) for c, fs in expected.items()}
    # Common code tables, such as C-1 of originating centres, are not in WMO's CSV.
    with_codes = pack_tables(0, 39, 98, 0, 0).tables
    assert 1033 not in expected and tables.get_meaning(1033, 98) == with_codes.get_meaning(1033, 98) is not None


def test_wmo_tables_made_into_ecCodes_files_keep_the_ecCodes_keys(wmo_csv_dir, build_script, unpacked):
    """A version only WMO's CSV has is written in the ecCodes layout with the keys of older ecCodes versions."""
    release = build_script.WmoRelease(str(wmo_csv_dir))
    older = {path: table_dir for path, table_dir in build_script.read_definitions_tree(str(unpacked)).items()
             if not (path.startswith("0/wmo/") and int(path.split("/")[2]) >= release.version)}
    made = _core.tables_from_texts(release.element_table(build_script.known_elements(older, 0)),
                                   release.sequence_def(), {}, None)
    by_csv_loader = contents(TableSet.from_bufr4_45(str(wmo_csv_dir)))
    made_contents = contents(made)
    assert made_contents["sequences"] == by_csv_loader["sequences"]
    numbers = lambda entries: {c: (e[2], e[3], e[4], e[5], e[6]) for c, e in entries.items()}
    assert numbers(made_contents["elements"]) == numbers(by_csv_loader["elements"])
    # ecCodes' own files of that version agree on keys and types.
    ecCodes = contents(pack_tables(0, release.version, 98, 0, 0).tables)["elements"]
    assert {c: e[:2] for c, e in made_contents["elements"].items()} == {c: e[:2] for c, e in ecCodes.items()}


def pack_sources(data):
    """The sources a pack file names in its index."""
    magic = b"TARNWEL TABLE PACK\n\0"
    _, length = struct.unpack_from("<II", data, len(magic))
    start = len(magic) + 8
    return json.loads(zlib.decompress(data[start : start + length]))["sources"]


def test_the_script_makes_the_shipped_pack_again(tmp_path, definitions_root, wmo_csv_dir):
    """Running the script on the pack's own sources gives the same bytes (and the pack is up to date)."""
    pytest.importorskip("eccodeslib")
    command = [sys.executable, str(SCRIPT), "--definitions", str(definitions_root), "--wmo-csv", str(wmo_csv_dir),
               "--out-dir", str(tmp_path)]
    subprocess.run(command, check=True, capture_output=True)
    made = (tmp_path / "pack.bin").read_bytes()
    shipped = table_pack.PACK_PATH.read_bytes()
    if pack_sources(made) != pack_sources(shipped):
        pytest.skip(f"the pack was made from other sources: {pack_sources(shipped)}")
    assert made == shipped
