"""The detector from Python against the command line on the same data, the
forms traces may take, gaps, and what is refused."""

import datetime as dt
import os
import shutil
import types
import xml.etree.ElementTree as ElementTree
from pathlib import Path

import numpy as np
import pytest

import onset
from conftest import without_run

REAL_NETWORK = Path(__file__).resolve().parents[3] / "shared" / "realdata" / \
    "network" / "mseed"


@pytest.fixture(scope="module")
def network(synthetic_archive):
    return onset.read(synthetic_archive)


def cli_outputs(command_line, tmp_path, *arguments):
    quakeml, nlloc = tmp_path / "events.xml", tmp_path / "events.obs"
    csv, _ = command_line("--csv", "--quakeml", quakeml, "--nlloc", nlloc, *arguments)
    return csv, without_run(quakeml.read_text()), without_run(nlloc.read_text())


def outputs(detection):
    return detection.to_csv(), without_run(detection.to_quakeml()), without_run(detection.to_nlloc())


def test_same_results_as_the_command_line(command_line, synthetic_archive, network, tmp_path):
    expected = cli_outputs(command_line, tmp_path, "--sds", synthetic_archive)
    assert expected[0].count("\n") > 1 + 5 * 7  # every event of the network, on most stations
    assert outputs(onset.detect_files(synthetic_archive)) == expected
    assert outputs(onset.detect(network)) == expected
    # Options, channel patterns, a time span and an odd chunk, as flags.
    flags = ["--threshold", "6", "--kurtosis-window", "0.8", "--min-stations", "4",
             "--channels", "XX.S0[1-6]..HHZ", "--start", "2024-01-01T00:01:00",
             "--end", "2024-01-01T00:04:30", "--chunk", "17"]
    expected = cli_outputs(command_line, tmp_path, "--sds", synthetic_archive, *flags)
    found = onset.detect_files(synthetic_archive, threshold=6, kurtosis_window=0.8,
                               min_stations=4, channels="XX.S0[1-6]..HHZ",
                               start="2024-01-01T00:01:00", end=np.datetime64("2024-01-01T00:04:30"),
                               chunk=17)
    assert len(found) > 0 and outputs(found) == expected
    part = onset.read(synthetic_archive, start=dt.datetime(2024, 1, 1, 0, 1),
                      end="2024-01-01T00:04:30Z", channels=["XX.S0[1-4]..HHZ", "*.S0[56]..*"])
    assert outputs(onset.detect(part, threshold=6, kurtosis_window=0.8, min_stations=4)) == expected
    # The CSV reads back as it was written.
    assert onset.Detection.from_csv(_written(tmp_path, expected[0])).to_csv() == expected[0]


@pytest.mark.skipif(not REAL_NETWORK.is_dir(), reason="no real data beside the checkout")
def test_real_network_with_gaps_as_the_command_line(command_line, tmp_path):
    expected = cli_outputs(command_line, tmp_path, "--channels", "*.*.*.??Z", REAL_NETWORK)
    assert outputs(onset.detect_files(REAL_NETWORK, channels="*.*.*.??Z")) == expected
    traces = onset.read(REAL_NETWORK, channels="*.*.*.??Z")
    assert len(traces) > len({t.id for t in traces})  # cut into stretches at its gaps
    assert outputs(onset.detect(traces)) == expected


def _written(tmp_path, text):
    path = tmp_path / "given.csv"
    path.write_text(text)
    return path


class Stream:
    """Iterable, as ObsPy's Stream is, and nothing else."""

    def __init__(self, traces):
        self._traces = traces

    def __iter__(self):
        return iter(self._traces)


class Stamp:
    """A time known only by its .timestamp, as ObsPy's UTCDateTime."""

    def __init__(self, seconds):
        self.timestamp = seconds


def obspy_like(trace, start, by_codes=False):
    s = trace.stats
    stats = types.SimpleNamespace(network=s.network, station=s.station, location=s.location,
                                  channel=s.channel, sampling_rate=s.sampling_rate,
                                  starttime=start)
    return types.SimpleNamespace(data=trace.data.astype(np.int32), stats=stats,
                                 **({} if by_codes else {"id": trace.id}))


def test_every_form_of_traces_gives_the_same_events(network, rng):
    expected = onset.detect(network).to_csv()
    start_us = [int(t.stats.starttime.astype(np.int64)) for t in network]
    forms = {
        "tuples": [(t.id, t.stats.starttime, t.stats.sampling_rate, t.data) for t in network],
        "datetimes": Stream([obspy_like(t, dt.datetime(1970, 1, 1, tzinfo=dt.timezone.utc) +
                                        dt.timedelta(microseconds=us))
                             for t, us in zip(network, start_us)]),
        "timestamps": [obspy_like(t, Stamp(us / 1e6), by_codes=True)
                       for t, us in zip(network, start_us)],
    }
    # Pieces of each trace, shuffled, cut at random places.
    pieces = []
    for t, us in zip(network, start_us):
        cuts = np.sort(rng.choice(np.arange(1, len(t.data)), size=5, replace=False))
        for a, b in zip([0, *cuts], [*cuts, len(t.data)]):
            pieces.append((t.id, us / 1e6 + a / 100.0, 100.0, list(t.data[a:b]) if a == 0 else t.data[a:b]))
    forms["pieces"] = [pieces[i] for i in rng.permutation(len(pieces))]
    for name, form in forms.items():
        assert onset.detect(form).to_csv() == expected, name
    single = onset.detect(network[0], min_stations=1)
    assert set(single.picks["trace"]) == {network[0].id}


def test_masked_samples_are_gaps(network):
    # Station 3 loses 40 s in the middle, given three ways: masked (with
    # garbage under the mask), as NaN, and left out between two pieces.
    gap = slice(9000, 13000)
    t = network[2]
    masked = np.ma.masked_array(t.data.copy(), mask=np.zeros(len(t.data), bool))
    masked[gap] = np.ma.masked
    masked.data[gap] = 1e9
    nan = t.data.copy()
    nan[gap] = np.nan
    t0 = t.stats.starttime
    others = [(u.id, u.stats.starttime, 100.0, u.data) for u in network if u is not t]
    forms = [others + [(t.id, t0, 100.0, masked)], others + [(t.id, t0, 100.0, nan)],
             others + [(t.id, t0, 100.0, t.data[:gap.start]),
                       (t.id, t0 + np.timedelta64(gap.stop * 10, "ms"), 100.0, t.data[gap.stop:])]]
    found = [onset.detect(f).to_csv() for f in forms]
    assert found[0] == found[1] == found[2] != onset.detect(network).to_csv()
    assert (masked.data[gap] == 1e9).all()


def test_unusable_channels_are_warned_about_and_bad_input_refused(network):
    t0 = network[0].stats.starttime
    short = ("XX.SHORT..HHZ", t0, 100.0, np.random.default_rng(1).normal(size=150))
    slow = ("XX.SLOW..BHZ", t0, 40.0, np.ones(4000))
    with pytest.warns(onset.DetectionWarning) as said:
        found = onset.detect(list(network) + [short, slow])
    lines = [str(w.message) for w in said]
    assert found.warnings == lines
    assert "XX.SHORT..HHZ left out: its longest stretch without gaps has 150 samples (1.5 s)" \
        in lines[1] and lines[0].startswith("XX.SLOW..BHZ left out: fmax 20 Hz is not below")
    assert found.to_csv() == onset.detect(network).to_csv()
    with pytest.warns(onset.DetectionWarning), pytest.raises(ValueError, match="no usable channel"):
        onset.detect([short])
    with pytest.warns(onset.DetectionWarning, match="2 usable stations, fewer than min_stations 3"):
        assert len(onset.detect(network[:2])) == 0
    refused = [
        (dict(traces=network, thresold=5), TypeError, "unknown option 'thresold'"),
        (dict(traces=network, fmin=30), ValueError, "fmin 30 Hz must be below fmax 20 Hz"),
        (dict(traces=network, voices=2.5), TypeError, "voices must be an integer"),
        (dict(traces=network, voices=0), ValueError, "voices must be a whole number from 1 to 32, got 0"),
        (dict(traces=network, dead_time=np.inf), ValueError, "dead_time must be finite"),
        (dict(traces=network, kurtosis_window=4000), ValueError,
         "kurtosis_window must be above 0 and at most 3600 s, got 4000"),
        (dict(traces=[network[0], 42]), TypeError, r"traces\[1\] must be a Trace-like"),
        (dict(traces=[("A.B..Z", t0, 0.0, [1.0])]), ValueError, r"traces\[0\] \(A.B..Z\): the sampling rate must be positive"),
        (dict(traces=[("A.B..Z", t0, 100.0, [1.0]), ("A.B..Z", t0, 50.0, [1.0])]), ValueError,
         r"traces\[1\] \(A.B..Z\): sampling rate 50 Hz"),
        (dict(traces=[("A.B..Z", object(), 100.0, [1.0])]), TypeError, "the start time must be"),
        (dict(traces=np.zeros(10)), TypeError, "traces must be"),
    ]
    for arguments, error, message in refused:
        with pytest.raises(error, match=message):
            onset.detect(**arguments)
    with pytest.raises(FileNotFoundError, match="cannot open"):
        onset.read("/no/such/file.mseed")
    with pytest.raises(ValueError, match="start must be before end"):
        onset.detect_files("/no/such/file.mseed", start="2024-01-02", end="2024-01-01")


def test_picks_events_and_their_formats(network, tmp_path):
    found = onset.detect(network)
    assert found.picks.dtype["time"] == np.dtype("datetime64[us]")
    assert list(found.picks.dtype.names) == ["event", "trace", "time", "phase", "strength",
                                             "uncertainty", "polarity"]
    # Every P of the built-in network begins upwards.
    p_motions = found.picks["polarity"][found.picks["phase"] == "P"]
    assert set(p_motions) <= {"U", ""} and (p_motions == "U").sum() > len(p_motions) / 2
    assert len(found) == 5 and found.events["picks"].sum() == len(found.picks)
    assert (found.events["stations"] == 8).all() and set(found.picks["phase"]) <= {"P", "S"}
    for event in found.events:
        picks = found.picks[found.picks["event"] == event["event"]]
        assert event["earliest"] == picks["time"].min()
        assert list(picks["trace"]) == sorted(picks["trace"])
    frame = found.to_pandas()
    assert len(frame) == len(found.picks) and (frame["time"].values == found.picks["time"]).all()
    assert (frame["earliest"].values >= found.events["earliest"][0]).all()

    root = ElementTree.fromstring(found.to_quakeml())
    bed = "{http://quakeml.org/xmlns/bed/1.2}"
    events = root.findall(f"{bed}eventParameters/{bed}event")
    assert len(events) == 5 and not root.findall(f".//{bed}origin")
    first = events[0].findall(f"{bed}pick")[0]
    assert first.find(f"{bed}waveformID").attrib == {
        "networkCode": "XX", "stationCode": "S01", "locationCode": "", "channelCode": "HHZ"}
    assert first.find(f"{bed}phaseHint").text == "P"
    assert first.find(f"{bed}time/{bed}value").text == str(found.picks["time"][0]) + "Z"

    lines = found.to_nlloc().split("\n")
    assert len(lines) == len(found.picks) + 2 * 5 + 1 and lines[-2:] == ["", ""]
    first_count = found.events["picks"][0]
    assert lines[0] == f"PUBLIC_ID {found.resource_id}/event/1" and lines[first_count + 1] == ""
    assert "" not in lines[:first_count + 1]
    station, instrument, component, onset_kind, phase, motion, day, hour_minute, seconds, kind, error = \
        lines[1].split()[:11]
    time = found.picks["time"][0].astype(dt.datetime)
    assert (station, instrument, component, onset_kind, phase, kind, float(error)) == \
        ("XX_S01", "HH", "Z", "I", found.picks["phase"][0], "GAU", found.picks["uncertainty"][0])
    assert motion == (found.picks["polarity"][0] or "?")
    assert (day, hour_minute) == (time.strftime("%Y%m%d"), time.strftime("%H%M"))
    assert abs(float(seconds) - (time.second + time.microsecond * 1e-6)) < 1e-4
    assert found.to_csv(tmp_path / "e.csv") is None
    assert (tmp_path / "e.csv").read_text() == found.to_csv()


def test_file_names_that_are_not_utf8_are_read(synthetic_archive, tmp_path):
    day = next(Path(synthetic_archive).rglob("XX.S01..HHZ.D.2024.001"))
    odd = tmp_path / os.fsdecode(b"odd\xff.mseed")
    shutil.copyfile(day, odd)
    (trace,) = onset.read(odd)
    assert trace.id == "XX.S01..HHZ" and len(trace.data) == 30000
    with pytest.raises(FileNotFoundError, match="gone\ufffd.mseed"):
        onset.read(tmp_path / os.fsdecode(b"gone\xff.mseed"))


def test_options_are_the_engines():
    assert list(onset.OPTIONS) == ["fmin", "fmax", "voices", "kurtosis_window", "jump_window",
                                   "threshold", "dead_time", "tolerance", "min_stations",
                                   "min_snr", "event_snr"]
    assert onset.OPTIONS["voices"] == "wavelet scales per octave (1 to 32, default 4)"
    assert onset.OPTIONS["fmin"].endswith("(Hz, default 2)")
