"""The `tarnwel` command line, run as users run it: the installed entry point and `python -m tarnwel`."""

import fcntl
import json
import os
import pathlib
import pty
import select
import struct
import subprocess
import sys
import termios

import numpy as np
import pytest

import tarnwel
from tarnwel.cli import main

TARNWEL = pathlib.Path(sys.executable).parent / "tarnwel"
COMMANDS = {"entry point": [str(TARNWEL)], "module": [sys.executable, "-m", "tarnwel"]}


def run(*args, command="entry point", **options):
    return subprocess.run([*COMMANDS[command], *map(str, args)], capture_output=True, text=True,
                          timeout=120, **options)


@pytest.fixture(scope="module")
def broken_file(tmp_path_factory, data_dir):
    """A good message, one whose terminator is damaged, and a good one again."""
    good = (data_dir / "synop_uncompressed.bufr").read_bytes()
    path = tmp_path_factory.mktemp("cli") / "broken.bufr"
    path.write_bytes(good + good[:-1] + b"6" + good)
    return path


def test_ls_lists_every_message_from_its_header(data_dir):
    result = run("ls", data_dir / "multi.bufr")
    assert result.returncode == 0 and result.stderr == ""
    assert result.stdout.splitlines() == [
        " index     offset   length  ed   centre  cat subsets comp tables  typical time         descriptors",
        "     0         31      601   4     98/0    0       3   no   37/0  2024-03-15 12:00:00  307080",
        "     1        693     6421   4     98/0    2       1   no   33/0  2024-03-15 11:00:00  309052",
        "     2       7158     2246   4     98/0    5      50  yes   29/0  2024-03-15 12:00:00  001007 001015 "
        "301011 301013 005001 006001 007004 011001 011002 012101 222000 236000 101014 031031 001031 001032 "
        "101000 031001 033007 223000 237000 001031 001032 101004 223255",
        "     3       9476      191   4     98/0    1       2   no   31/0  2024-03-15 06:00:00  001011 301011 "
        "301012 301021 204007 031021 022043 012101 204000 011001 011002 101000 031001 302021",
    ]


def test_ls_json_gives_each_header_of_every_file(corpus_dir, data_dir):
    files = [data_dir / "multi.bufr", *sorted(corpus_dir.glob("wmo-im__wis2box__*.bin"))[:5]]
    result = run("ls", "--json", *files, command="module")
    records = [json.loads(line) for line in result.stdout.splitlines()]
    expected = []
    for path in files:
        for message in tarnwel.open(path):
            header = message.header()
            header["unexpanded_descriptors"] = [f"{code:06d}" for code in header["unexpanded_descriptors"]]
            expected.append({"file": str(path), **header})
    assert records == expected


@pytest.mark.parametrize("command", COMMANDS)
def test_a_bare_file_is_dumped_as_before(data_dir, command):
    result = run(data_dir / "synop_uncompressed.bufr", "--max-values", 4, command=command)
    assert result.returncode == 0 and result.stderr == ""
    assert result.stdout.splitlines() == [
        "message 0: centre 98, category 0, 3 subset(s), uncompressed, master tables 37, 350 values",
        "  001001  WMO BLOCK NUMBER                                  2 Numeric",
        "  001002  WMO STATION NUMBER                                974 Numeric",
        "  001015  STATION OR SITE NAME                              'HELSINKI-VANTAA'",
        "  002001  TYPE OF STATION                                   1 (MANNED)",
        "  ... 346 more values",
    ]


def test_dump_subsets_split_the_values_of_each_message(data_dir, capsys):
    path = data_dir / "multi.bufr"
    assert main(["dump", "--json", str(path)]) == 0
    whole = [json.loads(line) for line in capsys.readouterr().out.splitlines()]
    for message in whole:
        parts = []
        for subset in range(message["number_of_subsets"]):
            assert main(["dump", "--json", "--subset", str(subset), str(path)]) == 0
            mine = [json.loads(line) for line in capsys.readouterr().out.splitlines()]
            parts += [shown["values"] for shown in mine if shown["index"] == message["index"]][0]
        assert parts == message["values"], message["index"]
    assert [message["value_count"] for message in whole] == [350, 3044, 2250, 38]
    assert whole[0]["values"][2] == {"descriptor": "001015", "key": "stationOrSiteName", "name": "STATION OR SITE NAME",
                                     "value": "HELSINKI-VANTAA\x00\x00\x00\x00\x00", "unit": "CCITT IA5",
                                     "meaning": None}


@pytest.mark.parametrize(
    "args, status, stderr",
    [
        (["dump", "{broken}"], 1,
         "tarnwel: {broken}: message 1 at offset 601: section 5 terminator is not 7777\n"),
        (["ls", "--errors", "skip", "{broken}"], 0, ""),
        (["dump", "--errors", "warn", "--max-values", "0", "{broken}"], 0,
         "tarnwel: warning: {broken}: message 1 at offset 601: "
         "section 5 terminator is not 7777\n"),
        (["dump", "/nonexistent/x.bufr"], 1, "tarnwel: /nonexistent/x.bufr: No such file or directory\n"),
        (["dump", "--subset", "3", "{synop}"], 1, "tarnwel: {synop}: no message has a subset 3\n"),
        (["export", "{synop}", "-o", "table.txt"], 1,
         "tarnwel: table.txt: cannot tell the format from the suffix .txt; use .parquet, .csv, .jsonl, "
         ".ndjson or .json\n"),
        (["lookup", "--master-version", "37", "012101", "063255"], 1,
         "tarnwel: 063255: not in master tables version 37\n"),
        (["export", "{synop}", "-o", "t.csv", "--columns", "message", "--layout", "long"], 1,
         "tarnwel: 'message' is a column of the wide layout; the long layout selects keys\n"),
    ],
)
def test_errors_are_one_line_with_a_status(data_dir, broken_file, args, status, stderr):
    names = {"broken": broken_file, "synop": data_dir / "synop_uncompressed.bufr"}
    result = run(*[arg.format(**names) for arg in args])
    assert (result.returncode, result.stderr) == (status, stderr.format(**names))


@pytest.mark.parametrize(
    "args, text",
    [
        (["dump", "--max-values", "-1", "x.bufr"], "argument --max-values: must be 0 or more, not -1"),
        (["dump", "--subset", "one", "x.bufr"], "argument --subset: not a whole number: 'one'"),
        (["export", "x.bufr", "-o", "t.csv", "--filter", "novalue"],
         "argument --filter: a filter is KEY=VALUE, KEY=LO:HI or KEY=A,B,...; not 'novalue'"),
        (["lookup", "12345678"], "argument DESCRIPTOR: a descriptor is six digits FXXYYY, not '12345678'"),
        (["lookup", "064000"], "argument DESCRIPTOR: 064000 is no descriptor: F is 0-3, XX 0-63, YYY 0-255"),
    ],
)
def test_usage_errors_exit_with_2(args, text):
    result = run(*args)
    assert result.returncode == 2
    assert result.stderr.splitlines()[-1].endswith(f"error: {text}")


def test_a_closed_pipe_ends_the_dump_quietly(data_dir, tmp_path):
    path = tmp_path / "many.bufr"
    path.write_bytes((data_dir / "temp_uncompressed.bufr").read_bytes() * 200)
    result = subprocess.run(["bash", "-c", f'"{TARNWEL}" dump "{path}" | head -1; exit "${{PIPESTATUS[0]}}"'],
                            capture_output=True, text=True, timeout=120)
    assert (result.returncode, result.stderr) == (0, "")
    assert result.stdout.startswith("message 0: centre 98, category 2")


@pytest.mark.parametrize("suffix", [".parquet", ".csv", ".jsonl"])
def test_export_writes_what_read_dataframe_reads(data_dir, tmp_path, suffix):
    pd = pytest.importorskip("pandas")
    if suffix == ".parquet":
        pytest.importorskip("pyarrow")
    files = [data_dir / "multi.bufr", data_dir / "synop_uncompressed.bufr"]
    out = tmp_path / f"table{suffix}"
    columns = ["message", "stationOrSiteName", "latitude", "airTemperature", "data_datetime"]
    result = run("export", *files, "-o", out, "--columns", ",".join(columns[:3]),
                 "--columns", ",".join(columns[3:]), "--filter", "airTemperature=270:",
                 "--filter", "data_category=0,5", cwd=tmp_path)
    assert result.returncode == 0
    expected = tarnwel.read_dataframe(files, columns, filters={"airTemperature": slice(270, None)},
                                      header_filters={"data_category": [0, 5]})
    assert result.stderr == f"tarnwel: {out}: {len(expected)} rows from 3 messages written; 2 skipped, 0 failed\n"
    if suffix == ".parquet":
        written = pd.read_parquet(out)
    elif suffix == ".csv":
        written = pd.read_csv(out, parse_dates=["data_datetime"], dtype={"stationOrSiteName": object})
    else:
        written = pd.read_json(out, lines=True, dtype={"stationOrSiteName": object})
        written["data_datetime"] = pd.to_datetime(written["data_datetime"])
    written["data_datetime"] = written["data_datetime"].astype("datetime64[us]")
    written["stationOrSiteName"] = written["stationOrSiteName"].astype(object).where(
        written["stationOrSiteName"].notna(), None)
    if suffix == ".csv":  # CSV keeps no NUL-free difference between a missing and an empty text
        expected["stationOrSiteName"] = expected["stationOrSiteName"].where(
            expected["stationOrSiteName"].notna(), None)
    pd.testing.assert_frame_equal(written, expected, check_dtype=False)
    assert len(expected) == 21


@pytest.mark.parametrize("selection, filters, header_filters", [
    ([], None, None),                                     # rows: the types to keep
    (["--filter", "data_category=99"], None, {"data_category": 99}),                  # no batch at all
    (["--filter", "airTemperature=1000:"], {"airTemperature": slice(1000, None)}, None),  # a batch of no rows
])
def test_an_exported_parquet_keeps_the_column_types_of_the_frame(data_dir, tmp_path, selection, filters,
                                                                 header_filters):
    """`rank` and `key` are element keys here, not the long layout's columns."""
    pd = pytest.importorskip("pandas")
    pytest.importorskip("pyarrow")
    source = data_dir / "synop_uncompressed.bufr"
    columns = ["data_datetime", "message", "airTemperature", "#2#airTemperature", "rank", "key"]
    out = tmp_path / "table.parquet"
    assert main(["export", str(source), "-o", str(out), "--columns", ",".join(columns), *selection]) == 0
    expected = tarnwel.read_dataframe(source, columns, filters=filters, header_filters=header_filters)
    written = pd.read_parquet(out)
    assert dict(written.dtypes) == dict(expected.dtypes)
    pd.testing.assert_frame_equal(written, expected, check_column_type=False)
    assert len(expected) == (0 if selection else 3)


def test_the_progress_bar_shows_on_a_terminal_only(data_dir, tmp_path):
    pytest.importorskip("pandas")
    args = [str(TARNWEL), "export", str(data_dir / "multi.bufr"), "-o", str(tmp_path / "t.csv")]
    piped = subprocess.run(args, capture_output=True, text=True, timeout=120)
    assert piped.stderr == f"tarnwel: {tmp_path / 't.csv'}: 56 rows from 4 messages written; 0 skipped, 0 failed\n"
    leader, follower = pty.openpty()
    # A new pseudo-terminal is 0 columns wide, and a bar in no columns is drawn as nothing.
    fcntl.ioctl(follower, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 100, 0, 0))
    process = subprocess.Popen(args, stdin=follower, stdout=follower, stderr=follower, close_fds=True)
    os.close(follower)
    seen = b""
    while True:
        ready, _, _ = select.select([leader], [], [], 60)
        if not ready:
            break
        try:
            chunk = os.read(leader, 4096)
        except OSError:  # the terminal closes when the process ends
            break
        if not chunk:
            break
        seen += chunk
    assert process.wait(timeout=60) == 0
    os.close(leader)
    text = seen.decode()
    assert "B/s]" in text and "|" in text, text
    assert text.rstrip().endswith("56 rows from 4 messages written; 0 skipped, 0 failed")


def test_lookup_shows_elements_sequences_and_code_tables():
    result = run("lookup", "--master-version", "37", "012101", "301011", "101002", "020011")
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    assert lines[:9] == [
        "012101  element  TEMPERATURE/AIR TEMPERATURE",
        "        key airTemperature, unit K, scale 2, reference 0, width 16",
        "301011  sequence of 3",
        "        004001  year  YEAR",
        "        004002  month  MONTH",
        "        004003  day  DAY",
        "101002  replication of the next 1 descriptor(s), 2 times",
        "020011  element  CLOUD AMOUNT",
        "        key cloudAmount, unit CODE TABLE, scale 0, reference 0, width 4",
    ]
    assert lines[9:12] == ["        code table:", "             0  0",
                           "             1  1 OKTA OR LESS, BUT NOT ZERO"]
    flags = json.loads(run("lookup", "--json", "--master-version", "37", "002002").stdout)
    assert flags["unit"] == "FLAG TABLE"
    assert flags["table"][:3] == [[1, "CERTIFIED INSTRUMENTS"], [2, "ORIGINALLY MEASURED IN KNOTS"],
                                  [3, "ORIGINALLY MEASURED IN KM H-1"]]


@pytest.mark.parametrize("suffix", [".parquet", ".csv", ".jsonl"])
def test_streamed_export_of_every_column_reads_back_as_the_frame(data_dir, tmp_path, monkeypatch, suffix):
    """Batches of 7 rows: columns first met in a later batch are empty before it."""
    pd = pytest.importorskip("pandas")
    if suffix == ".parquet":
        pytest.importorskip("pyarrow")
    from tarnwel import dataframe

    files = sorted(str(p) for p in data_dir.glob("*.bufr") if p.name in (
        "multi.bufr", "synop_uncompressed.bufr", "temp_uncompressed.bufr", "amv_compressed.bufr"))
    expected = tarnwel.read_dataframe(files)
    monkeypatch.setattr(dataframe, "BATCH_ROWS", 7)
    out = tmp_path / f"all{suffix}"
    assert main(["export", *files, "-o", str(out)]) == 0
    assert sorted(p.name for p in tmp_path.iterdir()) == [out.name]  # no spool or partial file left
    if suffix == ".parquet":
        written = pd.read_parquet(out)
    elif suffix == ".csv":
        written = pd.read_csv(out, dtype={n: object for n in expected.columns if expected[n].dtype == object})
    else:
        written = pd.read_json(out, lines=True, dtype=False)
    assert list(written.columns) == list(expected.columns)
    for name in expected.columns:
        left, right = expected[name], written[name]
        if left.dtype == object:
            assert [v if isinstance(v, str) and v else None for v in left] == \
                   [v if isinstance(v, str) and v else None for v in right], name
        else:
            # pandas' JSON reader parses decimals to within an ulp or so
            np.testing.assert_allclose(pd.to_numeric(right).astype(float), left.astype(float), rtol=1e-12,
                                       equal_nan=True, err_msg=name)
    assert len(expected) > 50 and expected.shape[1] > 100
