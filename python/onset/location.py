"""Located events: station metadata as a file or as objects shaped like an
ObsPy Inventory (duck-typed, as traces are), the velocity model, and the
origins the engine gives the events."""

import contextlib
import os
import tempfile

import numpy as np

#: What became of an event's location (the engine's ONSET_ORIGIN_* codes).
STATUS = {1: "located", 2: "large gap", 3: "too few phases"}

ORIGIN_DTYPE = np.dtype([("event", np.int32), ("time", "datetime64[us]"), ("latitude", np.float64),
                         ("longitude", np.float64), ("depth_km", np.float64),
                         ("horizontal_uncertainty_km", np.float64), ("depth_uncertainty_km", np.float64),
                         ("rms", np.float64), ("azimuthal_gap", np.float64), ("phases", np.int32),
                         ("status", "U14")])

ARRIVAL_DTYPE = np.dtype([("event", np.int32), ("pick", np.int32), ("phase", "U1"),
                          ("residual", np.float64), ("distance_km", np.float64),
                          ("azimuth", np.float64), ("used", np.bool_)])


def inventory_csv(inventory):
    """The stations of an Inventory-shaped object (.networks, each with
    .code and .stations, each with .code, .latitude, .longitude and
    .elevation in metres) as the CSV table the engine reads."""
    rows = ["network,station,latitude,longitude,elevation_m"]
    try:
        for network in inventory.networks:
            for station in network.stations:
                # repr: the shortest text that reads back as the same double.
                rows.append(f"{network.code},{station.code},{float(station.latitude)!r},"
                            f"{float(station.longitude)!r},{float(station.elevation)!r}")
    except AttributeError as error:
        raise TypeError(f"stations: not a file nor shaped like an ObsPy Inventory ({error})") from None
    return "\n".join(rows) + "\n"


def location_inputs(stations=None, velocity_model=None, graded_model=False):
    """What to locate with, in a form that travels to other processes: None
    without stations, else (stations, velocity_model, graded_model) with
    the stations as a path, or ("csv", text) made from an Inventory-shaped
    object, and the model as a path or None for the engine's default."""
    if stations is None:
        if velocity_model is not None or graded_model:
            raise ValueError("velocity_model and graded_model: locating needs stations=")
        return None
    source = os.fspath(stations) if isinstance(stations, (str, os.PathLike)) else ("csv", inventory_csv(stations))
    model = None if velocity_model is None else os.fspath(velocity_model)
    return source, model, bool(graded_model)


@contextlib.contextmanager
def files(inputs):
    """The paths of a location_inputs's files as the engine reads them (a
    table made from an Inventory is written to a temporary file meanwhile):
    (stations path, model path or "", graded)."""
    source, model, graded = inputs
    if isinstance(source, str):
        yield source, model or "", graded
        return
    with tempfile.TemporaryDirectory(prefix="onset-stations-") as folder:
        path = os.path.join(folder, "stations.csv")
        with open(path, "w") as table:
            table.write(source[1])
        yield path, model or "", graded


def origin_arrays(found):
    """The origins and arrivals of engine events, (earliest, stations,
    picks, origin) with origin None or (time, latitude, longitude, depth,
    horizontal and depth uncertainty, rms, gap, phases, status, arrivals as
    (residual, distance, azimuth, used, phase)), numbered from 1."""
    origins, arrivals = [], []
    for number, event in enumerate(found, start=1):
        origin = event[3] if len(event) > 3 else None
        if origin is None:
            continue
        *values, status, event_arrivals = origin
        time = np.datetime64("NaT") if status == 3 else np.datetime64(values[0], "us")
        origins.append((number, time, *values[1:], STATUS.get(status, "")))
        arrivals += [(number, k, phase, residual, distance, azimuth, bool(used))
                     for k, (residual, distance, azimuth, used, phase) in enumerate(event_arrivals, start=1)]
    return np.array(origins, dtype=ORIGIN_DTYPE), np.array(arrivals, dtype=ARRIVAL_DTYPE)
