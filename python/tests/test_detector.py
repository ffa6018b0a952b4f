"""The streaming Detector against onset.detect on the same samples, cut at
random, and what it refuses."""

import warnings

import numpy as np
import pytest

import onset


@pytest.fixture(scope="module")
def network(synthetic_archive):
    """The built-in network, with one station starting 100 s late and one
    ending 80 s early, so that channels come and go while others run."""
    traces = onset.read(synthetic_archive)
    late, early = traces[2], traces[5]
    late.data, late.stats.starttime = late.data[10000:], late.times()[10000]
    early.data = early.data[:-8000]
    return traces


def _pieces(traces, rng):
    """Every trace cut at random into (id, start, rate, samples) pieces,
    from a few samples to a minute, in the order a real-time stream brings
    them: by start time."""
    pieces = []
    for trace in traces:
        times = trace.times()
        at = 0
        while at < len(trace.data):
            length = int(rng.choice([rng.integers(1, 50), rng.integers(50, 6000)]))
            pieces.append((trace.id, times[at], trace.stats.sampling_rate,
                           trace.data[at:at + length]))
            at += length
    order = np.lexsort((rng.random(len(pieces)), [p[1] for p in pieces]))
    return [pieces[i] for i in order]


@pytest.mark.parametrize("seed", [1, 2, 3])
def test_random_pieces_give_the_events_of_detect(network, seed):
    expected = onset.detect(network)
    rng = np.random.default_rng(seed)
    detector, found = onset.Detector(), []
    pieces = _pieces(network, rng)
    while pieces:
        take = int(rng.integers(1, 8))  # one piece, or several of a feed
        detector.feed(pieces[:take] if take > 1 else pieces[0])
        pieces = pieces[take:]
        if rng.random() < 0.2:
            found.append(detector.events())
    before_flush = sum(len(d) for d in found)
    found.append(detector.flush())
    assert 0 < before_flush < len(expected)  # events come while the input runs
    for table in ("events", "picks"):
        joined = np.concatenate([getattr(d, table) for d in found])
        assert joined.tobytes() == getattr(expected, table).tobytes()


def test_left_out_refused_and_finished():
    rng = np.random.default_rng(5)
    start = np.datetime64("2024-01-01", "us")
    detector = onset.Detector(min_stations=1)
    with pytest.warns(onset.DetectionWarning, match=r"^XX\.SLOW\.\.BHZ left out: ") as said:
        detector.feed(("XX.SLOW..BHZ", start, 20.0, rng.normal(size=400)))
    assert len(said) == 1
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # a channel left out is said once
        detector.feed(("XX.SLOW..BHZ", start + np.timedelta64(20, "s"), 20.0, rng.normal(size=400)))
    detector.feed(("XX.A..HHZ", start, 100.0, rng.normal(size=3000)))
    with pytest.raises(ValueError, match=r"sampling rate 50 Hz, but .* has 100 Hz"):
        detector.feed(("XX.A..HHZ", start + np.timedelta64(30, "s"), 50.0, rng.normal(size=30)))
    first = detector.events()
    assert first.warnings[0].startswith("XX.SLOW..BHZ left out: ")
    rest = detector.flush()
    assert len(first) + len(rest) == 0 and rest.warnings == []
    for call in (detector.events, detector.flush, lambda: detector.feed(("XX.A..HHZ", start, 100.0, [1.0]))):
        with pytest.raises(ValueError, match="flushed"):
            call()
    alone = onset.Detector()
    with pytest.warns(onset.DetectionWarning):
        alone.feed(("XX.SLOW..BHZ", start, 20.0, np.zeros(100)))
    with pytest.raises(ValueError, match="no usable channel in the input\n  XX.SLOW..BHZ left out"):
        alone.flush()
