"""Every argument check: the right exception, naming the argument, nothing written."""

import numpy as np
import pytest

import onset

X = np.arange(10.0)


@pytest.mark.parametrize("function", [onset.kurtosis, onset.max_jump])
@pytest.mark.parametrize("x,window,error,message", [
    (X, 0, ValueError, "window must be between 1"),
    (X, -3, ValueError, "window must be between 1"),
    (X, 11, ValueError, "window must not exceed the trace length 10"),
    (np.empty(0), 1, ValueError, "window must not exceed the trace length 0"),
    (X, 2.0, TypeError, "window must be an integer, not float"),
    (X, True, TypeError, "window must be an integer, not bool"),
    (X, "3", TypeError, "window must be an integer"),
    (X.reshape(2, 5), 3, ValueError, r"x must be a 1-D array, got 2-D"),
    (5.0, 1, ValueError, r"x must be a 1-D array, got 0-D"),
    (X + 1j, 3, TypeError, "x must hold real numbers, not complex"),
    (X.astype(object), 3, TypeError, "x must hold real numbers, not object"),
    (X > 3, 3, TypeError, "x must hold real numbers, not boolean"),
    (["a", "b"], 1, TypeError, "x must hold real numbers, not string"),
    (np.array([2**53 + 1, 0]), 1, ValueError, "x holds values that float64 cannot represent"),
    (np.array([2**64 - 1, 0], dtype=np.uint64), 1, ValueError, "x holds values that float64"),
])
def test_single_trace_checks(function, x, window, error, message):
    with pytest.raises(error, match=message):
        function(x, window)


@pytest.mark.parametrize("function", [onset.kurtosis_batch, onset.max_jump_batch])
@pytest.mark.parametrize("traces,windows,error,message", [
    (X, 3, ValueError, "traces must be a 2-D array or a list of 1-D arrays, got a 1-D"),
    (np.zeros((2, 2, 2)), 1, ValueError, "got a 3-D array"),
    (7, 1, TypeError, "traces must be a 2-D array or a list"),
    ([X, X.reshape(2, 5)], 2, ValueError, r"traces\[1\] must be a 1-D array"),
    ([X, X + 1j], 2, TypeError, r"traces\[1\] must hold real numbers"),
    ([X, X[:4]], 5, ValueError, r"windows\[1\] must not exceed the trace length 4"),
    ([X, X], [3], ValueError, "windows must have one entry per trace: 2 traces, 1 windows"),
    ([X, X], [3, 0], ValueError, r"windows\[1\] must be between 1"),
    ([X, X], [3, 2.5], TypeError, r"windows\[1\] must be an integer"),
    ([X, X], 2.5, TypeError, "windows must be an integer or a sequence"),
])
def test_batch_checks(function, traces, windows, error, message):
    with pytest.raises(error, match=message):
        function(traces, windows)


@pytest.mark.parametrize("kwargs,error,message", [
    (dict(count=0), ValueError, "count must be between 1"),
    (dict(count=2.0), TypeError, "count must be an integer"),
    (dict(count=4, voices=0), ValueError, "voices must be between 1"),
    (dict(count=4, first_scale=0.0), ValueError, "first_scale must be positive"),
    (dict(count=4, first_scale=np.nan), ValueError, "first_scale must be finite"),
    (dict(count=4, first_scale=1j), TypeError, "first_scale must be a real number"),
    (dict(count=4, base=-2.0), ValueError, "base must be positive"),
    (dict(count=4, base=np.inf), ValueError, "base must be finite"),
    (dict(count=40, base=1e30), ValueError, "give scales up to"),
    (dict(count=4, max_length=0), ValueError, "max_length must be between 1"),
    (dict(count=4, fraction=0.0), ValueError, "fraction must be positive"),
    (dict(count=4, fraction=-0.5), ValueError, "fraction must be positive"),
    (dict(count=4, fraction=np.nan), ValueError, "fraction must be finite"),
    (dict(count=4, fraction=1e10), ValueError, "fraction 10000000000.0 gives steps"),
])
def test_filter_bank_checks(kwargs, error, message):
    with pytest.raises(error, match=message):
        onset.FilterBank(**kwargs)


def test_decompose_and_cdotx_checks():
    bank = onset.FilterBank(2, first_scale=1.0)
    with pytest.raises(ValueError, match="trace must be a 1-D array"):
        bank.decompose(np.ones((2, 40)))
    with pytest.raises(TypeError, match="trace must hold real numbers"):
        bank.decompose(np.ones(40, dtype=complex))
    with pytest.raises(onset.DecompositionError, match="trace of 0 samples"):
        bank.decompose([])
    for center, step, error, message in [(-1, 1, ValueError, "center must be between 0 and 5"),
                                         (6, 1, ValueError, "center must be between 0 and 5"),
                                         (1.0, 1, TypeError, "center must be an integer"),
                                         (1, 0, ValueError, "step must be between 1"),
                                         (1, -2, ValueError, "step must be between 1"),
                                         (1, 1.5, TypeError, "step must be an integer")]:
        with pytest.raises(error, match=message):
            onset.cdotx(np.ones(5), np.ones(3), center, step)
    with pytest.raises(ValueError, match="filter must be a 1-D array"):
        onset.cdotx(np.ones(5), np.ones((3, 1)), 0)


@pytest.mark.parametrize("times,tolerances,taken,error,message", [
    ([[1.0], [np.nan]], 0.5, None, ValueError, r"times\[1\] holds NaN"),
    ([[1.0], [[2.0]]], 0.5, None, ValueError, r"times\[1\] must be a 1-D array"),
    ([[1.0], [2j]], 0.5, None, TypeError, r"times\[1\] must hold real numbers"),
    (3.0, 0.5, None, TypeError, "times must be a sequence"),
    ([[1.0], [2.0]], [0.5], None, ValueError, "tolerances must have one entry per trace"),
    ([[1.0], [2.0]], [0.5, np.nan], None, ValueError, r"tolerances\[1\] must be finite"),
    ([[1.0], [2.0]], -0.5, None, ValueError, r"tolerances\[0\] must not be negative"),
    ([[1.0], [2.0]], [0.5, "x"], None, TypeError, r"tolerances\[1\] must be a real number"),
    ([[1.0], [2.0]], 0.5, [[0]], ValueError, "taken must have one entry per trace"),
    ([[1.0], [2.0]], 0.5, [[0], [0, 0]], ValueError, r"taken\[1\] must hold one flag per event"),
    ([[1.0], [2.0]], 0.5, [[0], [0.5]], TypeError, r"taken\[1\] must hold booleans or integers"),
])
def test_captures_checks(times, tolerances, taken, error, message):
    before = None if taken is None else [np.array(t).copy() for t in taken]
    with pytest.raises(error, match=message):
        onset.captures(times, tolerances, taken)
    if taken is not None:
        for t, b in zip(taken, before):
            np.testing.assert_array_equal(np.array(t), b)


def test_taken_flags_of_any_integer_width_count_as_taken():
    # 256 as a byte would be 0: flags are compared with zero, not narrowed.
    result = onset.captures([[1.0, 2.0]], 0.5, taken=[np.array([256, 0])])
    assert result.groups == [[(0, 1)]]
