// Several traces of one thread's block at once, one trace per vector lane.
// Private to kurtosis/.
//
// Each lane carries its own trace through the sliding phase with its own
// window, length and position, by the very step of the single-trace loop;
// the phases at the ends of a trace run on their own, as in a single call. A
// lane whose step leaves the band (or meets a NaN) does that step's off-band
// work by itself while the others wait; a lane whose trace ends takes the
// next trace of the block. When a single lane is left, its trace finishes in
// the single-trace loop. So every output has the bits of trace_movkurtosis.
//
// A kernel header (see simd/lanes.h): templates only, in an unnamed
// namespace, so that each instruction set's file compiles its own copy.
#pragma once

#include "kurtosis/moving_kurtosis.h"
#include "kurtosis/sliding_state.h"
#include "kurtosis/sliding_step.h"
#include "onset.h"

#include <cstdint>

namespace onset::kurtosis {
namespace {

template <class L> class TracesInLanes {
public:
    TracesInLanes(const TraceBatch &batch, std::uint32_t first, std::uint32_t end)
        : batch_(batch), next_(first), end_(end)
    {
    }

    void run()
    {
        for (std::size_t l = 0; l < width; ++l)
            if (take_trace(l))
                active_ |= 1u << l;
        while (active_ & (active_ - 1)) { // two lanes or more
            std::uint32_t run = ~0u;
            for (std::size_t l = 0; l < width; ++l)
                if (active(l) && lanes_[l].steps - lanes_[l].step < run)
                    run = lanes_[l].steps - lanes_[l].step;
            if (active_ == all_lanes)
                slide_lanes<true>(run);
            else
                slide_lanes<false>(run);
            for (std::size_t l = 0; l < width; ++l) {
                if (!active(l))
                    continue;
                lanes_[l].step += run;
                if (lanes_[l].step == lanes_[l].steps) {
                    finish_trace(l);
                    if (!take_trace(l))
                        active_ &= ~(1u << l);
                }
            }
        }
        for (std::size_t l = 0; l < width; ++l) {
            if (active(l)) {
                Lane &lane = lanes_[l];
                lane.trace.set_sums(sums_of(l));
                lane.trace.slide(lane.step);
                lane.trace.shrink(lane.length - lane.half);
            }
        }
    }

private:
    using V = typename L::Value;
    static constexpr std::size_t width = L::width;
    static constexpr unsigned all_lanes = (1u << width) - 1;

    struct Lane {
        MovingKurtosis trace{nullptr, nullptr, 0, 1, simd::Isa::plain};
        std::uint32_t length = 0;
        std::uint32_t half = 0;
        std::uint32_t step = 0;  // the next sliding step
        std::uint32_t steps = 0; // n - w
        const double *leaving = nullptr;  // in[j] leaves at step j
        const double *entering = nullptr; // in[j + w] enters
        double *out = nullptr;            // out[j + w - h] is written
    };

    bool active(std::size_t l) const { return (active_ >> l) & 1u; }

    // Starts the next trace of the block that has a sliding phase in lane l,
    // computing those without one on the spot; false when none is left.
    bool take_trace(std::size_t l)
    {
        while (next_ < end_) {
            const std::uint32_t i = next_++;
            double *out = batch_.outputs[i];
            const double *in = batch_.inputs[i];
            const std::uint32_t n = batch_.lengths[i];
            const std::uint32_t w = batch_.windows[i];
            if (w == 0 || n <= w) {
                moving_kurtosis(out, in, n, w, fastest_ahead_isa());
                continue;
            }
            Lane &lane = lanes_[l];
            lane.trace = MovingKurtosis(out, in, n, w, fastest_ahead_isa());
            lane.length = n;
            lane.half = w >> 1;
            lane.trace.first_output(lane.half);
            lane.trace.grow(lane.half + 1, w);
            lane.step = 0;
            lane.steps = n - w;
            lane.leaving = in;
            lane.entering = in + w;
            lane.out = out + (w - lane.half);
            const SlidingWidth<double> c = sliding_width(w);
            L::set_lane(width_.width, l, c.width);
            L::set_lane(width_.rw, l, c.rw);
            L::set_lane(width_.rw1, l, c.rw1);
            L::set_lane(width_.p, l, c.p);
            L::set_lane(width_.q, l, c.q);
            put_lane(sums_, l, sliding_sums(lane.trace.sums(), c.rw * lane.trace.sums().s1));
            return true;
        }
        return false;
    }

    void finish_trace(std::size_t l)
    {
        Lane &lane = lanes_[l];
        lane.trace.set_sums(sums_of(l));
        lane.trace.shrink(lane.length - lane.half);
    }

    RunningSums sums_of(std::size_t l) const
    {
        return {L::lane(sums_.s1, l), L::lane(sums_.s2, l), L::lane(sums_.s3, l),
                L::lane(sums_.s4, l)};
    }

    static void put_lane(SlidingSums<V> &into, std::size_t l, const SlidingSums<double> &s)
    {
        L::set_lane(into.s1, l, s.s1);
        L::set_lane(into.s2, l, s.s2);
        L::set_lane(into.s3, l, s.s3);
        L::set_lane(into.s4, l, s.s4);
        L::set_lane(into.mean, l, s.mean);
        L::set_lane(into.six_s2, l, s.six_s2);
        L::set_lane(into.minus3_s2, l, s.minus3_s2);
        L::set_lane(into.minus4_s3, l, s.minus4_s3);
    }

    // `run` steps of every active lane. Idle lanes (Full false) read the
    // samples of an active one, and their results are dropped.
    template <bool Full> void slide_lanes(std::uint32_t run)
    {
        const double *entering[width];
        const double *leaving[width];
        double *out[width];
        std::size_t busy = 0;
        while (!active(busy))
            ++busy;
        for (std::size_t l = 0; l < width; ++l) {
            const Lane &lane = lanes_[active(l) ? l : busy];
            entering[l] = lane.entering + lane.step;
            leaving[l] = lane.leaving + lane.step;
            out[l] = lane.out + lane.step;
        }
        const SlidingWidth<V> c = width_;
        SlidingSums<V> s = sums_;
        const V low = L::broadcast(1.5);
        const V high = L::broadcast(15.0);
        for (std::uint32_t j = 0; j < run; ++j) {
            V k = slide_once(s, c, L::gather(entering, j), L::gather(leaving, j));
            const unsigned off =
                ~L::bits(L::both(L::greater_equal(k, low), L::less_equal(k, high))) & active_;
            if (__builtin_expect(off != 0, 0)) {
                // As in the single-trace loop: a copy, so that the loop's own
                // state never has its address taken.
                SlidingSums<V> rebuilt = s;
                k = off_band(off, j, k, rebuilt);
                s = rebuilt;
            }
            for (std::size_t l = 0; l < width; ++l)
                if (Full || active(l))
                    out[l][j] = L::lane(k, l);
        }
        sums_ = s;
    }

    // The off-band work of the lanes in `off` at step `j` of the run, each
    // by its own trace; returns the values to store.
    __attribute__((noinline)) V off_band(unsigned off, std::uint32_t j, V k, SlidingSums<V> &s)
    {
        for (std::size_t l = 0; l < width; ++l) {
            if (!((off >> l) & 1u))
                continue;
            Lane &lane = lanes_[l];
            RunningSums sums{L::lane(s.s1, l), L::lane(s.s2, l), L::lane(s.s3, l),
                             L::lane(s.s4, l)};
            double mean = L::lane(s.mean, l);
            L::set_lane(k, l, lane.trace.off_band(lane.step + j + 1, L::lane(k, l), sums, mean));
            put_lane(s, l, sliding_sums(sums, mean));
        }
        return k;
    }

    const TraceBatch &batch_;
    std::uint32_t next_;
    const std::uint32_t end_;
    unsigned active_ = 0;
    Lane lanes_[width];
    SlidingWidth<V> width_{};
    SlidingSums<V> sums_{};
};

} // namespace
} // namespace onset::kurtosis
