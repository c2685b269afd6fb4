#include "pipeline/wave_encoder.h"

#include "pipeline/app_exception.h"

namespace tolvane {

CWaveEncoder::CWaveEncoder(const std::string& path) {
    prepareTarget(path);
    if (path.size() > kMaxRingtonePath || !riff_.create(path))
        throw EncoderException("cannot create file");
}

CWaveEncoder::~CWaveEncoder() {
    // With a header: closing writes the final sizes of "data" and "RIFF". Without one the file
    // stays empty. Failures here cannot be reported; finish reports them.
    riff_.close();
}

void CWaveEncoder::finish() {
    if (!riff_.close())
        throw EncoderException("write error");
}

void CWaveEncoder::writeHeader() {
    const std::uint16_t channels = static_cast<std::uint16_t>(channels_);
    const std::uint32_t rate = static_cast<std::uint32_t>(sampleRate_);
    const std::uint16_t bits = static_cast<std::uint16_t>(bitsPerSample_);
    const std::uint16_t blockAlign = static_cast<std::uint16_t>(channels * (bits / 8));
    const std::uint32_t avg = rate * (bits / 8) * channels;
    const std::uint8_t record[18] = {1,
                                     0,
                                     static_cast<std::uint8_t>(channels),
                                     static_cast<std::uint8_t>(channels >> 8),
                                     static_cast<std::uint8_t>(rate),
                                     static_cast<std::uint8_t>(rate >> 8),
                                     static_cast<std::uint8_t>(rate >> 16),
                                     static_cast<std::uint8_t>(rate >> 24),
                                     static_cast<std::uint8_t>(avg),
                                     static_cast<std::uint8_t>(avg >> 8),
                                     static_cast<std::uint8_t>(avg >> 16),
                                     static_cast<std::uint8_t>(avg >> 24),
                                     static_cast<std::uint8_t>(blockAlign),
                                     static_cast<std::uint8_t>(blockAlign >> 8),
                                     static_cast<std::uint8_t>(bits),
                                     static_cast<std::uint8_t>(bits >> 8),
                                     0,
                                     0};
    if (!riff_.beginChunk("RIFF", "WAVE") || !riff_.beginChunk("fmt ") ||
        !riff_.write(record, sizeof record) || !riff_.endChunk() || !riff_.beginChunk("data"))
        throw EncoderException("write error");
    headerPending_ = false;
}

void CWaveEncoder::write(const void* data, std::size_t count, std::size_t* written) {
    if (headerPending_)
        writeHeader();
    if (!riff_.write(data, count))
        throw EncoderException("write error");
    if (written != nullptr)
        *written = count;
}

}  // namespace tolvane
