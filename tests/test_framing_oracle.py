"""Framing and section 1/3 fields of real messages, checked against ecCodes as an independent reader."""

import tempfile

import pytest

import _tarnwel

ec = pytest.importorskip("eccodes")

EXAMPLES = ["synop_uncompressed", "temp_uncompressed", "amv_compressed", "ship_local_section"]

# BufrMessage attribute -> ecCodes header key.
FIELDS = {
    "total_length": "totalLength",
    "section1_length": "section1Length",
    "section2_length": "section2Length",
    "section3_length": "section3Length",
    "section4_length": "section4Length",
    "edition": "edition",
    "master_table_number": "masterTableNumber",
    "originating_centre": "bufrHeaderCentre",
    "originating_subcentre": "bufrHeaderSubCentre",
    "update_sequence_number": "updateSequenceNumber",
    "local_section_present": "localSectionPresent",
    "data_category": "dataCategory",
    "international_data_subcategory": "internationalDataSubCategory",
    "local_data_subcategory": "dataSubCategory",
    "master_tables_version_number": "masterTablesVersionNumber",
    "local_tables_version_number": "localTablesVersionNumber",
    "typical_year": "typicalYear",
    "typical_month": "typicalMonth",
    "typical_day": "typicalDay",
    "typical_hour": "typicalHour",
    "typical_minute": "typicalMinute",
    "typical_second": "typicalSecond",
    "number_of_subsets": "numberOfSubsets",
    "observed_data": "observedData",
    "compressed_data": "compressedData",
}


def eccodes_messages(raw):
    """Split `raw` with ecCodes: (offset, message bytes, header dict) per message, editions other than 4 too."""
    found = []
    with tempfile.TemporaryFile() as f:
        f.write(raw)
        f.seek(0)
        while (h := ec.codes_bufr_new_from_file(f)) is not None:
            try:
                header = {"edition": ec.codes_get(h, "edition")}
                if header["edition"] == 4:
                    header.update({key: ec.codes_get(h, key) for key in FIELDS.values()})
                    header["unexpandedDescriptors"] = [
                        int(d) for d in ec.codes_get_array(h, "unexpandedDescriptors")]
                found.append((int(ec.codes_get(h, "offset")), ec.codes_get_message(h), header))
            finally:
                ec.codes_release(h)
    return found


def differences(message, header):
    out = []
    for attribute, key in FIELDS.items():
        ours, theirs = getattr(message, attribute), header[key]
        if isinstance(ours, bool):
            theirs = bool(theirs)
        if ours != theirs:
            out.append(f"{attribute}: {ours!r} != {theirs!r}")
    if list(message.unexpanded_descriptors) != header["unexpandedDescriptors"]:
        out.append(f"descriptors: {list(message.unexpanded_descriptors)} != {header['unexpandedDescriptors']}")
    # The data area lies inside section 4, right after its 4-octet header.
    s4 = message.section1_length + message.section2_length + message.section3_length + 8
    if (message.section4_data_offset, message.section4_data_length) != (s4 + 4, message.section4_length - 4):
        out.append("section 4 data range")
    return out


@pytest.mark.parametrize("name", EXAMPLES)
def test_example_fields_agree_with_eccodes(data_dir, name):
    raw = (data_dir / f"{name}.bufr").read_bytes()
    [(offset, body, header)] = eccodes_messages(raw)
    assert offset == 0 and body == raw
    assert differences(_tarnwel.parse_bytes(raw), header) == []


def test_multi_message_file_splits_like_eccodes(data_dir):
    path = data_dir / "multi.bufr"
    expected = eccodes_messages(path.read_bytes())
    ours = _tarnwel.parse_all_file(str(path))
    assert len(ours) == len(expected) == len(EXAMPLES)
    for message, (_, body, header), name in zip(ours, expected, EXAMPLES):
        assert body == (data_dir / f"{name}.bufr").read_bytes()
        assert differences(message, header) == []


def test_corpus_edition4_fields_agree_with_eccodes(corpus_dir):
    checked = 0
    mismatches = []
    for path in sorted(corpus_dir.iterdir()):
        if path.suffix in {".md", ".tsv"}:
            continue
        for offset, body, header in eccodes_messages(path.read_bytes()):
            if header["edition"] != 4:
                with pytest.raises(ValueError) as excinfo:
                    _tarnwel.parse_bytes(body)
                assert str(excinfo.value) == (
                    f"unsupported BUFR edition {header['edition']}; only edition 4 is implemented")
                continue
            try:
                message = _tarnwel.parse_bytes(body)
            except ValueError as error:
                mismatches.append(f"{path.name}@{offset}: {error}")
                continue
            mismatches += [f"{path.name}@{offset}: {d}" for d in differences(message, header)]
            checked += 1
    assert mismatches == []
    assert checked >= 250
