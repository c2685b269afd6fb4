// Sample-rate conversion of one channel by windowed-sinc interpolation at the rational ratio
// output / input. The first output sample is aligned with the first input sample.
//
// Output sample n sits at input position n × M / L: its centre is the input sample
// c = floor(n × M / L), its phase p = n × M mod L, and it is the sum, in double precision and in
// tap order, of h((i − taps/2 + 1) × L − p) × x[c − taps/2 + 1 + i] for i = 0 … taps − 1, where
// x is zero before the first and after the last input sample; + 0.5, truncated toward zero and
// clamped to ±32767. The output ends with the last n whose centre is still inside the input.
//
// The sums of several consecutive output samples are accumulated side by side, one per lane,
// each lane adding its products in the same order as a lone sum would, so the result is the
// same to the last bit however many lanes run at once (and on whatever processor).
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

    // Converts `input` (mono, `inputRate` Hz), which stays the caller's and must outlive the
    // reading. 0, or -1 when the rates or taps are unusable.
    int setup(const std::int16_t* input, std::size_t count, int inputRate, int outputRate, int taps,
              int tableLimit = kTableLimit, int tableSizeLimit = kTableSizeLimit);
    // Converts input that arrives piece by piece through push() and ends with endInput().
    int setupStream(int inputRate, int outputRate, int taps, int tableLimit = kTableLimit,
                    int tableSizeLimit = kTableSizeLimit);
    void push(const std::int16_t* samples, std::size_t count);
    void endInput();

    // Produces up to `count` output samples; returns how many. 0 at the end of the input, or,
    // for pushed input, when more input is needed before the next sample can be made.
    long read(std::int16_t* out, std::size_t count);

    // The interpolation ratio L / M and whether the coefficient table is in use.
    long upFactor() const { return l_; }
    long downFactor() const { return m_; }
    bool usesTable() const { return !table_.empty(); }

    // The filter's impulse response at `a` (in 1/L of an input sample), in double precision.
    double coefficient(long a) const;

    // Tests only: false makes read() use the one-sum-at-a-time path alone; the sums as they
    // are before rounding (what read() would round).
    void setLanesForTesting(bool lanes) { lanes_ = lanes; }
    long readSumsForTesting(double* out, std::size_t count);

private:
    template <class Store>
    long produce(std::size_t count, Store store);
    int prepare(int inputRate, int outputRate, int taps, int tableLimit, int tableSizeLimit);
    bool cover(long last);
    void dropConsumed();
    const double* coefficientsOf(long phase, double* scratch) const;

    // Input: the caller's whole array (setup), or pushed pieces (setupStream).
    const std::int16_t* input_ = nullptr;
    std::size_t inputCount_ = 0;
    std::size_t inputUsed_ = 0;
    bool ended_ = false;
    long known_ = 0;  // input samples received so far

    // x[bufferStart_ …] as doubles: the part of the input the next sums read, with zeros before
    // the first sample and, once the input has ended, after the last.
    std::vector<double> buffer_;
    long bufferStart_ = 0;

    int taps_ = 0;
    long l_ = 1;
    long m_ = 1;
    double cutoff_ = 0.5;
    long centre_ = 0;
    long phase_ = 0;
    bool lanes_ = true;
    // With the table: for every phase, the taps' coefficients in tap order (the float values,
    // held as doubles so that the inner loop converts nothing).
    std::vector<double> table_;
    std::vector<double> scratch_;
};

}  // namespace kessin
