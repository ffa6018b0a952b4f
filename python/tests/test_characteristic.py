"""kurtosis, max_jump and their batch forms against brute force and the library."""

import ctypes

import numpy as np
import pytest

import onset
from onset._library import lib


def brute_kurtosis(x, w):
    """Two-pass kurtosis of each clipped window, with the window sizes."""
    n, h = len(x), w // 2
    out, sizes = np.empty(n), np.empty(n, dtype=int)
    for i in range(n):
        window = x[max(0, i + h - w + 1):min(n - 1, i + h) + 1]
        d = window - window.mean()
        s2, s4 = np.sum(d * d), np.sum(d ** 4)
        with np.errstate(invalid="ignore", divide="ignore"):
            out[i] = len(window) * s4 / (s2 * s2)
        sizes[i] = len(window)
    return out, sizes


def brute_jump(x, w):
    """Later extreme minus earlier extreme of each clipped window, first occurrences."""
    n, d, h = len(x), w // 2, (w + 1) // 2
    out = np.empty(n)
    for k in range(n):
        lo = max(0, k - d)
        window = x[lo:min(n - 1, k + h - 1) + 1]
        imax, imin = lo + int(np.argmax(window)), lo + int(np.argmin(window))
        out[k] = x[imax] - x[imin] if imin <= imax else x[imin] - x[imax]
    return out


@pytest.mark.parametrize("n,w", [(1, 1), (2, 2), (5, 5), (40, 1), (40, 2), (40, 3), (41, 4),
                                 (60, 7), (200, 16), (300, 61), (64, 64)])
def test_kurtosis_matches_brute_force(rng, n, w):
    x = rng.normal(size=n) * rng.uniform(0.5, 3)
    x[rng.integers(n)] += 8.0  # an outlier makes the library rebuild its sums
    expected, sizes = brute_kurtosis(x, w)
    got = onset.kurtosis(x, w)
    # Windows of one or two samples hold nothing but rounding residue at the
    # trace's end; from three samples on the running sums agree up to drift.
    full = sizes >= 3
    np.testing.assert_allclose(got[full], expected[full], rtol=1e-6)


def test_kurtosis_exact_values():
    # Every three-sample window of distinct values has kurtosis 1.5; two values
    # in equal numbers give 1; no spread gives NaN.
    assert onset.kurtosis([-1.0, 0.0, 1.0], 3)[1] == pytest.approx(1.5)
    k = onset.kurtosis(np.tile([1.0, 2.0], 6), 4)
    np.testing.assert_allclose(k[1:10], 1.0, rtol=1e-12)
    assert np.isnan(onset.kurtosis(np.full(8, 3), 3)).all()


@pytest.mark.parametrize("n,w", [(1, 1), (2, 2), (8, 8), (30, 1), (30, 2), (31, 3), (50, 4),
                                 (100, 9), (257, 16), (400, 128), (120, 119)])
def test_max_jump_matches_brute_force(rng, n, w):
    for x in (rng.normal(size=n), rng.integers(0, 4, size=n).astype(float),
              np.sin(np.arange(n) / 7.0), np.arange(n, dtype=float)):
        np.testing.assert_array_equal(onset.max_jump(x, w), brute_jump(x, w))


def test_max_jump_example():
    x = [3, 1, 4, 1, 5, 9, 2, 6]
    assert onset.max_jump(x, 4).tolist() == [-2, 3, 3, 4, 8, 8, -7, -7]
    assert onset.max_jump(x, 8).tolist() == [3, 4, 8, 8, 8, 8, 8, 8]


def direct(function, x, w):
    """The library called through ctypes alone, with no binding in between."""
    x = np.ascontiguousarray(x, dtype=np.float64)
    out = np.empty_like(x)
    function(out.ctypes.data_as(ctypes.c_void_p), x.ctypes.data_as(ctypes.c_void_p),
             ctypes.c_uint32(x.size), ctypes.c_uint32(w))
    return out


@pytest.mark.parametrize("wrapper,function", [(onset.kurtosis, lib.trace_movkurtosis),
                                              (onset.max_jump, lib.trace_movmxjump)])
def test_single_matches_direct_call(rng, wrapper, function):
    x = rng.standard_t(3, size=5000)
    for w in (1, 2, 15, 100, 5000):
        np.testing.assert_array_equal(wrapper(x, w), direct(function, x, w))


@pytest.mark.parametrize("batch,single", [(onset.kurtosis_batch, onset.kurtosis),
                                          (onset.max_jump_batch, onset.max_jump)])
def test_batch_matches_single(rng, batch, single):
    matrix = rng.normal(size=(7, 300))
    out = batch(matrix, 21)
    assert isinstance(out, np.ndarray) and out.shape == matrix.shape
    for row, result in zip(matrix, out):
        np.testing.assert_array_equal(result, single(row, 21))

    windows = [1, 2, 5, 64, 3, 200]
    traces = [rng.normal(size=n) for n in (10, 2, 300, 64, 1000, 200)]
    out = batch(traces, windows)
    assert isinstance(out, list) and len(out) == len(traces)
    for trace, w, result in zip(traces, windows, out):
        np.testing.assert_array_equal(result, single(trace, w))

    per_row = batch(matrix, np.arange(1, 8) * 10)
    np.testing.assert_array_equal(per_row[6], single(matrix[6], 70))
    assert batch([], []) == []
    assert batch(np.empty((0, 5)), 3).shape == (0, 5)


def test_inputs_not_modified_and_converted_exactly(rng):
    x32 = rng.normal(size=500).astype(np.float32)
    strided = rng.normal(size=1000)[::2]
    ints = rng.integers(-1000, 1000, size=500)
    for x in (x32, strided, ints, ints.astype(np.int32), ints.astype(np.uint16).astype(np.uint64)):
        before = x.copy()
        out = onset.max_jump(x, 11)
        np.testing.assert_array_equal(x, before)
        np.testing.assert_array_equal(out, brute_jump(x.astype(np.float64), 11))
    # Integers exactly representable in float64 are accepted at any width.
    big = np.array([2**53, -2**53, 7], dtype=np.int64)
    assert onset.max_jump(big, 3)[1] == -2.0**54
