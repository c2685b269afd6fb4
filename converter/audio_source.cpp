#include "converter/audio_source.h"

#include <cmath>
#include <cstring>

#include "converter/chunk_reader.h"

namespace kessin {
namespace {

constexpr std::uint16_t kPcmTag = 1;
constexpr std::size_t kCommLength = 18;

bool parseWavFormat(ChunkReader& riff, SourceFormat& f) {
    std::uint16_t tag = 0, channels = 0, blockAlign = 0, bits = 0;
    std::uint32_t rate = 0, byteRate = 0;
    if (!riff.find("fmt ") || !riff.readU16(tag) || !riff.readU16(channels) ||
        !riff.readU32(rate) || !riff.readU32(byteRate) || !riff.readU16(blockAlign) ||
        !riff.readU16(bits))
        return false;
    if (tag != kPcmTag || channels == 0)
        return false;
    const std::uint16_t bytesPerSample = blockAlign / channels;
    if (blockAlign != channels * bytesPerSample || bytesPerSample != (bits + 7) / 8)
        return false;
    // 0 bits in a block align of 0 is consistent, but a frame of no bytes cannot be read, and
    // the frame count is the data length divided by it.
    if (bytesPerSample == 0)
        return false;
    f.channels = channels;
    f.bitsPerSample = bits;
    f.bytesPerSample = bytesPerSample;
    f.blockAlign = blockAlign;
    f.sampleRate = rate;
    return true;
}

std::int16_t bigEndian16(const std::uint8_t* p) {
    return std::int16_t(p[0] << 8 | p[1]);
}

}  // namespace

WavSource::WavSource(const std::uint8_t* bytes, std::size_t length) {
    ChunkReader file(bytes, length, ByteOrder::Little);
    char form[4];
    if (!file.find("RIFF") || !file.read(form, 4) || std::memcmp(form, "WAVE", 4) != 0)
        return;
    ChunkReader riff = file.inner();
    SourceFormat f;
    // "data" is looked for only after "fmt ": a file that has it first does not parse.
    if (!parseWavFormat(riff, f) || !riff.find("data"))
        return;
    f.frameCount = riff.chunkLength() / f.blockAlign;
    samples_ = riff.cursor();
    format_ = f;
}

void WavSource::readFrames(std::int16_t* out, std::uint32_t frames) const {
    if (frames > format_.frameCount)
        frames = format_.frameCount;
    const std::uint8_t* frame = samples_;
    for (std::uint32_t i = 0; i < frames; ++i, frame += format_.blockAlign) {
        const std::uint8_t* p = frame;
        for (unsigned c = 0; c < format_.channels; ++c, p += format_.bytesPerSample) {
            *out++ = format_.bytesPerSample == 1 ? std::int16_t((p[0] - 128) * 256)
                                                 : std::int16_t(p[0] | p[1] << 8);
        }
    }
}

std::uint32_t extendedToRate(const std::uint8_t b[10]) {
    const bool negative = (b[0] & 0x80) != 0;
    const int exponent = (b[0] & 0x7F) << 8 | b[1];
    if (exponent == 0x7FFF)
        return 0;
    std::uint64_t mantissa = 0;
    for (int i = 2; i < 10; ++i)
        mantissa = mantissa << 8 | b[i];
    // The mantissa is a fraction with the binary point before its first bit, scaled by 2.
    double value = std::ldexp(double(mantissa), exponent - 16383 - 63);
    if (negative)
        value = -value;
    if (!(value >= 1.0) || value > 2147483647.0)
        return 0;
    return std::uint32_t(value);
}

AiffSource::AiffSource(const std::uint8_t* bytes, std::size_t length) {
    ChunkReader file(bytes, length, ByteOrder::Big);
    char formType[4];
    if (!file.expect("FORM") || !file.read(formType, 4) || std::memcmp(formType, "AIFF", 4) != 0)
        return;
    ChunkReader form = file.inner();

    std::uint16_t channels = 0, bits = 0;
    std::uint32_t frames = 0;
    std::uint8_t rateBytes[10];
    if (!form.find("COMM") || form.chunkLength() != kCommLength || !form.readU16(channels) ||
        !form.readU32(frames) || !form.readU16(bits) || !form.read(rateBytes, 10))
        return;
    if (channels < 1 || bits < 1 || bits > 32)
        return;
    const std::uint32_t rate = extendedToRate(rateBytes);
    if (rate == 0)
        return;
    const std::uint16_t bytesPerSample = std::uint16_t((bits + 7) / 8);
    const std::uint64_t blockAlign = std::uint64_t(channels) * bytesPerSample;
    const std::uint64_t dataSize = blockAlign * frames;

    // "SSND" may stand before or after "COMM".
    form.seek(0);
    std::uint32_t offset = 0, blockSize = 0;
    if (!form.find("SSND") || !form.readU32(offset) || !form.readU32(blockSize) ||
        !form.skip(offset) || form.remaining() < dataSize)
        return;
    samples_ = form.cursor();
    format_ = SourceFormat{channels, bits, bytesPerSample, std::uint32_t(blockAlign), rate, frames};
}

void AiffSource::readFrames(std::int16_t* out, std::uint32_t frames) const {
    if (frames > format_.frameCount)
        frames = format_.frameCount;
    const std::uint8_t* p = samples_;
    const std::size_t samples = std::size_t(frames) * format_.channels;
    for (std::size_t i = 0; i < samples; ++i, p += format_.bytesPerSample) {
        // AIFF bytes are signed; wider samples keep their two most significant bytes.
        *out++ =
            format_.bytesPerSample == 1 ? std::int16_t(std::int8_t(p[0]) * 256) : bigEndian16(p);
    }
}

}  // namespace kessin
