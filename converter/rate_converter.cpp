#include "converter/rate_converter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <numeric>

namespace kessin {
namespace {

constexpr int kMaxOutputRate = 1000000;

double sinc(double x) {
    return std::fabs(x) < 1e-10 ? 1.0 : std::sin(x) / x;
}

// Blackman window over [-0.5, 0.5].
double window(double x) {
    const double pi = std::numbers::pi;
    return 0.42 - 0.5 * std::cos(2 * pi * (x + 0.5)) + 0.08 * std::cos(4 * pi * (x + 0.5));
}

}  // namespace

double RateConverter::coefficient(long a) const {
    if (a == 0)
        return 2 * cutoff_;
    const double t = double(a) / double(l_);
    return 2 * cutoff_ * sinc(2 * std::numbers::pi * cutoff_ * t) * window(t / taps_);
}

int RateConverter::setup(const std::int16_t* input, std::size_t count, int inputRate,
                         int outputRate, int taps, int tableLimit, int tableSizeLimit) {
    if (outputRate <= 0 || outputRate > kMaxOutputRate || taps <= 1 || inputRate <= 0)
        return -1;
    input_ = input;
    inputCount_ = count;
    inputUsed_ = 0;
    taps_ = taps & ~1;
    const long g = std::gcd(long(inputRate), long(outputRate));
    l_ = outputRate / g;
    m_ = inputRate / g;
    cutoff_ = outputRate >= inputRate ? 0.5 : 0.5 * outputRate / inputRate;
    history_.assign(std::size_t(4) * taps_, 0.0);
    readPos_ = validEnd_ = long(history_.size());
    phase_ = 0;

    phaseCoefficients_.clear();
    const long half = taps_ / 2;
    if (l_ <= tableLimit && l_ * half <= tableSizeLimit) {
        // The tabulated values are floats, exactly as a table indexed by |a| - 1 would hold them;
        // laying them out per phase only saves the index arithmetic in the inner loop.
        std::vector<float> table(std::size_t(l_ * half));
        for (long k = 1; k <= l_ * half; ++k)
            table[std::size_t(k - 1)] = float(coefficient(k));
        phaseCoefficients_.resize(std::size_t(l_) * taps_);
        for (long p = 0; p < l_; ++p) {
            for (long i = 0; i < taps_; ++i) {
                const long a = (i - half + 1) * l_ - p;
                phaseCoefficients_[std::size_t(p * taps_ + i)] =
                    a == 0 ? float(2 * cutoff_) : table[std::size_t(std::labs(a) - 1)];
            }
        }
    }
    return 0;
}

void RateConverter::refill() {
    // Keep the last `taps` samples as history and fill the rest with fresh input.
    const long size = long(history_.size());
    const long keep = taps_;
    const long shift = size - keep;
    std::copy(history_.begin() + shift, history_.end(), history_.begin());
    readPos_ -= shift;
    validEnd_ -= shift;
    long pos = keep;
    if (inputUsed_ < inputCount_) {
        while (pos < size && inputUsed_ < inputCount_)
            history_[std::size_t(pos++)] = input_[inputUsed_++];
        validEnd_ = pos;
    }
    std::fill(history_.begin() + pos, history_.end(), 0.0);
}

double RateConverter::filtered() const {
    const long half = taps_ / 2;
    const double* x = history_.data() + (readPos_ - half + 1);
    double sum = 0;
    if (!phaseCoefficients_.empty()) {
        const float* h = phaseCoefficients_.data() + std::size_t(phase_) * taps_;
        for (long i = 0; i < taps_; ++i)
            sum += double(h[i]) * x[i];
    } else {
        for (long i = 0; i < taps_; ++i)
            sum += coefficient((i - half + 1) * l_ - phase_) * x[i];
    }
    return sum;
}

long RateConverter::read(std::int16_t* out, std::size_t count) {
    std::size_t produced = 0;
    const long size = long(history_.size());
    while (produced < count) {
        if (readPos_ + taps_ / 2 >= size)
            refill();
        if (readPos_ >= validEnd_)
            break;
        long value = long(filtered() + 0.5);  // truncation toward zero, as the format expects
        if (value > 32767)
            value = 32767;
        if (value < -32767)
            value = -32767;
        out[produced++] = std::int16_t(value);
        phase_ += m_;
        while (phase_ >= l_) {
            phase_ -= l_;
            ++readPos_;
        }
    }
    return long(produced);
}

}  // namespace kessin
