"""Framing and section 1/3 fields of real messages, checked against ecCodes as an independent reader."""

import pytest

import _tarnwel

oracle = pytest.importorskip("eccodes_oracle", reason="ecCodes is not installed")

EXAMPLES = ["synop_uncompressed", "temp_uncompressed", "amv_compressed", "ship_local_section"]

FIELDS = oracle.HEADER_FIELDS


def differences(message, header):
    out = oracle.header_differences(message, header)
    # The data area lies inside section 4, right after its 4-octet header.
    s4 = message.section1_length + message.section2_length + message.section3_length + 8
    if (message.section4_data_offset, message.section4_data_length) != (s4 + 4, message.section4_length - 4):
        out.append("section 4 data range")
    return out


@pytest.mark.parametrize("name", EXAMPLES)
def test_example_fields_agree_with_eccodes(data_dir, name):
    raw = (data_dir / f"{name}.bufr").read_bytes()
    [header] = oracle.split(raw, FIELDS.values())
    assert header["offset"] == 0 and header["body"] == raw
    assert differences(_tarnwel.parse_bytes(raw), header) == []


def test_multi_message_file_splits_like_eccodes(data_dir):
    path = data_dir / "multi.bufr"
    expected = oracle.split(path.read_bytes(), FIELDS.values())
    ours = _tarnwel.parse_all_file(str(path))
    assert len(ours) == len(expected) == len(EXAMPLES)
    for message, header, name in zip(ours, expected, EXAMPLES):
        assert header["body"] == (data_dir / f"{name}.bufr").read_bytes()
        assert differences(message, header) == []


def test_corpus_edition4_fields_agree_with_eccodes(corpus_dir):
    checked = 0
    mismatches = []
    for path in sorted(corpus_dir.iterdir()):
        if path.suffix in {".md", ".tsv"}:
            continue
        for header in oracle.split(path.read_bytes(), FIELDS.values()):
            offset, body = header["offset"], header["body"]
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
