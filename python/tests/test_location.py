"""Located events from Python: a station file or an Inventory-shaped
object, the same origins as onset-detect --origins, through onset.detect,
the streaming Detector and the Dask path's blocks, near the synthetic
network's hypocentres."""

import csv
import math
from types import SimpleNamespace

import numpy as np
import pytest

import onset
from conftest import without_run
from onset import distributed as od


@pytest.fixture(scope="module")
def located(command_line, tmp_path_factory):
    """The synthetic network as an archive with its stations, model and the
    command line's origins."""
    folder = tmp_path_factory.mktemp("located")
    stations, model, origins = folder / "stations.csv", folder / "model.csv", folder / "origins.csv"
    command_line("--write-synthetic", folder / "sds", "--synthetic-duration", 900, "--stations", stations,
                 "--velocity-model", model)
    command_line("--sds", folder / "sds", "--stations", stations, "--velocity-model", model, "--origins",
                 origins, "--quakeml", folder / "events.xml", "--quiet")
    return SimpleNamespace(root=folder / "sds", stations=stations, model=model, origins=origins.read_text(),
                           quakeml=(folder / "events.xml").read_text())


def inventory(path):
    """An object shaped like an ObsPy Inventory, from a station table."""
    with open(path, newline="") as table:
        rows = list(csv.DictReader(table))
    networks = {}
    for row in rows:
        networks.setdefault(row["network"], []).append(SimpleNamespace(
            code=row["station"], latitude=float(row["latitude"]), longitude=float(row["longitude"]),
            elevation=float(row["elevation_m"])))
    return SimpleNamespace(networks=[SimpleNamespace(code=code, stations=stations)
                                     for code, stations in networks.items()])


def test_the_same_origins_from_every_path(located):
    files = onset.detect_files(located.root, stations=located.stations, velocity_model=located.model)
    assert files.to_origins() == located.origins
    assert len(files.origins) == len(files) > 10
    assert set(files.origins["status"]) == {"located"}
    assert len(files.arrivals) == len(files.picks)
    assert without_run(files.to_quakeml()) == without_run(located.quakeml)
    assert files.to_quakeml().count("<arrival ") == len(files.picks)
    traces = onset.read(located.root)
    from_inventory = onset.detect(traces, stations=inventory(located.stations), velocity_model=located.model)
    assert from_inventory.to_origins() == located.origins
    np.testing.assert_array_equal(from_inventory.arrivals, files.arrivals)
    blocks = od.detect_archive(located.root, block="300s", stations=located.stations,
                               velocity_model=located.model)
    assert blocks.to_origins() == located.origins
    # Streamed a minute at a time, numbered on from call to call.
    detector = onset.Detector(stations=located.stations, velocity_model=located.model)
    pieces = []
    for second in range(0, 900, 60):
        detector.feed([(t.id, t.stats.starttime + np.timedelta64(second, "s"), 100.0,
                        t.data[second * 100:(second + 60) * 100]) for t in traces])
        pieces.append(detector.events())
    pieces.append(detector.flush())
    origins = np.concatenate([p.origins for p in pieces])
    np.testing.assert_array_equal(origins, files.origins)


def test_origins_lie_near_the_sources(located, command_line):
    # The synthetic sources lie within 3 km of the centre (46 N, 7 E), 3 to 8 km deep.
    result = onset.detect_files(located.root, stations=located.stations, velocity_model=located.model)
    for o in result.origins:
        east = (o["longitude"] - 7.0) * 111.195 * math.cos(math.radians(46.0))
        north = (o["latitude"] - 46.0) * 111.195
        assert max(abs(east), abs(north)) < 3.5 and 2.5 < o["depth_km"] < 8.5, o


def test_the_map_of_stations_and_epicentres(located, tmp_path):
    pytest.importorskip("matplotlib")
    traces = onset.read(located.root)
    result = onset.detect(traces, stations=located.stations, velocity_model=located.model)
    figure = result.plot(traces, path=tmp_path / "events.png")
    panel = figure.axes[-1]
    assert panel.get_title() == "stations and epicentres"
    stations, epicentres = panel.lines[:-1], panel.lines[-1]
    with open(located.stations, newline="") as table:
        truth = {row["station"]: (float(row["longitude"]), float(row["latitude"])) for row in csv.DictReader(table)}
    assert len(stations) == len(truth)
    for line, label in zip(stations, [t.get_text() for t in panel.texts]):
        np.testing.assert_allclose([line.get_xdata()[0], line.get_ydata()[0]], truth[label], atol=1e-4)
    np.testing.assert_array_equal(epicentres.get_xdata(), result.origins["longitude"])
    assert (tmp_path / "events.png").stat().st_size > 0


def test_stations_that_cannot_be_used(located, tmp_path):
    with pytest.raises(ValueError, match="gives none of the channels coordinates"):
        onset.detect_files(located.root, stations=inventory(located.stations).__class__(
            networks=[SimpleNamespace(code="YY", stations=[SimpleNamespace(
                code="A", latitude=46.0, longitude=7.0, elevation=0.0)])]))
    bad = tmp_path / "bad.csv"
    bad.write_text("network,station,latitude,longitude,elevation_m\nXX,S01,200,7,0\n")
    with pytest.raises(ValueError, match=f"{bad}:2: latitude 200"):
        onset.detect_files(located.root, stations=bad)
    with pytest.raises(TypeError, match="Inventory"):
        onset.detect_files(located.root, stations=42)
    with pytest.raises(ValueError, match="locating needs stations"):
        onset.detect_files(located.root, velocity_model=located.model)
