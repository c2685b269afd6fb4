// 4-bit adaptive differential coding of 16-bit samples, two codes per byte (even samples in the
// low nibble). Integer-only and without look-ahead; the predictor update is exactly what a
// decoder computes from the codes.
#pragma once

#include <cstdint>

namespace kessin {

class AdpcmEncoder {
public:
    static constexpr std::int32_t kInitialStep = 127;
    static constexpr std::int32_t kMaxStep = 24576;

    void reset() {
        predictor_ = 0;
        step_ = kInitialStep;
    }
    // Codes `count` samples into output bytes 0 .. (count - 1) / 2, continuing from the current
    // state. Returns nothing; a count of zero or less does nothing.
    void encode(const std::int16_t* samples, std::uint8_t* output, long count);
    // Codes one sample and returns its 4-bit code.
    std::uint8_t encodeSample(std::int32_t sample);

    std::int32_t predictor() const { return predictor_; }
    std::int32_t step() const { return step_; }

private:
    std::int32_t predictor_ = 0;
    std::int32_t step_ = kInitialStep;
};

}  // namespace kessin
