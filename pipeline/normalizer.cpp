#include "pipeline/normalizer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "pipeline/app_exception.h"

namespace tolvane {
namespace {

constexpr int kWindowBlocks = 100;  // 100 blocks of 10 ms: one second

// Mean-square values of the last second of 10 ms blocks of one channel.
struct SlidingSecond {
    double values[kWindowBlocks] = {};
    int start = 0;
    int count = 0;

    double add(double meanSquare) {
        values[(start + count) % kWindowBlocks] = meanSquare;
        if (count == kWindowBlocks) {
            start = (start + 1) % kWindowBlocks;
        } else {
            ++count;
        }
        double sum = 0;
        for (int i = 0; i < count; ++i) sum += values[(start + i) % kWindowBlocks];
        return sum / count;
    }
};

std::int32_t sampleAt(const std::uint8_t* p, int bytesPerSample) {
    if (bytesPerSample == 1) return static_cast<std::int32_t>(p[0]) - 128;
    return static_cast<std::int16_t>(p[0] | (p[1] << 8));
}

}  // namespace

double softClip(double x) {
    if (x > 0.5) return 0.5 + 0.5 * std::tanh(2 * (x - 0.5));
    if (x < -0.5) return -0.5 + 0.5 * std::tanh(2 * (x + 0.5));
    return x;
}

void analyseLevel(CReader& reader, FileEntry& entry, const std::atomic<bool>* cancel,
                  const AnalysisProgress& progress) {
    const int bits = reader.bitsPerSample();
    const int channels = reader.channels();
    const int rate = reader.sampleRate();
    const int b = (bits - 1) / 8 + 1;
    const std::int32_t maximum = (1 << (8 * b - 1)) - 1;
    const std::int32_t minimum = -(1 << (8 * b - 1));
    std::int32_t peakHigh = minimum;
    std::int32_t peakLow = maximum;
    double loudest = 0;

    // The pipeline delivers 8- or 16-bit PCM; anything else has nothing to measure.
    const int readWidth = bits / 8;
    const bool measurable = channels > 0 && rate >= 100 && (bits == 8 || bits == 16);
    if (measurable) {
        std::vector<SlidingSecond> windows(static_cast<std::size_t>(channels));
        const std::size_t frameBytes = static_cast<std::size_t>(channels) * b;
        const std::size_t blockFrames = static_cast<std::size_t>(rate / 100);
        std::vector<std::uint8_t> block(frameBytes * blockFrames);
        const std::uint64_t partBytes = std::uint64_t(readWidth) * entry.partLength * channels * rate;
        std::uint64_t bytesRead = 0;
        std::vector<double> sums(static_cast<std::size_t>(channels));

        for (;;) {
            std::size_t delivered = 0;
            if (entry.partMarked) {
                if (bytesRead >= partBytes) break;
                const auto want = static_cast<std::size_t>(
                    std::min<std::uint64_t>(block.size(), partBytes - bytesRead));
                reader.read(block.data(), want, &delivered);
                bytesRead += delivered;
            } else {
                reader.read(block.data(), block.size(), &delivered);
            }
            const std::size_t frames = delivered / channels / readWidth;
            if (frames == 0) break;
            std::fill(sums.begin(), sums.end(), 0.0);
            for (int c = 0; c < channels; ++c) {
                const std::uint8_t* p = block.data() + (frameBytes / channels) * c;
                for (std::size_t i = 0; i < frames; ++i, p += frameBytes) {
                    const std::int32_t s = sampleAt(p, b);
                    sums[c] += static_cast<double>(s) * s;
                    peakHigh = std::max(peakHigh, s);
                    peakLow = std::min(peakLow, s);
                }
            }
            for (int c = 0; c < channels; ++c)
                loudest = std::max(loudest, windows[c].add(sums[c] / frames));
            if (progress) progress();
            if (cancel != nullptr && cancel->load()) break;
        }
    }

    entry.levelRms = std::sqrt(loudest / (static_cast<double>(minimum) * minimum));
    entry.levelPeak = -peakLow > peakHigh ? static_cast<double>(peakLow) / minimum
                                          : static_cast<double>(peakHigh) / maximum;
    entry.peakHigh = peakHigh;
    entry.peakLow = peakLow;
}

std::unique_ptr<CReader> wrapWithNormalizer(std::unique_ptr<CReader> reader,
                                            const FileEntry& entry, double gain) {
    // Digital silence measures 0 and asks for an unbounded gain: it stays silent as it is.
    if (!std::isfinite(gain) || std::fabs(20.0 * std::log10(gain)) < 0.125) return reader;
    return std::make_unique<CNormalizer>(std::move(reader), gain, entry);
}

CNormalizer::CNormalizer(std::unique_ptr<CReader> inner, double gain, const FileEntry& levels)
    : inner_(std::move(inner)),
      gain_(gain),
      levelRms_(levels.levelRms),
      levelPeak_(levels.levelPeak),
      peakHigh_(levels.peakHigh),
      peakLow_(levels.peakLow) {
    if (!inner_) throw ReaderException("Internal error #392");
    totalBytes_ = inner_->totalBytes();
    sampleRate_ = inner_->sampleRate();
    channels_ = inner_->channels();
    bitsPerSample_ = inner_->bitsPerSample();
    const int width = 8 * (bitsPerSample_ / 8) - 1;
    maximum_ = width > 0 ? (1 << width) - 1 : 0;
    minimum_ = width > 0 ? -(1 << width) : 0;
    softClip_ = gain_ > 1 && !(gain_ * peakHigh_ <= maximum_ && gain_ * peakLow_ >= minimum_);
    if (bitsPerSample_ == 16) {
        table_.resize(65536);
        for (std::uint32_t bits = 0; bits < 65536; ++bits)
            table_[bits] = static_cast<std::uint16_t>(process(static_cast<std::int16_t>(bits)));
    } else if (bitsPerSample_ == 8) {
        table_.resize(256);
        for (std::uint32_t bits = 0; bits < 256; ++bits)
            table_[bits] =
                static_cast<std::uint16_t>(process(static_cast<std::int32_t>(bits) - 128) + 128);
    }
}

std::int32_t CNormalizer::process(std::int32_t s) const {
    const double d = std::trunc(s * gain_);
    if (gain_ <= 1) return static_cast<std::int32_t>(d);
    if (softClip_) return static_cast<std::int32_t>(std::floor(softClip(d / maximum_) * maximum_ + 0.5));
    return static_cast<std::int32_t>(std::clamp<double>(d, minimum_, maximum_));
}

std::size_t CNormalizer::read(void* buffer, std::size_t count, std::size_t* delivered) {
    const std::size_t got = inner_->read(buffer, count, nullptr);
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    if (bitsPerSample_ == 16) {
        for (std::size_t i = 0; i + 1 < got; i += 2) {
            const std::uint16_t r = table_[bytes[i] | (bytes[i + 1] << 8)];
            bytes[i] = static_cast<std::uint8_t>(r & 0xFF);
            bytes[i + 1] = static_cast<std::uint8_t>(r >> 8);
        }
    } else if (bitsPerSample_ == 8) {
        for (std::size_t i = 0; i < got; ++i)
            bytes[i] = static_cast<std::uint8_t>(table_[bytes[i]]);
    }
    if (delivered != nullptr) *delivered = got;
    return got;
}

}  // namespace tolvane
