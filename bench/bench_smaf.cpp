// SMAF ringtones: a 30-second source end to end through CMMFEncoder (temporary WAV, kessin copy,
// window-bus driving, move), and kessin's own work on the same audio (analysis, mix-down, rate
// conversion, ADPCM and the file image). The target for the whole ringtone is under 0.6 s.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <numbers>
#include <vector>

#include "converter/pcm_buffer.h"
#include "converter/smaf_writer.h"
#include "encoders/ringtone_formats.h"
#include "pipeline/encoder.h"
#include "platform/paths.h"

namespace {

constexpr int kRate = 44100;
constexpr int kSeconds = 30;

// 30 s of a stereo two-tone signal, 16-bit little-endian.
const std::vector<std::int16_t>& sourcePcm() {
    static const std::vector<std::int16_t> pcm = [] {
        std::vector<std::int16_t> s(std::size_t(kRate) * kSeconds * 2);
        for (std::size_t i = 0; i < s.size() / 2; ++i) {
            const double t = double(i) / kRate;
            s[2 * i] = std::int16_t(12000 * std::sin(2 * std::numbers::pi * 440 * t));
            s[2 * i + 1] = std::int16_t(9000 * std::sin(2 * std::numbers::pi * 660 * t));
        }
        return s;
    }();
    return pcm;
}

std::vector<std::uint8_t> sourceWavImage() {
    const auto& pcm = sourcePcm();
    const std::uint32_t bytes = std::uint32_t(pcm.size() * 2);
    std::vector<std::uint8_t> out;
    auto put = [&](std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            out.push_back(std::uint8_t(v >> (8 * i)));
    };
    auto tag = [&](const char* t) { out.insert(out.end(), t, t + 4); };
    tag("RIFF"), put(36 + bytes, 4), tag("WAVE"), tag("fmt "), put(16, 4), put(1, 2), put(2, 2);
    put(kRate, 4), put(kRate * 4, 4), put(4, 2), put(16, 2), tag("data"), put(bytes, 4);
    const auto* p = reinterpret_cast<const std::uint8_t*>(pcm.data());
    out.insert(out.end(), p, p + bytes);
    return out;
}

void SmafRingtoneEndToEnd(benchmark::State& state) {
    const auto& pcm = sourcePcm();
    const std::string target = tolvane::platform::temporaryFolder() + "bench-smaf.mmf";
    const std::size_t second = std::size_t(kRate) * 4;
    for (auto _ : state) {
        auto encoder =
            tolvane::createEncoder(tolvane::Smaf, tolvane::PcmFormat::pcm(2, kRate, 16), target);
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(pcm.data());
        for (std::size_t at = 0; at < pcm.size() * 2; at += second)
            encoder->write(bytes + at, std::min(second, pcm.size() * 2 - at));
        encoder->finish();
        encoder.reset();
        state.PauseTiming();
        std::filesystem::remove(target);
        state.ResumeTiming();
    }
}
BENCHMARK(SmafRingtoneEndToEnd)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void KessinConversionWork(benchmark::State& state) {
    const auto image = sourceWavImage();
    std::vector<std::uint8_t> destination(image.size() + 4096);
    for (auto _ : state) {
        kessin::PcmBuffer buffer;
        buffer.analyse(false, image.data(), image.size());
        buffer.downmix();
        buffer.resample(8000, 256);
        kessin::SmafOptions options;
        options.setText(kessin::SmafOptions::kTitleSlot, "bench");
        benchmark::DoNotOptimize(
            kessin::encodeSmaf(buffer, options, destination.data(), destination.size()));
    }
}
BENCHMARK(KessinConversionWork)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
