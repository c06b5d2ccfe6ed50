"""Decoded values of corpus messages with the less common constructs, against ecCodes reading the same octets."""

import pytest

import _tarnwel

eccodes = pytest.importorskip("eccodes", reason="ecCodes is not installed")
from eccodes_oracle import value_agrees  # noqa: E402

FILES = {
    "2 03 changed reference values": "etoyoda__bufrconv__A_ISMD02LLBD021200_C_RJTD_20260802121253_85.bufr",
    "2 05 character data": "ywangd__pybufrkit__IUSK73_AMMC_040000.bufr",
    "compressed with 2 01/2 02 and a 2 36 bitmap": "ecmwf__pdbufr__M02-HIRS-HIRxxx1B-NA-1.0-20181122114854.000000000Z"
    "-20181122132602-1304602.bufr",
    "compressed with associated fields": "ecmwf__pdbufr__aircraft_mrar_compressed.bufr",
    "compressed with 2 07 and 2 37": "ecmwf__pdbufr__compress_3.bufr",
    "delayed replication over many subsets": "ecmwf__pdbufr__synop_multi_subset_uncompressed.bufr",
}


def first_message(path):
    raw = path.read_bytes()
    start = raw.index(b"BUFR")
    return raw[start : start + int.from_bytes(raw[start + 4 : start + 7], "big")]


def eccodes_values(data):
    handle = eccodes.codes_new_from_message(data)
    try:
        eccodes.codes_set(handle, "unpack", 1)
        numbers = [float(v) for v in eccodes.codes_get_array(handle, "numericValues")]
        try:
            texts = list(eccodes.codes_get_string_array(handle, "stringValues"))
        except eccodes.KeyValueNotFoundError:
            texts = []
        return numbers, texts
    finally:
        eccodes.codes_release(handle)


@pytest.mark.parametrize("name", sorted(FILES))
def test_values_agree_with_eccodes(name, corpus_dir, definitions_root):
    data = first_message(corpus_dir / FILES[name])
    values = _tarnwel.decode_values_with_definitions(data, str(definitions_root))
    numbers, texts = eccodes_values(data)
    assert len(values) == len(numbers)
    wrong = [(i, v, n) for i, (v, n) in enumerate(zip(values, numbers)) if not value_agrees(v, n)]
    assert wrong == []
    if not _tarnwel.parse_bytes(data).compressed_data:
        # ecCodes lists compressed strings in its own order; uncompressed ones in ours.
        ours = [v.raw_text.rstrip("\0") for v in values if v.raw_text]
        assert ours == [t.rstrip() for t in texts if t.strip()]
