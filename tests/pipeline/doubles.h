// Test doubles for the pipeline: a reader over bytes in memory and an encoder that records.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "pipeline/encoder.h"
#include "pipeline/reader.h"

namespace tolvane::test {

class MemoryReader : public CReader {
public:
    MemoryReader(std::vector<std::uint8_t> pcm, int rate, int channels, int bits)
        : pcm_(std::move(pcm)) {
        totalBytes_ = static_cast<std::int32_t>(pcm_.size());
        sampleRate_ = rate;
        channels_ = channels;
        bitsPerSample_ = bits;
    }
    std::size_t read(void* buffer, std::size_t count, std::size_t* delivered) override {
        const std::size_t n = std::min(count, pcm_.size() - position_);
        std::memcpy(buffer, pcm_.data() + position_, n);
        position_ += n;
        if (delivered != nullptr)
            *delivered = n;
        return n;
    }
    void seek(int second) override {
        position_ = std::min(pcm_.size(), static_cast<std::size_t>(second) * bytesPerSecond());
    }
    int tell() override { return static_cast<int>(position_ / bytesPerSecond()); }
    int length() override { return static_cast<int>(pcm_.size() / bytesPerSecond()); }
    std::size_t position() const { return position_; }

private:
    std::size_t bytesPerSecond() const {
        return static_cast<std::size_t>(sampleRate_) * channels_ * bitsPerSample_ / 8;
    }
    std::vector<std::uint8_t> pcm_;
    std::size_t position_ = 0;
};

class RecordingEncoder : public CEncoder {
public:
    void write(const void* data, std::size_t count, std::size_t* written) override {
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + count);
        ++writes;
        largestWrite = std::max(largestWrite, count);
        if (written != nullptr)
            *written = count;
    }
    void finish() override { ++finishes; }

    std::vector<std::uint8_t> bytes;
    int writes = 0;
    int finishes = 0;
    std::size_t largestWrite = 0;
};

// Interleaved 16-bit little-endian PCM from samples.
inline std::vector<std::uint8_t> pcm16(const std::vector<std::int16_t>& samples) {
    std::vector<std::uint8_t> out(samples.size() * 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        out[2 * i] = static_cast<std::uint8_t>(samples[i] & 0xFF);
        out[2 * i + 1] = static_cast<std::uint8_t>((samples[i] >> 8) & 0xFF);
    }
    return out;
}

inline std::vector<std::int16_t> samples16(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::int16_t> out(bytes.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return out;
}

}  // namespace tolvane::test
