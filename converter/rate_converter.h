// Sample-rate conversion of one channel by windowed-sinc interpolation at the rational ratio
// output / input. The first output sample is aligned with the first input sample.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kessin {

class RateConverter {
public:
    // Coefficients are tabulated (as floats) when the interpolation factor L is at most
    // `tableLimit` and L * taps / 2 at most `tableSizeLimit`; otherwise computed on demand.
    static constexpr int kTableLimit = 640;
    static constexpr int kTableSizeLimit = 81920;

    // Converts `input` (mono, `inputRate` Hz). 0, or -1 when the rates or taps are unusable.
    int setup(const std::int16_t* input, std::size_t count, int inputRate, int outputRate, int taps,
              int tableLimit = kTableLimit, int tableSizeLimit = kTableSizeLimit);
    // Produces up to `count` output samples; returns how many (0 at the end of the input).
    long read(std::int16_t* out, std::size_t count);

    // The interpolation ratio L / M and whether the coefficient table is in use.
    long upFactor() const { return l_; }
    long downFactor() const { return m_; }
    bool usesTable() const { return !phaseCoefficients_.empty(); }

    // The filter's impulse response at `a` (in 1/L of an input sample), in double precision.
    double coefficient(long a) const;

private:
    void refill();
    double filtered() const;

    const std::int16_t* input_ = nullptr;
    std::size_t inputCount_ = 0;
    std::size_t inputUsed_ = 0;
    int taps_ = 0;
    long l_ = 1;
    long m_ = 1;
    double cutoff_ = 0.5;
    std::vector<double> history_;
    long readPos_ = 0;
    long validEnd_ = 0;
    long phase_ = 0;
    // With the table: for every phase, the taps' coefficients in tap order.
    std::vector<float> phaseCoefficients_;
};

}  // namespace kessin
