#!/usr/bin/env python3
"""Decoded values per second and memory per value of _tarnwel.decode_values_with_tables, against ecCodes.

Three cases, each decoded with a TableSet loaded once beforehand (TableSet.from_definitions):
  (a) compressed   one compressed satellite-like message: 2,000 subsets of 110 values (time, position, zenith
                   angle, then 50 channel numbers and brightness temperatures by fixed replication): 220,000 values
  (b) uncompressed one uncompressed message of 500 radiosonde-like subsets, each a profile of 100 to 120 levels
                   through 0 31 002 extended delayed replication: 219,472 values
  (c) many small   a file of 20,000 copies of tests/data/synop_uncompressed.bufr (3 SYNOP subsets, 350 values
                   each), every message decoded by its own call

(a) and (b) are encoded at start-up by ecCodes' Python bindings (pip install eccodes) from deterministic values and
cached in --cache-dir, so later runs skip the encoding. For each case the script prints:
  - values/s: value count / best of --runs timed calls (time.perf_counter, one gc.collect() before them);
  - bytes per value held by the returned list(s): tracemalloc's current size after the call minus before, divided
    by the value count, and the peak during the call the same way (72 bytes per value is what one DecodedValue
    object and its list slot are expected to take);
  - ecCodes on the same bytes: codes_new_from_message, set "unpack" to 1, then every data key read into Python by
    walking codes_bufr_keys_iterator_new with codes_get_array (several values) or codes_get (one) - the full read a
    user does (codes_get_array hands back NumPy arrays, and one value for a compressed column that is the same in
    every subset). Its rate is our value count divided by its time, so the ratio is the ratio of times. ecCodes is slow
    on (b) and (c): (b) is timed once, (c) on --eccodes-messages messages and scaled, as the output says.

Run from the repository root against the installed module (pip install .):

    python3 bench/decode_throughput.py                 # everything, well under three minutes
    python3 bench/decode_throughput.py --runs 10 --eccodes-messages 1000
    python3 bench/decode_throughput.py --no-eccodes    # our figures only (no ecCodes needed once (a)/(b) are cached)

The exit status is 0 whether or not the goals are met; the goals are printed beside the figures.
"""

import argparse
import gc
import os
import pathlib
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))
from measure import best_of, traced_peak  # noqa: E402
SYNOP = ROOT / "tests" / "data" / "synop_uncompressed.bufr"
DEFINITIONS = "/usr/share/eccodes/definitions"

GOAL_RATE = {"a": 20e6, "b": 20e6, "c": 10e6}
GOAL_RATIO = {"b": 30.0, "c": 30.0}
GOAL_BYTES = 100.0
EXPECTED_BYTES = 72

# Case (a): compressed.
A_SUBSETS = 2000
A_CHANNELS = 50
A_DESCRIPTORS = [1007, 301011, 301013, 5001, 6001, 7024, 102000 + A_CHANNELS, 5042, 12163]
A_PER_SUBSET = 10 + 2 * A_CHANNELS

# Case (b): uncompressed with delayed replication.
B_SUBSETS = 500
B_DESCRIPTORS = [1001, 1002, 301011, 301013, 5001, 6001, 104000, 31002, 7004, 10009, 12101, 11001]
B_FIXED = 11  # block, station, 6 date/time, latitude, longitude, the replication factor
MASTER_VERSION = 37


def a_brightness(subset, channel):
    """Brightness temperature (K, 2 decimals) of one subset and channel: a smooth field with a per-channel offset."""
    return round(200.0 + ((subset * 7 + channel * 13) % 900) * 0.1, 2)


def b_levels(subset):
    return 100 + (subset * 7) % 21


def b_profile(subset, level):
    """Pressure (Pa), geopotential height (m), temperature (K) and wind direction (degrees) of one level."""
    temperature = round(290.0 - level * 0.6 + (subset % 10) * 0.1, 2)
    return 100000.0 - level * 700.0, float(level * 100 + subset % 50), temperature, float((level * 7 + subset) % 360)


# ---------------------------------------------------------------------------------------------- encoding


def new_message(ec, *, category, subsets, compressed):
    h = ec.codes_bufr_new_from_samples("BUFR4")
    for key, value in (("edition", 4), ("masterTableNumber", 0), ("bufrHeaderCentre", 98),
                       ("bufrHeaderSubCentre", 0), ("updateSequenceNumber", 0), ("dataCategory", category),
                       ("internationalDataSubCategory", 0), ("dataSubCategory", 0),
                       ("masterTablesVersionNumber", MASTER_VERSION), ("localTablesVersionNumber", 0),
                       ("typicalYear", 2024), ("typicalMonth", 3), ("typicalDay", 15), ("typicalHour", 12),
                       ("typicalMinute", 0), ("typicalSecond", 0), ("numberOfSubsets", subsets),
                       ("observedData", 1), ("compressedData", 1 if compressed else 0)):
        ec.codes_set(h, key, value)
    return h


def pack(ec, h):
    ec.codes_set(h, "pack", 1)
    data = ec.codes_get_message(h)
    ec.codes_release(h)
    return data


def encode_compressed(ec):
    n = A_SUBSETS
    h = new_message(ec, category=21, subsets=n, compressed=True)
    ec.codes_set_array(h, "unexpandedDescriptors", A_DESCRIPTORS)
    ec.codes_set(h, "#1#satelliteIdentifier", 3)
    for key, value in (("year", 2024), ("month", 3), ("day", 15), ("hour", 12)):
        ec.codes_set(h, f"#1#{key}", value)
    ec.codes_set_array(h, "#1#minute", [i // 200 for i in range(n)])
    ec.codes_set_array(h, "#1#second", [i % 60 for i in range(n)])
    ec.codes_set_array(h, "#1#latitude", [round(-60.0 + i * 0.06, 5) for i in range(n)])
    ec.codes_set_array(h, "#1#longitude", [round(10.0 + (i % 90) * 0.1, 5) for i in range(n)])
    ec.codes_set_array(h, "#1#satelliteZenithAngle", [round((i % 90) * 0.5, 2) for i in range(n)])
    for c in range(1, A_CHANNELS + 1):
        ec.codes_set(h, f"#{c}#channelNumber", c)
        ec.codes_set_array(h, f"#{c}#brightnessTemperature", [a_brightness(i, c) for i in range(n)])
    return pack(ec, h)


def encode_uncompressed(ec):
    n = B_SUBSETS
    h = new_message(ec, category=2, subsets=n, compressed=False)
    ec.codes_set_array(h, "inputExtendedDelayedDescriptorReplicationFactor", [b_levels(i) for i in range(n)])
    ec.codes_set_array(h, "unexpandedDescriptors", B_DESCRIPTORS)
    # Without a rank, an array sets every occurrence of the element in message order: subset 1 first.
    ec.codes_set_array(h, "blockNumber", [10] * n)
    ec.codes_set_array(h, "stationNumber", list(range(n)))
    for key, value in (("year", 2024), ("month", 3), ("day", 15), ("hour", 11), ("minute", 0)):
        ec.codes_set_array(h, key, [value] * n)
    ec.codes_set_array(h, "second", [i % 60 for i in range(n)])
    ec.codes_set_array(h, "latitude", [round(35.0 + i * 0.05, 5) for i in range(n)])
    ec.codes_set_array(h, "longitude", [round(-10.0 + i * 0.07, 5) for i in range(n)])
    profiles = [b_profile(i, k) for i in range(n) for k in range(b_levels(i))]
    for column, key in enumerate(("pressure", "nonCoordinateGeopotentialHeight", "airTemperature",
                                  "windDirection")):
        ec.codes_set_array(h, key, [row[column] for row in profiles])
    return pack(ec, h)


def load_or_encode(name, encode, ec, cache_dir):
    """The cached message when there is one, else encode it with ecCodes (and cache it when there is a directory)."""
    path = cache_dir / name if cache_dir else None
    if path and path.is_file():
        return path.read_bytes(), "cached " + str(path)
    if ec is None:
        return None, "ecCodes' Python bindings are not installed (pip install eccodes) and nothing is cached"
    start = time.perf_counter()
    data = encode(ec)
    note = f"encoded by ecCodes in {time.perf_counter() - start:.1f} s"
    if path:
        path.parent.mkdir(parents=True, exist_ok=True)
        tmp = path.with_suffix(".tmp")
        tmp.write_bytes(data)
        os.replace(tmp, path)
        note += ", cached in " + str(path)
    return data, note


def close_all(got, want):
    return len(got) == len(want) and all(g is not None and abs(g - w) < 1e-6 for g, w in zip(got, want))


def check_compressed(values):
    """The decoded message must be the one encoded: its value count and every brightness temperature."""
    assert len(values) == A_SUBSETS * A_PER_SUBSET, len(values)
    got = [v.raw_value for v in values if v.descriptor == 12163]
    want = [a_brightness(i, c) for i in range(A_SUBSETS) for c in range(1, A_CHANNELS + 1)]
    assert close_all(got, want), "brightness temperatures differ from the encoded ones"


def check_uncompressed(values):
    """The decoded message must be the one encoded: its value count and every level of every profile."""
    total = sum(B_FIXED + 4 * b_levels(i) for i in range(B_SUBSETS))
    assert len(values) == total, (len(values), total)
    profile_codes = set(B_DESCRIPTORS[-4:])
    got = [v.raw_value for v in values if v.descriptor in profile_codes]
    want = [x for i in range(B_SUBSETS) for k in range(b_levels(i)) for x in b_profile(i, k)]
    assert close_all(got, want), "profile values differ from the encoded ones"


# ---------------------------------------------------------------------------------------------- measuring


def best_time(call, runs):
    return best_of(call, runs, keep_previous=False)[0]


def eccodes_full_read(ec, data):
    """Unpack one message and read every data key's values into Python; returns how many values came back."""
    h = ec.codes_new_from_message(data)
    try:
        ec.codes_set(h, "unpack", 1)
        it = ec.codes_bufr_keys_iterator_new(h)
        got = []
        count = 0
        while ec.codes_bufr_keys_iterator_next(it):
            name = ec.codes_bufr_keys_iterator_get_name(it)
            if not name.startswith("#"):  # header keys; data keys carry their rank ("#3#airTemperature")
                continue
            if ec.codes_get_size(h, name) > 1:
                value = ec.codes_get_array(h, name)
                count += len(value)
            else:
                value = ec.codes_get(h, name)
                count += 1
            got.append(value)
        ec.codes_bufr_keys_iterator_delete(it)
        return count
    finally:
        ec.codes_release(h)


def fmt_rate(rate):
    return f"{rate / 1e6:.2f} M values/s"


def goal_note(ok):
    return "met" if ok else "NOT met"


def report(label, count, seconds, runs, held_per_value, peak_per_value, eccodes=None):
    rate = count / seconds
    goal = GOAL_RATE[label]
    print(f"({label}) tarnwel: {count:,} values, best of {runs}: {seconds * 1e3:.2f} ms, {fmt_rate(rate)} "
          f"(goal >= {goal / 1e6:.0f} M values/s: {goal_note(rate >= goal)})")
    print(f"({label}) tarnwel memory held by the result: {held_per_value:.1f} bytes/value, peak during the call "
          f"{peak_per_value:.1f} bytes/value (expected about {EXPECTED_BYTES}; goal < {GOAL_BYTES:.0f}: "
          f"{goal_note(held_per_value < GOAL_BYTES)})")
    if eccodes is None:
        return
    ec_seconds, how, ec_count = eccodes
    ec_rate = count / ec_seconds
    ratio = ec_seconds / seconds
    print(f"({label}) ecCodes full read: {ec_seconds * 1e3:.1f} ms, {fmt_rate(ec_rate)} ({how}; "
          f"{ec_count:,} values handed back, rate on our value count)")
    if label in GOAL_RATIO:
        print(f"({label}) ratio tarnwel / ecCodes: {ratio:.1f}x (goal >= {GOAL_RATIO[label]:.0f}x: "
              f"{goal_note(ratio >= GOAL_RATIO[label])})")
    else:
        print(f"({label}) ratio tarnwel / ecCodes: {ratio:.1f}x (no goal)")


def split_messages(_tarnwel, buffer):
    """The messages of a buffer that holds them back to back, as separate bytes objects."""
    out = []
    offset = 0
    for message in _tarnwel.parse_all_bytes(buffer):
        assert buffer[offset:offset + 4] == b"BUFR", offset
        out.append(buffer[offset:offset + message.total_length])
        offset += message.total_length
    assert offset == len(buffer)
    return out


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=7, help="timed decodes per case; the best counts (default 7)")
    parser.add_argument("--eccodes-runs", type=int, default=3,
                        help="timed ecCodes full reads of (a); the best counts (default 3)")
    parser.add_argument("--eccodes-b-runs", type=int, default=1,
                        help="timed ecCodes full reads of (b), which take seconds each (default 1)")
    parser.add_argument("--messages", type=int, default=20_000, help="messages in the file of case (c)")
    parser.add_argument("--eccodes-messages", type=int, default=500,
                        help="messages of (c) that ecCodes reads; its time is scaled to all of them (default 500)")
    parser.add_argument("--memory-messages", type=int, default=1000,
                        help="results of (c) kept together for the memory figure (default 1000)")
    parser.add_argument("--definitions", default=DEFINITIONS, help=f"ecCodes definitions root (default {DEFINITIONS})")
    parser.add_argument("--cache-dir", default=str(pathlib.Path(tempfile.gettempdir()) / "tarnwel-bench"),
                        help="where encoded messages are kept between runs ('' for nowhere)")
    parser.add_argument("--no-eccodes", action="store_true", help="skip the ecCodes baseline")
    args = parser.parse_args(argv)

    import _tarnwel

    try:
        import eccodes as ec
        version = ec.codes_get_api_version()
    except ImportError:
        ec, version = None, None
    print(f"ecCodes: {'bindings ' + version if ec else 'not installed'}; tables: {args.definitions}")
    if not os.path.isdir(args.definitions):
        print(f"no definitions root at {args.definitions}: apt-get install -y libeccodes-data, or pass --definitions")
        return 0
    baseline = ec if ec is not None and not args.no_eccodes else None
    # The encoder's version is in the cache key: another ecCodes may lay out the same values differently.
    cache_dir = pathlib.Path(args.cache_dir) / (version or "any") if args.cache_dir else None

    def matches(data, check):
        try:
            tables = _tarnwel.TableSet.from_definitions(args.definitions, _tarnwel.parse_bytes(data))
            check(_tarnwel.decode_values_with_tables(data, tables))
        except (AssertionError, ValueError):
            return False
        return True

    def tables_for(data):
        start = time.perf_counter()
        tables = _tarnwel.TableSet.from_definitions(args.definitions, _tarnwel.parse_bytes(data))
        print(f"    tables: {tables!r}, loaded once in {(time.perf_counter() - start) * 1e3:.1f} ms (not timed below)")
        return tables

    # ----------------------------------------------------------------------- (a) and (b): one big message each
    cases = [
        ("a", f"compressed, {A_SUBSETS} subsets", f"compressed_{A_SUBSETS}x{A_PER_SUBSET}.bufr",
         encode_compressed, check_compressed, args.eccodes_runs),
        ("b", f"uncompressed, {B_SUBSETS} subsets", f"uncompressed_{B_SUBSETS}_profiles.bufr",
         encode_uncompressed, check_uncompressed, args.eccodes_b_runs),
    ]
    for label, title, name, encode, check, ec_runs in cases:
        data, note = load_or_encode(name, encode, ec, cache_dir)
        if data is not None and note.startswith("cached") and ec is not None and not matches(data, check):
            (cache_dir / name).unlink()  # made from other values than this script's: encode afresh
            data, note = load_or_encode(name, encode, ec, cache_dir)
        print(f"({label}) {title}: {note}")
        if data is None:
            print(f"({label}) skipped")
            continue
        tables = tables_for(data)
        values = _tarnwel.decode_values_with_tables(data, tables)
        check(values)
        count = len(values)
        subsets = _tarnwel.parse_bytes(data).number_of_subsets
        print(f"    message: {len(data):,} octets, {count:,} values, {count // subsets} values per subset on average")
        del values
        seconds = best_time(lambda: _tarnwel.decode_values_with_tables(data, tables), args.runs)
        held, peak = traced_peak(lambda: _tarnwel.decode_values_with_tables(data, tables))
        eccodes = None
        if baseline is not None:
            runs = max(1, ec_runs)
            ec_count = eccodes_full_read(baseline, data)  # warm-up: ecCodes loads its tables on first use
            ec_seconds = best_time(lambda: eccodes_full_read(baseline, data), runs)
            how = f"best of {runs}" if runs > 1 else "one timed run"
            eccodes = (ec_seconds, how, ec_count)
        report(label, count, seconds, args.runs, held / count, peak / count, eccodes)

    # ----------------------------------------------------------------------- (c): many small messages
    unit = SYNOP.read_bytes()
    with tempfile.TemporaryDirectory() as scratch:
        path = (cache_dir or pathlib.Path(scratch)) / f"synop_x{args.messages}.bufr"
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(unit * args.messages)
        messages = split_messages(_tarnwel, path.read_bytes())
    file_note = f"{args.messages:,} copies of {SYNOP.name}, written to and read back from {path}"
    print(f"(c) many small uncompressed messages: {file_note}")
    tables = tables_for(messages[0])
    per_message = len(_tarnwel.decode_values_with_tables(messages[0], tables))
    count = per_message * len(messages)
    print(f"    file: {len(messages):,} messages of {len(unit):,} octets, {per_message} values each, {count:,} values;"
          f" split into bytes objects before timing, one decode_values_with_tables call per message")

    def decode_all():
        n = 0
        for message in messages:
            n += len(_tarnwel.decode_values_with_tables(message, tables))
        return n

    assert decode_all() == count
    seconds = best_time(decode_all, args.runs)
    kept = messages[:max(1, min(args.memory_messages, len(messages)))]
    held, peak = traced_peak(lambda: [_tarnwel.decode_values_with_tables(m, tables) for m in kept])
    kept_count = per_message * len(kept)
    eccodes = None
    if baseline is not None:
        sample = messages[:max(1, min(args.eccodes_messages, len(messages)))]
        eccodes_full_read(baseline, sample[0])
        gc.collect()
        start = time.perf_counter()
        ec_count = sum(eccodes_full_read(baseline, m) for m in sample)
        sample_seconds = time.perf_counter() - start
        scale = len(messages) / len(sample)
        how = (f"one timed run over {len(sample):,} of the {len(messages):,} messages "
               f"({sample_seconds:.2f} s), scaled by {scale:g}")
        eccodes = (sample_seconds * scale, how, round(ec_count * scale))
    report("c", count, seconds, args.runs, held / kept_count, peak / kept_count, eccodes)
    print(f"    (c) memory figures are for the results of {len(kept):,} messages kept together")
    return 0


if __name__ == "__main__":
    sys.exit(main())
