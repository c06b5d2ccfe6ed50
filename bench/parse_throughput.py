#!/usr/bin/env python3
"""Messages per second of _tarnwel.parse_all_bytes on a large buffer of real messages.

The buffer repeats tests/data/multi.bufr (four messages inside bulletin headings, with filler octets between them)
until it holds at least --messages messages, so both the marker search and the section parser are timed. The
result is the best of --runs timed calls (time.perf_counter), which is the least disturbed by the machine.

    python3 bench/parse_throughput.py                      # against the installed _tarnwel
    python3 bench/parse_throughput.py --min-rate 1000000   # exit 1 below the goal of 1,000,000 messages/s
    python3 bench/parse_throughput.py --baseline           # also time ecCodes splitting the same messages
"""

import argparse
import pathlib
import sys
import tempfile

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from measure import best_of  # noqa: E402

DATA = pathlib.Path(__file__).resolve().parent.parent / "tests" / "data"
GOAL = 1_000_000


def build_buffer(unit, per_unit, wanted):
    repeats = -(-wanted // per_unit)
    return unit * repeats, repeats * per_unit


def best_time(call, runs):
    return best_of(call, runs, keep_previous=False)


def eccodes_rate(buffer, count, runs):
    """ecCodes handles for the same messages, without unpacking section 4: a reference point, not a target."""
    import eccodes

    with tempfile.TemporaryFile() as f:
        f.write(buffer)

        def split_all():
            f.seek(0)
            n = 0
            while (h := eccodes.codes_bufr_new_from_file(f)) is not None:
                eccodes.codes_get(h, "numberOfSubsets")
                eccodes.codes_release(h)
                n += 1
            return n

        seconds, n = best_time(split_all, runs)
    assert n == count, (n, count)
    return count / seconds


def main(argv=None):
    parser = argparse.ArgumentParser(description="Time _tarnwel.parse_all_bytes.")
    parser.add_argument("--messages", type=int, default=100_000, help="least number of messages in the buffer")
    parser.add_argument("--runs", type=int, default=7, help="timed calls; the best one counts")
    parser.add_argument("--min-rate", type=float, default=None,
                        help=f"exit with status 1 when below this many messages/s (the goal is {GOAL:,})")
    parser.add_argument("--baseline", action="store_true", help="also time ecCodes on a tenth of the messages")
    args = parser.parse_args(argv)

    import _tarnwel

    unit = (DATA / "multi.bufr").read_bytes()
    per_unit = len(_tarnwel.parse_all_bytes(unit))
    buffer, count = build_buffer(unit, per_unit, args.messages)

    seconds, messages = best_time(lambda: _tarnwel.parse_all_bytes(buffer), args.runs)
    if len(messages) != count:
        print(f"parse_all_bytes found {len(messages)} messages, expected {count}", file=sys.stderr)
        return 1
    total = sum(m.total_length for m in messages)
    del messages
    rate = count / seconds
    print(f"messages: {count:,} in {len(buffer) / 1e6:.1f} MB ({total / 1e6:.1f} MB inside messages)")
    print(f"parse_all_bytes: best of {args.runs}: {seconds * 1e3:.2f} ms, {rate:,.0f} messages/s, "
          f"{len(buffer) / seconds / 1e9:.2f} GB/s (goal {GOAL:,} messages/s)")

    if args.baseline:
        small, small_count = build_buffer(unit, per_unit, max(per_unit, args.messages // 10))
        print(f"ecCodes, {small_count:,} messages: {eccodes_rate(small, small_count, 3):,.0f} messages/s")

    if args.min_rate is not None and rate < args.min_rate:
        print(f"below the required {args.min_rate:,.0f} messages/s", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
