"""tarnwel.plotting: real corpus files drawn as a map, a profile and a series, by call and by command."""

import subprocess
import sys

import numpy as np
import pytest

matplotlib = pytest.importorskip("matplotlib")
matplotlib.use("Agg")
import matplotlib.dates  # noqa: E402
import matplotlib.image  # noqa: E402
from matplotlib.backends.backend_agg import FigureCanvasAgg  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402

import tarnwel  # noqa: E402
from bufr_builder import Bits, message  # noqa: E402
from tarnwel import plotting  # noqa: E402

SYNOP = "ecmwf__pdbufr__Z__C_EDZW_20210516120400_bda01,synop_bufr_GER_999999_999999__MW_466.bufr"
TEMP = "etoyoda__bufrconv__A_IUSN01BABJ290000_C_RJTD_20191029025504_87.bufr"
STATIONS = "wmo-im__wis2box__WIGOS_multi-message.bufr4"  # 3 Algerian stations, 3-hourly


@pytest.fixture(scope="module")
def one_station(corpus_dir, tmp_path_factory):
    """The messages of Jijel Achouat (WMO 60351) alone: one station over time."""
    path = tmp_path_factory.mktemp("plot") / "jijel.bufr"
    raw = (corpus_dir / STATIONS).read_bytes()
    chunks = [raw[m.offset:m.offset + m.length] for m, arrays in tarnwel.open(raw).arrays(["stationNumber"])
              if arrays["stationNumber"][0] == 351]
    assert len(chunks) == 5
    path.write_bytes(b"".join(chunks))
    return path


def new_axes(size=(800, 600)):
    figure = Figure(figsize=(size[0] / 100, size[1] / 100), dpi=100, layout="constrained")
    FigureCanvasAgg(figure)
    return figure.add_subplot()


def arrays_of(path, keys):
    """Each key's first occurrence per subset through the file (missing where a message lacks it)."""
    parts = [(m.number_of_subsets, arrays) for m, arrays in tarnwel.open(path).arrays(keys)]
    first = lambda array: array if array.ndim == 1 else array[:, 0]  # noqa: E731
    return {key: np.concatenate([first(arrays.get(key, np.full(count, np.nan))) for count, arrays in parts])
            for key in keys}


def check_picture(path, size):
    image = matplotlib.image.imread(path)
    assert image.shape[:2] == (size[1], size[0])
    colours = np.unique((image[..., :3] * 255).astype(np.uint8).reshape(-1, 3), axis=0)
    assert len(colours) > 50


@pytest.mark.parametrize("filters", [None, {"latitude": (52.0, None)}])
def test_map_colours_every_located_station_by_its_temperature(corpus_dir, filters):
    path = corpus_dir / SYNOP
    axes = plotting.plot(path, filters=filters, ax=new_axes())
    data = arrays_of(path, ["latitude", "longitude", "airTemperature"])
    wanted = np.isfinite(data["latitude"]) & np.isfinite(data["longitude"]) & np.isfinite(data["airTemperature"])
    if filters:
        wanted &= data["latitude"] >= 52.0
    points = axes.collections[-1]
    assert sorted(np.round(points.get_array() + 273.15, 2)) == sorted(np.round(data["airTemperature"][wanted], 2))
    assert sorted(map(tuple, np.round(points.get_offsets(), 4))) == sorted(
        zip(np.round(data["longitude"][wanted], 4), np.round(data["latitude"][wanted], 4)))
    assert axes.get_title(loc="left").splitlines()[1].startswith(f"airTemperature (°C) · {wanted.sum()} of ")
    assert "44 messages" in axes.get_title(loc="left")
    assert axes.figure.axes[-1].get_ylabel() == "Temperature/air temperature (°C)"


def test_profile_draws_one_sounding_against_falling_pressure(corpus_dir):
    path = corpus_dir / TEMP
    axes = plotting.plot(path, subset=3, ax=new_axes())
    data = next(tarnwel.open(path).arrays(["pressure", "airTemperature", "dewpointTemperature"]))[1]
    assert axes.get_yscale() == "log" and axes.get_ylim()[0] > axes.get_ylim()[1]
    lines = {line.get_label(): line for line in axes.get_lines()}
    for label, key in (("temperature", "airTemperature"), ("dew point", "dewpointTemperature")):
        pressure, value = data["pressure"][3], data[key][3]
        both = np.isfinite(pressure) & np.isfinite(value)
        drawn = sorted(zip(np.round(lines[label].get_ydata(), 2), np.round(lines[label].get_xdata(), 2)))
        assert drawn == sorted(zip(np.round(pressure[both] / 100, 2), np.round(value[both] - 273.15, 2)))
    assert "sounding 3 of 12: 53463 at 40.85°N 111.57°E" in axes.get_title(loc="left")


def test_series_follows_one_station_through_the_day(one_station):
    axes = plotting.plot(one_station, ax=new_axes())
    (line,) = axes.get_lines()
    data = arrays_of(one_station, ["hour", "airTemperature"])
    order = np.argsort(data["hour"])
    assert [stamp.hour for stamp in line.get_xdata()] == list(data["hour"][order].astype(int))
    np.testing.assert_allclose(line.get_ydata(), data["airTemperature"][order] - 273.15)
    assert axes.get_title(loc="left").splitlines() == [
        "jijel.bufr · 5 messages",
        "airTemperature (°C) · Jijel Achouat (60351) · 2022-03-20 09:00 – 21:00 UTC",
    ]


def run_command(*args):
    return subprocess.run([sys.executable, "-m", "tarnwel.plotting", *map(str, args)],
                          capture_output=True, text=True, timeout=300)


@pytest.mark.parametrize("kind,name", [("map", SYNOP), ("profile", TEMP), ("series", None)])
def test_command_writes_a_picture_of_the_asked_size(corpus_dir, one_station, tmp_path, kind, name):
    source = one_station if name is None else corpus_dir / name
    out = tmp_path / f"{kind}.png"
    result = run_command(source, "-o", out, "--kind", kind, "--size", "640x480")
    assert (result.returncode, result.stderr) == (0, "")
    check_picture(out, (640, 480))


def test_auto_and_python_call_choose_the_same_pictures(corpus_dir, one_station, tmp_path):
    """Through the call, auto picks a map, a profile and a series, and savefig keeps the size."""
    pictures = {SYNOP: lambda a: a.get_aspect() != "auto", TEMP: lambda a: a.get_yscale() == "log",
                None: lambda a: isinstance(a.xaxis.get_major_formatter(), matplotlib.dates.ConciseDateFormatter)}
    for name, looks_right in pictures.items():
        axes = plotting.plot(one_station if name is None else corpus_dir / name, ax=new_axes((900, 700)))
        assert looks_right(axes), name
        out = tmp_path / "auto.png"
        axes.figure.savefig(out, dpi=100)
        check_picture(out, (900, 700))


@pytest.fixture
def no_coordinates(definitions_root, tmp_path):
    path = tmp_path / "nowhere.bufr"
    path.write_bytes(message([1001, 1002, 12101], Bits().add(10, 7).add(381, 10).add(28815, 16).to_bytes()))
    return path


def test_a_file_without_coordinates_fails_in_one_line(no_coordinates, tmp_path):
    out = tmp_path / "map.png"
    result = run_command(no_coordinates, "-o", out, "--kind", "map")
    assert (result.returncode, result.stdout) == (1, "")
    assert result.stderr == "tarnwel: nowhere.bufr: no subset has a latitude and longitude\n"
    assert not out.exists()
    with pytest.raises(plotting.PlotError) as caught:
        plotting.plot(no_coordinates, ax=new_axes())
    assert str(caught.value) == "nowhere.bufr: no subset has a latitude and longitude"


@pytest.mark.parametrize("args,text", [
    (["--size", "20x20"], "argument --size: expected WIDTHxHEIGHT in pixels (each 100 to 8000), e.g. 1200x800"),
    (["--filter", "latitude"], "argument --filter: expected KEY=VALUE, KEY=V1,V2 or KEY=LOW..HIGH"),
])
def test_bad_arguments_are_refused_before_reading(tmp_path, args, text):
    result = run_command(tmp_path / "absent.bufr", "-o", tmp_path / "x.png", *args)
    assert result.returncode == 2
    assert result.stderr.splitlines()[-1] == f"tarnwel plot: error: {text}"


def test_missing_matplotlib_names_the_extra(monkeypatch, data_dir):
    monkeypatch.setitem(sys.modules, "matplotlib", None)
    with pytest.raises(ImportError) as caught:
        plotting.plot(data_dir / "synop_uncompressed.bufr")
    assert str(caught.value) == "tarnwel.plotting needs matplotlib; install it with: pip install 'tarnwel[plot]'"
