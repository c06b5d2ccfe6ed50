"""Random, truncated and corrupted bytes must give ValueError, never a crash or a hang."""

import random

import pytest

import _tarnwel
from bufr_builder import message, u24


def seeds(count):
    return [pytest.param(seed, id=f"seed{seed}") for seed in range(count)]


def parse_outcome(function, raw):
    try:
        return function(raw)
    except ValueError as error:
        assert str(error)
        return error


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
            with pytest.raises(ValueError):
                _tarnwel.parse_bytes(short)
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
