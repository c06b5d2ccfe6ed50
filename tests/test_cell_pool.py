"""Array memory comes back to a pool for the next decode: arrays still alive never share it."""

import gc

import numpy as np

import tarnwel

from bufr_builder import message

SUBSETS = 12_000  # 96 kB of cells: large enough for the pool to keep


def compressed_temperatures(step):
    """A compressed message of one 012101 column: R0 27315, then increments `step * s % 1000`."""
    increments = [step * s % 1000 for s in range(SUBSETS)]
    increments[7] = (1 << 10) - 1  # all ones: missing
    bits, width = 27315, 16
    bits, width = (bits << 6) | 10, width + 6
    for increment in increments:
        bits, width = (bits << 10) | increment, width + 10
    data = (bits << (-width % 8)).to_bytes((width + 7) // 8, "big")
    expected = np.array([np.nan if i == 1023 else (27315 + i) / 100 for i in increments])
    return message([12101], data, subsets=SUBSETS, flags=0xC0), expected


def temperatures(data):
    return next(iter(tarnwel.open(data))).to_arrays(["012101"])["012101"]


def test_live_arrays_keep_their_values_while_freed_memory_is_reused():
    first, first_expected = compressed_temperatures(3)
    second, second_expected = compressed_temperatures(7)
    kept = temperatures(first)
    for _ in range(3):
        # Each decode may take the memory the previous one gave back, never that of `kept`.
        reused = temperatures(second)
        np.testing.assert_array_equal(reused, second_expected)
        del reused
    np.testing.assert_array_equal(kept, first_expected)
    del kept
    gc.collect()
    assert tarnwel.release_memory() >= SUBSETS * 8
    assert tarnwel.release_memory() == 0
    assert "release_memory" in tarnwel.__all__
