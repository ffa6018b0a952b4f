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
