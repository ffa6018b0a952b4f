// The band-pass correlation by FFT overlap-save, a block of outputs at a time.
#ifndef ONSET_DETECT_BANDPASS_BLOCKS_H
#define ONSET_DETECT_BANDPASS_BLOCKS_H

#include <cstdint>
#include <vector>

#include <fftw3.h>

namespace detect {

// Longest kernel a channel may need: its transforms and buffers then take a
// few tens of MB. Longer ones come from a rate or fmin that no seismic
// channel has.
constexpr int64_t longest_kernel = int64_t{1} << 20;

// Kernels shorter than this are correlated directly: at 205 taps (100 Hz,
// 2-20 Hz) the direct correlation costs about what a block's transforms
// do and needs no block of input ahead, while from a few hundred taps on
// the transforms' cost per output grows as the log of the kernel's length
// and the direct one as the length itself.
constexpr int64_t shortest_block_kernel = 256;

// Transform size for a kernel of `kernel_length` taps: the least power of
// two of at least `transform_kernels` kernels and `least_transform` points.
// From four to eight kernels the cost per output is near its least, while a
// block still waits only a few kernel lengths for its input; below 64
// points the fixed cost of each block would dominate.
constexpr int64_t transform_kernels = 4, least_transform = 64;
int64_t transform_size(int64_t kernel_length);

// The kernel's spectrum and FFTW's plans for one kernel, made once and then
// shared by every channel and thread that uses it. The plans are FFTW's
// estimates without SIMD codelets: measured plans, or codelets chosen by the
// CPU, would give other bits on another run or another machine.
class BandPassBlocks {
public:
    // `kernel` has an odd length, its centre in the middle.
    explicit BandPassBlocks(const std::vector<double> &kernel);
    ~BandPassBlocks();
    BandPassBlocks(const BandPassBlocks &) = delete;
    BandPassBlocks &operator=(const BandPassBlocks &) = delete;

    int64_t center() const { return center_; }
    int64_t kernel_length() const { return kernel_length_; }
    // Outputs per block, and the input samples a block reads.
    int64_t block_outputs() const { return size_ - kernel_length_ + 1; }
    int64_t block_inputs() const { return size_; }

    // Output j of the block (j < block_outputs()) is the kernel over
    // input[j] ... input[j + kernel_length() - 1]. Reads block_inputs()
    // samples; safe to call from several threads at once.
    void correlate(const double *input, double *outputs) const;

private:
    void release();

    int64_t kernel_length_, center_, size_;
    // The kernel's spectrum, conjugated (a correlation) and divided by the
    // size (FFTW's inverse is unscaled), as re, im pairs.
    double *spectrum_ = nullptr;
    fftw_plan forward_ = nullptr, inverse_ = nullptr;
};

}  // namespace detect

#endif
