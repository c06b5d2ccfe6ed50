"""Pictures for a first look at BUFR files: a station map, a sounding's profile, a station's series.

    python -m tarnwel.plotting FILE... -o OUT.png [--kind map|profile|series|auto] [--key KEY] ...

matplotlib is an optional extra (``pip install 'tarnwel[plot]'``); it is imported only when a
picture is drawn, so the ``plot`` command can be registered without it.
"""

from __future__ import annotations

import argparse
import contextlib
import math
import os
import sys
import warnings
from typing import Any, Iterable, Mapping, Sequence

import numpy as np

import tarnwel
from tarnwel._plot_table import (
    NO_COORDINATES, NO_SERIES, NO_SOUNDING, NOT_ALONG, SUBSET_KIND, SUBSET_RANGE, Element, PlotError,
    Table, choose_kind, default_key, filtered_rows, levels, read_table, sounding_rows, vertical_key,
)
from tarnwel.errors import ERROR_POLICIES, DecodeError, DecodeWarning
from tarnwel.sources import source_name

__all__ = ["plot", "PlotError", "add_plot_command", "run_plot", "main"]

KINDS = ("auto", "map", "profile", "series")
DEFAULT_SIZE = (1000, 750)
DPI = 100
MAX_SIDE = 8000  # pixels; keeps one picture's memory bounded

MISSING_MATPLOTLIB = "tarnwel.plotting needs matplotlib; install it with: pip install 'tarnwel[plot]'"
BAD_KIND = "kind must be one of {kinds}, not {kind!r}"
BAD_SIZE = "expected WIDTHxHEIGHT in pixels (each 100 to 8000), e.g. 1200x800"
BAD_FILTER = "expected KEY=VALUE, KEY=V1,V2 or KEY=LOW..HIGH"

COLOUR_MAPS = {"K": "RdYlBu_r", "%": "YlGnBu", "kg m-2": "Blues", "m/s": "YlOrRd"}
STANDARD_LEVELS = (1000, 925, 850, 700, 500, 400, 300, 250, 200, 150, 100, 70, 50, 30, 20, 10, 5, 2, 1)
LINE_STYLES = {"airTemperature": ("#c0392b", "temperature"),
               "dewpointTemperature": ("#1e8449", "dew point")}
KNOTS_PER_MPS = 1.0 / 0.514444
GRID = {"color": "#c9d0d6", "linewidth": 0.6}


def _matplotlib() -> Any:
    try:
        import matplotlib
    except ImportError as error:
        raise ImportError(MISSING_MATPLOTLIB) from error
    return matplotlib


def _new_axes() -> Any:
    """Axes of a new pyplot figure; without a display, on the non-interactive Agg backend."""
    matplotlib = _matplotlib()
    headless = sys.platform.startswith("linux") and not (
        os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY"))
    if headless and "MPLBACKEND" not in os.environ and "matplotlib.pyplot" not in sys.modules:
        matplotlib.use("Agg")
    import matplotlib.pyplot as pyplot

    _, axes = pyplot.subplots(figsize=(DEFAULT_SIZE[0] / DPI, DEFAULT_SIZE[1] / DPI), dpi=DPI,
                              layout="constrained")
    return axes


# ---------------------------------------------------------------------------------------- titles


def _time_range(times: np.ndarray) -> str:
    times = times[~np.isnat(times)]
    if not len(times):
        return "time unknown"
    first, last = (str(np.datetime_as_string(t, unit="m")).replace("T", " ")
                   for t in (times.min(), times.max()))
    if first == last:
        return f"{first} UTC"
    if first[:10] == last[:10]:
        return f"{first} – {last[11:]} UTC"
    return f"{first} – {last} UTC"


def _title(axes: Any, table: Table, what: str, times: np.ndarray) -> None:
    """Two lines: the sources and how many messages; what was drawn and when."""
    label = table.label if len(table.label) <= 64 else table.label[:40] + "…" + table.label[-20:]
    count = f"{len(table.messages)} message{'s' if len(table.messages) != 1 else ''}"
    if table.failed:
        count += f" ({table.failed} unreadable)"
    axes.set_title(f"{label} · {count}\n{what} · {_time_range(times)}", fontsize=10, loc="left")


def _what(key: str, element: Element, detail: str) -> str:
    return f"{key} ({element.shown_unit or 'no unit'}) · {detail}"


def _degrees(value: float, positive: str, negative: str) -> str:
    hemisphere = positive if value > 0 else negative if value < 0 else ""
    return f"{abs(value):g}°{hemisphere}"


def _position(latitude: float, longitude: float) -> str:
    if not (math.isfinite(latitude) and math.isfinite(longitude)):
        return ""
    return (f" at {_degrees(round(latitude, 2), 'N', 'S')} "
            f"{_degrees(round(longitude, 2), 'E', 'W')}")


# ---------------------------------------------------------------------------------------- map


def draw_map(axes: Any, table: Table, rows: np.ndarray, key: str | None) -> None:
    """Every located subset of `rows` as a point, coloured by `key`, on a plain graticule."""
    latitude, longitude = table.coordinates(rows)
    located = np.isfinite(latitude) & np.isfinite(longitude)
    if not located.any():
        raise PlotError(table.label, NO_COORDINATES)
    rows, latitude, longitude = rows[located], latitude[located], longitude[located]
    key = key or default_key(table, rows)
    element = table.elements[key]
    values = element.shown(table.values[key][rows])
    if np.ptp(longitude) > 180 and np.ptp(longitude % 360) < np.ptp(longitude):
        longitude = longitude % 360  # the points straddle the date line
    present = np.isfinite(values)
    size = float(np.clip(12000 / len(values), 1, 80))
    axes.set_facecolor("#f3f5f7")
    if not present.all():
        axes.scatter(longitude[~present], latitude[~present], s=size * 0.3, color="#b3bcc4",
                     linewidths=0, zorder=2, label=f"no {key}")
        axes.legend(loc="lower left", fontsize=7, frameon=False, markerscale=1.5)
    if present.any():
        _colour_points(axes, element, longitude[present], latitude[present], values[present], size)
    _frame_map(axes, latitude, longitude)
    _graticule(axes)
    detail = f"{present.sum()} of {len(values)} located subset{'s' if len(values) != 1 else ''} with a value"
    _title(axes, table, _what(key, element, detail), table.times[rows])


def _colour_points(axes: Any, element: Element, x: np.ndarray, y: np.ndarray, values: np.ndarray,
                   size: float) -> None:
    # A few outliers should not wash out the rest: clip the scale at the 1st and 99th percentile.
    low, high = np.percentile(values, [1, 99]) if len(values) > 50 else (values.min(), values.max())
    if low == high:
        low, high = low - 1, high + 1
    edges = "#303030" if len(values) <= 2000 else "none"  # outlines would hide a dense swath
    points = axes.scatter(x, y, c=values, s=size, cmap=COLOUR_MAPS.get(element.unit, "viridis"),
                          vmin=low, vmax=high, edgecolors=edges, linewidths=0.3, zorder=3)
    below, above = values.min() < low, values.max() > high
    extend = "both" if below and above else "min" if below else "max" if above else "neither"
    colour_bar = axes.figure.colorbar(points, ax=axes, shrink=0.85, extend=extend, pad=0.02)
    colour_bar.set_label(element.title)
    if len(values) <= 40:  # few enough stations to print each value, as on a station plot
        digits = 0 if np.ptp(values) >= 20 else 1
        for value, where in zip(values, zip(x, y)):
            axes.annotate(f"{value:.{digits}f}", where, xytext=(4, 3), textcoords="offset points",
                          fontsize=7, color="#202020", zorder=4)


def _frame_map(axes: Any, latitude: np.ndarray, longitude: np.ndarray) -> None:
    """Bounds around the points, at least 2° wide, with longitudes shrunk as on the globe.

    The bounds go in as data limits, so the fixed aspect widens whichever side the box needs.
    """
    def bounds(values: np.ndarray) -> tuple[float, float]:
        low, high = float(values.min()), float(values.max())
        pad = max((high - low) * 0.05, (2 - (high - low)) / 2, 0.3)
        return low - pad, high + pad

    south, north = bounds(latitude)
    south, north = max(south, -90.0), min(north, 90.0)
    west, east = bounds(longitude)
    aspect = 1 / max(math.cos(math.radians((south + north) / 2)), 0.2)
    if north - south >= 90 and (east - west) / aspect >= 1.2 * (north - south):
        # A wide, near-global picture: widening its latitudes would pass the poles.
        axes.set_xlim(west, east)
        axes.set_ylim(south, north)
        axes.set_aspect(aspect, adjustable="box")
        return
    axes.margins(0)
    axes.update_datalim([(west, south), (east, north)])
    axes.autoscale_view()
    axes.set_aspect(aspect, adjustable="datalim")


def _graticule(axes: Any) -> None:
    from matplotlib.ticker import FuncFormatter, MaxNLocator

    for axis in (axes.xaxis, axes.yaxis):
        axis.set_major_locator(MaxNLocator(nbins=8, steps=[1, 1.5, 2, 2.5, 3, 5, 10]))
    axes.xaxis.set_major_formatter(FuncFormatter(lambda v, _: _degrees((v + 180) % 360 - 180, "E", "W")))
    axes.yaxis.set_major_formatter(FuncFormatter(lambda v, _: _degrees(v, "N", "S")))
    axes.grid(True, linestyle=":", zorder=1, **GRID)


# ---------------------------------------------------------------------------------------- profile


def draw_profile(axes: Any, table: Table, rows: np.ndarray, key: str | None,
                 subset: int | None) -> None:
    """One sounding's `key` against pressure (log, falling upwards) or height, with wind barbs."""
    vertical = vertical_key(table, rows)
    if vertical is None:
        raise PlotError(table.label, NO_SOUNDING)
    soundings = sounding_rows(table, rows, vertical)
    key = key or default_key(table, soundings, along=vertical)
    index = 0 if subset is None else subset
    if not 0 <= index < len(soundings):
        raise PlotError(table.label, SUBSET_RANGE.format(subset=index, count=len(soundings),
                                                          coordinate=vertical))
    row = soundings[index]
    companions = ["dewpointTemperature"] if key == "airTemperature" and "dewpointTemperature" in table.values else []
    wind = ["windDirection", "windSpeed"] if {"windDirection", "windSpeed"} <= table.values.keys() else []
    axis = table.elements[vertical]
    pairs = levels(table.messages[table.row_message[row]], int(table.row_subset[row]), axis,
                   dict.fromkeys([key, *companions, *wind]))
    if not len(pairs[key][0]):
        raise PlotError(table.label, NOT_ALONG.format(key=key, coordinate=vertical))
    for name in (key, *companions):
        height, value = pairs[name]
        order = np.argsort(height)
        colour, legend = LINE_STYLES.get(name, ("#1f4e9c", name))
        axes.plot(table.elements[name].shown(value[order]), axis.shown(height[order]), color=colour,
                  linewidth=1.4, label=legend, marker="." if len(pairs[key][0]) < 40 else None)
    pressure = table.elements[vertical].descriptor == 7004
    if wind:
        _barbs(axes, pairs["windDirection"], pairs["windSpeed"], axis, pressure)
    _vertical_axis(axes, axis, pressure)
    element = table.elements[key]
    axes.set_xlabel(element.title)
    axes.grid(True, **GRID)
    if companions:
        axes.legend(loc="lower left", fontsize=8, frameon=False)
    latitude, longitude = table.coordinates(np.array([row]))
    station = (table.stations[row] or f"subset {table.row_subset[row]}") + _position(latitude[0], longitude[0])
    _title(axes, table, _what(key, element, f"sounding {index} of {len(soundings)}: {station}"),
           table.times[[row]])


def _vertical_axis(axes: Any, axis: Element, pressure: bool) -> None:
    from matplotlib.ticker import FixedLocator, NullLocator, ScalarFormatter

    axes.set_ylabel(axis.title)
    if not pressure:
        return
    axes.set_yscale("log")
    low, high = axes.get_ylim()
    axes.set_ylim(max(low, high), min(low, high))  # pressure falls upwards
    axes.yaxis.set_major_locator(FixedLocator(STANDARD_LEVELS))
    axes.yaxis.set_major_formatter(ScalarFormatter())
    axes.yaxis.set_minor_locator(NullLocator())


def _barbs(axes: Any, direction: tuple, speed: tuple, axis: Element, pressure: bool) -> None:
    """Wind barbs in knots down the right edge, thinned to about 25 evenly spaced levels."""
    common, mine, theirs = np.intersect1d(direction[0], speed[0], return_indices=True)
    if not len(common):
        return
    left, right = axes.get_xlim()
    axes.set_xlim(left, right + (right - left) * 0.15)  # room for the barbs
    degrees, knots = direction[1][mine], speed[1][theirs] * KNOTS_PER_MPS
    place = np.log(common) if pressure and (common > 0).all() else common
    targets = np.linspace(place.min(), place.max(), min(25, len(place)))
    keep = np.unique(np.abs(place[None, :] - targets[:, None]).argmin(axis=1))
    radians = np.radians(degrees[keep])
    axes.barbs(np.full(len(keep), 0.93), axis.shown(common[keep]), -knots[keep] * np.sin(radians),
               -knots[keep] * np.cos(radians), length=5.5, linewidth=0.7, color="#333333",
               transform=axes.get_yaxis_transform(), clip_on=False)
    axes.text(0.93, 1.0, "wind (kt)", transform=axes.transAxes, ha="center", va="bottom", fontsize=7)


# ---------------------------------------------------------------------------------------- series


def draw_series(axes: Any, table: Table, rows: np.ndarray, key: str | None) -> None:
    """`key` against date and time, one line per station."""
    import matplotlib.dates as dates

    times = table.times[rows]
    if np.isnat(times).all():
        raise PlotError(table.label, NO_SERIES)
    key = key or default_key(table, rows)
    element = table.elements[key]
    values = element.shown(table.values[key][rows])
    stations = table.stations[rows]
    names = list(dict.fromkeys(stations))
    for name in names:
        mine = (stations == name) & ~np.isnat(times) & np.isfinite(values)
        order = np.argsort(times[mine])
        axes.plot(times[mine][order].astype("datetime64[ms]").astype(object), values[mine][order],
                  marker="o", markersize=4, linewidth=1.4, label=name or "unnamed station")
    locator = dates.AutoDateLocator()
    axes.xaxis.set_major_locator(locator)
    axes.xaxis.set_major_formatter(dates.ConciseDateFormatter(locator))
    axes.set_xlabel("time (UTC)")
    axes.set_ylabel(element.title)
    axes.grid(True, **GRID)
    if len(names) > 1:
        axes.legend(fontsize=8, frameon=False)
    who = names[0] if len(names) == 1 and names[0] else f"{len(names)} stations"
    _title(axes, table, _what(key, element, who), times)


# ---------------------------------------------------------------------------------------- plot


def _label(sources: Sequence[Any]) -> str:
    names = [os.path.basename(source_name(source)) for source in sources]
    return names[0] if len(names) == 1 else f"{names[0]} and {len(names) - 1} more"


def plot(source: Any, kind: str = "auto", key: str | None = None, subset: int | None = None,
         filters: Mapping[str, Any] | Iterable[tuple[str, Any]] | None = None, ax: Any = None, definitions: Any = None,
         tables: Any = None, errors: str = "raise") -> Any:
    """Draws a first look at BUFR messages and returns the matplotlib Axes.

    `source` is what `tarnwel.open` takes, or a list of them. `kind` is ``"map"`` (every located
    subset coloured by `key`), ``"profile"`` (one sounding's `key` against pressure or height;
    `subset` counts the soundings from 0), ``"series"`` (`key` against time, per station) or
    ``"auto"``, which picks one from the data. `key` is an ecCodes key or six-digit code; by
    default a forecaster's first choice or else the first quantity most subsets have. `filters`
    maps keys (or lists (key, wanted) pairs) to a value, a list of values or a ``(low, high)``
    range (in the file's units; None leaves a side open) and keeps the subsets whose first
    occurrence of every key matches. A map and a series show each subset's first occurrence. Kelvin is shown as °C
    (brightness temperatures excepted) and Pa as hPa. Raises `PlotError` when the sources hold
    nothing to draw, `DecodeError` as `errors` says.
    """
    if kind not in KINDS:
        raise ValueError(BAD_KIND.format(kinds=", ".join(KINDS), kind=kind))
    _matplotlib()
    sources = list(source) if isinstance(source, (list, tuple)) else [source]
    label = _label(sources)
    with contextlib.ExitStack() as stack:
        readers = [stack.enter_context(tarnwel.open(one, tables=tables, definitions=definitions,
                                                     errors=errors)) for one in sources]
        table = read_table(readers, label)
        rows = filtered_rows(table, filters)
        chosen = choose_kind(table, rows, key) if kind == "auto" else kind
        if subset is not None and chosen != "profile":
            raise PlotError(label, SUBSET_KIND)
        name = table.resolve(key) if key else None
        axes = ax if ax is not None else _new_axes()
        if chosen == "profile":
            draw_profile(axes, table, rows, name, subset)
        else:
            (draw_map if chosen == "map" else draw_series)(axes, table, rows, name)
    return axes


# ---------------------------------------------------------------------------------------- command


def _size(text: str) -> tuple[int, int]:
    width, _, height = text.lower().partition("x")
    try:
        size = (int(width), int(height))
    except ValueError:
        raise argparse.ArgumentTypeError(BAD_SIZE) from None
    if not all(100 <= side <= MAX_SIDE for side in size):
        raise argparse.ArgumentTypeError(BAD_SIZE)
    return size


def _filter(text: str) -> tuple[str, Any]:
    key, equals, value = text.partition("=")
    if not equals or not key or not value:
        raise argparse.ArgumentTypeError(BAD_FILTER)
    if ".." in value:
        low, _, high = value.partition("..")
        return key, (_scalar(low) if low else None, _scalar(high) if high else None)
    if "," in value:
        return key, [_scalar(part) for part in value.split(",")]
    return key, _scalar(value)


def _scalar(text: str) -> Any:
    try:
        return float(text)
    except ValueError:
        return text


def add_plot_command(subparsers: Any) -> argparse.ArgumentParser:
    """Adds ``plot`` to a command line's subcommands; it runs `run_plot`."""
    parser = subparsers.add_parser(
        "plot", help="draw a map, a sounding or a station series as a picture",
        description="Draw a first look at BUFR files: a map of the located subsets coloured by one "
                    "element, a sounding against pressure or height, or stations' series.")
    parser.add_argument("files", nargs="+", metavar="FILE", help="files of BUFR messages")
    parser.add_argument("-o", "--output", required=True, metavar="OUT.png", help="picture to write")
    parser.add_argument("--kind", choices=KINDS, default="auto", help="picture to draw (default: from the data)")
    parser.add_argument("--key", help="ecCodes key or six-digit descriptor to draw")
    parser.add_argument("--subset", type=int, metavar="N", help="which sounding, counted from 0 (profile)")
    parser.add_argument("--filter", dest="filters", type=_filter, action="append", default=[],
                        metavar="KEY=VALUE", help="keep subsets whose KEY is VALUE, one of V1,V2,... "
                                                  "or in LOW..HIGH (file units); repeatable")
    parser.add_argument("--size", type=_size, default=DEFAULT_SIZE, metavar="WxH",
                        help=f"picture size in pixels (default: {DEFAULT_SIZE[0]}x{DEFAULT_SIZE[1]})")
    parser.add_argument("--definitions", metavar="ROOT", help="ecCodes definitions root")
    parser.add_argument("--errors", choices=ERROR_POLICIES, default="raise",
                        help="what a broken message does (default: raise)")
    parser.set_defaults(func=run_plot)
    return parser


def _figure(size: tuple[int, int]) -> Any:
    """A figure of exactly `size` pixels on the Agg canvas, outside pyplot's figure list."""
    _matplotlib()
    from matplotlib.backends.backend_agg import FigureCanvasAgg
    from matplotlib.figure import Figure

    figure = Figure(figsize=(size[0] / DPI, size[1] / DPI), dpi=DPI, layout="constrained")
    FigureCanvasAgg(figure)
    return figure


def _warn_on_one_line(message: Any, *_: Any, **__: Any) -> None:
    print(f"tarnwel: warning: {message}", file=sys.stderr)


def run_plot(args: argparse.Namespace) -> int:
    """Writes the picture `args` asks for; 0 on success, 1 after a one-line error on stderr."""
    try:
        figure = _figure(args.size)
        with warnings.catch_warnings():
            warnings.simplefilter("always", DecodeWarning)
            warnings.showwarning = _warn_on_one_line
            plot(args.files, kind=args.kind, key=args.key, subset=args.subset, filters=args.filters,
                 ax=figure.add_subplot(), definitions=args.definitions, errors=args.errors)
        figure.savefig(args.output, dpi=DPI)
    except (ImportError, PlotError, DecodeError) as error:
        print(f"tarnwel: {error}", file=sys.stderr)
        return 1
    except OSError as error:
        print(f"tarnwel: {error.filename or args.output}: {error.strerror or error}", file=sys.stderr)
        return 1
    except ValueError as error:  # from savefig: a format matplotlib cannot write
        print(f"tarnwel: {args.output}: {error}", file=sys.stderr)
        return 1
    return 0


def main(argv: Sequence[str] | None = None) -> int:
    """``python -m tarnwel.plotting FILE... -o OUT.png ...``: the ``plot`` command on its own."""
    parser = argparse.ArgumentParser(prog="tarnwel")
    add_plot_command(parser.add_subparsers())
    args = parser.parse_args(["plot", *(sys.argv[1:] if argv is None else argv)])
    return args.func(args)


if __name__ == "__main__":
    sys.exit(main())
