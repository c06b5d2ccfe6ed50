"""Timing and memory helpers shared by the benchmarks: best-of timing, traced peaks, the process's RSS."""

import gc
import time
import tracemalloc


def best_of(call, repeats, keep_previous=True):
    """(best seconds of `repeats` calls, the last call's result), with gc.collect() once before them.

    A full collection before every call would flush the caches, which a user's loop never does; the
    collector stays on, as in such a loop. With `keep_previous` the previous result is dropped only
    after the next call, as in a loop `arrays = m.to_arrays()`; without it each result is dropped
    before the next call starts."""
    best, result = float("inf"), None
    gc.collect()
    for _ in range(repeats):
        if not keep_previous:
            result = None
        start = time.perf_counter()
        result = call()
        best = min(best, time.perf_counter() - start)
    return best, result


def best_of_interleaved(calls, repeats):
    """best_of for several calls taken in turn, round after round: on a host whose speed changes
    from one second to the next, each call then meets the same slow and fast spells.

    `calls` and `repeats` pair up; a call with fewer repeats sits out the later rounds. Each
    call's previous result is dropped only after its next call; as in best_of, one collection
    comes before all rounds."""
    best = [float("inf")] * len(calls)
    results = [None] * len(calls)
    gc.collect()
    for round_ in range(max(repeats, default=0)):
        for i, call in enumerate(calls):
            if round_ >= repeats[i]:
                continue
            start = time.perf_counter()
            results[i] = call()
            best[i] = min(best[i], time.perf_counter() - start)
    return list(zip(best, results))


def traced_peak(call):
    """(bytes Python's allocators hold for the result, their peak during the call), above the level before it."""
    gc.collect()
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        tracemalloc.reset_peak()
        result = call()
        current, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    del result
    return current - before, peak - before


def rss_kib(field):
    """A field of /proc/self/status in KiB: "VmRSS" now, "VmHWM" the high-water mark."""
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise LookupError(field)
