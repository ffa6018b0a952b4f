"""The streaming detector: traces fed as they come, events handed back as
soon as no later sample can change them."""

import warnings as _warnings
import weakref

from . import traces as _traces
from ._engine import Run
from .config import settings
from .location import location_inputs
from .result import Detection


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


class Detector:
    """The detector of onset.detect, fed piece by piece: for real-time
    streams, or recordings too long to hold at once.

    Detector(config=None, stations=None, velocity_model=None,
    graded_model=False, **options) takes the options of onset.detect
    (onset.OPTIONS, a settings file: see onset.config, and the files to
    locate with).
    feed(traces) takes what onset.detect takes (ObsPy-style traces, a
    Stream, (id, start, rate, samples) tuples), in pieces of any size; each
    channel's pieces in time order (samples already given are dropped), and
    a channel may appear at any time. events() returns, as a Detection, the
    events that became final since the last call: no later sample can
    change them. flush() ends the input and returns the rest; ValueError
    then when no channel could be used. Events are numbered on from one call
    to the next, so that the Detections of every call, one after another,
    are those of onset.detect over the same samples, bit for bit, however
    they were cut.

    An event is final once every channel known so far has moved past it, so
    a silent channel holds them back, and a channel that first appears with
    samples older than events already returned cannot join them: feed the
    channels side by side, as a real-time stream comes. A channel left out
    (its rate too low for the band) is warned about once, as a
    DetectionWarning, and its later pieces are ignored; the channels whose
    samples prove unusable are warned about at the flush, as onset.detect
    warns. A Detection's .warnings holds the lines said since the last call.

    >>> import numpy as np, onset
    >>> rng = np.random.default_rng(3)
    >>> start = np.datetime64("2024-01-01T00:00:00", "us")
    >>> wave = 30 * np.sin(np.arange(100) * 1.3) * np.exp(-np.arange(100) / 30)
    >>> traces = {}
    >>> for delay, name in enumerate("ABC"):
    ...     traces[f"XX.{name}..HHZ"] = x = rng.normal(size=12000)
    ...     x[3000 + 20 * delay:3100 + 20 * delay] += wave
    >>> detector, found = onset.Detector(), []
    >>> for second in range(0, 120, 10):     # ten seconds of every channel at a time
    ...     detector.feed([(name, start + np.timedelta64(second, "s"), 100.0,
    ...                     x[second * 100:(second + 10) * 100]) for name, x in traces.items()])
    ...     found.append(detector.events())  # the events final so far
    >>> found.append(detector.flush())
    >>> [len(detection) for detection in found]   # final once the samples reach 100 s
    [0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0]
    >>> str(found[9].picks["time"][0])[:19]
    '2024-01-01T00:00:30'
    """

    def __init__(self, config=None, stations=None, velocity_model=None, graded_model=False, **options):
        self.options, station_options, _, _ = settings(config, options)
        self._run = Run(self.options, stations=station_options,
                        location=location_inputs(stations, velocity_model, graded_model))
        self._close = weakref.finalize(self, self._run.close)
        self._channels = {}  # id: (its number, None when left out; its rate; the piece that set it)
        self._returned = 0  # events handed out so far, to number the next ones
        self._said = []  # warning lines not yet handed out with a Detection

    def feed(self, traces):
        """Takes traces or pieces of them (see the class); returns nothing.
        ValueError when a piece's rate differs from its channel's."""
        self._feed_segments(_traces.segments(traces))

    def _feed_segments(self, pieces):
        """feed() on onset.traces.Segment, as the package makes them."""
        self._check_open()
        said = []
        try:
            for piece in pieces:
                number = self._channel(piece, said)
                if number is not None:
                    self._run.feed(number, piece.start, piece.samples)
        finally:
            self._say(said)

    def events(self):
        """The events that became final since the last call, as a Detection."""
        self._check_open()
        return self._detection(self._run.events())

    def flush(self):
        """Ends the input: the events not yet returned, as a Detection. The
        detector takes nothing more."""
        self._check_open()
        try:
            self._run.finish()
            found = self._run.events()
            self._say(self._run.warnings())
            conclude(self._run.usable_stations(), self._run.min_stations, self._said)
            return self._detection(found)
        finally:
            self.close()

    def close(self):
        """Frees the engine's memory without flushing (flush() does it too)."""
        self._close()

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    def __repr__(self):
        state = "closed" if not self._close.alive else f"{len(self._channels)} channels"
        return f"Detector({state}, {self._returned} events returned)"

    def _check_open(self):
        if not self._close.alive:
            raise ValueError("the detector was flushed or closed: make a new one")

    def _channel(self, piece, said):
        """The piece's channel number, declared when it first comes."""
        if piece.id not in self._channels:
            number = self._run.add_channel(piece.id, piece.rate)
            said += self._run.warnings()
            self._channels[piece.id] = (number, piece.rate, piece.name)
        number, rate, first = self._channels[piece.id]
        if abs(1.0 - piece.rate / rate) >= 1e-4:
            raise ValueError(f"{piece.name}: sampling rate {piece.rate:g} Hz, but {first} of the "
                             f"same channel has {rate:g} Hz")
        return number

    def _say(self, lines):
        for line in lines:
            _warnings.warn(line, DetectionWarning, stacklevel=3)
        self._said += lines

    def _detection(self, found):
        result = Detection.from_engine(found, self._run.ids(), self.options, self._said)
        for table in (result.events, result.picks, result.origins, result.arrivals):
            table["event"] += self._returned
        self._returned += len(found)
        self._said = []
        return result
