#include "converter/adpcm_encoder.h"

#include <algorithm>

namespace kessin {
namespace {

constexpr std::int32_t kStepMultiplier[8] = {230, 230, 230, 230, 307, 409, 512, 614};

}  // namespace

std::uint8_t AdpcmEncoder::encodeSample(std::int32_t sample) {
    std::int32_t d = sample - predictor_;
    const bool negative = d < 0;
    if (negative)
        d = -d;

    const std::int32_t q = step_ / 4;
    std::int32_t j = 0;
    for (std::int32_t threshold = q; j < 7 && d >= threshold; threshold += q)
        ++j;

    // (j + 1/2) quarter steps, in one integer division exactly as a decoder computes it: adding
    // the truncated parts one by one comes out up to 3 higher, and a decoder would drift away
    // from the encoder by that much on every sample.
    const std::int32_t delta = step_ * (2 * j + 1) / 8;
    predictor_ = std::clamp(negative ? predictor_ - delta : predictor_ + delta, -32768, 32767);
    step_ = std::clamp((step_ * kStepMultiplier[j]) >> 8, kInitialStep, kMaxStep);
    return std::uint8_t((negative ? 8 : 0) + j);
}

void AdpcmEncoder::encode(const std::int16_t* samples, std::uint8_t* output, long count) {
    for (long i = 0; i < count; ++i) {
        const std::uint8_t code = encodeSample(samples[i]);
        std::uint8_t& byte = output[i / 2];
        if (i % 2 == 0)
            byte = code;
        else
            byte = std::uint8_t((byte & 0x0F) | code << 4);
    }
}

}  // namespace kessin
