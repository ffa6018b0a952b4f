"""The picture: what it holds, the PNG, and python3 -m onset plot."""

import os
import subprocess
import sys

import numpy as np
import pytest

import onset
from conftest import PYTHON_DIR

matplotlib = pytest.importorskip("matplotlib")
import matplotlib.dates  # noqa: E402

PNG = b"\x89PNG\r\n\x1a\n"


@pytest.fixture(scope="module")
def network(synthetic_archive):
    return onset.read(synthetic_archive)


def test_picture_of_the_synthetic_network(network, tmp_path):
    found = onset.detect(network, threshold=7)
    figure = found.plot(network, path=tmp_path / "events.png")
    assert (tmp_path / "events.png").read_bytes()[:8] == PNG
    above, below = figure.axes[:2]
    # Stations from top to bottom in the order of their first picks.
    first = {}
    for pick in found.picks:
        first.setdefault(str(pick["trace"]), pick["time"])
        first[str(pick["trace"])] = min(first[str(pick["trace"])], pick["time"])
    labels = [label.get_text() for label in above.get_yticklabels()]
    assert labels == sorted(first, key=lambda t: first[t])
    # One mark per pick, the threshold (the detection's) below, and the
    # strength above it at every pick's trace around the pick.
    marks = [line for line in above.lines if len(line.get_xdata()) == 2]
    assert len(marks) == len(found.picks)
    assert any(list(line.get_ydata()) == [7, 7] for line in below.lines)
    traces = {t.id: t for t in network}
    for pick in found.picks[:8]:
        trace = traces[str(pick["trace"])]
        _, strength = onset._engine.stages(onset.traces.segments(trace)[0], found.options)
        at = int((pick["time"] - trace.stats.starttime) / np.timedelta64(10, "ms"))
        assert np.nanmax(strength[at - 100:at + 100]) >= 7
    # A window shows what lies in it.
    lo = found.events["earliest"][1] - np.timedelta64(2, "s")
    hi = found.events["earliest"][1] + np.timedelta64(3, "s")
    zoom = found.plot(network, start=lo, end=hi)
    inside = ((found.picks["time"] >= lo) & (found.picks["time"] < hi)).sum()
    assert inside >= 8
    assert len([line for line in zoom.axes[0].lines if len(line.get_xdata()) == 2]) == inside
    assert "1 event on 8 traces" in zoom.axes[0].get_title()


def test_plot_from_the_command_lines_csv(command_line, synthetic_archive, tmp_path):
    csv, _ = command_line("--csv", "--sds", synthetic_archive)
    (tmp_path / "events.csv").write_text(csv)
    env = {**os.environ, "PYTHONPATH": str(PYTHON_DIR)}
    done = subprocess.run([sys.executable, "-m", "onset", "plot", "--csv", tmp_path / "events.csv",
                           "-o", tmp_path / "run.png", "--threshold", "8", synthetic_archive],
                          capture_output=True, text=True, env=env, timeout=120)
    assert done.returncode == 0, done.stderr
    assert (tmp_path / "run.png").read_bytes()[:8] == PNG
    done = subprocess.run([sys.executable, "-m", "onset", "plot", "--csv", tmp_path / "none.csv",
                           synthetic_archive], capture_output=True, text=True, env=env, timeout=60)
    assert done.returncode == 2 and "onset plot: " in done.stderr and "none.csv" in done.stderr


def test_every_excursion_is_a_pick_or_marked_with_why_not(network):
    found = onset.detect(network)
    figure = found.plot(network)
    above, below = figure.axes[:2]
    threshold = found.options.get("threshold", 3)
    # The excursions above the threshold, counted on the strength itself,
    # and those of them that made a pick (an S searched after its P is none).
    picked = {(str(p["trace"]), int(p["time"].astype(np.int64))) for p in found.picks}
    excursions = taken = 0
    for piece in onset.traces.segments(network):
        _, strength, candidates = onset._engine.stages_and_candidates(piece, found.options)
        above_it = np.concatenate([[False], strength >= threshold, [False]])
        excursions += int(np.count_nonzero(above_it[1:] & ~above_it[:-1]))
        taken += sum(int(c["verdict"]) in (ord("P"), ord("S")) and (piece.id, int(c["time"])) in picked
                     for c in candidates)
    marks = np.concatenate([c.get_offsets() for c in below.collections])
    assert len(marks) + taken == excursions
    assert (marks[:, 1] >= threshold).all()
    # The spikes on single stations rise far above it, and say why they
    # made no event.
    assert (marks[:, 1] > 20).sum() >= 2
    words = [t.get_text() for t in below.texts if not t.get_text().startswith("threshold")]
    assert len(words) == len(marks)
    assert all(w.startswith("SNR ") or w in ("dead time", "coda", "warm-up", "no event") for w in words)
    # Each event shaded from its earliest pick on, past its latest.
    spans = sorted((p.get_xy()[:, 0].min(), p.get_xy()[:, 0].max()) for p in above.patches)
    assert len(spans) == len(found.events)
    for (begin, end), (_, picks) in zip(spans, found._grouped()):
        assert begin == matplotlib.dates.date2num(picks["time"].min())
        assert end > matplotlib.dates.date2num(picks["time"].max())
