"""Decoded values of real messages against ecCodes' numericValues and stringValues for the same octets.

ecCodes lists one number per decoded item, subset after subset, operators included as 0 and character elements
as their running text number, which is the order and the numbering of our flat list. Where the two readers are
meant to differ, the rule is spelled out in `value_agrees` or in the corpus test.
"""

import re

import pytest

import _tarnwel

oracle = pytest.importorskip("eccodes_oracle", reason="ecCodes is not installed")

EXAMPLES = ["synop_uncompressed", "temp_uncompressed", "amv_compressed", "ship_local_section"]
NOT_IN_TABLE_B = re.compile(r"descriptor (\d{6}) was not found in Table B")


@pytest.fixture(scope="module")
def decode():
    # A missing decode function is an error here, never a skip.
    return _tarnwel.decode_values_with_definitions


def normal_text(text):
    # We keep NULs and turn octets above 127 into "?"; ecCodes drops trailing NULs and decodes them otherwise.
    return "".join(c if ord(c) < 128 else "?" for c in text).rstrip("\0 \t\r\n\v\f")


def disagreements(values, expected):
    theirs = expected["numericValues"]
    out = []
    if len(values) != len(theirs):
        out.append(f"{len(values)} values, ecCodes has {len(theirs)}")
    for i, (value, number) in enumerate(zip(values, theirs)):
        if not oracle.value_agrees(value, number):
            out.append(f"value {i} ({value.descriptor:06d}): {value.raw_value!r} != {number!r}")
            break
    # ecCodes lists a text once when all subsets share it, so the texts compare as sets.
    ours = {normal_text(v.raw_text) for v in values if v.raw_text is not None} - {""}
    if ours != {normal_text(t) for t in expected["stringValues"]} - {""}:
        out.append("texts differ")
    return out


@pytest.mark.parametrize("name", EXAMPLES)
def test_example_values_agree_with_eccodes(decode, data_dir, definitions_root, name):
    raw = (data_dir / f"{name}.bufr").read_bytes()
    [expected] = oracle.split(raw, values=True)
    values = decode(raw, str(definitions_root))
    assert disagreements(values, expected) == []
    # Spot checks that do not lean on ecCodes: the records carry the descriptors they came from.
    assert {v.descriptor for v in values} >= {4001, 5001, 6001}


def test_multi_decodes_only_its_first_message(decode, data_dir, definitions_root):
    # multi.bufr starts with a bulletin heading, then the SYNOP example; the rest must not be decoded.
    first = decode((data_dir / "multi.bufr").read_bytes(), str(definitions_root))
    alone = decode((data_dir / "synop_uncompressed.bufr").read_bytes(), str(definitions_root))
    assert [(v.descriptor, v.raw, v.raw_value, v.raw_text) for v in first] == [
        (v.descriptor, v.raw, v.raw_value, v.raw_text) for v in alone]


def test_corpus_values_agree_with_eccodes(decode, corpus_dir, definitions_root):
    agreed = 0
    problems = []
    for path in sorted(corpus_dir.iterdir()):
        if path.suffix in {".md", ".tsv"}:
            continue
        for expected in oracle.split(path.read_bytes(), values=True):
            if expected["edition"] != 4:
                continue
            where = f"{path.name}@{expected['offset']}"
            try:
                values = decode(expected["body"], str(definitions_root))
            except ValueError as error:
                missing = NOT_IN_TABLE_B.fullmatch(str(error))
                code = int(missing.group(1)) if missing else None
                # A local descriptor (X 48-63 or Y 192-255) of a centre whose tables are not installed is a
                # table error for us; ecCodes warns and reads on. Anything else ecCodes must have failed on too.
                local = code is not None and ((code // 1000) % 100 >= 48 or code % 1000 >= 192)
                if not local and "unpack_error" not in expected:
                    problems.append(f"{where}: {error}")
                continue
            if "unpack_error" in expected:
                continue  # ecCodes gave up on a broken message; decoding it without a crash is enough
            problems += [f"{where}: {d}" for d in disagreements(values, expected)]
            agreed += 1
    assert problems == []
    assert agreed >= 280
