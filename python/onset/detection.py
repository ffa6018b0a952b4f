"""The multi-station detector over libonset-detect: traces or miniSEED in,
events and their picks out."""

from . import traces as _traces
from ._engine import OptionHelp, Reader, Run, options_record
from .config import settings
from .detector import Detector, conclude, say
from .location import location_inputs
from .result import Detection

#: Seconds of every channel read a slice at a time, as onset-detect reads
#: them by default.
CHUNK = 600.0

#: The detector's options, as onset-detect's flags name them (fmin for
#: --fmin, kurtosis_window for --kurtosis-window ...), with their meaning,
#: unit, range and default, from the engine's table.
OPTIONS = OptionHelp()

def station(trace_id):
    """NET.STA of NET.STA.LOC.CHA."""
    return ".".join(trace_id.split(".")[:2])


def detect(traces, config=None, stations=None, velocity_model=None, graded_model=False, **options):
    """Finds events in traces: the engine of onset-detect, with the same
    options (see onset.OPTIONS) and the same results on the same samples.
    `config`: the path of a settings file, as onset-detect --config reads it
    (see onset.config), whose top-level options the keywords override.

    `traces`: ObsPy-style Trace objects (.data, .id or .stats.network/
    station/location/channel, .stats.sampling_rate, .stats.starttime as a
    datetime, numpy.datetime64 or anything with .timestamp), an iterable of
    them such as a Stream, or (id, start, rate, samples) tuples. Masked
    samples (ObsPy's merge() leaves gaps masked) and NaN are gaps. Traces of
    one channel may come in several pieces, in any order. A channel that
    cannot be used is left out with a DetectionWarning, as onset-detect
    warns about it; ValueError when none can be used. Returns a Detection.

    `stations`: locate the events, as onset-detect --stations does, with
    the stations in a StationXML or CSV file (network,station,latitude,
    longitude,elevation_m) or in an object shaped like an ObsPy Inventory
    (.networks, each with .code and .stations, each with .code, .latitude,
    .longitude and .elevation); `velocity_model`: a CSV file
    (depth_km,vp_km_s,vs_km_s, layer tops; graded_model=True: graded
    between them), None for the engine's default. The Detection's .origins
    and .arrivals then say where each event lies.

    >>> import numpy as np, onset
    >>> rng = np.random.default_rng(3)
    >>> start = np.datetime64("2024-01-01T00:00:00", "us")
    >>> def station(name, delay):
    ...     x = rng.normal(size=6000)
    ...     onset_at = 3000 + delay
    ...     x[onset_at:onset_at + 100] += 30 * np.sin(np.arange(100) * 1.3) * np.exp(-np.arange(100) / 30)
    ...     return (f"XX.{name}..HHZ", start, 100.0, x)
    >>> result = onset.detect([station("A", 0), station("B", 20), station("C", 40)])
    >>> len(result), result.events["stations"][0]
    (1, 3)
    >>> str(result.picks["time"][0])[:19]
    '2024-01-01T00:00:30'
    """
    detector = Detector(config, stations, velocity_model, graded_model, **options)
    by_id = {}
    for piece in _traces.segments(traces):
        by_id.setdefault(piece.id, []).append(piece)
    # Channels in the order of their ids, each in time order, as a reader
    # hands them over.
    for trace_id in sorted(by_id):
        detector._feed_segments(sorted(by_id[trace_id], key=lambda p: p.start))
    return detector.flush()


def read(source, start=None, end=None, channels=None, sds=None):
    """Reads miniSEED through the engine's reader, as onset-detect reads it.

    `source`: a file or folder (searched recursively), a list of them, or the
    root of an SDS archive (ROOT/YEAR/NET/STA/CHA.TYPE/NET.STA.LOC.CHA.TYPE.
    YEAR.DAY; a single folder with year folders in it is taken as one unless
    sds=False). `start`, `end`: the samples kept, start <= time < end (a
    datetime, numpy.datetime64, ISO 8601 string or seconds since 1970; None:
    what the input holds). `channels`: NET.STA.LOC.CHA patterns with shell
    wildcards, a comma-separated string or a list. Returns a list of
    onset.Trace, one per stretch without a gap, by channel id, then time;
    what the reader warns about comes as a DetectionWarning.
    """
    reader = Reader(source, start, end, channels, sds)
    try:
        found = reader.chunks()
        say(reader.warnings(), [])
        return found
    finally:
        reader.close()


def detect_files(source, start=None, end=None, channels=None, sds=None, chunk=None, config=None,
                 stations=None, velocity_model=None, graded_model=False, **options):
    """detect() over miniSEED files, folders or an SDS archive (`source`,
    `start`, `end`, `channels` and `sds` as for read()), read and detected a
    slice of `chunk` seconds (default CHUNK) of every channel at a time, as
    onset-detect does: memory stays bounded, and the results are the command
    line's. A settings file (`config`) may give the channels and the chunk;
    the keywords override them. `stations`, `velocity_model` and
    `graded_model` locate the events, as for detect().
    """
    location = location_inputs(stations, velocity_model, graded_model)
    options, station_options, file_channels, file_chunk = settings(config, options)
    channels = file_channels if channels is None else channels
    chunk = next(c for c in (chunk, file_chunk, CHUNK) if c is not None)
    min_stations = options_record(options).min_stations
    said = []
    found, ids, usable = run_reader(Reader(source, start, end, channels, sds), options, chunk,
                                    lambda lines: say(lines, said), station_options, location)
    conclude(len(usable), min_stations, said)
    return Detection.from_engine(found, ids, options, said)


def run_reader(reader, options, chunk, said, stations=(), location=None):
    """Runs a detector with `options` (and `stations`' options and the
    `location`, as for onset._engine.Run) over what `reader` reads, `chunk`
    seconds of every channel at a time, and closes the reader. Returns the
    events as (earliest, stations, picks, origin), the channel ids by number
    and the stations with a usable channel; the warning lines go to
    said(lines)."""
    run = None
    try:
        run = Run(options, reader, chunk, stations, location)
        found, more = [], True
        while more:
            more = run.step()
            said(run.warnings())
            found += run.events()
        return found, run.ids(), {station(trace_id) for trace_id in run.usable()}
    finally:
        if run is not None:
            run.close()
        reader.close()
