// Parsers of the converter's two input containers. Each parses the whole file image given to it;
// channels == 0 marks a file that did not parse. Samples are handed out widened to 16 bits.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kessin {

struct SourceFormat {
    std::uint16_t channels = 0;  // 0: the file did not parse
    std::uint16_t bitsPerSample = 0;
    std::uint16_t bytesPerSample = 0;
    std::uint32_t blockAlign = 0;
    std::uint32_t sampleRate = 0;
    std::uint32_t frameCount = 0;
};

// RIFF/WAVE with an uncompressed PCM "fmt " chunk.
class WavSource {
public:
    WavSource(const std::uint8_t* bytes, std::size_t length);
    const SourceFormat& format() const { return format_; }
    // Reads `frames` frames (at most frameCount) as interleaved 16-bit samples.
    void readFrames(std::int16_t* out, std::uint32_t frames) const;

private:
    SourceFormat format_;
    const std::uint8_t* samples_ = nullptr;
};

// AIFF ("FORM"/"AIFF" with "COMM" and "SSND"); AIFF-C is not accepted.
class AiffSource {
public:
    AiffSource(const std::uint8_t* bytes, std::size_t length);
    const SourceFormat& format() const { return format_; }
    void readFrames(std::int16_t* out, std::uint32_t frames) const;

private:
    SourceFormat format_;
    const std::uint8_t* samples_ = nullptr;
};

// The 80-bit IEEE extended float of an AIFF "COMM" rate as an integer rate; 0 when it is not a
// number from 1 to 2147483647.
std::uint32_t extendedToRate(const std::uint8_t bytes[10]);

}  // namespace kessin
