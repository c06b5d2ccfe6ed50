"""Random, truncated and corrupted bytes must give ValueError, never a crash or a hang."""

import random
import re

import pytest

import _tarnwel
from bufr_builder import message, u24

# Every text a framing check can give; the numbers vary with the input.
FRAMING_ERRORS = [
    re.compile(pattern)
    for pattern in (
        r"message is too short to be BUFR",
        r"missing BUFR marker",
        r"unsupported BUFR edition \d+; only edition 4 is implemented",
        r"declared length \d+ does not match buffer length \d+",
        r"section [0-5] at offset \d+ is truncated",
        r"section 5 terminator is not 7777",
        r"section 3 descriptor area has odd byte count",
    )
]


def seeds(count):
    return [pytest.param(seed, id=f"seed{seed}") for seed in range(count)]


def parse_outcome(function, raw):
    """The parse result (a message, or a list for parse_all_bytes), or the ValueError with a framing text."""
    try:
        result = function(raw)
    except ValueError as error:
        assert any(pattern.fullmatch(str(error)) for pattern in FRAMING_ERRORS), str(error)
        return error
    expected = list if function is _tarnwel.parse_all_bytes else _tarnwel.BufrMessage
    assert isinstance(result, expected)
    return result


@pytest.mark.parametrize("seed", seeds(20))
def test_random_bytes(seed):
    rng = random.Random(seed)
    raw = bytes(rng.getrandbits(8) for _ in range(rng.randrange(0, 400)))
    parse_outcome(_tarnwel.parse_bytes, raw)
    parse_outcome(_tarnwel.parse_all_bytes, raw)


@pytest.mark.parametrize("seed", seeds(20))
def test_random_bytes_behind_a_plausible_header(seed):
    rng = random.Random(seed)
    size = rng.randrange(8, 200)
    body = bytes(rng.getrandbits(8) for _ in range(size - 8))
    raw = b"BUFR" + u24(size) + b"\x04" + body
    outcome = parse_outcome(_tarnwel.parse_bytes, raw)
    if not isinstance(outcome, ValueError):
        assert outcome.total_length == size
        assert outcome.section4_data_offset + outcome.section4_data_length <= size


def real_messages(data_dir):
    raws = [p.read_bytes() for p in sorted(data_dir.glob("*.bufr"))]
    return raws or [message((301011, 1001), b"\x01\x02\x03\x04")]


def test_every_truncation_of_real_messages(data_dir):
    for raw in real_messages(data_dir):
        first = _tarnwel.parse_all_bytes(raw)[0]
        whole = raw[: first.total_length]
        for cut in range(len(whole)):
            short = whole[:cut]
            assert isinstance(parse_outcome(_tarnwel.parse_bytes, short), ValueError)
            # Declared length kept: every check after the length must hold its ground.
            padded = short + b"\0" * (len(whole) - cut)
            parse_outcome(_tarnwel.parse_bytes, padded)


@pytest.mark.parametrize("seed", seeds(10))
def test_corrupted_real_messages(data_dir, seed):
    rng = random.Random(seed)
    for raw in real_messages(data_dir):
        first = _tarnwel.parse_all_bytes(raw)[0]
        corrupt = bytearray(raw[: first.total_length])
        for _ in range(rng.randrange(1, 6)):
            corrupt[rng.randrange(len(corrupt))] = rng.getrandbits(8)
        parse_outcome(_tarnwel.parse_bytes, bytes(corrupt))
        parse_outcome(_tarnwel.parse_all_bytes, bytes(corrupt) * 2)


def test_many_tiny_declared_lengths_end():
    raw = (b"BUFR" + u24(8) + b"\x04") * 5000
    with pytest.raises(ValueError) as excinfo:
        _tarnwel.parse_all_bytes(raw)
    assert str(excinfo.value) == "section 1 at offset 8 is truncated"
