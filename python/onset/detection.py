"""The multi-station detector over libonset-detect: traces or miniSEED in,
events and their picks out."""

import warnings as _warnings

from . import traces as _traces
from ._engine import OptionHelp, Reader, Run, options_record
from .result import Detection

#: Seconds of every channel read a slice at a time, as onset-detect reads
#: them by default.
CHUNK = 600.0

#: The detector's options, as onset-detect's flags name them (fmin for
#: --fmin, kurtosis_window for --kurtosis-window ...), with their meaning,
#: unit, range and default, from the engine's table.
OPTIONS = OptionHelp()


class DetectionWarning(UserWarning):
    """A channel or file left out, or too few stations: the lines onset-detect
    prints as warnings."""


def say(lines, said):
    """Warns each line as a DetectionWarning and keeps it in `said`."""
    for line in lines:
        _warnings.warn(line, DetectionWarning, stacklevel=3)
        said.append(line)


def conclude(usable_stations, min_stations, said):
    """ValueError when no station is usable; a warning when too few are."""
    if usable_stations == 0:
        raise ValueError("no usable channel in the input" +
                         "".join(f"\n  {line}" for line in said))
    if usable_stations < min_stations:
        say([f"{usable_stations} usable station{'' if usable_stations == 1 else 's'}, fewer "
             f"than min_stations {min_stations}: no event can be found"], said)


def station(trace_id):
    """NET.STA of NET.STA.LOC.CHA."""
    return ".".join(trace_id.split(".")[:2])


def detect(traces, **options):
    """Finds events in traces: the engine of onset-detect, with the same
    options (see onset.OPTIONS) and the same results on the same samples.

    `traces`: ObsPy-style Trace objects (.data, .id or .stats.network/
    station/location/channel, .stats.sampling_rate, .stats.starttime as a
    datetime, numpy.datetime64 or anything with .timestamp), an iterable of
    them such as a Stream, or (id, start, rate, samples) tuples. Masked
    samples (ObsPy's merge() leaves gaps masked) and NaN are gaps. Traces of
    one channel may come in several pieces, in any order. A channel that
    cannot be used is left out with a DetectionWarning, as onset-detect
    warns about it; ValueError when none can be used. Returns a Detection.

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
    run = Run(options)
    try:
        by_id = {}
        for piece in _traces.segments(traces):
            by_id.setdefault(piece.id, []).append(piece)
        numbers = {}
        for trace_id in sorted(by_id):
            group = sorted(by_id[trace_id], key=lambda p: p.start)
            rate = group[0].rate
            for piece in group[1:]:
                if abs(1.0 - piece.rate / rate) >= 1e-4:
                    raise ValueError(f"{piece.name}: sampling rate {piece.rate:g} Hz, but "
                                     f"{group[0].name} of the same channel has {rate:g} Hz")
            number = run.add_channel(trace_id, rate)
            if number is not None:
                numbers[trace_id] = number
        for trace_id, number in numbers.items():
            for piece in sorted(by_id[trace_id], key=lambda p: p.start):
                run.feed(number, piece.start, piece.samples)
        run.finish()
        found, said = run.events(), []
        say(run.warnings(), said)
        conclude(run.usable_stations(), run.min_stations, said)
        return Detection.from_engine(found, run.ids(), options, said)
    finally:
        run.close()


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


def detect_files(source, start=None, end=None, channels=None, sds=None, chunk=CHUNK, **options):
    """detect() over miniSEED files, folders or an SDS archive (`source`,
    `start`, `end`, `channels` and `sds` as for read()), read and detected a
    slice of `chunk` seconds of every channel at a time, as onset-detect
    does: memory stays bounded, and the results are the command line's.
    """
    min_stations = options_record(options).min_stations
    said = []
    found, ids, usable = run_reader(Reader(source, start, end, channels, sds), options, chunk,
                                    lambda lines: say(lines, said))
    conclude(len(usable), min_stations, said)
    return Detection.from_engine(found, ids, options, said)


def run_reader(reader, options, chunk, said):
    """Runs a detector with `options` over what `reader` reads, `chunk`
    seconds of every channel at a time, and closes the reader. Returns the
    events as (earliest, stations, picks), the channel ids by number and the
    stations with a usable channel; the warning lines go to said(lines)."""
    run = None
    try:
        run = Run(options, reader, chunk)
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
