#include "converter/pcm_buffer.h"

#include <cmath>

#include "converter/audio_source.h"
#include "converter/rate_converter.h"

namespace kessin {
namespace {

constexpr std::uint32_t kMinRate = 4000;
constexpr std::uint32_t kMaxRate = 48000;
constexpr long kMinPlaytimeMs = 20;  // this long or shorter is refused

int check(const SourceFormat& f) {
    return shapeCode(f.channels, f.sampleRate, f.bitsPerSample, f.frameCount);
}

template <class Source>
int load(const Source& source, PcmInfo& info, std::vector<std::int16_t>& samples) {
    const SourceFormat& f = source.format();
    if (const int code = check(f); code != kAnalysisOk)
        return code;
    samples.assign(std::size_t(f.frameCount) * f.channels, 0);
    source.readFrames(samples.data(), f.frameCount);
    info.channels = f.channels;
    info.bitsPerSample = 16;
    info.blockAlign = std::uint16_t(f.channels * 2);
    info.sampleRate = f.sampleRate;
    info.byteCount = f.frameCount * f.channels * 2u;
    info.frameCount = f.frameCount;
    return kAnalysisOk;
}

}  // namespace

int shapeCode(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
              std::uint32_t frames) {
    if (channels == 0)
        return kUnsupportedFormat;
    if (rate < kMinRate || rate > kMaxRate)
        return kUnsupportedRate;
    if (bits != 8 && bits != 16)
        return kUnsupportedBits;
    if (channels > 2)
        return kUnsupportedChannels;
    const long playtimeMs = long(double(frames) / rate * 1000);
    if (playtimeMs <= kMinPlaytimeMs)
        return kShortPlaytime;
    return kAnalysisOk;
}

std::uint32_t resampledFrameCount(std::uint32_t frames, std::uint32_t from, std::uint32_t to) {
    const double ratio = double(to) / from;
    return std::uint32_t(std::ceil(double(frames) * ratio));
}

int PcmBuffer::analyse(bool aiff, const std::uint8_t* bytes, std::size_t length) {
    info_ = PcmInfo{};
    samples_.clear();
    const int code = aiff ? load(AiffSource(bytes, length), info_, samples_)
                          : load(WavSource(bytes, length), info_, samples_);
    if (code != kAnalysisOk) {
        info_ = PcmInfo{};
        samples_.clear();
    }
    return code;
}

int PcmBuffer::downmix() {
    if (info_.channels != 2)
        return 0;
    const std::uint32_t frames = info_.frameCount;
    for (std::uint32_t i = 0; i < frames; ++i)
        samples_[i] = mixDown(samples_[2 * i], samples_[2 * i + 1]);
    samples_.resize(frames);
    info_.channels = 1;
    info_.blockAlign = 2;
    info_.byteCount = frames * 2;
    return 0;
}

int PcmBuffer::resample(int targetRate, int taps) {
    if (std::uint32_t(targetRate) == info_.sampleRate)
        return 0;
    if (info_.channels != 1)
        return -1;  // the converter works on the mixed-down channel only
    RateConverter converter;
    const std::size_t frames = std::min<std::size_t>(info_.frameCount, samples_.size());
    if (converter.setup(samples_.data(), frames, int(info_.sampleRate), targetRate, taps) != 0)
        return -1;
    const double ratio = double(targetRate) / info_.sampleRate;
    const std::uint32_t outFrames =
        resampledFrameCount(info_.frameCount, info_.sampleRate, std::uint32_t(targetRate));
    // The array is sized from the byte count (room for twice the frames); the converter stops
    // after outFrames samples when its input ends.
    const std::size_t capacity =
        std::max<std::size_t>(outFrames, std::size_t(std::llround(ratio * info_.byteCount)));
    std::vector<std::int16_t> converted(capacity, 0);
    if (converter.read(converted.data(), capacity) < 0)
        return -1;
    samples_ = std::move(converted);
    info_.sampleRate = std::uint32_t(targetRate);
    info_.frameCount = outFrames;
    info_.byteCount = outFrames * 2;
    return 0;
}

void PcmBuffer::assign(std::uint32_t rate, std::uint16_t channels,
                       std::vector<std::int16_t> samples) {
    samples_ = std::move(samples);
    info_.channels = channels;
    info_.bitsPerSample = 16;
    info_.blockAlign = std::uint16_t(channels * 2);
    info_.sampleRate = rate;
    info_.frameCount = channels == 0 ? 0 : std::uint32_t(samples_.size() / channels);
    info_.byteCount = info_.frameCount * channels * 2u;
}

}  // namespace kessin
