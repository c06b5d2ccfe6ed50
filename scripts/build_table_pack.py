#!/usr/bin/env python3
"""Builds the table pack that ships in the wheel: every BUFR table version and local table we can source.

Sources, for each file the first that has it:
  element.table, sequence.def  ecCodes' built-in definitions (PyPI `eccodes` brings `eccodeslib`, whose
                               codes_export_resource writes any of them), then the ecCodes definitions tree on disk
                               (Debian's libeccodes-data), then WMO's BUFR4 CSV release for a version neither has
  codetables/*.table           the tree on disk; a master version without any takes those of the WMO CSV release
                               nearest to it, over those of the newest version that has ecCodes code tables (WMO's
                               CSV lacks the common code tables, such as C-1 for originating centres)
An element table made of WMO's CSV takes its keys (the abbreviation column) and types from the newest ecCodes
version with the same descriptor.

Every directory a message can name (`<table>/wmo/<version>`, `<table>/local/<version>/<centre>/<subcentre>`) is a
unit. Element and sequence texts are cut into chunks at content-defined line boundaries, so that the lines two
versions share are stored once; each code table text is one chunk. Chunks used by the same units are compressed
together, so that loading a unit inflates exactly the texts it needs. tarnwel/table_pack.py reads the layout
(little-endian): MAGIC, u32 FORMAT, u32 n, n octets of the raw-deflated JSON index, then the raw-deflated groups and
unit records, located by the index as [offset, length] from the end of the index. A unit record is u32s: the number
of pieces of element.table (NONE when the directory lacks it) and (group, offset, length) of each piece in its
inflated group, the same for sequence.def, then the number of code tables and (code, group, offset, length) of each.

    .venv/bin/python scripts/build_table_pack.py                # writes python/tarnwel/tables/pack.bin
    .venv/bin/python scripts/build_table_pack.py --tree DIR     # also writes the assembled tree as files

The output depends only on the sources: running it twice gives the same bytes.
"""

import argparse
import concurrent.futures
import csv
import glob
import hashlib
import json
import os
import pathlib
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib
from dataclasses import dataclass, field

ROOT = pathlib.Path(__file__).resolve().parent.parent
DEFINITIONS = "/usr/share/eccodes/definitions"
WMO_CSV = ROOT.parent / "shared" / "wmo-bufr4"
OUT_DIR = ROOT / "python" / "tarnwel" / "tables"
APACHE_TEXT = "/usr/share/common-licenses/Apache-2.0"

MAGIC = b"TARNWEL TABLE PACK\n\0"
FORMAT = 1
NONE = 0xFFFFFFFF  # a unit record's count for a file the directory lacks
CHUNK_MODULUS = 32  # a chunk ends after a line whose CRC-32 is a multiple of this: ~32 lines
MAX_ALIAS_HOPS = 32  # as the loader allows
STREAM_COST = 2700  # octets that inflate in the time one more stream costs to start
LOCAL_VERSION_NAME = re.compile(r"(?:19-)?[1-9][0-9]*")


@dataclass
class TableDir:
    """What one table directory holds: texts as bytes, code tables by element code."""

    element_table: bytes | None = None
    sequence_def: bytes | None = None
    code_tables: dict[int, bytes] = field(default_factory=dict)

    def digest(self):
        h = hashlib.sha256()
        for text in (self.element_table, self.sequence_def):
            h.update(b"-" if text is None else b"+%d:" % len(text) + text)
        for code in sorted(self.code_tables):
            h.update(b"%d:%d:" % (code, len(self.code_tables[code])) + self.code_tables[code])
        return h.hexdigest()


def fail(text):
    raise SystemExit(f"build_table_pack: {text}")


def canonical_number(name, maximum):
    """Whether `name` is how a section 1 field of at most `maximum` is written in a path."""
    return name.isascii() and name.isdigit() and str(int(name)) == name and int(name) <= maximum


# --- the ecCodes definitions tree on disk ---------------------------------------------------------------------------

def resolve_alias(path):
    """The directory a master version path names: itself, or the end of its chain of alias files."""
    for _ in range(MAX_ALIAS_HOPS + 1):
        if os.path.isdir(path):
            return path
        if not os.path.isfile(path):
            return None
        with open(path, encoding="utf-8") as f:
            target = f.read().strip()
        if not target or "/" in target or "\\" in target:
            fail(f"invalid alias file {path}")
        path = os.path.join(os.path.dirname(path), target)
    fail(f"alias chain too long at {path}")


def read_file(path):
    if not os.path.isfile(path):
        fail(f"{path} is not a regular file")
    with open(path, "rb") as f:
        return f.read()


def read_code_tables(path):
    """{code: text} of a codetables directory, in the loader's file order (a later name of one code wins)."""
    tables = {}
    names = sorted(os.listdir(path), key=os.fsencode)
    for name in names:
        if not name.endswith(".table"):
            continue
        stem = name[: name.rfind(".")]
        if not (stem.isascii() and stem.isdigit()):
            fail(f"unexpected code table file name {os.path.join(path, name)}")
        tables[int(stem)] = read_file(os.path.join(path, name))
    return tables


def read_table_dir(path):
    found = TableDir()
    if os.path.exists(os.path.join(path, "element.table")):
        found.element_table = read_file(os.path.join(path, "element.table"))
    if os.path.exists(os.path.join(path, "sequence.def")):
        found.sequence_def = read_file(os.path.join(path, "sequence.def"))
    if os.path.exists(os.path.join(path, "codetables")):
        found.code_tables = read_code_tables(os.path.join(path, "codetables"))
    return found


def sorted_entries(path):
    return sorted(os.listdir(path), key=os.fsencode) if os.path.isdir(path) else []


def read_definitions_tree(root):
    """{unit path: TableDir} of every master and local directory a message can reach under `root`."""
    tables = os.path.join(root, "bufr", "tables")
    if not os.path.isdir(tables):
        fail(f"no ecCodes definitions tree at {root} (apt-get install libeccodes-data, or pass --definitions)")
    dirs = {}
    for number in sorted_entries(tables):
        if not canonical_number(number, 255):
            continue
        wmo = os.path.join(tables, number, "wmo")
        for version in sorted_entries(wmo):
            target = resolve_alias(os.path.join(wmo, version)) if canonical_number(version, 255) else None
            if target is not None:
                dirs[f"{number}/wmo/{version}"] = read_table_dir(target)
        local = os.path.join(tables, number, "local")
        for version in sorted_entries(local):
            if not LOCAL_VERSION_NAME.fullmatch(version) or int(version.rpartition("-")[2]) > 255:
                continue
            for centre in sorted_entries(os.path.join(local, version)):
                for subcentre in sorted_entries(os.path.join(local, version, centre)):
                    path = os.path.join(local, version, centre, subcentre)
                    if canonical_number(centre, 65535) and canonical_number(subcentre, 65535) and os.path.isdir(path):
                        dirs[f"{number}/local/{version}/{centre}/{subcentre}"] = read_table_dir(path)
    return dirs


def debian_version():
    try:
        out = subprocess.run(["dpkg-query", "-W", "-f", "${Version}", "libeccodes-data"],
                             capture_output=True, text=True, check=True)
    except (OSError, subprocess.CalledProcessError):
        return "unknown"
    return out.stdout.strip()


# --- ecCodes' built-in definitions ----------------------------------------------------------------------------------

class BuiltInDefinitions:
    """Files of ecCodes' built-in definitions, through codes_export_resource (which cannot list them)."""

    def __init__(self, tool):
        self.tool = tool
        out = subprocess.run([os.path.join(os.path.dirname(tool), "codes_info"), "-v"],
                             capture_output=True, text=True, check=True)
        self.version = out.stdout.strip()

    def export(self, resource):
        with tempfile.TemporaryDirectory() as scratch:
            out = os.path.join(scratch, "out")
            run = subprocess.run([self.tool, "-d", resource, out], capture_output=True, text=True)
            if run.returncode == 0:
                return read_file(out)
            if "Failed to access definition file" in run.stdout + run.stderr:
                return None
            fail(f"{self.tool} -d {resource}: {run.stdout}{run.stderr}")

    def export_all(self, resources):
        with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
            return dict(zip(resources, pool.map(self.export, resources)))

    def read_dirs(self, unit_paths, master_tables):
        """{unit path: TableDir} of the given directories and of every master version found by probing."""
        found = {}

        def take(paths):
            files = self.export_all([f"bufr/tables/{p}/{name}" for p in paths
                                     for name in ("element.table", "sequence.def")])
            for p in paths:
                element = files[f"bufr/tables/{p}/element.table"]
                sequence = files[f"bufr/tables/{p}/sequence.def"]
                if element is not None or sequence is not None:
                    found[p] = TableDir(element, sequence)

        take(sorted(unit_paths))
        # Master versions have no gaps above the oldest, so probing stops at the first one missing.
        for number, newest in sorted(master_tables.items()):
            take([f"{number}/wmo/{v}" for v in range(newest + 1) if f"{number}/wmo/{v}" not in unit_paths])
            version = newest + 1
            while True:
                take([f"{number}/wmo/{version}"])
                if f"{number}/wmo/{version}" not in found:
                    break
                version += 1
        return found


def find_export_tool():
    try:
        import eccodeslib
    except ImportError:
        fail("ecCodes' built-in definitions are needed: pip install eccodes (or pass --export-tool)")
    return os.path.join(os.path.dirname(eccodeslib.__file__), "bin", "codes_export_resource")


# --- WMO's BUFR4 CSV release ----------------------------------------------------------------------------------------

def read_csv_rows(path):
    with open(path, newline="", encoding="utf-8") as f:
        return list(csv.DictReader(f))


class WmoRelease:
    def __init__(self, path):
        self.path = path
        source = pathlib.Path(path, "SOURCE.txt").read_text(encoding="utf-8")
        match = re.search(r"\btag v(\d+)\b", source)
        if not match:
            fail(f"{path}/SOURCE.txt names no release tag v<version>")
        self.version = int(match.group(1))
        self.source = source.splitlines()[0]

    def files(self, prefix):
        return sorted(glob.glob(os.path.join(self.path, prefix + "*.csv")))

    def code_tables(self):
        """{code: text} in the ecCodes layout: one "<figure> <figure> <meaning>" line per single code figure."""
        lines = {}
        for path in self.files("BUFRCREX_CodeFlag_en_"):
            for row in read_csv_rows(path):
                figure, meaning = row["CodeFigure"].strip(), " ".join(row["EntryName_en"].split())
                # Ranges ("8-30") and "All 4" rows name no single figure.
                if figure.isascii() and figure.isdigit() and meaning:
                    lines.setdefault(int(row["FXY"]), []).append(f"{int(figure)} {int(figure)} {meaning}\n")
        return {code: "".join(text).encode() for code, text in sorted(lines.items())}

    def element_table(self, known):
        """element.table made of Table B; `known` gives {code: (key, type)} of the newest ecCodes entries."""
        out = ["#code|abbreviation|type|name|unit|scale|reference|width|crex_unit|crex_scale|crex_width\n"]
        for path in self.files("BUFRCREX_TableB_en_"):
            for row in read_csv_rows(path):
                code, unit, scale = int(row["FXY"]), row["BUFR_Unit"], int(row["BUFR_Scale"])
                kind = element_kind(unit, scale)
                key, known_type = known.get(code, (camel_key(row["ElementName_en"]), kind))
                fields = [row["FXY"], key, known_type if same_kind(known_type, kind) else kind,
                          row["ElementName_en"], unit, row["BUFR_Scale"],
                          row["BUFR_ReferenceValue"], row["BUFR_DataWidth_Bits"], row["CREX_Unit"],
                          row["CREX_Scale"], row["CREX_DataWidth_Char"]]
                if any("|" in f or "\n" in f for f in fields):
                    fail(f"{path}: a field of {row['FXY']} holds '|' or a line break")
                out.append("|".join(fields) + "\n")
        return "".join(out).encode()

    def sequence_def(self):
        """sequence.def made of Table D; a later file's sequence replaces one of the same code, as on loading."""
        out = []
        for path in self.files("BUFR_TableD_en_"):
            members = {}
            for row in read_csv_rows(path):
                members.setdefault(row["FXY1"], []).append(row["FXY2"])
            out.extend(f'"{code}" = [  {", ".join(items)} ]\n' for code, items in members.items())
        return "".join(out).encode()


def element_kind(unit, scale):
    """The ecCodes type for a Table B unit ("Common Code table C-1" is a code table too)."""
    lowered = unit.lower()
    if unit == "CCITT IA5":
        return "string"
    if "flag table" in lowered:
        return "flag"
    if "code table" in lowered:
        return "table"
    return "double" if scale > 0 else "long"


def same_kind(a, b):
    textual = ("string", "table", "flag")
    return a == b or (a not in textual and b not in textual)


def camel_key(name):
    words = re.findall(r"[A-Za-z0-9]+", name)
    return "".join([words[0].lower()] + [w[:1].upper() + w[1:] for w in words[1:]]) if words else "unnamed"


def known_elements(dirs, number):
    """{code: (key, type)} from the element tables of master table `number`, the newest version winning."""
    known = {}
    for _, path in master_versions(dirs, number):
        text = dirs[path].element_table or b""
        for line in text.decode("utf-8").splitlines():
            fields = line.split("|")
            if len(fields) >= 8 and fields[0].strip().isdigit():
                known[int(fields[0])] = (fields[1], fields[2])
    return known


# --- assembling the tree --------------------------------------------------------------------------------------------

def master_versions(dirs, number):
    """[(version, unit path)] of master table `number`, oldest first."""
    return sorted((int(p.rsplit("/", 1)[1]), p) for p in dirs if p.startswith(f"{number}/wmo/"))


def assemble(disk, built_in, releases):
    """{unit path: TableDir} of everything the pack holds, and {unit path: [names of its sources]}."""
    dirs, origin = {}, {}
    for path in sorted(set(disk) | set(built_in)):
        mine, theirs = built_in.get(path, TableDir()), disk.get(path, TableDir())
        table_dir, used = TableDir(code_tables=dict(theirs.code_tables)), set()
        for name in ("element_table", "sequence_def"):
            text = getattr(mine, name)
            if text is not None:
                used.add("ecCodes built-in")
            elif getattr(theirs, name) is not None:
                text = getattr(theirs, name)
                used.add("ecCodes tree")
            setattr(table_dir, name, text)
        if theirs.code_tables:
            used.add("ecCodes tree")
        dirs[path], origin[path] = table_dir, sorted(used)
    for release in releases:
        path = f"0/wmo/{release.version}"
        if path not in dirs:
            dirs[path] = TableDir(release.element_table(known_elements(dirs, 0)), release.sequence_def())
            origin[path] = [f"WMO BUFR4 v{release.version}"]
    # Only versions newer than every one with ecCodes code tables take WMO's.
    with_codes = [v for v, p in master_versions(dirs, 0) if dirs[p].code_tables]
    if not releases or not with_codes:
        return dirs, origin
    newest_codes = dirs[f"0/wmo/{with_codes[-1]}"].code_tables
    csv_tables = {r.version: r.code_tables() for r in releases}
    for version, path in master_versions(dirs, 0):
        if version > with_codes[-1] and not dirs[path].code_tables:
            nearest = min((v for v in csv_tables if v >= version), default=max(csv_tables))
            dirs[path].code_tables = {**newest_codes, **csv_tables[nearest]}
            origin[path] = sorted(set(origin[path]) | {"ecCodes tree", f"WMO BUFR4 v{nearest}"})
    return dirs, origin


# --- writing the pack -----------------------------------------------------------------------------------------------

def chunks(text):
    """`text` cut after each line whose CRC-32 is a multiple of CHUNK_MODULUS; the pieces join back to it."""
    pieces, current = [], []
    for line in text.splitlines(keepends=True):
        current.append(line)
        if zlib.crc32(line) % CHUNK_MODULUS == 0:
            pieces.append(b"".join(current))
            current = []
    if current:
        pieces.append(b"".join(current))
    return pieces


def unit_texts(table_dir):
    """(pieces of element.table or None, pieces of sequence.def or None, [(code, [text])])."""
    split = lambda text: None if text is None else chunks(text)
    return (split(table_dir.element_table), split(table_dir.sequence_def),
            [(code, [text]) for code, text in sorted(table_dir.code_tables.items())])


def write_pack(dirs, origin, sources, out_path):
    # Units: distinct directory contents, in the order of their first path.
    unit_of, units = {}, []
    by_digest = {}
    for path in sorted(dirs, key=unit_sort_key):
        digest = dirs[path].digest()
        if digest not in by_digest:
            by_digest[digest] = len(units)
            units.append(unit_texts(dirs[path]))
        unit_of[path] = by_digest[digest]

    # Chunks, each with the set of units that use it.
    users, order = {}, {}
    for number, (element, sequence, codes) in enumerate(units):
        for piece in iter_pieces(element, sequence, codes):
            users.setdefault(piece, set()).add(number)
            order.setdefault(piece, len(order))
    groups = merge_groups(users, order)

    payload, group_table, where = bytearray(), [], {}
    for number, members in enumerate(groups):
        raw, offset = bytearray(), 0
        for piece in members:
            where[piece] = (number, offset, len(piece))
            raw += piece
            offset += len(piece)
        packed = deflate(bytes(raw))
        group_table.append([len(payload), len(packed), len(raw)])
        payload += packed

    unit_table = []
    for element, sequence, codes in units:
        record = []
        for pieces in (element, sequence):
            if pieces is None:
                record.append(NONE)
            else:
                record.append(len(pieces))
                for piece in pieces:
                    record.extend(where[piece])
        record.append(len(codes))
        for code, (text,) in codes:
            record.append(code)
            record.extend(where[text])
        packed = deflate(struct.pack(f"<{len(record)}I", *record))
        unit_table.append([len(payload), len(packed)])
        payload += packed

    index = {
        "format": FORMAT,
        "sources": sources,
        "masters": nested(p for p in dirs if "/wmo/" in p),
        "locals": nested(p for p in dirs if "/local/" in p),
        "units": unit_table,
        "groups": group_table,
        "origin": {p: origin[p] for p in sorted(dirs, key=unit_sort_key)},
    }
    for kind in ("masters", "locals"):
        for number, entries in index[kind].items():
            for name in entries:
                entries[name] = unit_of[f"{number}/{'wmo' if kind == 'masters' else 'local'}/{name}"]
    head = zlib.compress(json.dumps(index, sort_keys=True, separators=(",", ":")).encode(), 9)
    data = MAGIC + struct.pack("<II", FORMAT, len(head)) + head + payload
    pathlib.Path(out_path).write_bytes(data)
    return len(units), len(groups), len(data)


def merge_groups(users, order):
    """Lists of chunks to compress together. Chunks used by the same units go together; then a small group joins
    another when the streams this saves the units they share outweigh the octets it makes the other units inflate."""
    exact = {}
    for piece in sorted(users, key=order.__getitem__):
        exact.setdefault(frozenset(users[piece]), []).append(piece)
    groups = [(set(units), sum(map(len, pieces)), pieces) for units, pieces in exact.items()]
    merged = True
    while merged:
        merged = False
        groups.sort(key=lambda group: group[1])
        for i, (units, size, pieces) in enumerate(groups):
            best_gain, best = 0, None
            for j, (other_units, other_size, _) in enumerate(groups):
                shared = len(units & other_units)
                if i == j or not shared:
                    continue
                waste = size * len(other_units - units) + other_size * len(units - other_units)
                gain = shared * STREAM_COST - waste
                if gain > best_gain:
                    best_gain, best = gain, j
            if best is not None:
                other_units, other_size, other_pieces = groups[best]
                groups[best] = (units | other_units, size + other_size, other_pieces + pieces)
                del groups[i]
                merged = True
                break
    return [pieces for _, _, pieces in groups]


def deflate(data):
    """Raw deflate: no checksum to compute when loading."""
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    return packer.compress(data) + packer.flush()


def iter_pieces(element, sequence, codes):
    for pieces in (element, sequence):
        yield from pieces or ()
    for _, (text,) in codes:
        yield text


def unit_sort_key(path):
    return [(0, int(part), "") if part.isdigit() else (1, 0, part) for part in path.split("/")]


def nested(paths):
    """{"0": {"39": None, ...}} of unit paths "0/wmo/39" (the unit numbers are filled in later)."""
    out = {}
    for path in sorted(paths, key=unit_sort_key):
        number, _, rest = path.split("/", 2)
        out.setdefault(number, {})[rest] = None
    return out


def write_tree(dirs, root):
    """The assembled directories as an ecCodes definitions root."""
    for path, table_dir in dirs.items():
        target = pathlib.Path(root, "bufr", "tables", path)
        target.mkdir(parents=True, exist_ok=True)
        if table_dir.element_table is not None:
            (target / "element.table").write_bytes(table_dir.element_table)
        if table_dir.sequence_def is not None:
            (target / "sequence.def").write_bytes(table_dir.sequence_def)
        if table_dir.code_tables:
            (target / "codetables").mkdir(exist_ok=True)
            for code, text in table_dir.code_tables.items():
                (target / "codetables" / f"{code}.table").write_bytes(text)


def write_licences(releases, out_dir, sources):
    copyright_file = "/usr/share/doc/libeccodes-data/copyright"
    copies = {"ecCodes-copyright": copyright_file, "ecCodes-LICENSE": APACHE_TEXT}
    copies.update({f"WMO-BUFR4-v{r.version}-LICENSE.md": os.path.join(r.path, "LICENSE.md") for r in releases})
    for name, source in copies.items():
        if not os.path.isfile(source):
            fail(f"licence text {source} is missing")
        shutil.copyfile(source, os.path.join(out_dir, name))
    notice = ["BUFR tables in pack.bin, repacked by tarnwel's scripts/build_table_pack.py (texts unchanged, each",
              "distinct text stored once and compressed; code tables of master versions without ecCodes code tables",
              "written from WMO's CSV code and flag tables in the ecCodes layout).", "",
              "ecCodes definitions: Copyright 2005- ECMWF, Apache License 2.0 (ecCodes-LICENSE, ecCodes-copyright).",
              "In applying this licence, ECMWF does not waive the privileges and immunities granted to it by virtue of",
              "its status as an intergovernmental organisation nor does it submit to any jurisdiction.", "",
              "WMO BUFR4 tables: MIT License (WMO-BUFR4-v*-LICENSE.md).", "", "Sources:"]
    notice += [f"  {name}: {text}" for name, text in sorted(sources.items())]
    pathlib.Path(out_dir, "NOTICE").write_text("\n".join(notice) + "\n", encoding="utf-8")


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--definitions", default=DEFINITIONS, help=f"ecCodes definitions root (default {DEFINITIONS})")
    parser.add_argument("--wmo-csv", action="append", help=f"a WMO BUFR4 CSV release (default {WMO_CSV})")
    parser.add_argument("--export-tool", help="eccodeslib's codes_export_resource (default: from `import eccodeslib`)")
    parser.add_argument("--out-dir", default=str(OUT_DIR), help="where pack.bin and the licences go")
    parser.add_argument("--tree", help="also write the assembled directories here, as a definitions root")
    args = parser.parse_args(argv)

    releases = [WmoRelease(path) for path in (args.wmo_csv or [str(WMO_CSV)])]
    disk = read_definitions_tree(args.definitions)
    built_in = BuiltInDefinitions(args.export_tool or find_export_tool())
    newest = {}
    for path in disk:
        number, kind, rest = path.split("/", 2)
        if kind == "wmo":
            newest[number] = max(newest.get(number, 0), int(rest))
    built_in_dirs = built_in.read_dirs(set(disk), {int(n): v for n, v in newest.items()})
    dirs, origin = assemble(disk, built_in_dirs, releases)

    sources = {"ecCodes tree": f"{args.definitions} (libeccodes-data {debian_version()})",
               "ecCodes built-in": f"eccodeslib, ecCodes {built_in.version}"}
    sources.update({f"WMO BUFR4 v{r.version}": r.source for r in releases})
    os.makedirs(args.out_dir, exist_ok=True)
    unit_count, group_count, size = write_pack(dirs, origin, sources, os.path.join(args.out_dir, "pack.bin"))
    write_licences(releases, args.out_dir, sources)
    if args.tree:
        write_tree(dirs, args.tree)
    masters = sum(1 for p in dirs if "/wmo/" in p)
    print(f"pack.bin: {size} bytes; {masters} master versions and {len(dirs) - masters} local tables "
          f"in {unit_count} distinct directories, {group_count} compressed groups")
    return 0


if __name__ == "__main__":
    sys.exit(main())
