#include "sources/peak_scan.h"

#include <algorithm>

#include "decoders/source_types.h"

namespace tolvane::pages {

namespace {

// Every frame's samples, all channels, as -1..1 of full scale.
void foldFrames(const std::uint8_t* bytes, std::size_t frames, int channels, int bits,
                std::vector<float>& out) {
    out.clear();
    const std::size_t samples = frames * std::size_t(channels);
    for (std::size_t i = 0; i < samples; ++i) {
        if (bits == 16)
            out.push_back(static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)) /
                          32768.0f);
        else
            out.push_back((int(bytes[i]) - 128) / 128.0f);
    }
}

}  // namespace

Waveform scanPeaks(const std::string& path, std::size_t columns, const std::atomic<bool>* cancel) {
    auto reader = openReader(path);
    const int channels = reader->channels();
    const int bits = reader->bitsPerSample();
    const int rate = reader->sampleRate();
    if (columns == 0 || channels <= 0 || rate <= 0 || (bits != 8 && bits != 16))
        return {};

    // Frames per column from the announced length; the last column takes whatever is left over
    // when the announced length is short.
    const std::int64_t expectedFrames =
        std::max<std::int64_t>(std::int64_t(reader->length() + 1) * rate, 1);
    const std::size_t frameBytes = std::size_t(channels) * (bits / 8);
    std::vector<std::uint8_t> block(frameBytes * std::size_t(std::max(rate / 10, 1)));
    std::vector<float> samples;
    std::vector<PeakColumn> raw(columns);
    std::int64_t frame = 0;
    for (;;) {
        if (cancel != nullptr && cancel->load())
            return {};
        std::size_t got = 0;
        reader->read(block.data(), block.size(), &got);
        const std::size_t frames = got / frameBytes;
        if (frames == 0)
            break;
        foldFrames(block.data(), frames, channels, bits, samples);
        for (std::size_t f = 0; f < frames; ++f, ++frame) {
            const auto column = std::min<std::int64_t>(
                frame * std::int64_t(columns) / expectedFrames, std::int64_t(columns) - 1);
            PeakColumn& peak = raw[std::size_t(column)];
            for (int c = 0; c < channels; ++c) {
                const float s = samples[f * std::size_t(channels) + std::size_t(c)];
                peak.low = std::min(peak.low, s);
                peak.high = std::max(peak.high, s);
            }
        }
    }
    Waveform waveform;
    waveform.durationMs = frame * 1000 / rate;
    // Stretch what was decoded over all columns, so that a length announced too long leaves no
    // empty tail.
    const std::int64_t used = std::max<std::int64_t>(
        std::min<std::int64_t>(
            (frame * std::int64_t(columns) + expectedFrames - 1) / expectedFrames,
            std::int64_t(columns)),
        1);
    waveform.columns.resize(columns);
    for (std::size_t i = 0; i < columns; ++i)
        waveform.columns[i] = raw[std::size_t(std::int64_t(i) * used / std::int64_t(columns))];
    return waveform;
}

}  // namespace tolvane::pages
