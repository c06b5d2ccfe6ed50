"""tarnwel.read_dataframe: against pdbufr's flat reader over the corpus, layouts, filters, computed columns."""

import re
import subprocess
import sys
import warnings

import numpy as np
import pytest

import tarnwel
from tarnwel import dataframe
from tarnwel.wide_batch import parallel

pd = pytest.importorskip("pandas")

RANKED = re.compile(r"#(\d+)#(.+)")
CODE = re.compile(r"\d{6}")
# Small enough for pdbufr, which spends milliseconds on each subset.
PEER_MAX_BYTES = 30_000


def corpus_files(corpus_dir, max_bytes=None):
    files = sorted(p for p in corpus_dir.iterdir() if p.suffix not in (".tsv", ".md"))
    return [p for p in files if max_bytes is None or p.stat().st_size <= max_bytes]


def readable(path):
    """Whether every message of `path` decodes with the installed tables."""
    reader = tarnwel.open(path, errors="skip")
    for message in reader:
        try:
            message.decoded()
        except tarnwel.DecodeError:
            return False
    return reader.counts.failed == 0 and reader.counts.messages > 0


def shared_keys(path):
    """Keys that several descriptors of the file carry: our frame names the later ones by
    their code (``004025``), where ecCodes ranks them all under one key."""
    keys = set()
    for message in tarnwel.open(path):
        for column in message.columns():
            if CODE.fullmatch(column.name):
                element = message.tables.get_element(column.descriptor)
                keys.add(element.abbreviation if element is not None else column.name)
    return keys


def uses_bitmaps(path):
    for message in tarnwel.open(path):
        if any(222000 <= code <= 237255 for code in message.tables.expand(message.unexpanded_descriptors)):
            return True
    return False


def same_texts(theirs, ours):
    # pdbufr gives "" for a missing text and drops NUL padding; ours keeps what the message has,
    # and shows octets of 0x80 and above as "?" where pdbufr has U+FFFD.
    def clean(value):
        if value is None or (isinstance(value, float) and np.isnan(value)):
            return ""
        return str(value).rstrip("\x00 ").strip().replace("\ufffd", "?")

    return [clean(value) for value in theirs] == [clean(value) for value in ours]


def test_wide_frames_match_pdbufr_flat_reader_over_the_corpus(corpus_dir):
    pdbufr = pytest.importorskip("pdbufr")
    compared = 0
    for path in corpus_files(corpus_dir, PEER_MAX_BYTES):
        if not readable(path):
            continue
        ours = tarnwel.read_dataframe(path)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            theirs = pdbufr.read_bufr(path, reader="flat")
        assert len(ours) == len(theirs), path.name
        # ecCodes calls 2 05 YYY character data "text", the core "characterData".
        skip = shared_keys(path) | {"text"}
        bitmaps = uses_bitmaps(path)
        for column in theirs.columns:
            ranked = RANKED.fullmatch(column)
            if ranked is None or ranked.group(2).split("->")[0] in skip:
                continue
            rank, key = int(ranked.group(1)), ranked.group(2)
            name = key if rank == 1 else f"#{rank}#{key}"
            if name not in ours.columns:
                # pdbufr ranks associated fields its own way, and gives the elements that
                # bitmaps refer to again as further ranks; any other column must be ours too.
                assert (theirs[column].isna().all() or "->associatedField" in key
                        or (bitmaps and key in ours.columns)), (path.name, column)
                continue
            left, right = theirs[column].to_numpy(), ours[name].to_numpy()
            if ours[name].dtype == object:
                assert same_texts(left, right), (path.name, column)
            else:
                np.testing.assert_allclose(pd.to_numeric(left, errors="coerce").astype(float), right,
                                           rtol=1e-12, equal_nan=True, err_msg=f"{path.name} {column}")
            compared += 1
    assert compared > 5000


def test_computed_columns_match_pdbufr_on_synop_files(corpus_dir):
    pdbufr = pytest.importorskip("pdbufr")
    columns = ["data_datetime", "WMO_station_id", "latitude", "airTemperature"]
    files = [p for p in corpus_files(corpus_dir, PEER_MAX_BYTES) if "synop" in p.name and readable(p)]
    assert files
    compared = 0
    for path in files:
        # pdbufr leaves out the subsets that lack a requested element.
        ours = tarnwel.read_dataframe(path, columns, filters={
            "latitude": lambda s: s.notna(), "airTemperature": lambda s: s.notna()})
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            theirs = pdbufr.read_bufr(path, columns=columns, reader="flat")
        if "data_datetime" not in theirs.columns:
            continue  # the peer reads nothing from this file (edition 3, or tables it lacks)
        compared += 1
        assert list(ours.columns) == columns
        assert ours["data_datetime"].dtype == "datetime64[us]"
        pd.testing.assert_series_equal(ours["data_datetime"], theirs["data_datetime"].astype("datetime64[us]"))
        np.testing.assert_array_equal(ours["WMO_station_id"], theirs["WMO_station_id"].astype(float))
    assert compared >= 3


def test_data_datetime_from_missing_and_impossible_parts(tmp_path):
    eccodes = pytest.importorskip("eccodes")
    from pathlib import Path

    source = (Path(__file__).parent / "data" / "synop_uncompressed.bufr").read_bytes()
    cases = [
        ({}, "2024-03-15T12:00"),
        ({"minute": None}, "2024-03-15T12:00"),          # missing minute counts as 0, as pdbufr has it
        ({"minute": 7, "hour": 23}, "2024-03-15T23:07"),
        ({"hour": None}, "NaT"),                          # pdbufr's flat reader says midnight
        ({"day": None}, "NaT"),
        ({"year": None}, "NaT"),
        ({"month": 13}, "NaT"),
        ({"month": 2, "day": 30}, "NaT"),
        ({"month": 2, "day": 29}, "2024-02-29T12:00"),
        ({"hour": 24}, "NaT"),
        ({"minute": 60}, "NaT"),
    ]
    path = tmp_path / "dates.bufr"
    with open(path, "wb") as out:
        for changes, _ in cases:
            handle = eccodes.codes_new_from_message(source)
            eccodes.codes_set(handle, "unpack", 1)
            for key, value in changes.items():
                eccodes.codes_set(handle, f"#1#{key}", eccodes.CODES_MISSING_LONG if value is None else value)
            eccodes.codes_set(handle, "pack", 1)
            out.write(eccodes.codes_get_message(handle))
            eccodes.codes_release(handle)
    frame = tarnwel.read_dataframe(path, ["data_datetime", "message"], filters={"subset": 0})
    expected = np.array([when for _, when in cases], dtype="datetime64[us]")
    np.testing.assert_array_equal(frame["data_datetime"].to_numpy(), expected)


def test_long_layout_pivots_back_to_the_wide_frame(corpus_dir):
    """The long rows come from the core's value list, the wide columns from its arrays."""
    for path in corpus_files(corpus_dir, PEER_MAX_BYTES):
        if not readable(path):
            continue
        wide = tarnwel.read_dataframe(path, layout="wide")
        long = tarnwel.read_dataframe(path, layout="long")
        assert list(long.columns) == ["message", "subset", "rank", "key", "descriptor", "number", "text"]
        located = tarnwel.read_dataframe(path, ["message", "subset"])
        row_of = {pair: row for row, pair in enumerate(zip(located["message"], located["subset"]))}
        rows = np.array([row_of[pair] for pair in zip(long["message"], long["subset"])])
        names = [key if rank == 1 else f"#{rank}#{key}" for key, rank in zip(long["key"], long["rank"])]
        groups = pd.Series(names).groupby(names).indices
        assert set(groups) == set(wide.columns), path.name
        for name, where in groups.items():
            column = wide[name].to_numpy()[rows[where]]
            if wide[name].dtype == object:
                assert list(column) == list(long["text"].to_numpy()[where]), (path.name, name)
            else:
                np.testing.assert_array_equal(column, long["number"].to_numpy()[where],
                                              err_msg=f"{path.name} {name}")
        # Every cell the long rows do not fill is missing.
        assert wide.notna().sum().sum() <= len(long)


@pytest.mark.parametrize("rows", [1, 7, None])
def test_batches_of_any_size_and_chosen_columns_give_the_same_frame(corpus_dir, monkeypatch, rows):
    """Chosen columns are gathered by another path (cells joined per group of alike messages)
    than every column; both must give the same cells, whatever the batches."""
    files = [p for p in corpus_files(corpus_dir, 10_000) if readable(p)][:40]
    whole = tarnwel.read_dataframe(files)
    # Names by code are left out: only the path of every column resolves them.
    chosen = [name for name in whole.columns if not RANKED.sub(r"\2", name)[0].isdigit()][::3]
    if rows is not None:
        monkeypatch.setattr(dataframe, "BATCH_ROWS", rows)
        pd.testing.assert_frame_equal(tarnwel.read_dataframe(files), whole)
    pd.testing.assert_frame_equal(tarnwel.read_dataframe(files, chosen), whole[chosen])
    assert whole.shape[0] > 40 and whole.shape[1] > 100 and len(chosen) > 50
    assert set(whole[chosen].dtypes.astype(str)) == {"float64", "object"}


def test_decode_take_finds_the_columns_take_finds_over_the_corpus(corpus_dir):
    """The core's lookup of a few keys, without naming every column, against the arrays."""
    from tarnwel import _core

    compared = 0
    for path in corpus_files(corpus_dir):
        with tarnwel.open(path, errors="skip") as reader:
            for message in reader:
                try:
                    decoded = message.decoded()
                except tarnwel.DecodeError:
                    continue
                names = [column[0] for column in decoded.columns() if not column[0][0].isdigit()]
                # The caller's order, and a key no message has.
                keys = [*names[::-1], "nothingOfThatName"]
                found = _core.decode_take(message._buffer, message._start, message.record,
                                          message.tables, reader.max_values, keys)
                expected = (decoded.subsets, *parallel(decoded.take(keys)), decoded.unknown_local)
                assert found == expected, path.name
                compared += len(names)
    assert compared > 10_000


SYNOP_COLUMNS = ["stationOrSiteName", "latitude", "airTemperature", "#2#cloudAmount", "message", "subset"]


@pytest.mark.parametrize(
    "filters, expect",
    [
        ({"airTemperature": 281.45}, lambda f: f.airTemperature == 281.45),
        ({"blockNumber": [2, 11]}, lambda f: f.stationOrSiteName.str.startswith(("HELSINKI", "SONNBLICK"))),
        ({"blockNumber": range(3, 12, 8)}, lambda f: f.stationOrSiteName.str.startswith("SONNBLICK")),
        ({"airTemperature": slice(262.65, 276.15)}, lambda f: f.airTemperature.between(262.65, 276.15)),
        ({"airTemperature": slice(None, 270)}, lambda f: f.airTemperature <= 270),
        ({"pressure": None}, lambda f: f.subset < 2),
        ({"latitude": lambda s: s > 50, "subset": {1, 2}}, lambda f: (f.latitude > 50) & f.subset.isin([1, 2])),
        ({"data_datetime": slice("2024-03-15", "2024-03-15 12:00")}, lambda f: f.subset >= 0),
        ({"stationOrSiteName": "nowhere"}, lambda f: f.subset < 0),
    ],
)
def test_filters_keep_the_rows_pandas_would(data_dir, filters, expect):
    path = data_dir / "synop_uncompressed.bufr"
    whole = tarnwel.read_dataframe([path, path], SYNOP_COLUMNS)
    kept = tarnwel.read_dataframe([path, path], SYNOP_COLUMNS, filters=filters)
    pd.testing.assert_frame_equal(kept, whole[expect(whole).to_numpy()].reset_index(drop=True))


def test_header_filters_skip_messages_before_decoding(data_dir):
    path = data_dir / "multi.bufr"
    frame = tarnwel.read_dataframe(path, ["message", "subset"], header_filters={
        "data_category": [0, 5], "compressed_data": lambda compressed: not compressed})
    assert frame["message"].tolist() == [0, 0, 0]
    long = tarnwel.read_dataframe(path, ["latitude"], layout="long",
                                  header_filters={"typical_hour": slice(6, 11)})
    assert long[["message", "key"]].drop_duplicates().values.tolist() == [[1, "latitude"], [3, "latitude"]]


def test_columns_keep_their_order_types_and_attrs(data_dir):
    columns = ["#2#cloudAmount", "stationOrSiteName", "#9#cloudAmount", "WMO_station_id", "data_datetime",
               "#1#latitude", "nothingOfThatName"]
    frame = tarnwel.read_dataframe(data_dir / "synop_uncompressed.bufr", columns)
    assert list(frame.columns) == columns
    assert frame.dtypes.astype(str).tolist() == [
        "float64", "object", "float64", "float64", "datetime64[us]", "float64", "float64"]
    assert frame["#2#cloudAmount"].tolist() == [3.0, 3.0, 8.0]
    assert frame["WMO_station_id"].tolist() == [2974.0, 10384.0, 11343.0]
    assert frame["#9#cloudAmount"].isna().all() and frame["nothingOfThatName"].isna().all()
    assert frame.attrs["columns"]["#2#cloudAmount"] == {"descriptor": "020011", "name": "CLOUD AMOUNT",
                                                         "unit": "CODE TABLE"}
    assert frame.attrs["columns"]["#1#latitude"] == {"descriptor": "005001",
                                                     "name": "LATITUDE (HIGH ACCURACY)", "unit": "deg"}
    assert frame.attrs["columns"]["nothingOfThatName"] == {"descriptor": None, "name": None, "unit": None}


def test_missing_texts_are_none_and_empty_sources_give_typed_empty_frames(data_dir, tmp_path):
    long = tarnwel.read_dataframe(data_dir / "synop_uncompressed.bufr", layout="long")
    assert long["text"].dtype == object and long["text"].isna().sum() > 300
    assert set(map(type, long["text"])) == {str, type(None)}
    empty = tmp_path / "empty.bufr"
    empty.write_bytes(b"")
    frame = tarnwel.read_dataframe(empty, ["latitude", "message", "data_datetime", "stationOrSiteName"])
    assert frame.shape == (0, 4)
    assert frame.dtypes.astype(str).tolist() == ["float64", "int64", "datetime64[us]", "float64"]


def test_columns_no_message_has_are_missing_in_the_wide_layout(data_dir, tmp_path):
    """Names of the long layout's columns are keys like any other in the wide one; only
    message and subset are computed there."""
    names = ["rank", "descriptor", "key", "text", "message", "subset"]
    path = data_dir / "synop_uncompressed.bufr"
    frame = tarnwel.read_dataframe(path, names)
    assert frame.dtypes.astype(str).tolist() == ["float64"] * 4 + ["int64"] * 2
    assert frame[names[:4]].isna().all().all()
    assert frame[["message", "subset"]].values.tolist() == [[0, 0], [0, 1], [0, 2]]
    empty = tmp_path / "empty.bufr"
    empty.write_bytes(b"")
    frame = tarnwel.read_dataframe(empty, names)
    assert frame.dtypes.astype(str).tolist() == ["float64"] * 4 + ["int64"] * 2
    out = tmp_path / "out.csv"
    subprocess.run([sys.executable, "-m", "tarnwel", "export", str(path), "-o", str(out),
                    "--columns", ",".join(names)], check=True, capture_output=True, timeout=120)
    assert out.read_text().splitlines() == [",".join(names), ",,,,0,0", ",,,,0,1", ",,,,0,2"]


@pytest.mark.parametrize(
    "call, text",
    [
        (lambda path: tarnwel.read_dataframe(path, layout="tall"), "layout must be 'wide' or 'long', not 'tall'"),
        (lambda path: tarnwel.read_dataframe(path, header_filters={"centre": 98}),
         "header_filters: 'centre' is no header field"),
        (lambda path: tarnwel.read_dataframe(path, filters={"a": slice(1, 5, 2)}),
         "filter on 'a': a slice has no step, not 2"),
        (lambda path: tarnwel.read_dataframe(path, ["message"], layout="long"),
         "'message' is a column of the wide layout; the long layout selects keys"),
        (lambda path: tarnwel.read_dataframe(path, ["latitude", "#1#message"]),
         "'#1#message': 'message' is a computed column, one value per row, and has no ranks"),
        (lambda path: tarnwel.read_dataframe(path, layout="long", filters={"latitude": 1}),
         "filters: 'latitude' is no column of the long layout "
         "(message, subset, rank, key, descriptor, number, text)"),
        (lambda path: tarnwel.read_dataframe(path, ["latitude", "subset", "latitude"]),
         "columns: 'latitude' asked for more than once"),
        (lambda path: tarnwel.read_dataframe(path, errors="loud"),
         "errors must be one of 'raise', 'warn' or 'skip', not 'loud'"),
    ],
)
def test_bad_arguments_are_refused_with_their_reason(data_dir, call, text):
    with pytest.raises(ValueError) as excinfo:
        call(data_dir / "multi.bufr")
    assert str(excinfo.value) == text


def test_error_policies_and_an_error_raised_inside_the_read(data_dir, tmp_path):
    good = (data_dir / "amv_compressed.bufr").read_bytes()
    path = tmp_path / "mixed.bufr"
    path.write_bytes(good + b"BUFR\x00\x00\x20\x04" + b"\x00" * 24 + good)
    with pytest.raises(tarnwel.DecodeError) as excinfo:
        tarnwel.read_dataframe(path, ["latitude"])
    assert str(excinfo.value) == (f"{path}: message 1 at offset {len(good)}: "
                                  f"{excinfo.value.text}")
    with pytest.warns(tarnwel.DecodeWarning):
        warned = tarnwel.read_dataframe(path, ["latitude", "message"], errors="warn")
    assert sorted(set(warned["message"])) == [0, 2]

    def refuse(column):
        raise RuntimeError("no rows today")

    # The reader closes its map while the frames of the error still view it.
    with pytest.raises(RuntimeError, match="no rows today"):
        tarnwel.read_dataframe(data_dir / "amv_compressed.bufr", filters={"latitude": refuse})


def test_a_clear_error_without_pandas(data_dir):
    code = ("import sys; sys.modules['pandas'] = None; import tarnwel\n"
            "try:\n    tarnwel.read_dataframe(sys.argv[1])\nexcept ImportError as error:\n    print(error)")
    result = subprocess.run([sys.executable, "-c", code, str(data_dir / "multi.bufr")],
                            capture_output=True, text=True, timeout=60)
    assert result.stdout == "tarnwel.read_dataframe needs pandas: pip install 'tarnwel[pandas]'\n"
