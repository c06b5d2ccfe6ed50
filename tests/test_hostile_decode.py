"""Random and mutated section 4 data under real tables: each decode returns its values or a ValueError the
data can cause, never another error, a crash or a hang.

The descriptors and tables are those of our example messages and the framing is rebuilt around each
change, so an error about descriptors, tables or framing would be a fault as well.
"""

import random
import re

import pytest

import _tarnwel
from bufr_builder import message

EXAMPLES = ["synop_uncompressed", "temp_uncompressed", "amv_compressed", "ship_local_section"]

DATA_ERRORS = [
    re.compile(pattern)
    for pattern in (
        r"csv/table parse error: not enough bits while reading section 4 at bit \d+ for width \d+ "
        r"\(\d+ bits available\)",
        r"csv/table parse error: compressed delayed replication with varying factors is not implemented",
        r"csv/table parse error: compressed delayed replication factor of descriptor \d{6} exceeds its \d+-bit width",
        r"csv/table parse error: bitmap reference is outside descriptor history",
        r"csv/table parse error: decoded value count exceeds 20000000",
        r"csv/table parse error: descriptor walk exceeds 100000000 steps",
    )
]


@pytest.fixture(scope="module")
def examples(data_dir, definitions_root):
    """name -> (descriptors, subsets, compressed, section 4 data, tables its section 1 selects)."""
    out = {}
    for name in EXAMPLES:
        raw = (data_dir / f"{name}.bufr").read_bytes()
        m = _tarnwel.parse_bytes(raw)
        data = raw[m.section4_data_offset : m.section4_data_offset + m.section4_data_length]
        tables = _tarnwel.TableSet.from_definitions(str(definitions_root), m)
        out[name] = (m.unexpanded_descriptors, m.number_of_subsets, m.compressed_data, data, tables)
    return out


def random_octets(rng, count):
    return bytes(rng.getrandbits(8) for _ in range(count))


def flip_bits(rng, data):
    out = bytearray(data)
    for _ in range(rng.randrange(1, 9)):
        position = rng.randrange(len(out) * 8)
        out[position // 8] ^= 0x80 >> position % 8
    return bytes(out)


def set_octets(rng, data):
    out = bytearray(data)
    for _ in range(rng.randrange(1, 9)):
        out[rng.randrange(len(out))] = rng.choice([0x00, 0xFF, rng.getrandbits(8)])
    return bytes(out)


# Each takes (rng, data, subsets, compressed) and gives the same three after the change.
MUTATIONS = {
    "random data": lambda rng, d, s, c: (random_octets(rng, rng.randrange(2 * len(d) + 16)), s, c),
    "flipped bits": lambda rng, d, s, c: (flip_bits(rng, d), s, c),
    "set octets": lambda rng, d, s, c: (set_octets(rng, d), s, c),
    "cut short": lambda rng, d, s, c: (d[: rng.randrange(len(d))], s, c),
    "extended": lambda rng, d, s, c: (d + random_octets(rng, rng.randrange(1, 64)), s, c),
    "other subset count": lambda rng, d, s, c: (d, rng.choice([0, 1, 2, s + 1, 2 * s, rng.randrange(3, 200)]), c),
    "other layout": lambda rng, d, s, c: (d, s, not c),
}


def decode_outcome(tables, descriptors, data, subsets, compressed):
    raw = message(descriptors, data, subsets=subsets, flags=0xC0 if compressed else 0x80)
    try:
        values = _tarnwel.decode_values_with_tables(raw, tables)
    except ValueError as error:
        assert any(pattern.fullmatch(str(error)) for pattern in DATA_ERRORS), str(error)
        return error
    assert isinstance(values, list) and all(type(v) is _tarnwel.DecodedValue for v in values)
    if subsets == 0:
        assert values == []
    elif compressed:
        assert len(values) % subsets == 0  # every subset has every data item
    return values


@pytest.mark.parametrize("seed", range(10))
@pytest.mark.parametrize("mutation", MUTATIONS)
def test_mutated_section4_data(examples, mutation, seed):
    rng = random.Random(f"{mutation}/{seed}")
    for descriptors, subsets, compressed, data, tables in examples.values():
        decode_outcome(tables, descriptors, *MUTATIONS[mutation](rng, data, subsets, compressed))


def test_unchanged_examples_decode(examples):
    # The baseline the mutations start from: each example decodes whole with the rebuilt framing.
    for name, (descriptors, subsets, compressed, data, tables) in examples.items():
        values = decode_outcome(tables, descriptors, data, subsets, compressed)
        assert isinstance(values, list) and values, name
