"""atheris target for the extension module: parsing, decoding with a loaded TableSet, decoding and
expanding with a table directory, and the Python objects they return.

Every input goes through every function in TARGETS; a ValueError whose text has a known beginning is a
clean refusal, any other exception a finding. A new reading function (the coming `tarnwel.open`) is one
more `@target` function. Run through tools/fuzz/run.sh, which builds the instrumented module and the
support library and preloads atheris' ASan runtime; the libFuzzer options pass through unchanged.
"""

import ctypes
import os
import pathlib
import sys
import tempfile

import atheris

REPO = pathlib.Path(__file__).resolve().parents[2]
WMO_TABLES = pathlib.Path("/usr/share/eccodes/definitions/bufr/tables/0/wmo")
SUPPORT_LIBRARY = os.environ.get(
    "TARNWEL_FUZZ_SUPPORT", str(REPO / "build" / "fuzz" / "tools" / "fuzz" / "libtarnwel_fuzz_support.so"))

# The Python objects cost far more than the core's records (and ASan slows them), so the bound is lower
# than the core harness's.
MAX_VALUES = 200_000
MAX_WALK_STEPS = 1_000_000
MAX_EXPANSION_VISITS = 1_000_000

# Error texts start with one of these; anything else is a new text worth a look.
KNOWN_ERROR_STARTS = (
    "message is too short to be BUFR", "missing BUFR marker", "unsupported BUFR edition ", "declared length ",
    "section ", "descriptor ", "delayed replication descriptor ", "unsupported replication descriptor ",
    "csv/table parse error: ", "io error: ",
)

# A few lines of each table, written at set-up for the functions that load a directory on every call.
BUILT_IN_ELEMENTS = """\
001001|blockNumber|long|WMO BLOCK NUMBER|Numeric|0|0|7|Numeric|0|2
001015|stationOrSiteName|string|STATION OR SITE NAME|CCITT IA5|0|0|160|Character|0|20
004001|year|long|YEAR|a|0|0|12|a|0|4
004002|month|long|MONTH|mon|0|0|4|mon|0|2
004003|day|long|DAY|d|0|0|6|d|0|2
012101|airTemperature|double|TEMPERATURE/AIR TEMPERATURE|K|2|0|16|C|2|4
020003|presentWeather|table|PRESENT WEATHER|CODE TABLE|0|0|9|CODE TABLE|0|3
031001|delayedDescriptorReplicationFactor|long|DELAYED DESCRIPTOR REPLICATION FACTOR|Numeric|0|0|8|Numeric|0|3
031002|extendedDelayedDescriptorReplicationFactor|long|EXTENDED DELAYED DESCRIPTOR REPLICATION FACTOR|Numeric|0|0|16|Numeric|0|5
031031|dataPresentIndicator|flag|DATA PRESENT INDICATOR|FLAG TABLE|0|0|1|FLAG TABLE|0|1
033007|percentConfidence|long|PER CENT CONFIDENCE|%|0|0|7|%|0|3
"""
BUILT_IN_SEQUENCES = """\
"301011" = [ 004001, 004002, 004003 ]
"302001" = [ 012101, 101000, 031001, 020003 ]
"""


def newest_master_dir():
    chosen = os.environ.get("TARNWEL_FUZZ_MASTER_DIR")
    if chosen:
        return pathlib.Path(chosen)
    versions = [p for p in WMO_TABLES.iterdir() if p.name.isdigit()] if WMO_TABLES.is_dir() else []
    return max(versions, key=lambda p: int(p.name)) if versions else None


def write_table_dir(path, elements, sequences):
    path.mkdir(parents=True, exist_ok=True)
    (path / "element.table").write_text(elements)
    (path / "sequence.def").write_text(sequences)
    return path


def small_copy(master, path):
    """The built-in codes with their lines from `master`, so that a bound made with the master holds."""
    wanted = {line.split("|")[0] for line in BUILT_IN_ELEMENTS.splitlines()}
    elements = "".join(line for line in (master / "element.table").open() if line.split("|")[0] in wanted)
    sequences = "".join(line for line in (master / "sequence.def").open() if line[1:7] in {"301011", "302001"})
    return write_table_dir(path, elements or BUILT_IN_ELEMENTS, sequences)


def set_up():
    """Tables for the module, the same ones for the support library's bound, and the support library."""
    scratch = pathlib.Path(tempfile.mkdtemp(prefix="tarnwel-module-fuzz-"))
    master = newest_master_dir()
    if master is None or not (master / "element.table").is_file():
        master = write_table_dir(scratch / "built-in", BUILT_IN_ELEMENTS, BUILT_IN_SEQUENCES)
        small = master
    else:
        small = small_copy(master, scratch / "small")
    os.environ["TARNWEL_FUZZ_MASTER_DIR"] = str(master)
    os.environ["TARNWEL_FUZZ_LOCAL_DIR"] = ""  # the module's TableSet has no local tables either
    support = ctypes.CDLL(SUPPORT_LIBRARY)
    support.tarnwel_fuzz_bound.restype = ctypes.c_int
    support.tarnwel_fuzz_bound.argtypes = [ctypes.c_char_p, ctypes.c_size_t] + [ctypes.POINTER(ctypes.c_uint64)] * 3
    support.tarnwel_fuzz_mutate.restype = ctypes.c_size_t
    support.tarnwel_fuzz_mutate.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_size_t, ctypes.c_uint]
    print(f"module fuzz tables: {master}, per-call tables: {small}", file=sys.stderr)
    return master, small, support


with atheris.instrument_imports():
    import _tarnwel

MASTER_DIR, SMALL_DIR, SUPPORT = set_up()
TABLES = _tarnwel.TableSet.from_eccodes(str(MASTER_DIR))
TARGETS = []


def target(function):
    TARGETS.append(function)
    return function


def refused(function, *args):
    """The result, or None after a ValueError with a known text."""
    try:
        return function(*args)
    except ValueError as error:
        if not str(error).startswith(KNOWN_ERROR_STARTS):
            raise AssertionError(f"{function.__name__}: unknown error text {str(error)!r}") from error
        return None


def bound(data):
    """(walk steps, values, expansion visits) for the first message, or None when it does not parse."""
    steps, values, visits = ctypes.c_uint64(), ctypes.c_uint64(), ctypes.c_uint64()
    if not SUPPORT.tarnwel_fuzz_bound(data, len(data), ctypes.byref(steps), ctypes.byref(values), ctypes.byref(visits)):
        return None
    return steps.value, values.value, visits.value


def decode_budget_allows(data):
    # THE ONE PLACE to switch to the decoders' budget parameter once the module takes one: then decode
    # everything with the budget instead of skipping.
    work = bound(data)
    return work is None or (work[0] <= MAX_WALK_STEPS and work[1] <= MAX_VALUES and work[2] <= MAX_EXPANSION_VISITS)


def check_message(message, data):
    assert 0 < message.total_length <= len(data)
    assert message.section4_data_offset + message.section4_data_length <= message.total_length
    repr(message)


def check_values(values):
    assert isinstance(values, list)
    for value in values[:2000]:
        (value.descriptor, value.name, value.raw, value.raw_value, value.raw_text, value.raw_meaning, value.data)
    for value in values[:50]:
        repr(value)


@target
def parse(data):
    message = refused(_tarnwel.parse_bytes, data)
    if message is not None:
        check_message(message, data)
    messages = refused(_tarnwel.parse_all_bytes, data)
    for message in messages or []:
        assert message.total_length <= len(data)


@target
def decode_with_tables(data):
    if decode_budget_allows(data):
        values = refused(_tarnwel.decode_values_with_tables, data, TABLES)
        if values is not None:
            check_values(values)


@target
def decode_and_expand_with_a_table_dir(data):
    # The small tables hold the master's own lines for a few codes, so the master's bound holds for them.
    if not decode_budget_allows(data):
        return
    values = refused(_tarnwel.decode_values, data, str(SMALL_DIR))
    if values is not None:
        check_values(values)
    message = refused(_tarnwel.parse_bytes, data)
    if message is not None:
        expanded = refused(_tarnwel.expand_descriptors, str(SMALL_DIR), message.unexpanded_descriptors)
        assert expanded is None or isinstance(expanded, list)
        expanded = refused(TABLES.expand, message.unexpanded_descriptors)
        assert expanded is None or all(code == 999999 or code // 100000 in (0, 2) for code in expanded)


def test_one_input(data):
    for run in TARGETS:
        run(data)


def custom_mutator(data, max_size, seed):
    buffer = ctypes.create_string_buffer(data, max(max_size, len(data)))
    size = SUPPORT.tarnwel_fuzz_mutate(buffer, len(data), max_size, seed)
    return buffer.raw[:size]


def main():
    atheris.Setup(sys.argv, test_one_input, custom_mutator=custom_mutator)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
