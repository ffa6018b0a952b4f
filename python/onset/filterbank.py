"""The Mexican-hat filter bank and the circular decimated correlation."""

import ctypes
import math

import numpy as np

from . import _checks
from ._library import WaveletDecomposition, WaveletFamily, c_double_p, lib

# Operands up to 2**31 - 1 samples keep the library's unsigned index
# arithmetic exact and every centre within a signed 32-bit integer.
_MAX_OPERAND = _checks.INT32_MAX
# The library writes `voices` steps for every group of scales, however few
# scales there are: 2**32 - 1 voices would take 16 GiB for four scales. From
# 2**16 voices on, neighbouring scales differ by less than 0.002 %.
_MAX_VOICES = 2**16


class DecompositionError(ValueError):
    """A decomposition the library refused; `code` is its result code and
    `scales` the indices of the scales concerned (code -3)."""

    def __init__(self, message, code, scales=()):
        super().__init__(message)
        self.code = code
        self.scales = tuple(scales)


def _read_only(array):
    array.flags.writeable = False
    return array


def _address(array, kind=c_double_p):
    return ctypes.cast(array.ctypes.data, kind)


def _check_scales(scales, first_scale, base):
    """Refuses a ladder whose wavelets the library cannot sample."""
    largest = float(np.max(scales))
    if not np.isfinite(largest) or 8 * largest >= 2**29:
        raise ValueError(f"first_scale {first_scale} and base {base} give scales "
                         f"up to {largest}; wavelets that long are not supported")
    if scales.min() <= 0:
        i = int(np.flatnonzero(scales <= 0)[0])
        raise ValueError(f"base {base} below 1 takes the scales down to 0 at scale {i} of "
                         f"{len(scales)}: use fewer scales, a base nearer 1 or a larger "
                         f"first_scale")


def _check_wavelets(wavelets, scales, first_scale, base):
    """Refuses a ladder with a scale so small that its wavelet is not finite
    (1 / scale, or the squared offsets times the amplitude, overflow)."""
    for i, wavelet in enumerate(wavelets):
        if not np.isfinite(wavelet).all():
            culprit = f"first_scale {first_scale}" if base >= 1 else \
                f"base {base} below 1 (from first_scale {first_scale})"
            raise ValueError(f"{culprit} gives scale {i} of {scales[i]:g} samples, too small "
                             f"for a wavelet: its samples are not finite")


class FilterBank:
    """A family of Mexican-hat wavelets on a geometric ladder of scales.

    Scale i is first_scale * base**(i / voices) (built by repeated
    multiplication), in samples. Wavelet i spans 8 scales on each side of its
    centre: 2*ceil(8*scale)+1 samples, capped at max_length (None: no cap).
    With fraction=None every scale is computed at full rate (step 1);
    otherwise the scales are decimated group by group: the `voices` scales
    from first_scale * base**g on get the step max(1, trunc(fraction *
    first_scale * base**g)).

    The bank owns every buffer the library reads; scales, lengths, centers,
    steps and wavelets are read-only arrays. One bank serves any number of
    traces, from any number of threads.

    >>> import numpy as np, onset
    >>> bank = onset.FilterBank(8, voices=4, first_scale=2.0, fraction=0.5)
    >>> bank.steps.tolist()
    [1, 1, 1, 1, 2, 2, 2, 2]
    >>> bank.lengths.tolist()[:2]
    [33, 41]
    >>> coefficients = bank.decompose(np.random.default_rng(0).normal(size=1000))
    >>> [len(c) for c in coefficients][3:5]
    [1000, 500]
    """

    def __init__(self, count, voices=4, first_scale=2.0, base=2.0, *,
                 max_length=None, fraction=None):
        count = _checks.integer(count, "count", 1, _checks.UINT32_MAX)
        voices = _checks.integer(voices, "voices", 1, _MAX_VOICES)
        first_scale = _checks.real(first_scale, "first_scale", positive=True)
        base = _checks.real(base, "base", positive=True)
        cap = _checks.UINT32_MAX if max_length is None else \
            _checks.integer(max_length, "max_length", 1, _MAX_OPERAND)

        scales = np.empty(count)
        lib.setscales0(scales.ctypes.data, count, voices, first_scale, base)
        _check_scales(scales, first_scale, base)
        lengths = np.empty(count, dtype=np.uint32)
        lib.setwaveletlength0(lengths.ctypes.data, scales.ctypes.data, count, cap)

        groups = -(-count // voices)
        steps = np.empty(voices * groups, dtype=np.uint32)  # whole groups are written
        if fraction is None:
            lib.setsampling0(steps.ctypes.data, count, 1, voices, groups,
                             first_scale, base, 1.0)
        else:
            fraction = _checks.real(fraction, "fraction", positive=True)
            x, top = fraction * first_scale, 0.0
            for _ in range(groups):  # the library's own products, to bound the steps
                top, x = max(top, x), x * base
            if top >= 2**32:
                raise ValueError(f"fraction {fraction} gives steps of {top:.0f} samples, "
                                 f"beyond the 32-bit range")
            lib.setsampling0(steps.ctypes.data, count, 0, voices, groups,
                             first_scale, base, fraction)
        steps = steps[:count].copy()

        total = int(lengths.sum(dtype=np.uint64))
        self._buffer = np.zeros(max(total, 1))
        self._pointers = (c_double_p * count)(_address(self._buffer))
        centers = np.empty(count, dtype=np.int32)
        self._family = WaveletFamily(
            self._pointers, _address(scales), _address(lengths, ctypes.POINTER(ctypes.c_uint32)),
            _address(centers, ctypes.POINTER(ctypes.c_int32)),
            _address(steps, ctypes.POINTER(ctypes.c_uint32)), 0.0, 0.0, count)
        lib.FillWaveletFamily(ctypes.byref(self._family))

        # The record points into these arrays: the bank keeps them, read-only.
        self._scales, self._lengths = _read_only(scales), _read_only(lengths)
        self._centers, self._steps = _read_only(centers), _read_only(steps)
        _read_only(self._buffer)
        offsets = np.concatenate(([0], np.cumsum(lengths, dtype=np.int64)))
        self._wavelets = tuple(self._buffer[offsets[i]:offsets[i + 1]] for i in range(count))
        _check_wavelets(self._wavelets, scales, first_scale, base)

    def __len__(self):
        return len(self._scales)

    def __repr__(self):
        return (f"FilterBank({len(self)} scales {self._scales[0]:g} .. {self._scales[-1]:g}, "
                f"steps {self._steps.min()} .. {self._steps.max()})")

    # Views of arrays the bank owns read-only: a view cannot be made writeable.
    scales = property(lambda self: self._scales.view(), doc="Scale of each wavelet, in samples.")
    lengths = property(lambda self: self._lengths.view(), doc="Samples of each wavelet.")
    centers = property(lambda self: self._centers.view(),
                       doc="Index of each wavelet's centre sample (length // 2).")
    steps = property(lambda self: self._steps.view(), doc="Output step (decimation) of each scale.")
    wavelets = property(lambda self: self._wavelets,
                        doc="The sampled wavelets, one read-only array per scale.")

    def decompose(self, trace):
        """Correlates `trace` circularly with every wavelet.

        Returns a list with one float64 array per scale: coefficient j of
        scale i has wavelet i's centre over trace sample j * steps[i], so it
        holds ceil(len(trace) / steps[i]) values. Raises DecompositionError
        (a ValueError) naming the scales whose wavelets are longer than the
        trace.

        >>> import numpy as np, onset
        >>> bank = onset.FilterBank(2, first_scale=1.0)
        >>> [c.shape for c in bank.decompose(np.ones(30))]
        [(30,), (30,)]
        """
        signal = _checks.samples(trace, "trace")
        n = signal.size
        if n > _MAX_OPERAND:
            raise ValueError(f"trace is too long: {n} samples, at most {_MAX_OPERAND}")
        count = len(self)
        outputs = [np.empty(-(-n // int(step))) for step in self._steps]
        pointers = (c_double_p * count)(*[_address(o) for o in outputs])
        lengths = np.zeros(count, dtype=np.uint32)
        record = WaveletDecomposition(
            pointers, _address(lengths, ctypes.POINTER(ctypes.c_uint32)), 0)
        code = lib.real_1D_wavelet_dec(ctypes.byref(record), signal.ctypes.data, n,
                                       ctypes.byref(self._family))
        if code == -3:
            short = np.flatnonzero(self._lengths > n).tolist()
            raise DecompositionError(
                f"trace of {n} samples is shorter than the wavelets of scales {short} "
                f"(lengths {self._lengths[short].tolist()})", code, short)
        if code == -1:
            raise DecompositionError("the library received no trace", code)
        if code == -2:
            raise DecompositionError("the library refused the filter bank "
                                     "(missing record or a step of 0)", code)
        if code != 0:
            raise DecompositionError(f"unknown result code {code}", code)
        return outputs


def cdotx(signal, filter, center, step=1):
    """Circular correlation of a trace with a filter, keeping every step-th output.

    With A the longer operand (N samples; the signal when the lengths are
    equal) and B the shorter (M samples), output j is
    sum(A[(j*step - center + i) % N] * B[i] for i < M), for j < ceil(N/step):
    filter sample `center` lies over position j*step of A, read as a circle.
    Sums are formed pairwise in a fixed order (reproducible bit for bit).

    signal, filter: 1-D arrays of real numbers.
    center: integer, 0 <= center <= N.  step: integer >= 1.
    Returns a new float64 array of ceil(N / step) samples.

    >>> import onset
    >>> onset.cdotx([1., 2, 3, 4, 5], [1., 1, 1], center=1).tolist()
    [8.0, 6.0, 9.0, 12.0, 10.0]
    >>> onset.cdotx([1., 2, 3, 4, 5], [1., 1, 1], center=1, step=2).tolist()
    [8.0, 9.0, 10.0]
    """
    a = _checks.samples(signal, "signal")
    b = _checks.samples(filter, "filter")
    n = max(a.size, b.size)
    if n > _MAX_OPERAND:
        raise ValueError(f"operands too long: {n} samples, at most {_MAX_OPERAND}")
    center = _checks.integer(center, "center", 0, n)
    step = _checks.integer(step, "step", 1, _checks.UINT32_MAX)
    step = min(step, max(n, 1))  # any step from N on gives the one output at 0
    out = np.empty(-(-n // step))
    lib.cdotx_dd(out.ctypes.data, a.ctypes.data, a.size, b.ctypes.data, b.size, center, step)
    return out
