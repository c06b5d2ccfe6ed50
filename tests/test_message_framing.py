"""The section parser: framing checks in their order, and the message record."""

import pytest

import _tarnwel
from bufr_builder import message, section1, section3, section4, u24, with_total_length


def parse_error(raw):
    with pytest.raises(ValueError) as excinfo:
        _tarnwel.parse_bytes(raw)
    return str(excinfo.value)


def test_record_fields_of_a_built_message():
    raw = message(
        (307080, 1001),
        b"\x01\x02\x03",
        subsets=3,
        flags=0xC0,
        master_table=0,
        centre=74,
        subcentre=5,
        update=2,
        category=2,
        subcategory=4,
        local_subcategory=9,
        master_version=37,
        local_version=1,
        when=(2024, 2, 29, 23, 59, 58),
    )
    m = _tarnwel.parse_bytes(raw)
    assert (m.edition, m.total_length, m.number_of_subsets) == (4, len(raw), 3)
    assert (m.observed_data, m.compressed_data, m.local_section_present) == (True, True, False)
    assert (m.originating_centre, m.originating_subcentre, m.update_sequence_number) == (74, 5, 2)
    assert (m.data_category, m.international_data_subcategory, m.local_data_subcategory) == (2, 4, 9)
    assert (m.master_table_number, m.master_tables_version_number) == (0, 37)
    assert m.local_tables_version_number == 1
    when = (m.typical_year, m.typical_month, m.typical_day, m.typical_hour)
    assert when + (m.typical_minute, m.typical_second) == (2024, 2, 29, 23, 59, 58)
    assert (m.section1_length, m.section2_length, m.section3_length) == (22, 0, 11)
    assert m.section4_length == 7
    assert m.section4_data_offset == 8 + 22 + 11 + 4
    assert m.section4_data_length == 3
    assert raw[m.section4_data_offset : m.section4_data_offset + 3] == b"\x01\x02\x03"
    assert m.unexpanded_descriptors == [307080, 1001]
    assert repr(m) == f"BufrMessage(edition=4, length={len(raw)}, subsets=3, descriptors=[307080, 1001])"


def test_section2_is_skipped_and_measured():
    m = _tarnwel.parse_bytes(message((1001,), section2=b"local data"))
    assert m.local_section_present is True
    assert m.section2_length == 14
    assert m.unexpanded_descriptors == [1001]


def test_any_nonzero_optional_flag_means_section2_present():
    raw = message((1001,), optional_flag=0x01, section2=b"xyz")
    assert _tarnwel.parse_bytes(raw).section2_length == 7


@pytest.mark.parametrize(
    "octets, code",
    [(b"\x41\x01", 101001), (b"\xc1\x0b", 301011), (b"\x01\x01", 1001), (b"\x00\x01", 1), (b"\xff\xff", 363255)],
)
def test_descriptor_octets_split_into_f_x_y(octets, code):
    raw = message((), pad=octets)
    assert _tarnwel.parse_bytes(raw).unexpanded_descriptors == [code]


def test_empty_descriptor_area():
    m = _tarnwel.parse_bytes(message(()))
    assert (m.section3_length, m.unexpanded_descriptors) == (7, [])
    assert repr(m).endswith("descriptors=[])")


@pytest.mark.parametrize("pad", [b"\x00", b" ", b"\xff"])
def test_odd_descriptor_area_ends_in_an_ignored_pad_octet(pad):
    m = _tarnwel.parse_bytes(message((1001, 1002), pad=pad))
    assert m.section3_length == 12
    assert m.unexpanded_descriptors == [1001, 1002]


def test_single_octet_descriptor_area_is_odd():
    assert parse_error(message((), pad=b"\x00")) == "section 3 descriptor area has odd byte count"


def test_section4_shorter_than_its_header_has_no_data():
    raw = message((1001,))[: 8 + 22 + 9] + u24(3) + b"7777"
    raw = with_total_length(raw, len(raw))
    m = _tarnwel.parse_bytes(raw)
    assert (m.section4_length, m.section4_data_length) == (3, 0)


def test_trailing_octets_after_terminator_inside_declared_length_are_ignored():
    raw = message((1001,)) + b"junk"
    raw = with_total_length(raw, len(raw))
    assert _tarnwel.parse_bytes(raw).total_length == len(raw)


VALID = message((1001,))


@pytest.mark.parametrize(
    "raw, text",
    [
        (b"BUFR\0\0\x07", "message is too short to be BUFR"),
        (b"XUFR\0\0\x08\x04", "missing BUFR marker"),
        (b"BUFR\0\0\x08\x03", "unsupported BUFR edition 3; only edition 4 is implemented"),
        # the edition is checked before the length
        (b"BUFR\0\0\x63\x03" + b"\0" * 4, "unsupported BUFR edition 3; only edition 4 is implemented"),
        (VALID + b"\0", f"declared length {len(VALID)} does not match buffer length {len(VALID) + 1}"),
        (b"BUFR\0\0\x0a\x04\0\0", "section 1 at offset 8 is truncated"),
        (b"BUFR\0\0\x0c\x04\0\0\x09\0", "section 1 at offset 8 is truncated"),
        (VALID[:-4] + b"7778", "section 5 terminator is not 7777"),
        (with_total_length(VALID[:-1], len(VALID) - 1), "section 5 at offset 45 is truncated"),
    ],
)
def test_framing_errors(raw, text):
    assert parse_error(raw) == text


def test_buffer_of_18_to_24_octets_reports_the_typical_year():
    raw = b"BUFR" + u24(20) + b"\x04" + u24(3) + b"\0" * 9
    assert parse_error(raw) == "section 0 at offset 23 is truncated"


def test_buffer_too_short_for_optional_flag_is_rejected():
    raw = b"BUFR" + u24(14) + b"\x04" + u24(3) + b"\0" * 3
    assert parse_error(raw) == "section 1 at offset 8 is truncated"


def test_framing_that_ends_before_octet_29_is_rejected():
    # A 3-octet section 1 lets sections 3 to 5 end at octet 25, before the
    # identification octets 25 to 29 that the record still needs.
    raw = b"BUFR" + u24(25) + b"\x04" + u24(3) + u24(7) + b"\0\0\x01\0" + u24(3) + b"7777"
    assert len(raw) == 25
    assert parse_error(raw) == "section 1 at offset 8 is truncated"


@pytest.mark.parametrize(
    "section3_length, text",
    [
        (6, "section 3 at offset 30 is truncated"),
        (8, "section 3 descriptor area has odd byte count"),
        (0xFFFFFF, "section 3 at offset 30 is truncated"),
    ],
)
def test_section3_length_checks(section3_length, text):
    raw = bytearray(message((1001,)))
    raw[30:33] = u24(section3_length)
    assert parse_error(bytes(raw)) == text


def test_section2_running_past_the_buffer():
    raw = bytearray(message((1001,), section2=b"abc"))
    raw[30:33] = u24(0xFFFFFF)
    assert parse_error(bytes(raw)) == "section 2 at offset 30 is truncated"


def test_section4_running_past_the_buffer():
    raw = bytearray(message((1001,)))
    s4 = 30 + 9
    raw[s4 : s4 + 3] = u24(0xFFFFFF)
    assert parse_error(bytes(raw)) == f"section 4 at offset {s4} is truncated"


def test_section1_longer_than_its_fields_is_skipped():
    body = section1(length=30, centre=7) + section3((1,)) + section4(b"") + b"7777"
    m = _tarnwel.parse_bytes(b"BUFR" + u24(8 + len(body)) + b"\x04" + body)
    assert (m.section1_length, m.originating_centre, m.unexpanded_descriptors) == (30, 7, [1])
