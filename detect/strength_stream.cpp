// Moving kurtosis in fixed pieces and the onset strength over what is at
// hand, through the library.
#include "strength_stream.h"

#include <algorithm>
#include <cstring>

#include "index_math.h"
#include "onset.h"

namespace detect {

StrengthStream::StrengthStream(const RateSettings &settings, LookbackStore &store, StrengthSink &sink)
    : settings_(settings),
      store_(store),
      sink_(sink),
      kurtosis_half_(settings.windows.kurtosis >> 1),
      jump_half_(settings.windows.jump >> 1),
      given_(static_cast<size_t>(jump_half_))
{
}

namespace {

// The first NaN of values[from .. count - 1], or `count`. NaN lies only over
// bridged gaps, so blocks are passed over by a loop that the compiler
// vectorises.
size_t first_nan(const double *values, size_t from, size_t count)
{
    constexpr size_t block = 32;
    size_t j = from;
    for (; j + block <= count; j += block) {
        double found = 0.0;
        for (size_t k = j; k < j + block; ++k) found = values[k] == values[k] ? found : 1.0;
        if (found != 0.0) break;
    }
    while (j < count && values[j] == values[j]) ++j;
    return j;
}

}  // namespace

int64_t StrengthStream::piece_end(int64_t begin) const
{
    return (floor_divide(begin, settings_.piece) + 1) * settings_.piece;
}

int64_t StrengthStream::needs_from() const
{
    const int64_t own = in_run_ ? std::max(run_begin_, std::min(next_kurtosis_ - kurtosis_half_,
                                                                next_strength_ - jump_half_))
                                : std::numeric_limits<int64_t>::max();
    return std::min(own, sink_.needs_from());
}

void StrengthStream::filtered(int64_t first, size_t count)
{
    const double *values = store_.at(Column::filtered, first);
    size_t i = 0;
    while (i < count) {
        if (values[i] != values[i]) {
            if (in_run_) end_run();
            ++i;
            continue;
        }
        const size_t j = first_nan(values, i, count);
        if (!in_run_) begin_run(first + static_cast<int64_t>(i));
        run_end_ = first + static_cast<int64_t>(j);
        sink_.samples(store_, first + static_cast<int64_t>(i), j - i);
        i = j;
    }
    if (in_run_) compute(false);
}

void StrengthStream::segment_end()
{
    if (in_run_) end_run();
}

void StrengthStream::begin_run(int64_t first)
{
    in_run_ = true;
    run_begin_ = run_end_ = first;
    next_kurtosis_ = first;
    next_strength_ = kurtosis_end_ = first + kurtosis_half_;
}

void StrengthStream::end_run()
{
    compute(true);
    sink_.run_end(store_);
    in_run_ = false;
}

void StrengthStream::catch_up()
{
    if (in_run_) compute(false, true);
}

void StrengthStream::compute(bool ended, bool ahead)
{
    if (run_end_ - run_begin_ < static_cast<int64_t>(settings_.needed_run())) return;

    std::vector<Piece> pieces;
    int64_t s = next_kurtosis_;
    while (s < run_end_) {
        const int64_t e = std::min(piece_end(s), run_end_);
        if (!ended && e + kurtosis_half_ > run_end_) break;
        pieces.push_back({s, e, std::max(run_begin_, s - kurtosis_half_), std::min(run_end_, e + kurtosis_half_)});
        s = e;
    }
    // The outputs of the piece under way whose windows are full; the piece
    // still starts at s next time.
    if (ahead && s < run_end_ - kurtosis_half_ && run_end_ - kurtosis_half_ > kurtosis_end_)
        pieces.push_back({s, run_end_ - kurtosis_half_, std::max(run_begin_, s - kurtosis_half_), run_end_});
    if (!pieces.empty()) moving_kurtosis(pieces);
    next_kurtosis_ = s;

    // The strength's domain ends half a kurtosis window before the run does.
    const int64_t domain_begin = run_begin_ + kurtosis_half_;
    const int64_t end = ended ? run_end_ - kurtosis_half_ : kurtosis_end_ - jump_half_;
    if (end <= next_strength_) return;
    const int64_t input_end = ended ? end : kurtosis_end_;
    moving_jumps(next_strength_, std::max(domain_begin, next_strength_ - jump_half_), input_end);
    const int64_t first = next_strength_;
    next_strength_ = end;
    sink_.strength(store_, first, static_cast<size_t>(end - first));
}

namespace {

// Outputs of the library's kurtosis batches: scratch of the calling thread,
// shared by the channels it serves.
thread_local std::vector<double> outputs;

}  // namespace

void StrengthStream::moving_kurtosis(const std::vector<Piece> &pieces)
{
    // The library's batch record over the pieces: each piece one trace.
    const size_t count = pieces.size();
    std::vector<const double *> inputs(count);
    std::vector<double *> output_pointers(count);
    std::vector<uint32_t> lengths(count), windows(count, settings_.windows.kurtosis);
    size_t total = 0;
    for (const Piece &p : pieces) total += static_cast<size_t>(p.input_end - p.input_begin);
    outputs.resize(total);
    size_t offset = 0;
    for (size_t i = 0; i < count; ++i) {
        inputs[i] = store_.at(Column::filtered, pieces[i].input_begin);
        output_pointers[i] = outputs.data() + offset;
        lengths[i] = static_cast<uint32_t>(pieces[i].input_end - pieces[i].input_begin);
        offset += lengths[i];
    }
    const TraceBatch batch{inputs.data(), output_pointers.data(), lengths.data(), windows.data(),
                           static_cast<uint32_t>(count)};
    movkurtosis(&batch);

    // Only the full windows, from half a window into the run, are kept.
    offset = 0;
    const int64_t first_kept = run_begin_ + kurtosis_half_;
    for (const Piece &p : pieces) {
        const int64_t from = std::max(p.keep_begin, first_kept);
        if (from < p.keep_end) {
            std::memcpy(store_.at(Column::kurtosis, from), outputs.data() + offset + (from - p.input_begin),
                        static_cast<size_t>(p.keep_end - from) * sizeof(double));
            kurtosis_end_ = p.keep_end;
        }
        offset += static_cast<size_t>(p.input_end - p.input_begin);
    }
}

void StrengthStream::moving_jumps(int64_t begin, int64_t input_begin, int64_t input_end)
{
    // The max-jump writes an output for every input sample, in place: those
    // before `begin` were given already and may still be read, so they are
    // put back; those of the last half window come from clipped windows and
    // are written again by the next call.
    const auto before = static_cast<size_t>(begin - input_begin);
    double *strength = store_.at(Column::strength, input_begin);
    std::memcpy(given_.data(), strength, before * sizeof(double));
    trace_movmxjump(strength, store_.at(Column::kurtosis, input_begin), static_cast<uint32_t>(input_end - input_begin),
                    settings_.windows.jump);
    std::memcpy(strength, given_.data(), before * sizeof(double));
}

}  // namespace detect
