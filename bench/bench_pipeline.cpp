// Conversion core throughput, reported as multiples of real time (counter "x_realtime").
// Targets: resampling 44.1 kHz 16-bit stereo to 8 kHz 8-bit mono >= 1000x; level analysis plus
// gain stage >= 3000x.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "pipeline/normalizer.h"
#include "pipeline/resampling_filter.h"

using namespace tolvane;

namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 30;

std::vector<std::uint8_t> music() {
    std::vector<std::uint8_t> pcm(static_cast<std::size_t>(kRate) * kSeconds * 4);
    for (std::size_t i = 0; i < pcm.size() / 4; ++i) {
        const double t = static_cast<double>(i) / kRate;
        const auto l = static_cast<std::int16_t>(9000 * std::sin(2 * std::numbers::pi * 440 * t) +
                                                 3000 * std::sin(2 * std::numbers::pi * 3100 * t));
        const auto r = static_cast<std::int16_t>(9000 * std::sin(2 * std::numbers::pi * 660 * t));
        std::memcpy(&pcm[4 * i], &l, 2);
        std::memcpy(&pcm[4 * i + 2], &r, 2);
    }
    return pcm;
}

class NullEncoder : public CEncoder {
public:
    void write(const void*, std::size_t n, std::size_t*) override { bytes += n; }
    void finish() override {}
    std::size_t bytes = 0;
};

class BufferReader : public CReader {
public:
    explicit BufferReader(const std::vector<std::uint8_t>& pcm) : pcm_(pcm) {
        totalBytes_ = static_cast<std::int32_t>(pcm.size());
        sampleRate_ = kRate;
        channels_ = 2;
        bitsPerSample_ = 16;
    }
    std::size_t read(void* buffer, std::size_t count, std::size_t* delivered) override {
        const std::size_t n = std::min(count, pcm_.size() - at_);
        std::memcpy(buffer, pcm_.data() + at_, n);
        at_ += n;
        if (delivered != nullptr)
            *delivered = n;
        return n;
    }
    void seek(int) override { at_ = 0; }
    int tell() override { return static_cast<int>(at_ / (kRate * 4)); }
    int length() override { return kSeconds; }

private:
    const std::vector<std::uint8_t>& pcm_;
    std::size_t at_ = 0;
};

void BM_Resample_CdStereoTo8kMono8(benchmark::State& state) {
    const auto pcm = music();
    const std::size_t second = kRate * 4;
    for (auto _ : state) {
        CResamplingFilter filter(std::make_unique<NullEncoder>(), PcmFormat::pcm(2, kRate, 16),
                                 PcmFormat::pcm(1, 8000, 8));
        for (std::size_t at = 0; at < pcm.size(); at += second)
            filter.write(pcm.data() + at, second);
        filter.finish();
    }
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(kSeconds) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

void BM_LevelAnalysisAndGain(benchmark::State& state) {
    const auto pcm = music();
    std::vector<std::uint8_t> buffer(kRate * 4);
    for (auto _ : state) {
        FileEntry entry;
        BufferReader analysis(pcm);
        analyseLevel(analysis, entry);
        auto stage = wrapWithNormalizer(std::make_unique<BufferReader>(pcm), entry,
                                        kTargetLevel / entry.levelRms);
        while (stage->read(buffer.data(), buffer.size()) > 0) {
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(kSeconds) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_Resample_CdStereoTo8kMono8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LevelAnalysisAndGain)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
