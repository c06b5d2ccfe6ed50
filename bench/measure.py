"""Timing and memory helpers shared by the benchmarks: best-of timing, traced peaks, the process's RSS."""

import gc
import time
import tracemalloc


def best_of(call, repeats, keep_previous=True):
    """(best seconds of `repeats` calls, the last call's result), with gc.collect() before each call.

    With `keep_previous` the previous result is dropped only after the next call, as in a loop
    `arrays = m.to_arrays()`; without it each result is dropped before the next call starts."""
    best, result = float("inf"), None
    for _ in range(repeats):
        if not keep_previous:
            result = None
        gc.collect()
        start = time.perf_counter()
        result = call()
        best = min(best, time.perf_counter() - start)
    return best, result


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
