"""captures against the properties every grouping must have and known cases."""

import numpy as np
import pytest

import onset


def times_of(result, times):
    return [tuple(times[t][e] for t, e in group) for group in result.groups]


def check_properties(times, tolerances, taken_before, result):
    n = len(times)
    tol = np.broadcast_to(np.asarray(tolerances, dtype=float), (n,))
    free = {(t, e) for t in range(n) for e in range(len(times[t]))
            if not taken_before[t][e]}
    placed = [slot for group in result.groups for slot in group]
    # Every event free on entry is in exactly one capture; no taken one is.
    assert sorted(placed) == sorted(free)
    for group in result.groups:
        seed_trace, seed_event = group[0]
        traces = [t for t, _ in group]
        assert traces == sorted(set(traces)) and traces[0] == seed_trace
        for t, e in group[1:]:
            assert abs(times[t][e] - times[seed_trace][seed_event]) <= tol[seed_trace]
    # Seeds come in trace order, then event order.
    seeds = [group[0] for group in result.groups]
    assert seeds == sorted(seeds)
    assert all(flags.all() for flags in result.taken)
    assert [len(f) for f in result.taken] == [len(t) for t in times]


def test_random_networks_keep_the_grouping_properties(rng):
    for _ in range(30):
        n = int(rng.integers(1, 7))
        times = [np.sort(rng.uniform(0, 20, size=rng.integers(0, 9))) for _ in range(n)]
        tolerances = rng.uniform(0, 1.5, size=n)
        taken = [rng.random(len(t)) < 0.2 for t in times]
        copies = [t.copy() for t in taken]
        result = onset.captures(times, tolerances, taken)
        check_properties(times, tolerances, taken, result)
        for before, after in zip(copies, taken):  # the caller's flags stay as they were
            np.testing.assert_array_equal(before, after)


def test_known_groupings():
    times = [[10.0], [10.5], [9.5]]
    assert times_of(onset.captures(times, 0.5), times) == [(10.0, 10.5, 9.5)]
    # The window is the seed trace's.
    assert len(onset.captures([[10.0], [10.25]], [0.5, 0.125]).groups) == 1
    assert len(onset.captures([[10.25], [10.0]], [0.125, 0.5]).groups) == 2
    # Equal distances: the later event; the look-ahead stops at the window's run.
    times = [[10.0], [9.5, 9.875, 10.375, 10.625]]
    assert times_of(onset.captures(times, 0.75), times) == \
        [(10.0, 10.375), (9.5,), (9.875,), (10.625,)]
    times = [[10.0, 12.0], [11.0, 12.0]]
    assert onset.captures(times, 0.5).groups == [[(0, 0)], [(0, 1), (1, 1)], [(1, 0)]]
    # Events taken on entry stay out of every capture.
    times = [[10.0, 11.0], [10.0, 11.0]]
    result = onset.captures(times, 0.5, taken=[[1, 0], [0, 0]])
    assert result.groups == [[(0, 1), (1, 1)], [(1, 0)]]
    assert onset.captures(times, 0.5, taken=result.taken).groups == []


def test_empty_and_infinite_cases():
    assert onset.captures([], []) == ([], [])
    result = onset.captures([[], [1.0, 2.0], []], 0.1)
    assert result.groups == [[(1, 0)], [(1, 1)]]
    assert [t.tolist() for t in result.taken] == [[], [True, True], []]
    # An infinite tolerance takes the first free event of every later trace.
    assert onset.captures([[0.0], [50.0, 90.0]], np.inf).groups == [[(0, 0), (1, 0)], [(1, 1)]]


def reference_captures(times, tolerances, taken):
    """The grouping rule step by step in plain Python: seeds in trace and event
    order, per later trace a cursor that lives for one seed trace, and the
    look-ahead that keeps the last of the run no farther than the first match."""
    n = len(times)
    taken = [[bool(f) for f in flags] for flags in taken]
    groups = []
    for t in range(n):
        tol, cursors = tolerances[t], [0] * n
        for k in range(len(times[t])):
            if taken[t][k]:
                continue
            s, group = times[t][k], [(t, k)]
            taken[t][k] = True
            for i in range(t + 1, n):
                for j in range(cursors[i], len(times[i])):
                    if taken[i][j]:
                        continue
                    d = s - times[i][j]
                    if d > tol:
                        continue
                    if d < -tol:
                        cursors[i] = j
                        break
                    e = j
                    while e + 1 < len(times[i]) and not taken[i][e + 1] and \
                            abs(s - times[i][e + 1]) <= abs(d):
                        e += 1
                    cursors[i] = e
                    group.append((i, e))
                    taken[i][e] = True
                    break
            groups.append(group)
    return groups


def test_random_networks_match_the_reference(rng):
    for _ in range(200):
        n = int(rng.integers(1, 6))
        # Times on a coarse grid: ties and equal distances come up often.
        times = [np.sort(rng.integers(0, 40, size=rng.integers(0, 8)) * 0.25) for _ in range(n)]
        tolerances = rng.integers(0, 6, size=n) * 0.25
        taken = [rng.random(len(t)) < 0.15 for t in times]
        result = onset.captures(times, tolerances, taken)
        assert result.groups == reference_captures(times, tolerances, taken)
