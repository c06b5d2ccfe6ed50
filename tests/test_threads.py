"""Four threads decoding different messages at once, with shared TableSets, get what one thread gets."""

import collections
import random
import threading
import time

import numpy as np

import _tarnwel
import tarnwel
from tarnwel.tables import selection_key

THREADS = 4
SECONDS = 3.0  # the threads stop at the end of the round that passes this
MIN_ROUNDS = 2
VALUE_LIST_LIMIT = 10_000  # larger messages are compared by their arrays only, to keep rounds short
PER_FILE = 2  # corpus messages per file
TABLE_CHOICES = 12  # table sets loaded for the corpus: the most common choices


def split(data):
    """Each message of `data` as its own bytes, with its header record; unreadable ones are left out."""
    return [(data[m.offset : m.offset + m.length], m.record) for m in tarnwel.open(data, errors="skip")]


def fields(value):
    number = value.raw_value
    return (value.descriptor, value.name, value.raw, "NaN" if number != number else number,
            value.raw_text, value.raw_meaning)


def outcome(unit):
    """The arrays and value list of one message, or the text it fails with."""
    data, tables, with_values = unit
    message = next(iter(tarnwel.open(data, tables=tables)))
    try:
        arrays = message.to_arrays()
        values = [fields(v) for v in message.values()] if with_values else None
    except tarnwel.DecodeError as error:
        return str(error)
    return arrays, values


def same_arrays(got, want):
    if list(got) != list(want):
        return False
    for key, array in want.items():
        other = got[key]
        if other.dtype != array.dtype or other.shape != array.shape:
            return False
        if array.dtype == object:
            if other.tolist() != array.tolist():
                return False
        elif not np.array_equal(other, array, equal_nan=True):
            return False
    return True


def same_outcome(got, want):
    if isinstance(want, str) or isinstance(got, str):
        return got == want
    return got[1] == want[1] and same_arrays(got[0], want[0])


def units_of(files, definitions_root, choices=None, per_file=None):
    """(bytes, shared TableSet, whether to compare values()) for up to `per_file` messages of each file."""
    messages = []
    for path in files:
        messages += [(path.name, data, record) for data, record in split(path.read_bytes())]
    counts = collections.Counter(selection_key(record) for _, _, record in messages)
    tables = {}
    for key, _ in counts.most_common(choices):
        record = next(record for _, _, record in messages if selection_key(record) == key)
        try:
            tables[key] = _tarnwel.TableSet.from_definitions(str(definitions_root), record)
        except ValueError:
            continue  # no tables for this choice: nothing to decode
    units, names, taken = [], [], collections.Counter()
    for name, data, record in messages:
        shared = tables.get(selection_key(record))
        if shared is None or taken[name] == per_file:
            continue
        taken[name] += 1
        try:
            size = next(iter(tarnwel.open(data, tables=shared))).decoded().size
        except tarnwel.DecodeError:
            size = 0  # a failure is compared by its text
        units.append((data, shared, size <= VALUE_LIST_LIMIT))
        names.append(f"{name} ({len(data)} octets)")
    return units, names


def run_threads(units):
    """Decodes every unit in THREADS threads, each in its own order, for SECONDS; returns the mismatches."""
    reference = [outcome(unit) for unit in units]
    barrier = threading.Barrier(THREADS)
    mismatches, failures, rounds = [], [], [0] * THREADS
    deadline = time.monotonic() + SECONDS

    def work(index):
        order = list(range(len(units)))
        random.Random(index).shuffle(order)
        try:
            barrier.wait()
            while rounds[index] < MIN_ROUNDS or time.monotonic() < deadline:
                for i in order:
                    if not same_outcome(outcome(units[i]), reference[i]):
                        mismatches.append((index, i))
                rounds[index] += 1
        except Exception as error:  # recorded, and fails the test below
            failures.append((index, repr(error)))

    threads = [threading.Thread(target=work, args=(index,)) for index in range(THREADS)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []
    assert min(rounds) >= MIN_ROUNDS
    return reference, mismatches


def test_threads_agree_on_examples(data_dir, definitions_root):
    units, names = units_of(sorted(data_dir.glob("*.bufr")), definitions_root)
    reference, mismatches = run_threads(units)
    assert [(thread, names[i]) for thread, i in mismatches] == []
    # Every example message decodes, values included.
    assert len(units) == 8
    assert all(not isinstance(result, str) and result[1] for result in reference)


def test_threads_agree_on_corpus(corpus_dir, definitions_root):
    files = sorted(p for p in corpus_dir.iterdir() if p.suffix not in (".md", ".tsv"))
    units, names = units_of(files, definitions_root, TABLE_CHOICES, PER_FILE)
    reference, mismatches = run_threads(units)
    assert [(thread, names[i]) for thread, i in mismatches] == []
    decoded = [result for result in reference if not isinstance(result, str)]
    assert len(decoded) >= 80
    assert sum(result[1] is None for result in decoded) >= 5  # large messages, by their arrays
