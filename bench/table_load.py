#!/usr/bin/env python3
"""Time and memory of loading BUFR tables with the three TableSet loaders of _tarnwel.

Loads measured:
  from_eccodes      one full WMO version directory of the ecCodes definitions (bufr/tables/0/wmo/39 by default;
                    it must be a real directory, not an alias of another version)
  from_bufr4_45     the WMO BUFR4 CSV files in ../shared/wmo-bufr4 beside the repository (skipped when absent)
  from_definitions  the master and local tables chosen for a message of centre 98 with local tables: the first
                    such message of ../shared/corpus, or, without the corpus, one encoded here with ecCodes

Time: median (and best) of --runs calls in this process, after one untimed call so that the files are in the page
cache. Memory: the C++ tables are invisible to tracemalloc, so each measurement runs in a fresh interpreter that
reads /proc/self/status around the loads: the peak growth during the first load (VmHWM after it minus VmRSS before),
the anonymous memory it still holds afterwards (RssAnon growth), and the RssAnon growth per set while --keep more
sets are loaded and kept, which is the size of one loaded set without one-time costs. The median over
--memory-runs interpreters is printed.

Pack vs disk: the tables tarnwel.table_pack.pack_tables gives a message from the table pack in the package, loaded
cold (its in-process cache emptied before each call), against the same tables read from the definitions root: master
versions (--pack-versions) alone, and the centre 98 message above with its local tables (master and local cold, and
the local tables alone over cached master tables). Each figure is the median (and best) wall time of --runs calls,
with the median CPU time of the calling thread beside it, since the machine is shared. The first call in a fresh
interpreter, which also opens the pack, is timed in --memory-runs child processes.

Run from the repository root against the installed module (pip install .):

    python3 bench/table_load.py
    python3 bench/table_load.py --runs 51 --memory-runs 5 --version 38

The exit status is 0 whether or not the goals (under 10 ms for from_eccodes, a loaded set under 5 MB, a load from
the pack under 5 ms) are met.
"""

import argparse
import glob
import json
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
SHARED = ROOT.parent / "shared"
DEFINITIONS = "/usr/share/eccodes/definitions"
GOAL_MS = {"from_eccodes": 10.0}
GOAL_MB = 5.0
PACK_GOAL_MS = 5.0

# Run in a fresh interpreter: the first pack_tables call, which also opens the pack. argv[1] is a JSON field list.
FIRST_PACK_CALL = r"""
import json, sys, time
from tarnwel.table_pack import pack_tables
fields = json.loads(sys.argv[1])
start = time.perf_counter()
pack_tables(*fields)
print(json.dumps(time.perf_counter() - start))
"""

# Run in a fresh interpreter: argv[1] is a JSON list [loader, path, message file or "", keep].
CHILD = r"""
import json, sys
import _tarnwel

def status():
    fields = {}
    with open("/proc/self/status") as f:
        for line in f:
            key, _, rest = line.partition(":")
            if key in ("VmRSS", "VmHWM", "RssAnon"):
                fields[key] = int(rest.split()[0]) * 1024
    return fields

loader, path, message_file, keep = json.loads(sys.argv[1])
if loader == "from_definitions":
    message = _tarnwel.parse_all_file(message_file)[0]
    load = lambda: _tarnwel.TableSet.from_definitions(path, message)
else:
    load = lambda: getattr(_tarnwel.TableSet, loader)(path)
empty = _tarnwel.TableSet()
before = status()
first = load()
after = status()
kept = [load() for _ in range(keep)]
end = status()
print(json.dumps({
    "peak": after["VmHWM"] - before["VmRSS"],
    "held": after["RssAnon"] - before["RssAnon"],
    "per_set": (end["RssAnon"] - after["RssAnon"]) / keep if keep else None,
    "elements": first.element_count,
}))
"""


def time_loads(load, runs):
    """(median seconds, best seconds, repr of the loaded set) of `runs` timed calls after an untimed one."""
    shown = repr(load())  # untimed: page cache and the module's first touch of its code
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        tables = load()
        times.append(time.perf_counter() - start)
        del tables
    return statistics.median(times), min(times), shown


def measure_memory(loader, path, message_file, keep, runs):
    results = []
    for _ in range(runs):
        out = subprocess.run([sys.executable, "-c", CHILD, json.dumps([loader, path, message_file or "", keep])],
                             check=True, capture_output=True, text=True)
        results.append(json.loads(out.stdout))
    return {key: statistics.median(r[key] for r in results)
            for key in ("peak", "held", "per_set") if results[0][key] is not None}


def time_cold(load, clear, runs):
    """(median wall seconds, best wall seconds, median thread CPU seconds) of `runs` calls, each after clear()."""
    load()
    walls, cpus = [], []
    for _ in range(runs):
        clear()
        wall, cpu = time.perf_counter(), time.thread_time()
        load()
        cpus.append(time.thread_time() - cpu)
        walls.append(time.perf_counter() - wall)
    return statistics.median(walls), min(walls), statistics.median(cpus)


def show(label, figures, goal=None):
    median, best, cpu = figures
    goal_text = f"; goal < {goal:.0f} ms: {'met' if median * 1e3 < goal else 'NOT met'}" if goal else ""
    print(f"{label}: {median * 1e3:.2f} ms (best {best * 1e3:.2f} ms, CPU {cpu * 1e3:.2f} ms{goal_text})")


def pack_vs_disk(_tarnwel, args, message_file):
    """Cold loads from the table pack against loads of the same tables from the definitions root."""
    from tarnwel import table_pack

    clear = table_pack._sets.clear
    versions = pack_versions = table_pack.pack_versions()[0]
    print(f"pack: {table_pack.PACK_PATH} ({table_pack.PACK_PATH.stat().st_size / 1e6:.2f} MB), "
          f"master table 0 versions {versions[0]}-{versions[-1]}, "
          f"{sum(map(len, table_pack.pack_local_tables().values()))} local tables")
    cases = []
    for version in (int(v) for v in args.pack_versions.split(",")):
        if version not in pack_versions:
            print(f"pack: no master version {version}")
            continue
        wmo = os.path.join(args.definitions, "bufr", "tables", "0", "wmo", str(version))
        disk = (lambda wmo=wmo: _tarnwel.TableSet.from_eccodes(wmo)) if os.path.isdir(wmo) else None
        cases.append((f"master version {version}", (0, version, 98, 0, 0), disk))
    if message_file:
        message = _tarnwel.parse_all_file(message_file)[0]
        fields = (message.master_table_number, message.master_tables_version_number, message.originating_centre,
                  message.originating_subcentre, message.local_tables_version_number)
        disk = lambda: _tarnwel.TableSet.from_definitions(args.definitions, message)
        cases.append((f"master version {fields[1]} with local version {fields[4]} of centre {fields[2]}", fields, disk))
    for label, fields, disk in cases:
        shown = repr(table_pack.pack_tables(*fields).tables)
        print(f"pack {label}: {shown}")
        show(f"pack {label}: from the pack", time_cold(lambda: table_pack.pack_tables(*fields), clear, args.runs),
             PACK_GOAL_MS)
        if disk is not None:
            show(f"pack {label}: from disk", time_cold(disk, lambda: None, args.runs))
        if fields[4]:
            master = (fields[0], fields[1], fields[2], fields[3], 0)
            keep_master = lambda: (clear(), table_pack.pack_tables(*master))
            show(f"pack {label}: local tables alone, over cached master tables",
                 time_cold(lambda: table_pack.pack_tables(*fields), keep_master, args.runs), PACK_GOAL_MS)
        firsts = [json.loads(subprocess.run([sys.executable, "-c", FIRST_PACK_CALL, json.dumps(fields)], check=True,
                                            capture_output=True, text=True).stdout)
                  for _ in range(args.memory_runs)]
        print(f"pack {label}: first call in a fresh interpreter, opening the pack: "
              f"{statistics.median(firsts) * 1e3:.2f} ms (median of {args.memory_runs})")


def mb(octets):
    return f"{octets / 1e6:.2f} MB"


def local_tables_message(_tarnwel, definitions, workdir):
    """(path, description) of a centre 98 message with local tables: from the corpus, else encoded by ecCodes."""
    corpus = SHARED / "corpus"
    for path in sorted(glob.glob(str(corpus / "*"))):
        try:
            messages = _tarnwel.parse_all_file(path)
            if not messages:
                continue
            message = messages[0]  # the first message of the file, as the child process takes it
            if message.originating_centre != 98 or message.local_tables_version_number == 0:
                continue
            _tarnwel.TableSet.from_definitions(definitions, message)
        except (ValueError, OSError):
            continue
        return path, (f"{os.path.relpath(path, ROOT)} (centre 98, master version "
                      f"{message.master_tables_version_number}, local version {message.local_tables_version_number})")
    try:
        import eccodes as ec
    except ImportError:
        return None, "no corpus at ../shared/corpus and no ecCodes bindings (pip install eccodes) to make a message"
    h = ec.codes_bufr_new_from_samples("BUFR4")
    for key, value in (("masterTableNumber", 0), ("bufrHeaderCentre", 98), ("bufrHeaderSubCentre", 0),
                       ("dataCategory", 0), ("masterTablesVersionNumber", 13), ("localTablesVersionNumber", 1),
                       ("numberOfSubsets", 1), ("observedData", 1), ("compressedData", 0)):
        ec.codes_set(h, key, value)
    ec.codes_set_array(h, "unexpandedDescriptors", [1001, 1002, 301011, 12101])
    ec.codes_set(h, "airTemperature", 280.15)
    ec.codes_set(h, "pack", 1)
    path = os.path.join(workdir, "centre98_local1.bufr")
    with open(path, "wb") as f:
        f.write(ec.codes_get_message(h))
    ec.codes_release(h)
    return path, "a message encoded here by ecCodes (no corpus; centre 98, master version 13, local version 1)"


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=21, help="timed loads per loader; the median counts (default 21)")
    parser.add_argument("--memory-runs", type=int, default=3,
                        help="fresh interpreters per loader for the memory figures; the median counts (default 3)")
    parser.add_argument("--keep", type=int, default=20,
                        help="sets loaded and kept after the first one, for the memory per set (default 20)")
    parser.add_argument("--definitions", default=DEFINITIONS, help=f"ecCodes definitions root (default {DEFINITIONS})")
    parser.add_argument("--version", default="39", help="WMO master tables version for from_eccodes (default 39)")
    parser.add_argument("--pack-versions", default="13,29,33,37,39,46",
                        help="master versions loaded from the table pack (default 13,29,33,37,39,46)")
    parser.add_argument("--wmo-csv", default=str(SHARED / "wmo-bufr4"),
                        help="directory of WMO BUFR4 CSV files for from_bufr4_45 (default ../shared/wmo-bufr4)")
    args = parser.parse_args(argv)

    import _tarnwel

    cases = []
    wmo = os.path.join(args.definitions, "bufr", "tables", "0", "wmo", args.version)
    if os.path.isdir(wmo) and not os.path.islink(wmo) and os.path.isfile(os.path.join(wmo, "element.table")):
        cases.append(("from_eccodes", wmo, None, f"{wmo} (a real directory)"))
    elif os.path.exists(wmo):
        print(f"from_eccodes: skipped, {wmo} is an alias or lacks element.table; choose another --version")
    else:
        print(f"from_eccodes: skipped, no {wmo} (apt-get install -y libeccodes-data, or pass --definitions)")

    if os.path.isdir(args.wmo_csv):
        cases.append(("from_bufr4_45", args.wmo_csv, None, os.path.relpath(args.wmo_csv, ROOT)))
    else:
        print(f"from_bufr4_45: skipped, no WMO CSV directory at {args.wmo_csv}")

    with tempfile.TemporaryDirectory() as workdir:
        message_file = None
        if os.path.isdir(args.definitions):
            message_file, about = local_tables_message(_tarnwel, args.definitions, workdir)
            if message_file:
                cases.append(("from_definitions", args.definitions, message_file, about))
            else:
                print(f"from_definitions: skipped, {about}")
        else:
            print(f"from_definitions: skipped, no definitions root at {args.definitions}")
        pack_vs_disk(_tarnwel, args, message_file)

        for loader, path, message_file, about in cases:
            if loader == "from_definitions":
                message = _tarnwel.parse_all_file(message_file)[0]
                load = lambda: _tarnwel.TableSet.from_definitions(path, message)
            else:
                load = lambda: getattr(_tarnwel.TableSet, loader)(path)
            print(f"{loader}: {about}")
            median, best, shown = time_loads(load, args.runs)
            print(f"{loader}: {shown}")
            goal = GOAL_MS.get(loader)
            goal_text = f"goal < {goal:.0f} ms: {'met' if median * 1e3 < goal else 'NOT met'}" if goal else "no goal"
            print(f"{loader}: time median of {args.runs}: {median * 1e3:.2f} ms "
                  f"(best {best * 1e3:.2f} ms; {goal_text})")
            memory = measure_memory(loader, path, message_file, args.keep, args.memory_runs)
            print(f"{loader}: peak RSS growth during the first load: {mb(memory['peak'])} "
                  f"(median of {args.memory_runs} fresh interpreters)")
            print(f"{loader}: anonymous memory held after the first load: {mb(memory['held'])}")
            if "per_set" in memory:
                per_set = memory["per_set"]
                print(f"{loader}: memory per loaded set, {args.keep} sets kept: {mb(per_set)} "
                      f"(goal < {GOAL_MB:.0f} MB: {'met' if per_set < GOAL_MB * 1e6 else 'NOT met'})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
