#include "pipeline/normalizer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "pipeline/app_exception.h"

namespace tolvane {
namespace {

constexpr int kWindowBlocks = 100;  // 100 blocks of 10 ms: one second
constexpr std::size_t kBlocksPerRead = 100;

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
        // Oldest first, as the ring stores them: the same additions in the same order.
        const int wrapped = std::max(0, start + count - kWindowBlocks);
        double sum = 0;
        for (int i = start; i < start + count - wrapped; ++i)
            sum += values[i];
        for (int i = 0; i < wrapped; ++i)
            sum += values[i];
        return sum / count;
    }
};

// The peaks of the samples measured so far, over all channels.
struct Peaks {
    std::int32_t high;
    std::int32_t low;
};

template <int Bytes>
std::int32_t sampleAt(const std::uint8_t* p) {
    if constexpr (Bytes == 1)
        return static_cast<std::int32_t>(p[0]) - 128;
    else
        return static_cast<std::int16_t>(p[0] | (p[1] << 8));
}

// Any layout: channel by channel, one sample at a time.
template <int Bytes>
void measureChannel(const std::uint8_t* p, std::size_t frames, std::size_t frameBytes,
                    std::int64_t& sum, std::int32_t& high, std::int32_t& low) {
    for (std::size_t i = 0; i < frames; ++i, p += frameBytes) {
        const std::int32_t s = sampleAt<Bytes>(p);
        sum += s * s;
        high = std::max(high, s);
        low = std::min(low, s);
    }
}

// 16-bit mono or stereo, eight samples at a time. In stereo each 32-bit lane is one frame: the
// left square is the lane's multiply-add with the right half masked off, and the other way round.
// In mono a lane's multiply-add is the sum of two squares, at most 2^31, which fits unsigned.
std::size_t measure16(const std::uint8_t* p, std::size_t samples, bool stereo, std::int64_t* sums,
                      Peaks& peaks) {
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i lowHalves = _mm_set1_epi32(0x0000FFFF);
    const __m128i zero = _mm_setzero_si128();
    __m128i high = _mm_set1_epi16(INT16_MIN);
    __m128i low = _mm_set1_epi16(INT16_MAX);
    __m128i sumA = zero;  // 64-bit lanes: left (stereo) or all (mono)
    __m128i sumB = zero;  // right (stereo)
    auto widenAdd = [&](__m128i acc, __m128i squares) {
        acc = _mm_add_epi64(acc, _mm_unpacklo_epi32(squares, zero));
        return _mm_add_epi64(acc, _mm_unpackhi_epi32(squares, zero));
    };
    for (; i + 8 <= samples; i += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2 * i));
        high = _mm_max_epi16(high, v);
        low = _mm_min_epi16(low, v);
        if (stereo) {
            sumA = widenAdd(sumA, _mm_madd_epi16(v, _mm_and_si128(v, lowHalves)));
            sumB = widenAdd(sumB, _mm_madd_epi16(v, _mm_andnot_si128(lowHalves, v)));
        } else {
            sumA = widenAdd(sumA, _mm_madd_epi16(v, v));
        }
    }
    alignas(16) std::int16_t highs[8], lows[8];
    alignas(16) std::int64_t a[2], b[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(highs), high);
    _mm_store_si128(reinterpret_cast<__m128i*>(lows), low);
    _mm_store_si128(reinterpret_cast<__m128i*>(a), sumA);
    _mm_store_si128(reinterpret_cast<__m128i*>(b), sumB);
    for (int lane = 0; lane < 8 && i > 0; ++lane) {
        peaks.high = std::max<std::int32_t>(peaks.high, highs[lane]);
        peaks.low = std::min<std::int32_t>(peaks.low, lows[lane]);
    }
    sums[0] += a[0] + a[1];
    if (stereo)
        sums[1] += b[0] + b[1];
#endif
    return i;
}

// One block's sum of squares per channel into `sums`, and its peaks into `peaks`. Squares of 8-
// and 16-bit samples are integers of at most 2^30, and a block's sum stays far below 2^53, so
// integer sums give exactly the values that sums of doubles would.
void measureBlock(const std::uint8_t* data, std::size_t frames, int channels, int bytes,
                  std::int64_t* sums, Peaks& peaks) {
    std::fill(sums, sums + channels, 0);
    std::size_t done = 0;  // frames measured by the vector code
    if (bytes == 2 && channels <= 2)
        done = measure16(data, frames * channels, channels == 2, sums, peaks) / channels;
    const std::size_t frameBytes = static_cast<std::size_t>(channels) * bytes;
    for (int c = 0; c < channels; ++c) {
        const std::uint8_t* p = data + done * frameBytes + c * bytes;
        if (bytes == 2)
            measureChannel<2>(p, frames - done, frameBytes, sums[c], peaks.high, peaks.low);
        else
            measureChannel<1>(p, frames - done, frameBytes, sums[c], peaks.high, peaks.low);
    }
}

}  // namespace

double softClip(double x) {
    if (x > 0.5)
        return 0.5 + 0.5 * std::tanh(2 * (x - 0.5));
    if (x < -0.5)
        return -0.5 + 0.5 * std::tanh(2 * (x + 0.5));
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
    Peaks peaks{minimum, maximum};
    double loudest = 0;

    // The pipeline delivers 8- or 16-bit PCM; anything else has nothing to measure.
    const int readWidth = bits / 8;
    const bool measurable = channels > 0 && rate >= 100 && (bits == 8 || bits == 16);
    if (measurable) {
        std::vector<SlidingSecond> windows(static_cast<std::size_t>(channels));
        const std::size_t frameBytes = static_cast<std::size_t>(channels) * b;
        const std::size_t blockFrames = static_cast<std::size_t>(rate / 100);
        // The source is read a hundred blocks at a time (a decoding reader pays a call into its
        // pipe per read) and measured block by block. Every reader fills what it is asked for
        // until its stream ends, so the blocks fall exactly where reads of one block each would.
        std::vector<std::uint8_t> buffer(frameBytes * blockFrames * kBlocksPerRead);
        const std::uint64_t partBytes =
            std::uint64_t(readWidth) * entry.partLength * channels * rate;
        std::uint64_t bytesRead = 0;
        std::vector<std::int64_t> sums(static_cast<std::size_t>(channels));

        for (bool going = true; going;) {
            std::size_t delivered = 0;
            if (entry.partMarked) {
                if (bytesRead >= partBytes)
                    break;
                const auto want = static_cast<std::size_t>(
                    std::min<std::uint64_t>(buffer.size(), partBytes - bytesRead));
                reader.read(buffer.data(), want, &delivered);
                bytesRead += delivered;
            } else {
                reader.read(buffer.data(), buffer.size(), &delivered);
            }
            const std::size_t framesRead = delivered / channels / readWidth;
            if (framesRead == 0)
                break;
            for (std::size_t at = 0; at < framesRead && going; at += blockFrames) {
                const std::size_t frames = std::min(blockFrames, framesRead - at);
                measureBlock(buffer.data() + at * frameBytes, frames, channels, b, sums.data(),
                             peaks);
                for (int c = 0; c < channels; ++c)
                    loudest =
                        std::max(loudest, windows[c].add(static_cast<double>(sums[c]) / frames));
                if (progress)
                    progress();
                going = !(cancel != nullptr && cancel->load());
            }
        }
    }

    entry.levelRms = std::sqrt(loudest / (static_cast<double>(minimum) * minimum));
    entry.levelPeak = -peaks.low > peaks.high ? static_cast<double>(peaks.low) / minimum
                                              : static_cast<double>(peaks.high) / maximum;
    entry.peakHigh = peaks.high;
    entry.peakLow = peaks.low;
}

std::unique_ptr<CReader> wrapWithNormalizer(std::unique_ptr<CReader> reader, const FileEntry& entry,
                                            double gain) {
    // Digital silence measures 0 and asks for an unbounded gain: it stays silent as it is.
    if (!std::isfinite(gain) || std::fabs(20.0 * std::log10(gain)) < 0.125)
        return reader;
    return std::make_unique<CNormalizer>(std::move(reader), gain, entry);
}

CNormalizer::CNormalizer(std::unique_ptr<CReader> inner, double gain, const FileEntry& levels)
    : inner_(std::move(inner)),
      gain_(gain),
      levelRms_(levels.levelRms),
      levelPeak_(levels.levelPeak),
      peakHigh_(levels.peakHigh),
      peakLow_(levels.peakLow) {
    if (!inner_)
        throw ReaderException("Internal error #392");
    takeFormatOf(*inner_);
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
    if (gain_ <= 1)
        return static_cast<std::int32_t>(d);
    if (softClip_)
        return static_cast<std::int32_t>(std::floor(softClip(d / maximum_) * maximum_ + 0.5));
    return static_cast<std::int32_t>(std::clamp<double>(d, minimum_, maximum_));
}

std::size_t CNormalizer::read(void* buffer, std::size_t count, std::size_t* delivered) {
    const std::size_t got = inner_->read(buffer, count, nullptr);
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    if (bitsPerSample_ == 16 && std::endian::native == std::endian::little) {
        // Four samples per 64-bit load and store, each looked up by its stored bits.
        std::size_t i = 0;
        for (; i + 8 <= got; i += 8) {
            std::uint64_t four;
            std::memcpy(&four, bytes + i, 8);
            four = std::uint64_t(table_[four & 0xFFFF]) |
                   std::uint64_t(table_[(four >> 16) & 0xFFFF]) << 16 |
                   std::uint64_t(table_[(four >> 32) & 0xFFFF]) << 32 |
                   std::uint64_t(table_[four >> 48]) << 48;
            std::memcpy(bytes + i, &four, 8);
        }
        for (; i + 1 < got; i += 2) {
            std::uint16_t sample;
            std::memcpy(&sample, bytes + i, 2);
            sample = table_[sample];
            std::memcpy(bytes + i, &sample, 2);
        }
    } else if (bitsPerSample_ == 16) {
        for (std::size_t i = 0; i + 1 < got; i += 2) {
            const std::uint16_t r = table_[bytes[i] | (bytes[i + 1] << 8)];
            bytes[i] = static_cast<std::uint8_t>(r & 0xFF);
            bytes[i + 1] = static_cast<std::uint8_t>(r >> 8);
        }
    } else if (bitsPerSample_ == 8) {
        for (std::size_t i = 0; i < got; ++i)
            bytes[i] = static_cast<std::uint8_t>(table_[bytes[i]]);
    }
    if (delivered != nullptr)
        *delivered = got;
    return got;
}

}  // namespace tolvane
