"""The written formats: codes that would break a row or a document, each
run's own QuakeML ids, files complete or absent, and ObsPy's Catalog."""

import csv
import ctypes
import io
import os
import re
import sys
import xml.etree.ElementTree as ElementTree

import numpy as np
import pytest

import onset
from conftest import without_run
from onset import _engine

BED = "{http://quakeml.org/xmlns/bed/1.2}"
# Station codes with what CSV quotes, XML escapes or cannot hold, and whitespace.
STATIONS = ["A,1", 'B"2', "C\n3", "D&<", "E\x01", "F\t6", "G\u00e9", "H8"]


def _write_miniseed(path, trace, trace_id):
    """The trace's samples as counts, through the engine's own writer."""
    lib = ctypes.CDLL(_engine.engine_path())
    lib.onset_writer_open.restype = ctypes.c_void_p
    lib.onset_writer_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_double,
                                      ctypes.c_char_p, ctypes.c_size_t]
    lib.onset_writer_write.argtypes = [ctypes.c_void_p, ctypes.c_int64,
                                       ctypes.POINTER(ctypes.c_int32), ctypes.c_size_t]
    lib.onset_writer_close.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t]
    message = ctypes.create_string_buffer(512)
    writer = lib.onset_writer_open(str(path).encode(), trace_id.encode(), trace.stats.sampling_rate,
                                   message, 512)
    assert writer, message.value
    counts = np.ascontiguousarray(trace.data, dtype=np.int32)
    start = int(trace.stats.starttime.astype("datetime64[us]").astype(np.int64))
    assert lib.onset_writer_write(writer, start, counts.ctypes.data_as(ctypes.POINTER(ctypes.c_int32)),
                                  len(counts)) == 0
    assert lib.onset_writer_close(writer, message, 512) == 0, message.value


def test_odd_codes_as_the_command_line(command_line, synthetic_archive, tmp_path):
    folder = tmp_path / "odd"
    folder.mkdir()
    ids = []
    for k, trace in enumerate(onset.read(synthetic_archive)):
        ids.append(f"XX.{STATIONS[k]}.{'00' if k == 7 else ''}.HHZ")
        _write_miniseed(folder / f"{k}.mseed", trace, ids[-1])
    quakeml, nlloc = tmp_path / "e.xml", tmp_path / "e.obs"
    expected, _ = command_line("--csv", "--quakeml", quakeml, "--nlloc", nlloc, folder)
    found = onset.detect_files(folder)
    assert found.to_csv() == expected
    assert without_run(found.to_quakeml()) == without_run(quakeml.read_text())
    assert without_run(found.to_nlloc()) == without_run(nlloc.read_text())

    rows = list(csv.reader(io.StringIO(expected)))
    assert len(rows) > 5 * 8 and {len(row) for row in rows} == {9}
    # The reader reads control characters in codes as U+FFFD.
    read_as = [re.sub(r"[\x00-\x1f]", "\ufffd", code) for code in STATIONS]
    assert {row[3] for row in rows[1:]} == {re.sub(r"[\x00-\x1f]", "\ufffd", i) for i in ids}
    codes = {pick.find(f"{BED}waveformID").attrib["stationCode"]
             for pick in ElementTree.fromstring(found.to_quakeml()).iter(f"{BED}pick")}
    assert codes == set(read_as)
    lines = [line for line in found.to_nlloc().splitlines() if line and "PUBLIC_ID" not in line]
    assert len(lines) == len(rows) - 1 and {len(line.split()) for line in lines} == {14}
    assert {line.split()[0] for line in lines} == {
        "XX_A,1", 'XX_B"2', "XX_C\ufffd3", "XX_D&<", "XX_E\ufffd", "XX_F\ufffd6", "XX_G\u00e9", "XX_H8_00"}


def test_each_detection_names_its_resources_under_its_own_id(network_detection):
    other = onset.Detection(network_detection.events, network_detection.picks)
    assert other.resource_id != network_detection.resource_id
    other.resource_id = "smi:org.example/onset/run-7"
    other.creation_time = np.datetime64("2024-05-06T07:08:09.123456", "us")
    root = ElementTree.fromstring(other.to_quakeml())
    ids = [e.attrib["publicID"] for e in root.iter() if "publicID" in e.attrib]
    assert ids[0] == "smi:org.example/onset/run-7"
    assert len(ids) == 1 + len(other.events) + len(other.picks)
    assert all(re.fullmatch(r"smi:org\.example/onset/run-7/event/\d+(/pick/\d+)?", i) for i in ids[1:])
    times = {e.text for e in root.iter(f"{BED}creationTime")}
    assert times == {"2024-05-06T07:08:09.123456Z"}
    assert [e.text for e in root.iter(f"{BED}evaluationMode")] == ["automatic"] * len(other.picks)
    onsets = [p.find(f"{BED}onset") for p in root.iter(f"{BED}pick")]
    assert [o.text if o is not None else None for o in onsets] == [
        "impulsive" if u <= 0.05 else "emergent" if u >= 0.2 else None
        for u in other.picks["uncertainty"]]
    polarities = [p.find(f"{BED}polarity") for p in root.iter(f"{BED}pick")]
    assert [p.text if p is not None else None for p in polarities] == [
        {"U": "positive", "D": "negative"}.get(m) for m in other.picks["polarity"]]
    public = [line for line in other.to_nlloc().splitlines() if line.startswith("PUBLIC_ID")]
    assert public == [f"PUBLIC_ID smi:org.example/onset/run-7/event/{n}" for n in other.events["event"]]


@pytest.fixture(scope="module")
def network_detection(synthetic_archive):
    return onset.detect_files(synthetic_archive)


def test_files_are_complete_or_absent(network_detection, tmp_path, monkeypatch):
    path = tmp_path / "events.xml"
    path.write_text("older\n")
    os.chmod(path, 0o640)

    def refused(*_):
        raise OSError("refused")
    with monkeypatch.context() as patched:
        patched.setattr(os, "replace", refused)
        with pytest.raises(OSError, match="refused"):
            network_detection.to_quakeml(path)
    assert path.read_text() == "older\n" and os.listdir(tmp_path) == ["events.xml"]
    assert network_detection.to_quakeml(path) is None
    assert path.read_text() == network_detection.to_quakeml()
    assert os.stat(path).st_mode & 0o777 == 0o640 and os.listdir(tmp_path) == ["events.xml"]
    # A device is written in place, and its error is the writer's.
    with pytest.raises(OSError, match="No space left on device"):
        network_detection.to_nlloc("/dev/full")


def test_to_obspy_builds_a_catalog_from_the_quakeml(network_detection):
    obspy = pytest.importorskip("obspy", reason="ObsPy is not installed")
    catalog = network_detection.to_obspy()
    assert isinstance(catalog, obspy.Catalog) and len(catalog) == len(network_detection)
    pick = catalog[0].picks[0]
    assert pick.waveform_id.get_seed_string() == network_detection.picks["trace"][0]
    assert pick.evaluation_mode == "automatic" and pick.onset == "impulsive"


def test_to_obspy_without_obspy_says_what_it_needs(network_detection, monkeypatch):
    monkeypatch.setitem(sys.modules, "obspy", None)
    with pytest.raises(ImportError, match="to_obspy needs ObsPy"):
        network_detection.to_obspy()
