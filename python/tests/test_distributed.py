"""onset.distributed.detect_archive against one process over the same span:
on a cluster of two worker processes, with block edges inside events, with
blocks that cannot read a day file, and from the command line."""

import datetime as dt
import io
import os
import subprocess
import sys
import time

import numpy as np
import pytest

import onset
from conftest import PROGRAM, PYTHON_DIR, without_run
from onset import __main__ as command, _progress, distributed as od

# Debian's Dask against its tornado: not ours to mend.
pytestmark = pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning")


@pytest.fixture(scope="module")
def two_days(command_line, tmp_path_factory):
    root = tmp_path_factory.mktemp("two-days") / "sds"
    command_line("--write-synthetic", root, "--synthetic-stations", 8,
                 "--synthetic-duration", 2 * 86400, "--stations", root.parent / "stations.csv",
                 "--velocity-model", root.parent / "model.csv")
    return root


@pytest.fixture(scope="module")
def broken(two_days, tmp_path_factory):
    """The archive as links, S03's first day a link to nothing."""
    root = tmp_path_factory.mktemp("broken") / "sds"
    for path in two_days.rglob("*.D.*"):
        link = root / path.relative_to(two_days)
        link.parent.mkdir(parents=True, exist_ok=True)
        link.symlink_to("/nonexistent" if path.name == "XX.S03..HHZ.D.2024.001" else path)
    return root


@pytest.fixture(scope="module")
def client():
    distributed = pytest.importorskip(
        "distributed", reason="Dask distributed is not installed (Debian: python3-distributed)")
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=":0") as cluster:
        with distributed.Client(cluster) as connected:
            yield connected


def _same(found, expected):
    """The same text, and the same bits of every pick (the CSV rounds them)."""
    return found.to_csv() == expected.to_csv() and \
        found.picks.tolist() == expected.picks.tolist()


def test_two_days_on_two_workers_are_one_process(two_days, client):
    from distributed import get_task_stream
    expected = onset.detect_files(two_days)
    with get_task_stream(client) as stream:
        found = od.detect_archive(two_days, client=client)
    assert len(expected) > 3000 and not found.warnings and not found.failures
    assert _same(found, expected) and without_run(found.to_quakeml()) == without_run(expected.to_quakeml())
    assert len({task["worker"] for task in stream.data}) == 2


def _earliest_latest(detection):
    """Each event's earliest and latest pick."""
    return [(e["earliest"], picks["time"].max()) for e, picks in detection._grouped()]


@pytest.mark.parametrize("start, end", [("2024-01-01T00:00:00", "2024-01-01T01:00:00"),
                                        ("2024-01-01T23:43:07.31", "2024-01-02T00:40:00"),
                                        (None, "2024-01-01T01:00:00"),
                                        ("2024-01-02T23:00:00", None)])
def test_block_edges_inside_events(two_days, start, end):
    expected = onset.detect_files(two_days, start=start, end=end)
    first = np.datetime64(start or "2024-01-01T00:00:00", "us")
    spans = [s for s in _earliest_latest(expected) if s[1] - s[0] > np.timedelta64(1, "s")]
    assert len(spans) > 10
    # Blocks whose first edge lies halfway through an event, or a third of
    # the way, or on an event's earliest pick (the first event of its block).
    thirds = [spans[len(spans) * k // 3] for k in (1, 2)]
    edges = [thirds[0][0] + (thirds[0][1] - thirds[0][0]) // 2,
             thirds[1][0] + (thirds[1][1] - thirds[1][0]) // 3, thirds[1][0]]
    for block in [(edge - first).item() for edge in edges] + ["17min"]:
        found = od.detect_archive(two_days, start=start, end=end, block=block)
        assert _same(found, expected), block
        assert all(np.count_nonzero(found.events["earliest"] == t[0]) == 1 for t in thirds)


def test_failing_blocks_are_reported_and_the_others_return(two_days, broken, client):
    span = {"start": "2024-01-01T18:00", "end": "2024-01-02T06:00"}
    heard = []
    with pytest.warns(onset.DetectionWarning) as said:
        found = od.detect_archive(broken, client=client, block="3H",
                                  progress=lambda *state: heard.append(state), **span)
    assert heard == [(0, 4, 0)] + [(n, 4, heard[n][2]) for n in range(1, 5)]
    assert heard[-1][2] == len(found) and sorted(h[2] for h in heard) == [h[2] for h in heard]
    # Every block that reads into the first day fails (the last reads from
    # 02:55 on the second day).
    hours = [np.datetime64(f"2024-01-{t}", "us") for t in
             ("01T21:00", "02T00:00", "02T03:00")]
    assert [(a, b) for a, b, _ in found.failures] == [
        (np.datetime64("2024-01-01T18:00", "us"), hours[0]), (hours[0], hours[1]),
        (hours[1], hours[2])]
    assert all("XX.S03..HHZ.D.2024.001': No such file" in why for *_, why in found.failures)
    assert str(said[0].message).startswith("block 2024-01-01T18:00:00Z to 2024-01-01T21:00:00Z "
                                           "failed: cannot read '")
    expected = onset.detect_files(two_days, **span)
    kept = expected.events["event"][expected.events["earliest"] >= hours[2]]
    lines = expected.to_csv().splitlines()[1:]
    late = [line.split(",", 1)[1] for line in lines if int(line.split(",")[0]) >= kept[0]]
    assert len(kept) > 100
    assert [line.split(",", 1)[1] for line in found.to_csv().splitlines()[1:]] == late
    with pytest.raises(RuntimeError, match="every block failed"), \
            pytest.warns(onset.DetectionWarning):
        od.detect_archive(broken, client=client, block="3H", end="2024-01-02T03:00")


def _module(*arguments):
    environment = {**os.environ, "PYTHONPATH": str(PYTHON_DIR)}
    return subprocess.run([sys.executable, "-m", "onset", "detect-archive", *map(str, arguments)],
                          capture_output=True, text=True, env=environment, timeout=300)


def test_command_line(two_days, broken, client, command_line, tmp_path):
    span = ["--start", "2024-01-01T06:00", "--end", "2024-01-01T07:30", "--threshold", "4"]
    located = ["--stations", two_days.parent / "stations.csv",
               "--velocity-model", two_days.parent / "model.csv"]
    quakeml, origins = tmp_path / "events.xml", tmp_path / "origins.csv"
    done = _module(two_days, "--scheduler", client.scheduler.address, "--block", "20min",
                   "--quakeml", quakeml, "--origins", origins, "--progress", *span, *located)
    expected_quakeml, expected_origins = tmp_path / "expected.xml", tmp_path / "expected.csv"
    expected, _ = command_line("--csv", "--sds", two_days, "--quakeml", expected_quakeml,
                               "--origins", expected_origins, *span, *located)
    assert origins.read_text() == expected_origins.read_text()
    assert origins.read_text().count(",located\n") > 10
    assert done.returncode == 0 and done.stdout == expected, done.stderr
    # Dask's own log lines may come between ours on a loaded machine.
    said = [line for line in done.stderr.splitlines() if line.startswith("onset detect-archive:")]
    assert said[0] == f"onset detect-archive: dashboard {client.dashboard_link}"
    assert said[1] == "onset detect-archive: 0/5 blocks  0 events"
    events = {line.split(",")[0] for line in expected.splitlines()[1:]}
    assert said[-1] == f"onset detect-archive: 5/5 blocks  {len(events)} events  0 s left"
    assert without_run(quakeml.read_text()) == without_run(expected_quakeml.read_text())
    # On a local cluster, a block that fails makes the exit status 1.
    done = _module(broken, "--block", "30min", "--start", "2024-01-01T23:58",
                   "--end", "2024-01-02T01:00")
    assert done.returncode == 1 and done.stdout.count("\n") > 50, done.stderr
    assert "warning: block 2024-01-01T23:58:00Z to 2024-01-02T00:28:00Z failed" in done.stderr


@pytest.mark.parametrize("given, flags", [
    (["ROOT/no-such"], ["--sds", "ROOT/no-such"]),
    (["ROOT/2024"], ["--sds", "ROOT/2024"]),  # a folder without day files
    (["ROOT", "--start", "2024-02-01"], ["--sds", "ROOT", "--start", "2024-02-01"]),
    (["ROOT", "--end", "2024-01-32"], ["--sds", "ROOT", "--end", "2024-01-32"]),
    (["ROOT", "--start", "2024-01-02", "--end", "2024-01-01T12:00"],
     ["--sds", "ROOT", "--start", "2024-01-02", "--end", "2024-01-01T12:00"]),
    (["ROOT", "--threshold", "0"], ["--sds", "ROOT", "--threshold", "0"]),
    (["ROOT", "--fmin", "30"], ["--sds", "ROOT", "--fmin", "30"]),
    (["ROOT", "--graded-model"], ["--sds", "ROOT", "--graded-model"]),
    (["ROOT", "--stations", "ROOT/no-such.xml"], ["--sds", "ROOT", "--stations", "ROOT/no-such.xml"])])
def test_bad_input_is_said_before_any_cluster(two_days, monkeypatch, capsys, given, flags):
    distributed = pytest.importorskip("distributed")
    for name in ("Client", "LocalCluster"):
        monkeypatch.setattr(distributed, name, lambda *_, **__: pytest.fail("a cluster started"))
    root = str(two_days)
    assert command.main(["detect-archive", *[a.replace("ROOT", root) for a in given]]) == 2
    ours = capsys.readouterr().err
    theirs = subprocess.run([str(PROGRAM), *[a.replace("ROOT", root) for a in flags]],
                            capture_output=True, text=True).stderr
    assert ours.startswith("onset detect-archive: ") and ours.count("\n") == 1
    assert ours[len("onset detect-archive: "):] == theirs[len("onset-detect: "):].replace("--sds: ", "")


def test_help_is_whole(capsys):
    with pytest.raises(SystemExit):
        command.main(["--help"])
    assert " ".join(command.__doc__.split()) in " ".join(capsys.readouterr().out.split())


def test_progress_line():
    clock = iter([0.0, 0.1, 0.5, 2.0, 2.1, 9.0]).__next__
    out = io.StringIO()
    shown = _progress.Progress(True, out, clock)
    for state in [(0, 4, 0), (1, 4, 7), (2, 4, 9), (3, 4, 9), (4, 4, 12)]:
        shown(*state)
    # Not a terminal: a line per update, at most one a second, and the last.
    assert out.getvalue().splitlines() == [
        "onset detect-archive: 0/4 blocks  0 events",
        "onset detect-archive: 2/4 blocks  9 events  2 s left",
        "onset detect-archive: 4/4 blocks  12 events  0 s left"]
    quiet = io.StringIO()
    _progress.Progress(None, quiet)(1, 2, 3)  # only on a terminal unless asked
    assert quiet.getvalue() == ""


@pytest.mark.parametrize("block, seconds", [("1D", 86400), ("6H", 21600), ("2.5min", 150),
                                            ("90s", 90), ("W", 604800),
                                            (dt.timedelta(minutes=3), 180),
                                            (np.timedelta64(7, "m"), 420), (12.5, 12.5)])
def test_block_lengths(block, seconds):
    assert od.block_length(block) == round(seconds * 1e6)


@pytest.mark.parametrize("block", ["1Y", "-1D", "D1", "", 0, dt.timedelta(0)])
def test_block_lengths_refused(block):
    with pytest.raises(ValueError, match="block"):
        od.block_length(block)


def test_blocks_end_when_no_worker_is_left(two_days):
    distributed = pytest.importorskip(
        "distributed", reason="Dask distributed is not installed (Debian: python3-distributed)")
    with distributed.LocalCluster(n_workers=1, threads_per_worker=1, processes=False,
                                  dashboard_address=":0") as cluster, \
            distributed.Client(cluster) as alone:
        cluster.scale(0)
        for _ in range(300):
            if not alone.scheduler_info()["workers"]:
                break
            time.sleep(0.1)
        span = {"start": "2024-01-01T00:00", "end": "2024-01-01T02:00"}
        with pytest.raises(RuntimeError, match="no worker was left to run it for 1 s"), \
                pytest.warns(onset.DetectionWarning):
            od.detect_archive(two_days, client=alone, block="1H", lost_after=1, **span)


def test_overlap_is_the_engines_reach():
    # About 5.5 minutes with the defaults; each tolerance more groups 10 more.
    assert 325 < od.overlap() < 335
    assert od.overlap(tolerance=10) - od.overlap() == pytest.approx(2 * 10 * 8)
    with pytest.raises(ValueError, match="voices must be a whole number from 1 to 32"):
        od.overlap(voices=40)
