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
    (dict(count=4, voices=2**32 - 1), ValueError, "voices must be between 1 and 65536"),
    (dict(count=4, first_scale=1e-200), ValueError,
     "first_scale 1e-200 gives scale 0 of 1e-200 samples, too small for a wavelet"),
    (dict(count=8000, base=0.5), ValueError,
     r"base 0.5 below 1 \(from first_scale 2.0\) gives scale 1643 .* too small for a wavelet"),
    (dict(count=200, voices=1, base=0.01), ValueError,
     "base 0.01 below 1 takes the scales down to 0 at scale 162 of 200"),
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


def test_filter_bank_limits_are_usable():
    # Just inside the limits the wavelets are finite and the steps few.
    assert np.isfinite(onset.FilterBank(4, first_scale=1e-100).wavelets[0]).all()
    assert onset.FilterBank(4, voices=2**16, fraction=0.5).steps.tolist() == [1, 1, 1, 1]


@pytest.mark.parametrize("times,tolerances,taken,error,message", [
    ([[1.0], [np.nan]], 0.5, None, ValueError,
     r"times\[1\] must hold finite times: times\[1\]\[0\] is nan"),
    ([[1.0], [2.0, -np.inf]], 0.5, None, ValueError,
     r"times\[1\] must hold finite times: times\[1\]\[1\] is -inf"),
    ([[1.0, 3.0, 2.0], [2.0]], 0.5, None, ValueError,
     r"times\[0\] must be in ascending order: times\[0\]\[2\] = 2.0 comes after 3.0"),
    ([np.ma.masked_array([1.0, 2.0], mask=[0, 1])], 0.5, None, ValueError,
     r"times\[0\] has 1 masked samples"),
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


@pytest.mark.parametrize("function,batch", [(onset.kurtosis, onset.kurtosis_batch),
                                            (onset.max_jump, onset.max_jump_batch)])
def test_masked_samples_are_gaps(rng, function, batch):
    x = rng.normal(size=60)
    mask = np.zeros(60, dtype=bool)
    mask[[10, 11, 40]] = True
    masked = np.ma.masked_array(x.copy(), mask=mask)
    masked.data[mask] = 1e6  # what lies under the mask must never count
    expected = function(np.where(mask, np.nan, x), 5)
    assert np.isnan(expected[[10, 11, 40]]).all() and np.isfinite(expected[:8]).all()
    np.testing.assert_array_equal(function(masked, 5), expected)
    np.testing.assert_array_equal(batch([masked, x], 5)[0], expected)
    np.testing.assert_array_equal(batch(np.ma.vstack([x, masked]), 5)[1], expected)
    assert (masked.data[mask] == 1e6).all()  # the caller's array is left alone
    # Integers under the mask that float64 cannot hold are not looked at either.
    wide = np.ma.masked_array(np.array([1, 5, 2**60 + 1, 4]), mask=[0, 0, 1, 0])
    out = function(wide, 2)
    assert np.isnan(out[2]) and out[0] == function([1.0, 5.0, 0.0, 4.0], 2)[0]
