// The converter's audio: the input file's samples widened to 16 bits, then mixed to one channel
// and brought to the ringtone's rate before the SMAF writer codes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kessin {

// Refusals of the input analysis; the window turns each into a message of the string table.
enum AnalysisCode : int {
    kAnalysisOk = 0,
    kShortPlaytime = -993,  // 20 ms or less
    kUnsupportedChannels = -994,
    kUnsupportedBits = -995,
    kUnsupportedRate = -996,
    kUnsupportedFormat = -997,  // did not parse as WAV/AIFF PCM
};

struct PcmInfo {
    std::uint16_t channels = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t blockAlign = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t byteCount = 0;
    std::uint32_t frameCount = 0;
};

// The analysis code for input of this shape: kAnalysisOk or the refusal it gets.
int shapeCode(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits, std::uint32_t frames);
// One stereo frame mixed down: each half truncated before the sum, so it cannot overflow.
inline std::int16_t mixDown(std::int16_t left, std::int16_t right) {
    return std::int16_t(left / 2 + right / 2);
}
// The frame count after resample(): ceil(frames × to / from), computed in floating point.
std::uint32_t resampledFrameCount(std::uint32_t frames, std::uint32_t from, std::uint32_t to);

class PcmBuffer {
public:
    // Parses a whole WAV (aiff = false) or AIFF (aiff = true) file image and reads its samples.
    // Returns kAnalysisOk or one of the refusal codes; on a refusal the buffer is left empty.
    int analyse(bool aiff, const std::uint8_t* bytes, std::size_t length);
    // Two channels become one: left / 2 + right / 2. Always 0.
    int downmix();
    // Converts a mono buffer to `targetRate` with a windowed-sinc filter of `taps` taps.
    // 0 on success (also when the rate already matches), -1 when the converter cannot be set up.
    int resample(int targetRate, int taps);

    const PcmInfo& info() const { return info_; }
    // Interleaved samples; only the first frameCount frames count.
    const std::vector<std::int16_t>& samples() const { return samples_; }

    // For tests and the writer's callers that build audio directly.
    void assign(std::uint32_t rate, std::uint16_t channels, std::vector<std::int16_t> samples);

private:
    PcmInfo info_;
    std::vector<std::int16_t> samples_;
};

}  // namespace kessin
