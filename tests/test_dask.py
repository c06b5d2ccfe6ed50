"""tarnwel.dask.read_dataframe on a real cluster of two worker processes equals tarnwel.read_dataframe."""

import pytest

import tarnwel

dd = pytest.importorskip("dask.dataframe")
distributed = pytest.importorskip("distributed")
pd = pytest.importorskip("pandas")
tarnwel_dask = pytest.importorskip("tarnwel.dask")

COLUMNS = ["message", "subset", "stationOrSiteName", "latitude", "longitude", "airTemperature",
           "#2#cloudAmount", "data_datetime", "WMO_station_id"]
# A German SYNOP file of 44 messages (192 kB) read in byte ranges, and one-message SYNOP files.
SPLIT = "ecmwf__pdbufr__Z__C_EDZW_20210516120400_bda01,synop_bufr_GER_999999_999999__MW_466.bufr"


@pytest.fixture(scope="module")
def client():
    import dask

    # Dask turns object columns into its string dtype unless told not to; ours keep None.
    with dask.config.set({"dataframe.convert-string": False}), \
            distributed.LocalCluster(n_workers=2, processes=True, threads_per_worker=1,
                                     dashboard_address=":0") as cluster, \
            distributed.Client(cluster) as client:
        yield client


def test_partitions_by_file_and_byte_range_give_the_frame_of_the_files(corpus_dir, client):
    files = [corpus_dir / SPLIT, *sorted(corpus_dir.glob("wmo-im__synop2bufr__*.bin"))]
    filters = {"airTemperature": slice(250, 300)}
    frame = tarnwel_dask.read_dataframe(files, COLUMNS, filters=filters, blocksize=50_000)
    assert frame.npartitions == 4 + len(files) - 1
    computed = frame.compute().reset_index(drop=True)
    expected = tarnwel.read_dataframe(files, COLUMNS, filters=filters)
    pd.testing.assert_frame_equal(computed, expected)
    assert len(expected) > 500 and expected["message"].max() > 30


def test_a_glob_without_columns_takes_them_from_the_first_partition(corpus_dir, client):
    pattern = str(corpus_dir / "wmo-im__synop2bufr__154*.bin")
    frame = tarnwel_dask.read_dataframe(pattern)
    files = sorted(corpus_dir.glob("wmo-im__synop2bufr__154*.bin"))
    pd.testing.assert_frame_equal(frame.compute().reset_index(drop=True), tarnwel.read_dataframe(files))


def test_errors_name_the_file_and_the_message_of_a_byte_range(data_dir, tmp_path, client):
    good = (data_dir / "synop_uncompressed.bufr").read_bytes()
    path = tmp_path / "broken.bufr"
    path.write_bytes(good * 3 + good[:-1] + b"6" + good)
    frame = tarnwel_dask.read_dataframe([path], ["latitude"], blocksize=2 * len(good))
    assert frame.npartitions == 3
    with pytest.raises(tarnwel.DecodeError) as excinfo:
        frame.compute()
    assert str(excinfo.value) == (f"{path}: message 3 at offset {3 * len(good)}: "
                                  "section 5 terminator is not 7777")
    skipped = tarnwel_dask.read_dataframe([path], ["message"], blocksize=2 * len(good), errors="skip")
    assert skipped.compute()["message"].tolist() == [0, 0, 0, 1, 1, 1, 2, 2, 2, 4, 4, 4]
