#include "converter/rate_converter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <numeric>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kessin {
namespace {

constexpr int kMaxOutputRate = 1000000;
// Output samples whose sums are accumulated side by side.
constexpr int kLanes = 8;
// The caller's input is taken into the buffer this many samples at a time.
constexpr std::size_t kInputPiece = 4096;
// Samples no later sum reads are dropped from the buffer once there are this many of them.
constexpr long kDropThreshold = 16384;

double sinc(double x) {
    return std::fabs(x) < 1e-10 ? 1.0 : std::sin(x) / x;
}

// Blackman window over [-0.5, 0.5].
double window(double x) {
    const double pi = std::numbers::pi;
    return 0.42 - 0.5 * std::cos(2 * pi * (x + 0.5)) + 0.08 * std::cos(4 * pi * (x + 0.5));
}

// One output sample's sum: the products added one by one, in tap order.
double sumOne(const double* h, const double* x, int taps) {
    double sum = 0;
    for (int i = 0; i < taps; ++i)
        sum += h[i] * x[i];
    return sum;
}

// kLanes sums at once. Every lane adds its products one by one in tap order, exactly as sumOne
// does, so each sum is bit for bit the one sumOne gives; running the lanes side by side only
// hides the latency of each addition behind the others' (and, with SSE2, halves the loads).
// `taps` is even.
void sumLanes(const double* const h[kLanes], const double* const x[kLanes], int taps,
              double sums[kLanes]) {
#if defined(__SSE2__)
    __m128d acc[kLanes / 2];
    for (auto& a : acc)
        a = _mm_setzero_pd();
    for (int i = 0; i < taps; i += 2) {
        for (int q = 0; q < kLanes / 2; ++q) {
            // Products of taps i and i + 1 for lanes 2q and 2q + 1 ...
            const __m128d a = _mm_mul_pd(_mm_loadu_pd(h[2 * q] + i), _mm_loadu_pd(x[2 * q] + i));
            const __m128d b =
                _mm_mul_pd(_mm_loadu_pd(h[2 * q + 1] + i), _mm_loadu_pd(x[2 * q + 1] + i));
            // ... added to the two lanes' sums tap i first, then tap i + 1.
            acc[q] = _mm_add_pd(acc[q], _mm_unpacklo_pd(a, b));
            acc[q] = _mm_add_pd(acc[q], _mm_unpackhi_pd(a, b));
        }
    }
    for (int q = 0; q < kLanes / 2; ++q)
        _mm_storeu_pd(sums + 2 * q, acc[q]);
#else
    double acc[kLanes] = {};
    for (int i = 0; i < taps; ++i)
        for (int k = 0; k < kLanes; ++k)
            acc[k] += h[k][i] * x[k][i];
    std::copy(acc, acc + kLanes, sums);
#endif
}

std::int16_t toSample(double sum) {
    long value = long(sum + 0.5);  // truncation toward zero, as the format expects
    if (value > 32767)
        value = 32767;
    if (value < -32767)
        value = -32767;
    return std::int16_t(value);
}

}  // namespace

double RateConverter::coefficient(long a) const {
    if (a == 0)
        return 2 * cutoff_;
    const double t = double(a) / double(l_);
    return 2 * cutoff_ * sinc(2 * std::numbers::pi * cutoff_ * t) * window(t / taps_);
}

int RateConverter::prepare(int inputRate, int outputRate, int taps, int tableLimit,
                           int tableSizeLimit) {
    if (outputRate <= 0 || outputRate > kMaxOutputRate || taps <= 1 || inputRate <= 0)
        return -1;
    input_ = nullptr;
    inputCount_ = inputUsed_ = 0;
    ended_ = false;
    known_ = 0;
    taps_ = taps & ~1;
    const long g = std::gcd(long(inputRate), long(outputRate));
    l_ = outputRate / g;
    m_ = inputRate / g;
    cutoff_ = outputRate >= inputRate ? 0.5 : 0.5 * outputRate / inputRate;
    const long half = taps_ / 2;
    // The first sum reads the half - 1 zeros before the first input sample.
    buffer_.assign(std::size_t(half - 1), 0.0);
    bufferStart_ = -(half - 1);
    centre_ = 0;
    phase_ = 0;

    table_.clear();
    scratch_.clear();
    if (l_ <= tableLimit && l_ * half <= tableSizeLimit) {
        // The tabulated values are floats, exactly as a table indexed by |a| - 1 would hold them;
        // laying them out per phase only saves the index arithmetic in the inner loop.
        std::vector<float> values(std::size_t(l_ * half));
        for (long k = 1; k <= l_ * half; ++k)
            values[std::size_t(k - 1)] = float(coefficient(k));
        table_.resize(std::size_t(l_) * taps_);
        for (long p = 0; p < l_; ++p) {
            for (long i = 0; i < taps_; ++i) {
                const long a = (i - half + 1) * l_ - p;
                table_[std::size_t(p * taps_ + i)] =
                    a == 0 ? float(2 * cutoff_) : values[std::size_t(std::labs(a) - 1)];
            }
        }
    } else {
        scratch_.resize(std::size_t(kLanes) * taps_);
    }
    return 0;
}

int RateConverter::setup(const std::int16_t* input, std::size_t count, int inputRate,
                         int outputRate, int taps, int tableLimit, int tableSizeLimit) {
    if (prepare(inputRate, outputRate, taps, tableLimit, tableSizeLimit) != 0)
        return -1;
    input_ = input;
    inputCount_ = input == nullptr ? 0 : count;
    ended_ = inputCount_ == 0;
    return 0;
}

int RateConverter::setupStream(int inputRate, int outputRate, int taps, int tableLimit,
                               int tableSizeLimit) {
    return prepare(inputRate, outputRate, taps, tableLimit, tableSizeLimit);
}

void RateConverter::push(const std::int16_t* samples, std::size_t count) {
    if (ended_)
        return;
    buffer_.insert(buffer_.end(), samples, samples + count);
    known_ += long(count);
}

void RateConverter::endInput() {
    ended_ = true;
}

// Makes the buffer hold x up to index `last`: from the caller's array, or zeros once the input
// has ended. False when pushed input has not come that far yet.
bool RateConverter::cover(long last) {
    while (bufferStart_ + long(buffer_.size()) <= last) {
        if (ended_) {
            buffer_.resize(std::size_t(last + 1 - bufferStart_), 0.0);
            return true;
        }
        if (input_ == nullptr)
            return false;
        const std::size_t n = std::min(kInputPiece, inputCount_ - inputUsed_);
        if (n == 0) {
            ended_ = true;
            continue;
        }
        buffer_.insert(buffer_.end(), input_ + inputUsed_, input_ + inputUsed_ + n);
        inputUsed_ += n;
        known_ += long(n);
    }
    return true;
}

void RateConverter::dropConsumed() {
    const long consumed = centre_ - taps_ / 2 + 1 - bufferStart_;
    if (consumed < kDropThreshold)
        return;
    buffer_.erase(buffer_.begin(), buffer_.begin() + consumed);
    bufferStart_ += consumed;
}

const double* RateConverter::coefficientsOf(long phase, double* scratch) const {
    if (!table_.empty())
        return table_.data() + std::size_t(phase) * taps_;
    const long half = taps_ / 2;
    for (long i = 0; i < taps_; ++i)
        scratch[i] = coefficient((i - half + 1) * l_ - phase);
    return scratch;
}

template <class Store>
long RateConverter::produce(std::size_t count, Store store) {
    const long half = taps_ / 2;
    const int lanes = lanes_ ? kLanes : 1;
    std::size_t produced = 0;
    while (produced < count) {
        dropConsumed();
        // The next output samples whose input is at hand, up to one per lane.
        long centres[kLanes];
        long phases[kLanes];
        int ready = 0;
        long centre = centre_;
        long phase = phase_;
        while (ready < lanes && produced + std::size_t(ready) < count) {
            if (!cover(centre + half) || (ended_ && centre >= known_))
                break;
            centres[ready] = centre;
            phases[ready] = phase;
            ++ready;
            phase += m_;
            centre += phase / l_;
            phase %= l_;
        }
        if (ready == 0)
            break;
        const double* h[kLanes];
        const double* x[kLanes];
        for (int k = 0; k < ready; ++k) {
            h[k] = coefficientsOf(phases[k], scratch_.data() + std::size_t(k) * taps_);
            x[k] = buffer_.data() + (centres[k] - half + 1 - bufferStart_);
        }
        double sums[kLanes];
        if (ready == kLanes) {
            sumLanes(h, x, taps_, sums);
        } else {
            for (int k = 0; k < ready; ++k)
                sums[k] = sumOne(h[k], x[k], taps_);
        }
        for (int k = 0; k < ready; ++k)
            store(produced++, sums[k]);
        centre_ = centre;
        phase_ = phase;
    }
    return long(produced);
}

long RateConverter::read(std::int16_t* out, std::size_t count) {
    return produce(count, [out](std::size_t i, double sum) { out[i] = toSample(sum); });
}

long RateConverter::readSumsForTesting(double* out, std::size_t count) {
    return produce(count, [out](std::size_t i, double sum) { out[i] = sum; });
}

}  // namespace kessin
