#include "converter/input_preparation.h"

#include <algorithm>

#include "converter/pcm_buffer.h"
#include "converter/smaf_writer.h"

namespace kessin {
namespace {

// The converter's own resampling (its conversion always asks for this many taps).
constexpr int kTaps = 256;
constexpr std::uint32_t kHighRate = 8000;
constexpr std::uint32_t kLowRate = 4000;
// Mixed-down samples handed to the rate converter at a time.
constexpr std::size_t kConvertPiece = 8192;

std::int16_t sampleAt(const std::uint8_t* p, unsigned bytesPerSample) {
    // As the converter reads a WAV: 8-bit samples are unsigned, 16-bit little-endian signed.
    return bytesPerSample == 1 ? std::int16_t((p[0] - 128) * 256) : std::int16_t(p[0] | p[1] << 8);
}

}  // namespace

std::uint32_t proposedRate(std::uint32_t inputRate) {
    return inputRate >= kHighRate ? kHighRate : kLowRate;
}

bool InputPreparation::applies(std::uint32_t rate, unsigned channels, unsigned bits) {
    // Every refusal but the play time's is decided by the shape; that one waits for the end.
    return channels <= 2 && bits <= 16 &&
           shapeCode(std::uint16_t(channels), rate, std::uint16_t(bits), UINT32_MAX) == kAnalysisOk;
}

InputPreparation::InputPreparation(std::uint32_t rate, unsigned channels, unsigned bits)
    : inputRate_(rate),
      channels_(channels),
      bytesPerSample_(bits / 8),
      targetRate_(proposedRate(rate)),
      keep_(framesThatMatter(targetRate_)) {
    if (inputRate_ != targetRate_)
        converter_.setupStream(int(inputRate_), int(targetRate_), kTaps);
}

void InputPreparation::write(const std::uint8_t* bytes, std::size_t count) {
    if (!longEnough_)
        original_.insert(original_.end(), bytes, bytes + count);
    const std::size_t frameBytes = channels_ * bytesPerSample_;
    // A frame split between two writes is completed first.
    while (count > 0 && !partialFrame_.empty()) {
        partialFrame_.push_back(*bytes++);
        --count;
        if (partialFrame_.size() == frameBytes) {
            takeFrame(partialFrame_.data());
            partialFrame_.clear();
        }
    }
    for (; count >= frameBytes; bytes += frameBytes, count -= frameBytes)
        takeFrame(bytes);
    partialFrame_.assign(bytes, bytes + count);
    if (mono_.size() >= kConvertPiece)
        convert(false);
    // Once the input is long enough to be accepted, its original is not needed any more.
    if (!longEnough_ &&
        shapeCode(std::uint16_t(channels_), inputRate_, std::uint16_t(bytesPerSample_ * 8),
                  std::uint32_t(std::min<std::uint64_t>(frames_, UINT32_MAX))) == kAnalysisOk) {
        longEnough_ = true;
        original_.clear();
        original_.shrink_to_fit();
    }
}

void InputPreparation::takeFrame(const std::uint8_t* frame) {
    ++frames_;
    // Frames beyond what the file can hold change nothing; only their count matters.
    if (samples_.size() >= keep_)
        return;
    const std::int16_t first = sampleAt(frame, bytesPerSample_);
    mono_.push_back(channels_ == 2
                        ? mixDown(first, sampleAt(frame + bytesPerSample_, bytesPerSample_))
                        : first);
}

void InputPreparation::convert(bool ended) {
    if (inputRate_ == targetRate_) {
        samples_.insert(samples_.end(), mono_.begin(), mono_.end());
        mono_.clear();
        return;
    }
    converter_.push(mono_.data(), mono_.size());
    mono_.clear();
    if (ended)
        converter_.endInput();
    std::int16_t out[4096];
    while (samples_.size() < keep_) {
        const long n =
            converter_.read(out, std::min<std::size_t>(std::size(out), keep_ - samples_.size()));
        if (n <= 0)
            break;
        samples_.insert(samples_.end(), out, out + n);
    }
}

bool InputPreparation::finish() {
    convert(true);
    if (!longEnough_)
        return false;
    // As many frames as the converter's own resampling gives (the count is computed in floating
    // point and may exceed what the filter produced by one: those are zeros), up to the last
    // that can matter.
    const auto frames = std::uint32_t(std::min<std::uint64_t>(frames_, UINT32_MAX));
    const std::uint32_t count =
        inputRate_ == targetRate_ ? frames : resampledFrameCount(frames, inputRate_, targetRate_);
    samples_.resize(std::min(count, keep_), 0);
    return true;
}

}  // namespace kessin
