// Moving kurtosis and onset strength in fixed pieces, through the library's
// batch entries.
#include "strength_stream.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "index_math.h"
#include "onset.h"

namespace detect {

StrengthStream::StrengthStream(const RateSettings &settings, StrengthSink &sink)
    : settings_(settings),
      sink_(sink),
      kurtosis_half_(settings.windows.kurtosis >> 1),
      jump_half_(settings.windows.jump >> 1)
{
}

int64_t StrengthStream::piece_end(int64_t begin) const
{
    return (floor_divide(begin, settings_.piece) + 1) * settings_.piece;
}

void StrengthStream::filtered(int64_t first, const double *values, size_t count)
{
    size_t i = 0;
    while (i < count) {
        if (!std::isfinite(values[i])) {
            if (in_run_) end_run();
            ++i;
            continue;
        }
        size_t j = i;
        while (j < count && std::isfinite(values[j])) ++j;
        if (!in_run_) begin_run(first + static_cast<int64_t>(i));
        filtered_.append(values + i, j - i);
        sink_.samples(first + static_cast<int64_t>(i), values + i, j - i);
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
    run_begin_ = first;
    next_kurtosis_ = first;
    next_strength_ = first + kurtosis_half_;
    filtered_.reset(first);
    kurtosis_.reset(next_strength_);
}

void StrengthStream::end_run()
{
    compute(true);
    sink_.run_end();
    in_run_ = false;
}

void StrengthStream::compute(bool ended)
{
    const int64_t run_end = filtered_.end();
    if (run_end - run_begin_ < static_cast<int64_t>(settings_.needed_run())) return;

    std::vector<Piece> pieces;
    int64_t s = next_kurtosis_;
    while (s < run_end) {
        const int64_t e = std::min(piece_end(s), run_end);
        if (!ended && e + kurtosis_half_ > run_end) break;
        pieces.push_back({s, e, std::max(run_begin_, s - kurtosis_half_), std::min(run_end, e + kurtosis_half_)});
        s = e;
    }
    if (!pieces.empty()) moving_kurtosis(pieces);
    next_kurtosis_ = s;
    filtered_.drop_before(next_kurtosis_ - kurtosis_half_);

    // The strength's domain ends half a kurtosis window before the run does.
    const int64_t domain_begin = run_begin_ + kurtosis_half_;
    const int64_t domain_end = ended ? run_end - kurtosis_half_ : std::numeric_limits<int64_t>::max();
    const int64_t available = kurtosis_.end();
    pieces.clear();
    s = next_strength_;
    while (s < domain_end) {
        const int64_t e = std::min(piece_end(s), domain_end);
        const int64_t input_end = std::min(domain_end, e + jump_half_);
        if (input_end > available) break;
        pieces.push_back({s, e, std::max(domain_begin, s - jump_half_), input_end});
        s = e;
    }
    if (!pieces.empty()) strength_pieces(pieces);
    next_strength_ = s;
    kurtosis_.drop_before(next_strength_ - jump_half_);
}

namespace {

// Outputs of the library's batches: scratch of the calling thread, shared
// by the channels it serves.
thread_local std::vector<double> outputs;

}  // namespace

void StrengthStream::run_batch(void (*batch_function)(const TraceBatch *), const SampleBuffer &input,
                               const std::vector<Piece> &pieces, uint32_t window)
{
    // The library's batch record over the pieces: each piece one trace.
    const size_t count = pieces.size();
    std::vector<const double *> inputs(count);
    std::vector<double *> output_pointers(count);
    std::vector<uint32_t> lengths(count), windows(count, window);
    size_t total = 0;
    for (const Piece &p : pieces) total += static_cast<size_t>(p.input_end - p.input_begin);
    outputs.resize(total);
    size_t offset = 0;
    for (size_t i = 0; i < count; ++i) {
        inputs[i] = input.at(pieces[i].input_begin);
        output_pointers[i] = outputs.data() + offset;
        lengths[i] = static_cast<uint32_t>(pieces[i].input_end - pieces[i].input_begin);
        offset += lengths[i];
    }
    const TraceBatch batch{inputs.data(), output_pointers.data(), lengths.data(), windows.data(),
                           static_cast<uint32_t>(count)};
    batch_function(&batch);
}

void StrengthStream::moving_kurtosis(const std::vector<Piece> &pieces)
{
    run_batch(movkurtosis, filtered_, pieces, settings_.windows.kurtosis);
    // Only the full windows, from half a window into the run, are kept.
    size_t offset = 0;
    const int64_t first_kept = run_begin_ + kurtosis_half_;
    for (const Piece &p : pieces) {
        const int64_t from = std::max(p.keep_begin, first_kept);
        if (from < p.keep_end)
            kurtosis_.append(outputs.data() + offset + (from - p.input_begin), static_cast<size_t>(p.keep_end - from));
        offset += static_cast<size_t>(p.input_end - p.input_begin);
    }
}

void StrengthStream::strength_pieces(const std::vector<Piece> &pieces)
{
    run_batch(movjumps, kurtosis_, pieces, settings_.windows.jump);
    size_t offset = 0;
    for (const Piece &p : pieces) {
        sink_.strength(p.keep_begin, outputs.data() + offset + (p.keep_begin - p.input_begin),
                       kurtosis_.at(p.keep_begin), static_cast<size_t>(p.keep_end - p.keep_begin));
        offset += static_cast<size_t>(p.input_end - p.input_begin);
    }
}

}  // namespace detect
