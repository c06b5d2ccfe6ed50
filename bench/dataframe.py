#!/usr/bin/env python3
"""DataFrames from BUFR: tarnwel.read_dataframe against pdbufr, the corpus, `tarnwel export`, and Dask.

Four figures, in one run (compare ratios within a run; the machine is shared):
  (a) SYNOP   20,000 copies of a real SYNOP message (the corpus's wmo-im__synop2bufr__15015.bin, else
              tests/data/synop_uncompressed.bufr) read with columns latitude, longitude, airTemperature,
              pressure and data_datetime by tarnwel.read_dataframe and by pdbufr's flat reader
              (pdbufr.read_bufr(path, columns=..., reader="flat")); best of --runs for ours, one run of pdbufr
              on --pdbufr-messages messages scaled to 20,000. The two frames are checked to hold the same values.
              Goal: 50x.
  (b) corpus  every file of ../shared/corpus with columns=None, one frame per file (one wide frame of all of
              them would have a column for every key and rank of any message: about 56,000 columns for 63,000
              rows): rows/s, and the largest peak of traced memory (tracemalloc) of one file's read.
  (c) export  `tarnwel export` of the corpus to Parquet in the long layout (the wide one is refused for the
              reason above): messages/s of the whole command, and its peak resident memory.
  (d) Dask    tarnwel.dask.read_dataframe over --dask-files files of 5,000 SYNOP messages each, computed on a
              distributed.LocalCluster of one and of two worker processes (one thread each). Goal: 1.6x.

Run from the repository root against the installed package (pip install .[test]):

    python3 bench/dataframe.py
    python3 bench/dataframe.py --pdbufr-messages 2000 --runs 3

The exit status is 0 whether or not the goals are met; the goals are printed beside the figures.
"""

import argparse
import gc
import pathlib
import re
import resource
import subprocess
import sys
import tempfile
import time
import tracemalloc
import warnings

import numpy as np

import tarnwel

ROOT = pathlib.Path(__file__).resolve().parent.parent
CORPUS = ROOT.parent / "shared" / "corpus"
sys.path.insert(0, str(ROOT / "bench"))
from measure import best_of  # noqa: E402
SYNOP_FILES = (CORPUS / "wmo-im__synop2bufr__15015.bin", ROOT / "tests" / "data" / "synop_uncompressed.bufr")
COLUMNS = ["latitude", "longitude", "airTemperature", "pressure", "data_datetime"]
MESSAGES = 20_000
GOAL_PDBUFR = 50.0
GOAL_DASK = 1.6


def synop_message():
    for path in SYNOP_FILES:
        if path.is_file():
            return path, path.read_bytes()
    sys.exit("no SYNOP message found")


def case_synop(workdir, args):
    import pdbufr

    source, message = synop_message()
    path = workdir / "synop.bufr"
    path.write_bytes(message * MESSAGES)
    ours_time, ours = best_of(lambda: tarnwel.read_dataframe(path, COLUMNS), args.runs)
    count = min(args.pdbufr_messages, MESSAGES)
    sample = workdir / "synop-sample.bufr"
    sample.write_bytes(message * count)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        start = time.perf_counter()
        theirs = pdbufr.read_bufr(sample, columns=COLUMNS, reader="flat")
        theirs_time = (time.perf_counter() - start) * MESSAGES / count
    same = len(theirs) == count and all(
        np.array_equal(ours[name].to_numpy()[:count], theirs[name].to_numpy(), equal_nan=True)
        if name != "data_datetime" else
        np.array_equal(ours[name].to_numpy()[:count], theirs[name].to_numpy().astype("datetime64[us]"))
        for name in COLUMNS
    )
    rows = len(ours)
    print(f"(a) {MESSAGES} SYNOP messages ({source.name}, {rows} rows, columns {', '.join(COLUMNS)})")
    print(f"    tarnwel  {ours_time:8.3f} s   {MESSAGES / ours_time:10.0f} messages/s")
    scaled = "" if count == MESSAGES else f" (timed on {count} messages, scaled)"
    print(f"    pdbufr   {theirs_time:8.3f} s   {MESSAGES / theirs_time:10.0f} messages/s{scaled}")
    print(f"    ratio    {theirs_time / ours_time:8.1f}x  (goal {GOAL_PDBUFR:.0f}x)   same values: {same}")



def corpus_files():
    return sorted(p for p in CORPUS.iterdir() if p.suffix not in (".tsv", ".md"))


def case_corpus():
    files = corpus_files()
    rows = 0
    start = time.perf_counter()
    for path in files:
        rows += len(tarnwel.read_dataframe(path, errors="skip"))
    elapsed = time.perf_counter() - start
    peak, peak_file = 0, None
    for path in files:
        gc.collect()
        tracemalloc.start()
        tarnwel.read_dataframe(path, errors="skip")
        _, file_peak = tracemalloc.get_traced_memory()
        tracemalloc.stop()
        if file_peak > peak:
            peak, peak_file = file_peak, path.name
    print(f"(b) corpus, columns=None, one frame per file: {len(files)} files, {rows} rows")
    print(f"    {elapsed:8.3f} s   {rows / elapsed:10.0f} rows/s   largest peak {peak / 2**20:.1f} MiB ({peak_file})")


def case_export(workdir):
    files = [str(path) for path in corpus_files()]
    out = workdir / "corpus.parquet"
    command = [str(pathlib.Path(sys.executable).parent / "tarnwel"), "export", *files, "-o", str(out),
               "--layout", "long", "--errors", "skip"]
    before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    start = time.perf_counter()
    result = subprocess.run(command, capture_output=True, text=True)
    elapsed = time.perf_counter() - start
    peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    counts = re.search(r"(\d+) rows from (\d+) messages written; (\d+) skipped, (\d+) failed", result.stderr)
    if result.returncode != 0 or counts is None:
        print(f"(c) export failed: {result.stderr.strip()}")
        return
    rows, written, skipped, failed = map(int, counts.groups())
    print(f"(c) tarnwel export of the corpus to Parquet (long layout): {rows} rows, {written} messages "
          f"written, {skipped} skipped, {failed} failed, {out.stat().st_size / 2**20:.1f} MiB")
    print(f"    {elapsed:8.3f} s   {(written + skipped + failed) / elapsed:10.1f} messages/s   "
          f"peak resident {max(peak, before) / 2**10:.0f} MiB")


def case_dask(workdir, args):
    import dask
    import distributed
    import tarnwel.dask

    _, message = synop_message()
    files = []
    for number in range(args.dask_files):
        path = workdir / f"archive-{number:02d}.bufr"
        path.write_bytes(message * 5000)
        files.append(path)
    times = {}
    for workers in (1, 2):
        with dask.config.set({"dataframe.convert-string": False}), \
                distributed.LocalCluster(n_workers=workers, processes=True, threads_per_worker=1,
                                         dashboard_address=":0") as cluster, \
                distributed.Client(cluster):
            frame = tarnwel.dask.read_dataframe(files, COLUMNS)
            frame.compute()  # warm the workers: imports and table loads
            times[workers], computed = best_of(lambda: frame.compute(), args.runs)
    print(f"(d) Dask over {len(files)} files of 5000 SYNOP messages ({len(computed)} rows)")
    print(f"    1 worker  {times[1]:8.3f} s    2 workers {times[2]:8.3f} s    "
          f"speed-up {times[1] / times[2]:.2f}x (goal {GOAL_DASK}x)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=3, help="timed runs of ours; the best counts")
    parser.add_argument("--pdbufr-messages", type=int, default=MESSAGES,
                        help=f"messages pdbufr reads, scaled to {MESSAGES} (default: all)")
    parser.add_argument("--dask-files", type=int, default=8, help="files of the Dask case")
    parser.add_argument("--cases", default="abcd", help="which of the cases to run (default abcd)")
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as directory:
        workdir = pathlib.Path(directory)
        if "a" in args.cases:
            case_synop(workdir, args)
        if CORPUS.is_dir():
            if "b" in args.cases:
                case_corpus()
            if "c" in args.cases:
                case_export(workdir)
        elif "b" in args.cases or "c" in args.cases:
            print("(b), (c): the shared corpus is absent")
        if "d" in args.cases:
            case_dask(workdir, args)


if __name__ == "__main__":
    main()
