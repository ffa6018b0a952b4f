// Overlap-save correlation through FFTW, with plans that give the same bits
// on every run and machine.
#include "bandpass_blocks.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

namespace detect {

namespace {

// Guards FFTW's planner, which is not thread-safe (its execute functions
// are).
std::mutex planner;

// Leaves FFTW's SIMD codelets out (FFTW_NO_SIMD, not in every fftw3.h).
constexpr unsigned plan_flags = FFTW_ESTIMATE | (1U << 17);

// A thread's transform buffers, from fftw_malloc so that every call sees the
// alignment the plans were made for; grown to the largest size asked.
class Scratch {
public:
    ~Scratch() { release(); }

    void reserve(int64_t size)
    {
        if (size <= size_) return;
        release();
        samples_ = fftw_alloc_real(static_cast<size_t>(size));
        spectrum_ = fftw_alloc_complex(static_cast<size_t>(size / 2 + 1));
        if (!samples_ || !spectrum_) {
            release();
            throw std::bad_alloc();
        }
        size_ = size;
    }
    double *samples() const { return samples_; }
    fftw_complex *spectrum() const { return spectrum_; }

private:
    void release()
    {
        fftw_free(samples_);
        fftw_free(spectrum_);
        samples_ = nullptr;
        spectrum_ = nullptr;
        size_ = 0;
    }

    double *samples_ = nullptr;
    fftw_complex *spectrum_ = nullptr;
    int64_t size_ = 0;
};

thread_local Scratch scratch;

}  // namespace

int64_t transform_size(int64_t kernel_length)
{
    int64_t size = least_transform;
    while (size < transform_kernels * kernel_length) size *= 2;
    return size;
}

BandPassBlocks::BandPassBlocks(const std::vector<double> &kernel)
    : kernel_length_(static_cast<int64_t>(kernel.size())),
      center_(kernel_length_ / 2),
      size_(transform_size(kernel_length_))
{
    const int64_t bins = size_ / 2 + 1;
    scratch.reserve(size_);
    spectrum_ = reinterpret_cast<double *>(fftw_alloc_complex(static_cast<size_t>(bins)));
    if (!spectrum_) throw std::bad_alloc();
    {
        const std::lock_guard<std::mutex> lock(planner);
        forward_ = fftw_plan_dft_r2c_1d(static_cast<int>(size_), scratch.samples(), scratch.spectrum(), plan_flags);
        inverse_ = fftw_plan_dft_c2r_1d(static_cast<int>(size_), scratch.spectrum(), scratch.samples(), plan_flags);
    }
    if (!forward_ || !inverse_) {
        release();
        throw std::bad_alloc();
    }
    double *padded = scratch.samples();
    std::copy(kernel.begin(), kernel.end(), padded);
    std::fill(padded + kernel_length_, padded + size_, 0.0);
    fftw_execute_dft_r2c(forward_, padded, scratch.spectrum());
    const double scale = 1.0 / static_cast<double>(size_);
    for (int64_t k = 0; k < bins; ++k) {
        spectrum_[2 * k] = scratch.spectrum()[k][0] * scale;
        spectrum_[2 * k + 1] = -scratch.spectrum()[k][1] * scale;
    }
}

BandPassBlocks::~BandPassBlocks() { release(); }

void BandPassBlocks::release()
{
    const std::lock_guard<std::mutex> lock(planner);
    if (forward_) fftw_destroy_plan(forward_);
    if (inverse_) fftw_destroy_plan(inverse_);
    fftw_free(spectrum_);
}

void BandPassBlocks::correlate(const double *input, double *outputs) const
{
    scratch.reserve(size_);
    double *samples = scratch.samples();
    fftw_complex *spectrum = scratch.spectrum();
    std::memcpy(samples, input, static_cast<size_t>(size_) * sizeof(double));
    fftw_execute_dft_r2c(forward_, samples, spectrum);
    for (int64_t k = 0; k <= size_ / 2; ++k) {
        const double re = spectrum[k][0], im = spectrum[k][1];
        const double kre = spectrum_[2 * k], kim = spectrum_[2 * k + 1];
        spectrum[k][0] = re * kre - im * kim;
        spectrum[k][1] = re * kim + im * kre;
    }
    fftw_execute_dft_c2r(inverse_, spectrum, samples);
    std::memcpy(outputs, samples, static_cast<size_t>(block_outputs()) * sizeof(double));
}

}  // namespace detect
