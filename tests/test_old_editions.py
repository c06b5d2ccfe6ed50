"""Editions 2 and 3 through tarnwel._core: their section 1 mapped onto the message record, checked against ecCodes."""

import csv
import struct

import pytest

import _tarnwel
from bufr_builder import section3, section4, u24
from tarnwel import _core

ABSENT_IN_3 = ("international_data_subcategory", "typical_second")
ABSENT_IN_2 = ("originating_subcentre",) + ABSENT_IN_3


def old_message(edition, *, centre=98, subcentre=0, year_of_century=23, section1_length=18, section2=None,
                descriptors=(1001,), data=b"\0\0", **octets):
    """An edition 2 or 3 message; `octets` overrides the one-octet fields of section 1 by name."""
    fields = dict(master_table=0, update=0, flag=0x80 if section2 is not None else 0, category=2, subcategory=7,
                  master_version=13, local_version=1, month=6, day=2, hour=12, minute=30) | octets
    origin = bytes([fields["master_table"]]) + (
        struct.pack(">H", centre) if edition == 2 else bytes([subcentre, centre]))
    body = origin + bytes([fields[name] for name in (
        "update", "flag", "category", "subcategory", "master_version", "local_version")])
    body += bytes([year_of_century] + [fields[name] for name in ("month", "day", "hour", "minute")])
    raw = u24(section1_length) + body.ljust(section1_length - 3, b"\0")
    if section2 is not None:
        raw += u24(4 + len(section2)) + b"\0" + section2
    raw += section3(descriptors) + section4(data) + b"7777"
    return b"BUFR" + u24(8 + len(raw)) + bytes([edition]) + raw


def with_edition_octet(number):
    """An edition 3 message with another edition octet."""
    raw = old_message(3)
    return raw[:7] + bytes([number]) + raw[8:]


def parse(raw):
    return _core.parse_message(raw, 0, len(raw))


def parse_error(raw):
    with pytest.raises(ValueError) as excinfo:
        parse(raw)
    return str(excinfo.value)


@pytest.mark.parametrize("edition, absent", [(2, ABSENT_IN_2), (3, ABSENT_IN_3)])
def test_section1_fields_map_onto_the_record(edition, absent):
    raw = old_message(edition, centre=300 if edition == 2 else 74, subcentre=5, update=1, category=4,
                      subcategory=145, master_version=12, local_version=3, month=1, day=28, hour=3, minute=1,
                      section2=b"local", descriptors=(301011, 1002))
    m = parse(raw)
    assert (m.edition, m.total_length, m.section1_length, m.section2_length) == (edition, len(raw), 18, 9)
    assert m.originating_centre == (300 if edition == 2 else 74)
    assert m.originating_subcentre == (0 if edition == 2 else 5)
    assert (m.update_sequence_number, m.local_section_present, m.data_category) == (1, True, 4)
    assert (m.local_data_subcategory, m.international_data_subcategory) == (145, 0)
    assert (m.master_tables_version_number, m.local_tables_version_number) == (12, 3)
    assert (m.typical_year, m.typical_month, m.typical_day, m.typical_hour, m.typical_minute) == (2023, 1, 28, 3, 1)
    assert m.typical_second == 0
    assert m.unexpanded_descriptors == [301011, 1002]
    assert raw[m.section4_data_offset:m.section4_data_offset + m.section4_data_length] == b"\0\0"
    assert _core.absent_header_fields(m) == absent


def test_edition4_through_core_is_the_exact_parse(data_dir):
    raw = (data_dir / "synop_uncompressed.bufr").read_bytes()
    ours, exact = parse(raw), _tarnwel.parse_bytes(raw)
    attributes = [name for name in dir(exact) if not name.startswith("_")]
    assert [getattr(ours, a) for a in attributes] == [getattr(exact, a) for a in attributes]
    assert _core.absent_header_fields(ours) == ()


@pytest.mark.parametrize(
    "year_of_century, year",
    [(0, 2000), (23, 2023), (89, 2089), (90, 1990), (99, 1999), (100, 2000), (108, 2008), (255, 2155)],
)
def test_year_of_century_pivot(year_of_century, year):
    assert parse(old_message(3, year_of_century=year_of_century)).typical_year == year


@pytest.mark.parametrize(
    "raw, text",
    [
        # Every field read lies inside section 1, which is 17 octets at least.
        (old_message(3, section1_length=16), "section 1 at offset 8 is truncated"),
        (b"BUFR" + u24(10) + b"\x02\0\0", "section 1 at offset 8 is truncated"),
        (old_message(3)[:26] + u24(0xFFFFFF) + old_message(3)[29:], "section 3 at offset 26 is truncated"),
        (with_edition_octet(1), "unsupported BUFR edition 1; only edition 4 is implemented"),
        (with_edition_octet(5), "unsupported BUFR edition 5; only edition 4 is implemented"),
    ],
)
def test_framing_errors_of_old_editions(raw, text):
    assert parse_error(raw) == text


def test_section1_of_exactly_17_octets():
    m = parse(old_message(3, section1_length=17, minute=59))
    assert (m.section1_length, m.typical_minute, m.unexpanded_descriptors) == (17, 59, [1001])


@pytest.mark.parametrize("edition", [2, 3])
def test_exact_module_still_refuses_old_editions(tmp_path, edition):
    raw = old_message(edition)
    path = tmp_path / "old.bufr"
    path.write_bytes(raw)
    calls = [lambda: _tarnwel.parse_bytes(raw), lambda: _tarnwel.parse_all_bytes(raw),
             lambda: _tarnwel.parse_file(str(path)),
             lambda: _tarnwel.decode_values_with_tables(raw, _tarnwel.TableSet())]
    for call in calls:
        with pytest.raises(ValueError) as excinfo:
            call()
        assert str(excinfo.value) == f"unsupported BUFR edition {edition}; only edition 4 is implemented"


def oracle():
    pytest.importorskip("eccodes", reason="ecCodes is not installed")
    import eccodes_oracle

    return eccodes_oracle


def edition3_fields():
    """BufrMessage attribute -> ecCodes key, for the fields editions 2 and 3 carry."""
    return {a: k for a, k in oracle().HEADER_FIELDS.items() if a not in ABSENT_IN_3}


def eccodes_headers(raw, edition, fields):
    """(offset, message octets, header keys) of each message of `edition` that ecCodes finds in `raw`."""
    return [
        (item["offset"], item["body"], item)
        for item in oracle().split(raw, fields.values(), header_editions=(edition,))
        if item["edition"] == edition
    ]


def test_built_edition2_message_agrees_with_eccodes():
    # ecCodes gives edition 2 no full year, only the octet itself.
    fields = {a: k for a, k in edition3_fields().items() if a != "typical_year"}
    fields["year_of_century"] = "typicalYearOfCentury"
    raw = old_message(2, centre=1234, year_of_century=23, section2=b"abcd", descriptors=(301011, 12101))
    [(offset, body, header)] = eccodes_headers(raw, 2, fields)
    assert (offset, body, header["typicalYearOfCentury"]) == (0, raw, 23)
    del fields["year_of_century"]
    m = parse(raw)
    assert oracle().header_differences(m, header, fields) == []
    assert m.typical_year == 2023


def manifest_edition3_count(corpus_dir):
    with open(corpus_dir / "MANIFEST.tsv", newline="") as f:
        return sum(int(row["messages"]) - int(row["edition4"]) for row in csv.DictReader(f, delimiter="\t"))


def test_corpus_edition3_headers_agree_with_eccodes(corpus_dir):
    checked, mismatches, fields = 0, [], edition3_fields()
    for path in sorted(corpus_dir.iterdir()):
        if path.suffix in {".md", ".tsv"}:
            continue
        raw = path.read_bytes()
        for offset, body, header in eccodes_headers(raw, 3, fields):
            m = _core.parse_message(raw, offset, len(body))
            mismatches += [f"{path.name}@{offset}: {d}" for d in oracle().header_differences(m, header, fields)]
            if (m.international_data_subcategory, m.typical_second) != (0, 0):
                mismatches.append(f"{path.name}@{offset}: absent fields are not 0")
            if _core.absent_header_fields(m) != ABSENT_IN_3:
                mismatches.append(f"{path.name}@{offset}: {_core.absent_header_fields(m)}")
            checked += 1
    assert mismatches == []
    assert checked == manifest_edition3_count(corpus_dir) == 25
