"""FilterBank and cdotx against plain numpy computations and the library."""

import gc
import math

import numpy as np
import pytest

import onset


def circular(signal, filt, center, step):
    """Output j = sum_i A[(j*step - center + i) mod N] * B[i], A the longer operand."""
    a, b = (signal, filt) if len(signal) >= len(filt) else (filt, signal)
    n = len(a)
    starts = np.arange(0, n, step) - center
    index = (starts[:, None] + np.arange(len(b))[None, :]) % n
    return (a[index] * b[None, :]).sum(axis=1) if n else np.empty(0)


def mexican_hat(length, scale):
    t = np.arange(length) - length // 2
    amplitude = 2.0 / math.sqrt(5.317361552716548 * scale)
    u = (t / scale) ** 2
    return amplitude * (u - 1.0) * np.exp(-u / 2)


def test_setup_arrays():
    bank = onset.FilterBank(13, voices=4, first_scale=2.0, base=2.0, fraction=0.5)
    ratio = 2.0 ** (1.0 / 4)
    scales = [2.0]
    for _ in range(12):
        scales.append(scales[-1] * ratio)  # built by repeated products
    assert bank.scales.tolist() == scales
    lengths = [2 * math.ceil(8 * s) + 1 for s in scales]
    assert bank.lengths.tolist() == lengths
    assert bank.centers.tolist() == [n // 2 for n in lengths]
    assert bank.steps.tolist() == [1] * 4 + [2] * 4 + [4] * 4 + [8]
    assert len(bank) == 13 and len(bank.wavelets) == 13
    for wavelet, n, s in zip(bank.wavelets, lengths, scales):
        np.testing.assert_allclose(wavelet, mexican_hat(n, s), rtol=1e-13, atol=1e-15)

    capped = onset.FilterBank(6, first_scale=1.0, max_length=21)
    assert capped.lengths.tolist() == [17, 21, 21, 21, 21, 21]
    assert onset.FilterBank(6).steps.tolist() == [1] * 6
    assert onset.FilterBank(3, fraction=0.1).steps.tolist() == [1, 1, 1]


def test_arrays_are_read_only():
    bank = onset.FilterBank(4)
    for array in (bank.scales, bank.lengths, bank.centers, bank.steps, bank.wavelets[2]):
        with pytest.raises(ValueError):
            array[0] = 0
        with pytest.raises(ValueError):
            array.flags.writeable = True


@pytest.mark.parametrize("fraction", [None, 0.5, 1.5])
def test_decompose_matches_numpy_and_cdotx(rng, fraction):
    bank = onset.FilterBank(10, voices=3, first_scale=1.5, fraction=fraction)
    trace = rng.normal(size=777)
    coefficients = bank.decompose(trace)
    assert len(coefficients) == 10
    for i, c in enumerate(coefficients):
        step, center = int(bank.steps[i]), int(bank.centers[i])
        assert c.shape == (-(-777 // step),)
        np.testing.assert_allclose(c, circular(trace, bank.wavelets[i], center, step),
                                   rtol=1e-10, atol=1e-10)
        # The bank's scale computed alone, with its fixed summation order.
        np.testing.assert_array_equal(c, onset.cdotx(trace, bank.wavelets[i], center, step))


def test_bank_keeps_its_buffers(rng):
    trace = rng.normal(size=400)
    bank = onset.FilterBank(5, first_scale=2.0)
    expected = [c.copy() for c in bank.decompose(trace)]
    wavelets = [w.copy() for w in bank.wavelets]
    for _ in range(3):  # churn the allocator: the record must still point at live arrays
        garbage = [np.full(n, np.nan) for n in bank.lengths for _ in range(4)]
        del garbage
        gc.collect()
    for got, want in zip(bank.decompose(trace), expected):
        np.testing.assert_array_equal(got, want)
    for got, want in zip(bank.wavelets, wavelets):
        np.testing.assert_array_equal(got, want)


def test_wavelet_longer_than_trace_names_scales():
    bank = onset.FilterBank(4, voices=2, first_scale=1.0)
    # Scale 2 comes out a rounding above 2.0, so its wavelet has 35 samples.
    assert bank.lengths.tolist() == [17, 25, 35, 47]
    bank.decompose(np.ones(47))  # a wavelet as long as the trace is fine
    with pytest.raises(onset.DecompositionError, match=r"34 samples .* scales \[2, 3\]") as info:
        bank.decompose(np.ones(34))
    assert info.value.code == -3 and info.value.scales == (2, 3)
    assert isinstance(info.value, ValueError)


def test_cdotx_examples():
    trace, ones = [1.0, 2, 3, 4, 5], [1.0, 1, 1]
    assert onset.cdotx(trace, ones, 0).tolist() == [6, 9, 12, 10, 8]
    assert onset.cdotx(trace, ones, 5).tolist() == [6, 9, 12, 10, 8]
    # The trace shorter than the filter: the two exchange roles.
    assert onset.cdotx([1.0, 2, 3], [1.0, 10, 100, 1000, 10000], 1, 2).tolist() == \
        [10032, 3210, 21003]
    # Pairwise summation: a left-to-right sum would give 1.
    assert onset.cdotx([1, 1e16, -1e16, 1], [1.0] * 4, 0, 4).tolist() == [0.0]
    assert onset.cdotx([], [1.0, 2, 3, 4], 0).tolist() == [0.0] * 4
    assert onset.cdotx([], [], 0).size == 0
    assert onset.cdotx(np.arange(10.0), [1.0], 0, step=10**9).tolist() == [0.0]


def test_cdotx_matches_numpy(rng):
    for _ in range(40):
        n, m = rng.integers(1, 60, size=2)
        signal, filt = rng.normal(size=n), rng.normal(size=m)
        center, step = int(rng.integers(0, max(n, m) + 1)), int(rng.integers(1, 9))
        np.testing.assert_allclose(onset.cdotx(signal, filt, center, step),
                                   circular(signal, filt, center, step), rtol=1e-9, atol=1e-12)
