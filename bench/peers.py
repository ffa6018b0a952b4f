#!/usr/bin/env python3
"""onset through its Python binding against the tools a Python user would
otherwise reach for, on the same data, single-threaded, in one run:

  kurtosis     pandas Series.rolling(w).kurt()
  max-jump     bottleneck move_argmax + move_argmin (the signed jump needs both)
  filter bank  pywt.cwt(..., 'mexh', method='fft')

Each case is timed several times, the tools taking turns so that a busy
machine slows all of them alike; the medians and their ratios are printed.
Before timing, each peer's result is checked to come from the same windows
(or scales) as onset's, so that the times compare like with like.

    /usr/bin/python3 bench/peers.py [--repeats 9] [--samples 1000000]

The library is found as the binding finds it (ONSET_LIBRARY, the checkout's
build folder, ...). Needs numpy, pandas, bottleneck and pywt (Debian:
python3-pandas python3-bottleneck python3-pywt).
"""

import os
import sys

# One thread for everyone: set before the library's OpenMP runtime (and any
# threaded numerical library) is loaded.
for _variable in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ[_variable] = "1"

# Every tool returns fresh arrays of megabytes. By default glibc hands freed
# blocks of that size back to the kernel, and whichever call comes next pays
# some milliseconds of page faults for its output, depending on what ran
# before it. Freed memory is kept in the process instead (glibc reads these
# at start-up, hence the re-exec), so that each tool is timed on its own work.
_KEEP_FREED_MEMORY = {"MALLOC_MMAP_THRESHOLD_": str(1 << 30),
                      "MALLOC_TRIM_THRESHOLD_": str(1 << 30)}
if any(os.environ.get(k) != v for k, v in _KEEP_FREED_MEMORY.items()):
    os.environ.update(_KEEP_FREED_MEMORY)
    os.execv(sys.executable, [sys.executable] + sys.argv)

import argparse  # noqa: E402
import statistics  # noqa: E402
import time  # noqa: E402
from pathlib import Path  # noqa: E402

import bottleneck as bn  # noqa: E402
import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402
import pywt  # noqa: E402

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "python"))
import onset  # noqa: E402

WINDOWS = (16, 128, 1024)
SINE_PERIOD = 2000
BANK = dict(count=24, voices=4, first_scale=2.0, base=2.0)
BANK_SAMPLES = 10**5
TARGETS = {"kurtosis": 4.0, "kurtosis, sine w=1024": 2.0, "max-jump": 2.0, "filter bank": 5.0,
           "filter bank, full rate": 1.5}


def medians(cases, repeats):
    """Median seconds of each callable; one warm-up call each, then rounds in turn."""
    for function in cases.values():
        function()
    times = {name: [] for name in cases}
    for _ in range(repeats):
        for name, function in cases.items():
            start = time.perf_counter()
            function()
            times[name].append(time.perf_counter() - start)
    return {name: statistics.median(t) for name, t in times.items()}


def signals(n):
    rng = np.random.default_rng(7)
    return {"white noise": rng.normal(size=n),
            f"sine, period {SINE_PERIOD}": np.sin(2 * np.pi * np.arange(n) / SINE_PERIOD)}


# ---------------------------------------------------------------------------
# Checks that peer and onset see the same windows.

def check_kurtosis(x, w, ours):
    """pandas' value at j (window ending at j) is the bias-corrected excess
    form of onset's population kurtosis of the same window, output j - w//2.
    Checked on noise only: on the smooth sine pandas' running sums lose the
    small spread of short windows (w = 16: values off by more than 20)."""
    theirs = pd.Series(x).rolling(w).kurt().to_numpy()[w - 1:]
    k = ours[w - 1 - w // 2:len(x) - w // 2]
    n = float(w)
    excess = ((n + 1) * (k - 3) + 6) * (n - 1) / ((n - 2) * (n - 3))
    assert np.allclose(excess, theirs, rtol=1e-6, atol=1e-6), f"kurtosis windows differ, w={w}"


def bottleneck_extremes(x, w):
    return bn.move_argmax(x, w), bn.move_argmin(x, w)


def bottleneck_jump(x, w):
    """The signed jump of every full trailing window from bottleneck's offsets
    (0 = the window's last sample): later extreme minus earlier one."""
    offset_max, offset_min = bottleneck_extremes(x, w)
    end = np.arange(w - 1, len(x))
    at_max = end - offset_max[w - 1:].astype(np.intp)
    at_min = end - offset_min[w - 1:].astype(np.intp)
    rise = x[at_max] - x[at_min]
    return np.where(at_min <= at_max, rise, -rise)


def jump_agreement(x, w, ours):
    """The share of full windows where onset and bottleneck give the same jump;
    onset's output k has its window's last sample at k + (w + 1)//2 - 1.
    Equal extremes (a sine's symmetric slopes) may be told apart differently;
    on noise every window must agree."""
    shift = (w + 1) // 2 - 1
    return np.mean(ours[w - 1 - shift:len(x) - shift] == bottleneck_jump(x, w))


def check_filter_bank(x, bank, coefficients):
    """pywt's Mexican hat is onset's with the opposite sign. pywt samples an
    integrated wavelet from a table of 1024 points and differentiates, which
    shifts its output by up to a sample and coarsens it: compared away from
    the trace's ends (onset reads the trace as a circle, pywt pads with
    zeros), on the scales up to 64 that the table resolves (16 * scale + 1
    samples from 1024 points), every scale must correlate at -0.9 or below.
    Returns the weakest of those correlations (as a positive number)."""
    theirs, _ = pywt.cwt(x, bank.scales, "mexh", method="fft")
    edge = int(bank.lengths.max())
    weakest = 1.0
    for scale, ours, their in zip(bank.scales, coefficients, theirs):
        if 16 * scale + 1 > 1024:
            continue
        a = ours[edge:-edge]
        best = max(-np.corrcoef(a, their[edge + shift:len(x) - edge + shift])[0, 1]
                   for shift in (-1, 0, 1))
        weakest = min(weakest, best)
    assert weakest >= 0.9, f"filter bank scales differ: correlation {weakest:.3f}"
    return weakest


# ---------------------------------------------------------------------------

def row(cells, widths):
    return "  ".join(str(c).rjust(w) for c, w in zip(cells, widths))


def ratio_cell(ratio, target):
    return f"{ratio:6.1f}x {'ok' if ratio >= target else 'MISSED':6}"


def bench_kurtosis(data, repeats, misses):
    target = TARGETS["kurtosis"]
    sine_target = TARGETS["kurtosis, sine w=1024"]
    print(f"\nMoving kurtosis, {len(next(iter(data.values()))):,} samples. pandas gives the "
          "bias-corrected excess kurtosis, onset m4/m2^2:\nthe same windows, a different "
          f"formula; this compares speed only. Targets: >= {target:g}x on noise, "
          f">= {sine_target:g}x on the sine at w = 1024.")
    widths = (22, 6, 10, 10, 12, 13)
    print(row(("signal", "window", "onset ms", "pandas ms", "ratio", "recomputed"), widths))
    for name, x in data.items():
        series = pd.Series(x)
        for w in WINDOWS:
            ours = onset.kurtosis(x, w)
            # Outputs outside 1.5 .. 15 are recomputed over the whole window.
            recomputed = np.mean((ours < 1.5) | (ours > 15))
            if name == "white noise":
                check_kurtosis(x, w, ours)
            t = medians({"onset": lambda: onset.kurtosis(x, w),
                         "pandas": lambda: series.rolling(w).kurt()}, repeats)
            ratio = t["pandas"] / t["onset"]
            cell = f"{ratio:6.1f}x"
            wanted = target if name == "white noise" else (sine_target if w == 1024 else None)
            if wanted is not None:
                cell = ratio_cell(ratio, wanted)
                if ratio < wanted:
                    misses.append(f"kurtosis, {name}, w={w}: {ratio:.1f}x")
            print(row((name, w, f"{t['onset'] * 1e3:.2f}", f"{t['pandas'] * 1e3:.2f}", cell,
                       f"{recomputed:.1%}"), widths))
    print("On the sine, windows near half the period hold kurtosis below 1.5: every such "
          "output is\nrecomputed over its whole window, by design, and costs w steps "
          "(consecutive windows side by side\nin vector lanes).")


def bench_max_jump(data, repeats, misses):
    target = TARGETS["max-jump"]
    print(f"\nMoving max-jump, {len(next(iter(data.values()))):,} samples. bottleneck: "
          "move_argmax + move_argmin, the two calls alone\n(ratio), and with the signed "
          "jump formed from them in numpy (last two columns).")
    widths = (22, 6, 10, 10, 15, 10, 7, 7)
    print(row(("signal", "window", "onset ms", "bn ms", f"ratio (>= {target:g}x)",
               "bn+jump ms", "ratio", "agree"), widths))
    for name, x in data.items():
        for w in WINDOWS:
            agree = jump_agreement(x, w, onset.max_jump(x, w))
            if name == "white noise":
                assert agree == 1.0, f"max-jump windows differ, w={w}"
            t = medians({"onset": lambda: onset.max_jump(x, w),
                         "bottleneck": lambda: bottleneck_extremes(x, w),
                         "bottleneck+jump": lambda: bottleneck_jump(x, w)}, repeats)
            ratio = t["bottleneck"] / t["onset"]
            if ratio < target:
                misses.append(f"max-jump, {name}, w={w}: {ratio:.1f}x")
            print(row((name, w, f"{t['onset'] * 1e3:.2f}", f"{t['bottleneck'] * 1e3:.2f}",
                       ratio_cell(ratio, target), f"{t['bottleneck+jump'] * 1e3:.2f}",
                       f"{t['bottleneck+jump'] / t['onset']:.1f}x", f"{agree:.1%}"), widths))


def bench_filter_bank(repeats, misses):
    target = TARGETS["filter bank"]
    x = np.random.default_rng(11).normal(size=BANK_SAMPLES)
    full = onset.FilterBank(**BANK)
    half = onset.FilterBank(**BANK, fraction=0.5)
    weakest = check_filter_bank(x, full, full.decompose(x))
    print(f"\nMexican-hat filter bank, {BANK_SAMPLES:,} samples, {BANK['count']} scales "
          f"{full.scales[0]:g} .. {full.scales[-1]:.4g} ({BANK['voices']} voices per octave).\n"
          f"pywt.cwt(method='fft') at full rate; onset at full rate and with fraction 0.5 "
          f"(steps {half.steps.min()} .. {half.steps.max()}).\nOn scales up to 64, away from the "
          f"ends, onset's coefficients and pywt's correlate at -{weakest:.3f} or closer to -1.")
    t = medians({"onset full rate": lambda: full.decompose(x),
                 "onset fraction 0.5": lambda: half.decompose(x),
                 "pywt": lambda: pywt.cwt(x, full.scales, "mexh", method="fft")}, repeats)
    widths = (20, 10, 17)
    print(row(("", "ms", "pywt / this"), widths))
    print(row(("pywt cwt fft", f"{t['pywt'] * 1e3:.1f}", ""), widths))
    full_target = TARGETS["filter bank, full rate"]
    full_ratio = t["pywt"] / t["onset full rate"]
    if full_ratio < full_target:
        misses.append(f"filter bank, full rate: {full_ratio:.1f}x")
    print(row(("onset full rate", f"{t['onset full rate'] * 1e3:.1f}",
               f"{ratio_cell(full_ratio, full_target)} (>= {full_target:g}x)"), widths))
    ratio = t["pywt"] / t["onset fraction 0.5"]
    if ratio < target:
        misses.append(f"filter bank, fraction 0.5: {ratio:.1f}x")
    print(row(("onset fraction 0.5", f"{t['onset fraction 0.5'] * 1e3:.1f}",
               f"{ratio_cell(ratio, target)} (>= {target:g}x)"), widths))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeats", type=int, default=9, help="timed runs per case")
    parser.add_argument("--samples", type=int, default=10**6,
                        help="trace length for kurtosis and max-jump")
    args = parser.parse_args()

    print(f"onset {onset.__version__} ({onset.library_path}), numpy {np.__version__}, "
          f"pandas {pd.__version__}, bottleneck {bn.__version__}, pywt {pywt.__version__}")
    print(f"single thread (OMP_NUM_THREADS=1); median of {args.repeats} runs, tools in turn")
    misses = []
    data = signals(args.samples)
    bench_kurtosis(data, args.repeats, misses)
    bench_max_jump(data, args.repeats, misses)
    bench_filter_bank(args.repeats, misses)
    print("\nall targets met" if not misses else "\ntargets missed:\n  " + "\n  ".join(misses))


if __name__ == "__main__":
    main()
