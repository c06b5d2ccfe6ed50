"""Splitting buffers and files into messages."""

import re

import pytest

import _tarnwel
from bufr_builder import message, u24, with_total_length

FIRST = message((1001,), centre=1)
SECOND = message((1002, 1003), centre=2)
EDITION3 = FIRST[:7] + b"\x03" + FIRST[8:]


def centres(messages):
    return [m.originating_centre for m in messages]


@pytest.mark.parametrize("raw", [b"", b"B", b"BUF", b"no marker anywhere in here"])
def test_buffers_without_a_message(raw):
    assert _tarnwel.parse_all_bytes(raw) == []


def test_messages_with_junk_before_between_and_after():
    raw = b"\x00junk" + FIRST + bytes(range(100)) + SECOND + b"tail 7777"
    assert centres(_tarnwel.parse_all_bytes(raw)) == [1, 2]


def test_marker_inside_a_message_is_not_a_new_message():
    inner = message((1001,), data=b"BUFR" + u24(8) + b"\x04", centre=3)
    assert centres(_tarnwel.parse_all_bytes(inner + FIRST)) == [3, 1]


@pytest.mark.parametrize(
    "raw, text",
    [
        (FIRST + b"BUFR", "message is too short to be BUFR"),
        (FIRST + b"xxBUFR\0\0", "message is too short to be BUFR"),
        (FIRST + SECOND[:-1], f"section 0 at offset {len(FIRST)} is truncated"),
        (FIRST + b"BUFR" + u24(3) + b"\x04", "message is too short to be BUFR"),
        (FIRST + EDITION3 + SECOND, "unsupported BUFR edition 3; only edition 4 is implemented"),
    ],
)
def test_one_bad_message_fails_the_whole_call(raw, text):
    with pytest.raises(ValueError) as excinfo:
        _tarnwel.parse_all_bytes(raw)
    assert str(excinfo.value) == text


def test_declared_length_zero_does_not_loop():
    with pytest.raises(ValueError) as excinfo:
        _tarnwel.parse_all_bytes(FIRST + b"BUFR\0\0\0\x04" + b"\0" * 40)
    assert str(excinfo.value) == "message is too short to be BUFR"


def test_short_declared_length_is_a_range_that_then_fails_to_parse():
    # Length 5 is taken as a range; the search would go on behind it, but the
    # parse of that range fails first.
    with pytest.raises(ValueError) as excinfo:
        _tarnwel.parse_all_bytes(b"BUFR" + u24(5) + b"\x04" + FIRST)
    assert str(excinfo.value) == "message is too short to be BUFR"


def test_parse_all_file_reads_every_message(tmp_path):
    path = tmp_path / "two.bufr"
    path.write_bytes(FIRST + b"\n\n" + SECOND)
    messages = _tarnwel.parse_all_file(str(path))
    assert centres(messages) == [1, 2]
    assert sum(m.total_length for m in messages) <= path.stat().st_size


def test_parse_file_reads_exactly_one_message(tmp_path):
    path = tmp_path / "one.bufr"
    path.write_bytes(SECOND)
    assert _tarnwel.parse_file(str(path)).unexpanded_descriptors == [1002, 1003]
    path.write_bytes(b"\0" + SECOND)
    with pytest.raises(ValueError) as excinfo:
        _tarnwel.parse_file(str(path))
    assert str(excinfo.value) == "missing BUFR marker"


@pytest.mark.parametrize("function", [_tarnwel.parse_file, _tarnwel.parse_all_file])
def test_unreadable_message_file_is_an_os_error(tmp_path, function):
    with pytest.raises(FileNotFoundError) as excinfo:
        function(str(tmp_path / "missing.bufr"))
    assert str(excinfo.value) == "No such file or directory (os error 2)"
    assert excinfo.value.errno == 2
    with pytest.raises(OSError) as excinfo:
        function(str(tmp_path))
    assert str(excinfo.value).endswith("(os error 21)")


def test_real_examples_parse(data_dir):
    for path in sorted(data_dir.glob("*.bufr")):
        messages = _tarnwel.parse_all_file(str(path))
        assert messages, path.name
        for m in messages:
            assert m.edition == 4 and m.unexpanded_descriptors
            assert m.section4_data_length > 0


def test_multi_message_example_matches_single_files(data_dir):
    path = data_dir / "multi.bufr"
    raw = path.read_bytes()  # part of the repository: its absence is a failure
    messages = _tarnwel.parse_all_bytes(raw)
    assert len(messages) > 1
    assert [m.total_length for m in messages] == [
        m.total_length for m in _tarnwel.parse_all_file(str(path))
    ]


UNSUPPORTED_EDITION = re.compile(r"unsupported BUFR edition (\d+); only edition 4 is implemented")


def test_corpus_edition4_messages_all_parse(corpus_dir):
    parsed = 0
    for path in sorted(corpus_dir.iterdir()):
        if path.suffix in {".md", ".tsv"}:
            continue
        raw = path.read_bytes()
        try:
            messages = _tarnwel.parse_all_file(str(path))
        except ValueError as error:
            # Only a file holding an edition 2 or 3 message may fail, and with that edition's text.
            refused = UNSUPPORTED_EDITION.fullmatch(str(error))
            assert refused, f"{path.name}: {error}"
            editions = {raw[m.start() + 7] for m in re.finditer(b"BUFR", raw) if m.start() + 7 < len(raw)}
            assert int(refused.group(1)) in editions - {4}, path.name
            continue
        parsed += len(messages)
    assert parsed >= 250
