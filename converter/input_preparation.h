// The converter's own preparation of its input — samples widened to 16 bits, two channels mixed
// down to one, the rate converted to what the options dialog proposes — done by the program that
// writes that input, while the PCM streams in. The converter then finds mono 16-bit PCM at the
// ringtone's rate, which it codes as it is: the SMAF file is the one it would have made from the
// original PCM, byte for byte, and the input it reads is a fraction of the size.
//
// The file is the same exactly when the converter would have accepted the original (8 or 16
// bits, one or two channels, 4000-48000 Hz, more than 20 ms) and is driven with the options it
// proposes (the rate: 8000 Hz for inputs of 8000 Hz and more, else 4000 Hz): it then prepares
// the original with this very arithmetic, and a prepared input needs nothing more. Input the
// converter would refuse is left as it is, so that it is refused with the same message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "converter/rate_converter.h"

namespace kessin {

// The rate the options dialog proposes for an input rate.
std::uint32_t proposedRate(std::uint32_t inputRate);

class InputPreparation {
public:
    // True when input of this shape can be prepared (the converter takes it, given it lasts
    // long enough).
    static bool applies(std::uint32_t rate, unsigned channels, unsigned bits);

    // For input of a shape that applies().
    InputPreparation(std::uint32_t rate, unsigned channels, unsigned bits);

    // The input's bytes, interleaved PCM as a WAV file holds them, in pieces of any size.
    void write(const std::uint8_t* bytes, std::size_t count);
    // After the last write. False when the converter refuses the input as too short: it is then
    // to be handed over as it came, in original().
    bool finish();

    // After finish(): the prepared samples, mono 16-bit at rate(). Input beyond what the file
    // can hold is not kept (framesThatMatter).
    const std::vector<std::int16_t>& samples() const { return samples_; }
    std::uint32_t rate() const { return targetRate_; }
    // The input as it came, while it is too short to be accepted.
    const std::vector<std::uint8_t>& original() const { return original_; }

private:
    void takeFrame(const std::uint8_t* frame);
    void convert(bool ended);

    std::uint32_t inputRate_;
    unsigned channels_;
    unsigned bytesPerSample_;
    std::uint32_t targetRate_;
    std::uint32_t keep_;  // prepared frames that can matter to the file
    std::uint64_t frames_ = 0;
    bool longEnough_ = false;
    std::vector<std::uint8_t> original_;
    std::vector<std::uint8_t> partialFrame_;
    std::vector<std::int16_t> mono_;  // mixed down, waiting for the rate converter
    RateConverter converter_;
    std::vector<std::int16_t> samples_;
};

}  // namespace kessin
