#!/usr/bin/env python3
"""NumPy arrays from tarnwel.open(...) side by side with ecCodes' Python bindings, and decoding in threads.

Cases, each timed as the best of --repeats runs (time.perf_counter; one gc.collect() before the runs, as a user's
loop has none between messages; in (a) and (b) our runs and ecCodes' take turns, so both meet the host's same spells,
after one untimed call of each):
  (a) compressed    the message of 220,000 values built by bench/decode_throughput.py (2,000 subsets, 50
                    channels): Message.to_arrays() for every key and for a few keys, against ecCodes'
                    numericValues and the same keys; bytes held per value by the arrays (sum of nbytes / values)
                    and the peak during the call (tracemalloc for Python's own allocations; the RSS high-water
                    mark of a fresh child process for everything, the C++ decode included)
  (b) uncompressed  the message of 500 radiosonde-like subsets (219,472 values) of the same script, likewise
  (c) many small    a file of --messages copies of one real SYNOP message (the shared corpus', else
                    tests/data/synop_uncompressed.bufr), read end to end with tarnwel.open(path): memory map,
                    message split, table choice and load, to_arrays(KEYS_C); ecCodes reads the same keys from the
                    same file (codes_bufr_new_from_file, unpack, codes_get_array)
  (d) threads       two Python threads, each decoding its own copy of a large message through to_arrays() with one
                    shared TableSet, against one thread doing both messages' work
  (e) stalls        a Python thread counting loop iterations beside to_arrays() of a large message: the longest
                    gap between two iterations that overlaps a decode, as a fraction of that decode's time
  (f) object path   _tarnwel.decode_values_with_tables on (a) and (b), here and, when --old-python names an
                    interpreter with the parent commit ce9dfc2 installed, there (run as a child process)

ecCodes is asked for what a user reads: codes_new_from_message, skipExtraKeyAttributes=1, unpack=1, then
codes_get_array(h, "numericValues") or codes_get_array(h, key) per key, with
ECCODES_BUFR_MULTI_ELEMENT_CONSTANT_ARRAYS=1 set before the import. Rates count tarnwel's flat value list (the
length of Message.values()) for both sides, so a ratio is a ratio of times. The machine is shared: the load average
is printed at the start and the end; compare ratios within one run.

    python3 bench/arrays.py                                  # everything, a few minutes (ecCodes on (c) dominates)
    python3 bench/arrays.py --eccodes-c-repeats 1 --messages 5000
    python3 bench/arrays.py --old-python /tmp/bench-old-venv/bin/python

The exit status is 0 whether or not the goals are met.
"""

import argparse
import ctypes
import gc
import json
import mmap
import os
import pathlib
import subprocess
import sys
import tempfile
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "bench"))
# The previous result is dropped only after the next call, as in a loop `arrays = m.to_arrays()`.
from measure import best_of, best_of_interleaved, rss_kib, traced_peak  # noqa: E402
DEFINITIONS = "/usr/share/eccodes/definitions"
CORPUS_SYNOP = ROOT.parent / "shared" / "corpus" / "wmo-im__wis2box-training__synop2bufr-ex5.bufr4"
FALLBACK_SYNOP = ROOT / "tests" / "data" / "synop_uncompressed.bufr"
OLD_PYTHON = "/tmp/bench-old-venv/bin/python"

KEYS_A = ["latitude", "longitude", "satelliteZenithAngle", "brightnessTemperature"]
KEYS_B = ["latitude", "longitude", "pressure", "airTemperature"]
KEYS_C = ["latitude", "longitude", "airTemperature", "dewpointTemperature", "pressure",
          "pressureReducedToMeanSeaLevel", "windDirection", "windSpeed"]

GOAL_A_RATIO = 5.0
GOAL_A_HELD = 10.0  # bytes per value
GOAL_A_PEAK_FACTOR = 2.0  # peak below this many times what is held
GOAL_B_RATIO = 150.0
GOAL_C_RATIO = 30.0
GOAL_THREADS = 1.6
GOAL_STALL = 0.2
# ecCodes' missing values, turned into NaN before values are compared.
EC_MISSING = (-1e100, 2147483647)


def verdict(ok):
    return "met" if ok else "NOT met"


def load_average():
    return "load average " + " ".join(f"{x:.2f}" for x in os.getloadavg())


def fresh_page_cost(size=1 << 21, runs=10):
    """Seconds to first touch one 4 KiB page of a fresh anonymous map, best of `runs` maps of `size` bytes."""
    best = float("inf")
    for _ in range(runs):
        region = mmap.mmap(-1, size)
        start = time.perf_counter()
        for i in range(0, size, 4096):
            region[i] = 1
        best = min(best, time.perf_counter() - start)
        region.close()
    return best / (size // 4096)


def ms(seconds):
    return f"{seconds * 1e3:.2f} ms"


def rate(count, seconds):
    return f"{count / seconds / 1e6:.1f} M values/s"


# ---------------------------------------------------------------------------------------------- the two readers


def first_message(tarnwel, data, tables):
    return next(iter(tarnwel.open(data, tables=tables)))


def ours_arrays(tarnwel, data, tables, keys=None):
    return first_message(tarnwel, data, tables).to_arrays(keys)


def ec_handle(ec, data):
    h = ec.codes_new_from_message(data)
    ec.codes_set(h, "skipExtraKeyAttributes", 1)
    ec.codes_set(h, "unpack", 1)
    return h


def ec_numeric(ec, data):
    h = ec_handle(ec, data)
    try:
        return ec.codes_get_array(h, "numericValues")
    finally:
        ec.codes_release(h)


def ec_keys(ec, data, keys):
    h = ec_handle(ec, data)
    try:
        return {key: ec.codes_get_array(h, key) for key in keys}
    finally:
        ec.codes_release(h)


def agree(np, ours, theirs):
    """Whether both hold the same non-missing numbers (as sorted lists; ecCodes orders compressed ranks first)."""
    a = np.asarray(ours, dtype=float).ravel()
    b = np.asarray(theirs, dtype=float).ravel()
    a = np.sort(a[~np.isnan(a)])
    b = np.sort(b[~np.isin(b, EC_MISSING)])
    return len(a) == len(b) and bool(np.allclose(a, b, rtol=1e-12, atol=1e-9))


def check_keys(np, arrays, theirs):
    wrong = [key for key in theirs if key not in arrays or not agree(np, arrays[key], theirs[key])]
    return "yes" if not wrong else "NO, differ: " + ", ".join(wrong)


# ---------------------------------------------------------------------------------------------- memory


def memory_child(path, definitions, keys):
    """Runs in a fresh interpreter: RSS before, high-water mark during, and RSS after one to_arrays."""
    import _tarnwel
    import tarnwel

    data = pathlib.Path(path).read_bytes()
    tables = _tarnwel.TableSet.from_definitions(definitions, _tarnwel.parse_bytes(data))
    ours_arrays(tarnwel, FALLBACK_SYNOP.read_bytes(), None)  # touches the code paths on another message
    gc.collect()
    ctypes.CDLL(None).malloc_trim(0)  # freed heap pages, reused below, would hide new allocations
    before = rss_kib("VmRSS")
    with open("/proc/self/clear_refs", "w") as clear:
        clear.write("5")  # resets VmHWM to the current RSS
    message = first_message(tarnwel, data, tables)
    arrays = message.to_arrays(keys)
    peak = rss_kib("VmHWM")
    with_message = rss_kib("VmRSS")
    del message
    gc.collect()
    arrays_only = rss_kib("VmRSS")
    held = sum(array.nbytes for array in arrays.values())
    print(json.dumps({"peak": (peak - before) * 1024, "with_message": (with_message - before) * 1024,
                      "arrays_only": (arrays_only - before) * 1024, "nbytes": held}))


def report_memory(label, tarnwel, data, tables, path, definitions, count):
    arrays = ours_arrays(tarnwel, data, tables)
    held = sum(array.nbytes for array in arrays.values())
    cells = sum(array.size for array in arrays.values())
    del arrays
    _, traced = traced_peak(lambda: ours_arrays(tarnwel, data, tables))
    print(f"({label}) arrays hold {held:,} bytes: {held / count:.2f} bytes/value ({cells:,} cells for "
          f"{count:,} values)")
    print(f"({label}) peak during to_arrays, Python allocators (tracemalloc): {traced / count:.2f} bytes/value "
          f"(number cells live in pooled blocks outside them: the RSS below counts those)")
    child = subprocess.run([sys.executable, __file__, "--memory-child", str(path), definitions],
                           capture_output=True, text=True)
    if child.returncode != 0:
        print(f"({label}) RSS measurement failed: {child.stderr.strip().splitlines()[-1:]}")
        return held / count, None
    rss = json.loads(child.stdout)
    print(f"({label}) RSS in a fresh process: peak during the decode and to_arrays {rss['peak'] / count:.2f} "
          f"bytes/value; after it {rss['with_message'] / count:.2f} while the message lives, "
          f"{rss['arrays_only'] / count:.2f} once only the arrays are left")
    return held / count, rss["peak"] / count


# ---------------------------------------------------------------------------------------------- (a) and (b)


def big_case(label, title, args, modules, data, path, keys, goal):
    tarnwel, _tarnwel, np, ec = modules
    tables = _tarnwel.TableSet.from_definitions(args.definitions, _tarnwel.parse_bytes(data))
    message = first_message(tarnwel, data, tables)
    count = message.decoded().size
    subsets = message.number_of_subsets
    del message
    print(f"\n({label}) {title}: {len(data):,} octets, {subsets:,} subsets, {count:,} values")
    ours = [lambda: ours_arrays(tarnwel, data, tables), lambda: ours_arrays(tarnwel, data, tables, keys)]
    theirs = [] if ec is None else [lambda: ec_numeric(ec, data), lambda: ec_keys(ec, data, keys)]
    if ec is not None:
        ec_numeric(ec, data)  # ecCodes loads its tables on first use
    # Ours takes the pooled blocks its arrays live in; a result lives on while the next is
    # made, as in the timed rounds, so two of each. Both readers then start warm.
    warm = [call() for call in ours]
    warm = [call() for call in ours]
    del warm
    # Taken in turn, so that both readers meet the same spells of a noisy host.
    timed = best_of_interleaved(ours + theirs, [args.repeats] * 2 + [args.eccodes_repeats] * len(theirs))
    (t_all, arrays), (t_few, few) = timed[:2]
    print(f"({label}) tarnwel to_arrays(), all {len(arrays)} keys: {ms(t_all)}, {rate(count, t_all)}")
    print(f"({label}) tarnwel to_arrays({keys}): {ms(t_few)}, {rate(count, t_few)}")
    held, peak = report_memory(label, tarnwel, data, tables, path, args.definitions, count)
    if ec is None:
        return held, peak, None
    (t_ec, numbers), (t_ec_keys, theirs) = timed[2:]
    ratio = t_ec / t_all
    print(f"({label}) ecCodes numericValues: {ms(t_ec)} ({len(numbers):,} values), {rate(count, t_ec)}")
    print(f"({label}) ecCodes the same {len(keys)} keys: {ms(t_ec_keys)}, {rate(count, t_ec_keys)}")
    print(f"({label}) ratio all keys / numericValues: {ratio:.1f}x (goal >= {goal:.0f}x: {verdict(ratio >= goal)})")
    print(f"({label}) ratio few keys / ecCodes' same keys: {t_ec_keys / t_few:.1f}x; few keys / numericValues: "
          f"{t_ec / t_few:.1f}x")
    print(f"({label}) values agree with ecCodes on {keys}: {check_keys(np, few, theirs)}")
    return held, peak, ratio


# ---------------------------------------------------------------------------------------------- (c)


def ours_file(tarnwel, path, keys):
    count = 0
    # No `with`: closing the reader while the last message's decode holds the map raises BufferError.
    for message in tarnwel.open(path):
        message.to_arrays(keys)
        count += 1
    return count


def ec_file(ec, path, keys):
    count = 0
    with open(path, "rb") as f:
        while (h := ec.codes_bufr_new_from_file(f)) is not None:
            try:
                ec.codes_set(h, "skipExtraKeyAttributes", 1)
                ec.codes_set(h, "unpack", 1)
                for key in keys:
                    ec.codes_get_array(h, key)
            finally:
                ec.codes_release(h)
            count += 1
    return count


def many_small(args, modules, cache_dir):
    tarnwel, _tarnwel, np, ec = modules
    unit_path = CORPUS_SYNOP if CORPUS_SYNOP.is_file() else FALLBACK_SYNOP
    unit = unit_path.read_bytes()
    path = cache_dir / f"{unit_path.stem}_x{args.messages}.bufr"
    path.write_bytes(unit * args.messages)
    first = next(iter(tarnwel.open(unit)))
    per_message = first.decoded().size
    count = per_message * args.messages
    print(f"\n(c) {args.messages:,} copies of {unit_path.name} ({len(unit)} octets, {first.number_of_subsets} "
          f"subset(s), {per_message} values each) in {path}")
    start = time.perf_counter()
    _tarnwel.TableSet.from_definitions(args.definitions, first.record)
    print(f"(c) one table load, part of every tarnwel run below: {ms(time.perf_counter() - start)}")
    assert ours_file(tarnwel, path, KEYS_C) == args.messages
    t_ours, _ = best_of(lambda: ours_file(tarnwel, path, KEYS_C), args.repeats)
    print(f"(c) tarnwel.open(path), to_arrays({len(KEYS_C)} keys) per message: {t_ours:.3f} s, "
          f"{args.messages / t_ours:,.0f} messages/s, {rate(count, t_ours)}")
    if ec is None:
        return None
    ec_file(ec, unit_path, KEYS_C)
    t_ec, n = best_of(lambda: ec_file(ec, path, KEYS_C), args.eccodes_c_repeats)
    assert n == args.messages, n
    ratio = t_ec / t_ours
    print(f"(c) ecCodes, same keys from the same file: {t_ec:.3f} s (best of {args.eccodes_c_repeats}), "
          f"{args.messages / t_ec:,.0f} messages/s")
    print(f"(c) ratio: {ratio:.1f}x (goal >= {GOAL_C_RATIO:.0f}x: {verdict(ratio >= GOAL_C_RATIO)})")
    theirs = ec_keys(ec, unit, KEYS_C)
    print(f"(c) values agree with ecCodes on {KEYS_C}: {check_keys(np, first.to_arrays(KEYS_C), theirs)}")
    return ratio


# ---------------------------------------------------------------------------------------------- (d) and (e)


def own_copy(data):
    return bytes(bytearray(data))  # bytes(data) would hand back the same object


def two_threads_ratio(works, rounds, repeats):
    """(seconds, CPU seconds per wall second) of one thread doing every work, then of a thread per work."""

    def serial():
        for _ in range(rounds):
            for work in works:
                work()

    def parallel():
        def loop(work):
            for _ in range(rounds):
                work()

        threads = [threading.Thread(target=loop, args=(work,)) for work in works]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()

    def best_with_cpu(call):
        best, share = float("inf"), 0.0
        for _ in range(repeats):
            gc.collect()
            cpu, start = time.process_time(), time.perf_counter()
            call()
            wall = time.perf_counter() - start
            if wall < best:
                best, share = wall, (time.process_time() - cpu) / wall
        return best, share

    return best_with_cpu(serial), best_with_cpu(parallel)


def unlocked_share(tarnwel, data, tables, repeats):
    """Share of one to_arrays() spent in the call that releases the lock (decode, plan, memory and fill in one
    release); an upper bound, as that call also wraps its results with the lock held."""
    from tarnwel import _core

    # Both figures are a tenth of a millisecond or so on (a): a handful of runs leaves the
    # bound to the host's spells, so take many, after one run that takes the pooled blocks.
    repeats = max(repeats, 50)
    ours_arrays(tarnwel, data, tables)
    total, _ = best_of(lambda: ours_arrays(tarnwel, data, tables), repeats)
    unlocked = float("inf")
    for _ in range(repeats):
        message = first_message(tarnwel, data, tables)
        t0 = time.perf_counter()
        message._decode(_core.decode_blocks, None)
        unlocked = min(unlocked, time.perf_counter() - t0)
    return min(1.0, unlocked / total)


def threads_case(args, modules, tables, messages):
    print(f"\n(d) two threads, each decoding its own copy of a message (one shared TableSet), against one thread"
          f" doing both; {load_average()}")
    ratios = {}
    for label, data in messages:
        tarnwel = modules[0]
        copies = [own_copy(data), own_copy(data)]
        works = [lambda d=d: ours_arrays(tarnwel, d, tables) for d in copies]
        single, _ = best_of(works[0], 3)
        rounds = max(3, int(0.25 / single))
        (t_one, cpu_one), (t_two, cpu_two) = two_threads_ratio(works, rounds, args.repeats)
        ratio = t_one / t_two
        ratios[label] = ratio
        share = unlocked_share(tarnwel, data, tables, args.repeats)
        print(f"(d) {label}: {rounds} rounds of to_arrays() per message: one thread {ms(t_one)} ({cpu_one:.2f} "
              f"CPU s per s), two threads {ms(t_two)} ({cpu_two:.2f} CPU s per s); throughput ratio "
              f"{ratio:.2f}x (goal >= {GOAL_THREADS}x: {verdict(ratio >= GOAL_THREADS)})")
        print(f"(d) {label}: at most {share:.0%} of a to_arrays() runs in calls that release the lock, which "
              f"bounds two threads at {1 / (1 - share + share / 2):.2f}x")
    return ratios


class Spinner:
    """A thread that counts loop iterations and keeps every gap between two of them above `threshold`."""

    def __init__(self, threshold=1e-4):
        self.threshold = threshold
        self.gaps = []
        self.iterations = 0
        self._stop = False
        self._thread = threading.Thread(target=self._spin)

    def _spin(self):
        last = time.perf_counter()
        while not self._stop:
            now = time.perf_counter()
            if now - last > self.threshold:
                self.gaps.append((last, now))
            last = now
            self.iterations += 1

    def __enter__(self):
        self._thread.start()
        time.sleep(0.02)
        return self

    def __exit__(self, *exc):
        self._stop = True
        self._thread.join()

    def longest_within(self, start, end):
        return max((b - a for a, b in self.gaps if b > start and a < end), default=0.0)


def handoff_floor(seconds, calls=20):
    """Longest spinner gap beside back-to-back sleeps of `seconds`: each sleep releases the lock and takes it back
    with hardly any Python between, so the gap is what handing the lock over and back costs on this machine."""
    with Spinner() as spinner:
        start = time.perf_counter()
        for _ in range(calls):
            time.sleep(seconds)
        end = time.perf_counter()
    return spinner.longest_within(start, end)


def stall_case(args, label, call, decodes):
    """Longest spinner gap overlapping each decode; windows of the same length with the main thread asleep
    give the floor the machine itself causes."""
    alone, _ = best_of(call, 3)
    windows, quiet = [], []
    with Spinner() as spinner:
        for _ in range(decodes):
            start = time.perf_counter()
            call()
            end = time.perf_counter()
            windows.append((start, end))
            time.sleep(end - start)
            quiet.append((end, time.perf_counter()))
    stalls = sorted((spinner.longest_within(a, b), b - a) for a, b in windows)
    floor = max(spinner.longest_within(a, b) for a, b in quiet)
    handoff = handoff_floor(alone)
    worst, worst_time = stalls[-1]
    fraction = worst / alone
    median = stalls[len(stalls) // 2][0]
    print(f"(e) {label}: decode alone {ms(alone)}; beside the spinner ({spinner.iterations:,} iterations) the "
          f"longest stall {ms(worst)} (median {ms(median)}) over {decodes} decodes: {fraction:.2f} of the decode "
          f"alone, {worst / worst_time:.2f} of that decode's {ms(worst_time)} (goal <= {GOAL_STALL}: "
          f"{verdict(fraction <= GOAL_STALL)}); longest gap in as long a sleep of the main thread {ms(floor)}; "
          f"beside sleeps alone, which only hand the lock over and back, {ms(handoff)} "
          f"({handoff / alone:.2f} of the decode)")
    return fraction


# ---------------------------------------------------------------------------------------------- (f)


def object_path_child(definitions, repeats, paths):
    """Runs under any interpreter with _tarnwel installed: best time of decode_values_with_tables per file."""
    import _tarnwel

    out = {}
    for path in paths:
        data = pathlib.Path(path).read_bytes()
        tables = _tarnwel.TableSet.from_definitions(definitions, _tarnwel.parse_bytes(data))
        count = len(_tarnwel.decode_values_with_tables(data, tables))
        seconds, _ = best_of(lambda: _tarnwel.decode_values_with_tables(data, tables), repeats)
        out[path] = [seconds, count]
    print(json.dumps(out))


def object_path_case(args, paths):
    print(f"\n(f) the object path, _tarnwel.decode_values_with_tables, best of {args.repeats}")
    runs = {"this build": sys.executable}
    old = pathlib.Path(args.old_python)
    if old.is_file():
        runs["ce9dfc2 (" + args.old_python + ")"] = args.old_python
    else:
        print(f"(f) no interpreter at {args.old_python}: build ce9dfc2 into it to compare (see the brief)")
    figures = {}
    for name, python in runs.items():
        child = subprocess.run([python, __file__, "--object-child", args.definitions, str(args.repeats),
                                *map(str, paths.values())], capture_output=True, text=True, cwd="/")
        if child.returncode != 0:
            print(f"(f) {name}: failed: {child.stderr.strip().splitlines()[-1:]}")
            continue
        figures[name] = json.loads(child.stdout)
    for label, path in paths.items():
        line = []
        for name, result in figures.items():
            seconds, count = result[str(path)]
            line.append(f"{name} {ms(seconds)} ({rate(count, seconds)}, {count:,} values)")
        if len(figures) == 2:
            (_, new), (_, old_result) = figures.items()
            line.append(f"new / old rate {old_result[str(path)][0] / new[str(path)][0]:.2f}x")
        print(f"(f) {label}: " + "; ".join(line))


# ---------------------------------------------------------------------------------------------- main


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=5, help="timed runs per figure; the best counts (default 5)")
    parser.add_argument("--eccodes-repeats", type=int, default=5, help="timed ecCodes runs on (a) and (b)")
    parser.add_argument("--eccodes-c-repeats", type=int, default=5,
                        help="timed ecCodes runs over the file of (c), about 20 s each (default 5)")
    parser.add_argument("--messages", type=int, default=20_000, help="messages in the file of (c)")
    parser.add_argument("--definitions", default=DEFINITIONS, help=f"ecCodes definitions root ({DEFINITIONS})")
    parser.add_argument("--cache-dir", default=str(pathlib.Path(tempfile.gettempdir()) / "tarnwel-bench"),
                        help="where the messages of (a) and (b) are kept between runs, as decode_throughput.py does")
    parser.add_argument("--old-python", default=OLD_PYTHON, help="interpreter with ce9dfc2 installed, for (f)")
    parser.add_argument("--no-eccodes", action="store_true", help="skip ecCodes (needs (a) and (b) cached)")
    parser.add_argument("--cases", default="abcdef", help="which of the cases to run (default abcdef)")
    parser.add_argument("--memory-child", nargs=2, help=argparse.SUPPRESS)
    parser.add_argument("--object-child", nargs="+", help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.memory_child:
        memory_child(*args.memory_child, None)
        return 0
    if args.object_child:
        definitions, repeats, *paths = args.object_child
        object_path_child(definitions, int(repeats), paths)
        return 0

    os.environ["ECCODES_BUFR_MULTI_ELEMENT_CONSTANT_ARRAYS"] = "1"  # read when eccodes is imported
    import numpy as np

    import _tarnwel
    import tarnwel
    from tarnwel.tables import selection_key

    import decode_throughput as messages_of  # builds and caches the messages of (a) and (b)

    try:
        import eccodes as ec
        version = ec.codes_get_api_version()
    except ImportError:
        ec, version = None, "any"
    baseline = None if args.no_eccodes else ec
    print(f"tarnwel from {pathlib.Path(tarnwel.__file__).parent}; ecCodes {version if ec else 'not installed'}; "
          f"{load_average()}")
    page = fresh_page_cost()
    print(f"first touch of a fresh 4 KiB page: {page * 1e6:.2f} us, {page / 512 * 1e9:.2f} ns per float64 cell")
    cache_dir = pathlib.Path(args.cache_dir) / version
    cache_dir.mkdir(parents=True, exist_ok=True)
    modules = (tarnwel, _tarnwel, np, baseline)
    paths, datas, results = {}, {}, {}
    for label, title, name, encode, keys, goal in (
        ("a", "compressed", f"compressed_{messages_of.A_SUBSETS}x{messages_of.A_PER_SUBSET}.bufr",
         messages_of.encode_compressed, KEYS_A, GOAL_A_RATIO),
        ("b", "uncompressed", f"uncompressed_{messages_of.B_SUBSETS}_profiles.bufr",
         messages_of.encode_uncompressed, KEYS_B, GOAL_B_RATIO),
    ):
        data, note = messages_of.load_or_encode(name, encode, ec, cache_dir)
        if data is None:
            print(f"({label}) skipped: {note}")
            continue
        paths[label], datas[label] = cache_dir / name, data
        if label in args.cases:
            results[label] = big_case(label, f"{title} ({note})", args, modules, data, cache_dir / name, keys,
                                      goal)
    if "c" in args.cases:
        results["c"] = many_small(args, modules, cache_dir)
    if datas:
        records = {label: _tarnwel.parse_bytes(data) for label, data in datas.items()}
        first = next(iter(records.values()))
        tables = _tarnwel.TableSet.from_definitions(args.definitions, first)
        # Both messages choose the same tables, so the threads can share one TableSet.
        big = [(label, datas[label]) for label, record in records.items()
               if selection_key(record) == selection_key(first)]
        if "d" in args.cases:
            results["d"] = threads_case(args, modules, tables, big)
        if "e" in args.cases:
            print(f"\n(e) a Python thread spinning beside decodes; {load_average()}")
            results["e"] = {
                label: stall_case(args, f"{label} to_arrays()", lambda d=data: ours_arrays(tarnwel, d, tables), 20)
                for label, data in big
            }
            for label, data in big:
                stall_case(args, f"{label} decode_values_with_tables (the object path, for comparison)",
                           lambda d=data: _tarnwel.decode_values_with_tables(d, tables), 5)
        if "f" in args.cases:
            object_path_case(args, paths)
    summary(results)
    print(f"\n{load_average()}")
    return 0


def summary(results):
    print("\nsummary")
    if "a" in results:
        held, peak, ratio = results["a"]
        if ratio is not None:
            print(f"  (a) to_arrays / ecCodes numericValues {ratio:.1f}x (goal >= {GOAL_A_RATIO:.0f}x: "
                  f"{verdict(ratio >= GOAL_A_RATIO)})")
        print(f"  (a) held {held:.2f} bytes/value (goal <= {GOAL_A_HELD:.0f}: {verdict(held <= GOAL_A_HELD)})")
        if peak is not None:
            ok = peak < GOAL_A_PEAK_FACTOR * held
            print(f"  (a) RSS peak {peak:.2f} bytes/value (goal < {GOAL_A_PEAK_FACTOR:.0f}x held: {verdict(ok)})")
    if "b" in results and results["b"][2] is not None:
        ratio = results["b"][2]
        print(f"  (b) to_arrays / ecCodes numericValues {ratio:.1f}x (goal >= {GOAL_B_RATIO:.0f}x: "
              f"{verdict(ratio >= GOAL_B_RATIO)})")
    if results.get("c") is not None:
        print(f"  (c) {results['c']:.1f}x ecCodes (goal >= {GOAL_C_RATIO:.0f}x: "
              f"{verdict(results['c'] >= GOAL_C_RATIO)})")
    for label, ratio in results.get("d", {}).items():
        print(f"  (d) {label}: two threads {ratio:.2f}x one (goal >= {GOAL_THREADS}x: "
              f"{verdict(ratio >= GOAL_THREADS)})")
    for label, fraction in results.get("e", {}).items():
        print(f"  (e) {label}: longest stall {fraction:.2f} of a decode (goal <= {GOAL_STALL}: "
              f"{verdict(fraction <= GOAL_STALL)})")


if __name__ == "__main__":
    sys.exit(main())
