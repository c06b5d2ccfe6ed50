#!/usr/bin/env python3
"""The object path (_tarnwel.decode_values_with_tables) of this build against an older build, in one process.

Both extension modules are loaded side by side from their files, each with its own TableSet, and timed in turns
(old, new, old, new, ...) so that load on the shared machine falls on both alike; each figure is the best of
--repeats calls (time.perf_counter, gc.collect() before each). Messages: the compressed and the uncompressed
message of bench/decode_throughput.py (from its cache, --cache-dir) and tests/data/synop_uncompressed.bufr.

    python3 bench/object_path.py --old /tmp/old-venv/lib/python3.11/site-packages/_tarnwel.cpython-311-x86_64-linux-gnu.so

Build the older module with `git worktree add /tmp/old COMMIT && python3 -m venv V && V/bin/pip install /tmp/old`.
"""

import argparse
import gc
import glob
import importlib.util
import pathlib
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
DEFINITIONS = "/usr/share/eccodes/definitions"


def load(path):
    spec = importlib.util.spec_from_file_location("_tarnwel", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def messages(cache_dir):
    found = {}
    for label, name in (("(a) compressed", "compressed_2000x110.bufr"),
                        ("(b) uncompressed", "uncompressed_500_profiles.bufr")):
        paths = sorted(glob.glob(str(pathlib.Path(cache_dir) / "*" / name)))
        if paths:
            found[label] = pathlib.Path(paths[-1]).read_bytes()
        else:
            print(f"{label}: not in {cache_dir}; run bench/decode_throughput.py once to make it")
    found["(c) one small SYNOP"] = (ROOT / "tests" / "data" / "synop_uncompressed.bufr").read_bytes()
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--old", required=True, help="the older build's _tarnwel extension file")
    parser.add_argument("--new", help="this build's _tarnwel extension file (default: the one importable here)")
    parser.add_argument("--repeats", type=int, default=9)
    parser.add_argument("--definitions", default=DEFINITIONS)
    parser.add_argument("--cache-dir", default=str(pathlib.Path(tempfile.gettempdir()) / "tarnwel-bench"))
    args = parser.parse_args()
    new_path = args.new or importlib.util.find_spec("_tarnwel").origin
    builds = {"old": load(args.old), "new": load(new_path)}
    print(f"old {args.old}\nnew {new_path}\nbest of {args.repeats}, in turns")
    for label, data in messages(args.cache_dir).items():
        # A small message is timed as 200 decodes per call, so the call's own cost stays out of the figure.
        calls = 200 if len(data) < 10_000 else 1
        bound = {}
        for name, module in builds.items():
            tables = module.TableSet.from_definitions(args.definitions, module.parse_bytes(data))
            bound[name] = (module.decode_values_with_tables, tables)
        counts = {name: len(decode(data, tables)) for name, (decode, tables) in bound.items()}
        assert counts["old"] == counts["new"], counts
        best = dict.fromkeys(bound, float("inf"))
        for _ in range(args.repeats):
            for name, (decode, tables) in bound.items():
                gc.collect()
                start = time.perf_counter()
                for _ in range(calls):
                    decode(data, tables)
                best[name] = min(best[name], (time.perf_counter() - start) / calls)
        count = counts["new"]
        figures = "; ".join(f"{name} {best[name] * 1e3:.3f} ms ({count / best[name] / 1e6:.1f} M values/s)"
                            for name in bound)
        print(f"{label}, {count:,} values: {figures}; new / old rate {best['old'] / best['new']:.2f}x")


if __name__ == "__main__":
    main()
