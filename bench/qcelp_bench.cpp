// Speed of the QCELP-13K encoder: a 30-second ringtone must encode in under 0.6 s on one core
// (50 times real time). The "realtime" counter is seconds of audio encoded per second.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "plugins/qscl/qcelp_encoder.h"

namespace {

using tolvane::qcelp::Encoder;

// Voiced speech-like sound: a pulse train with drifting pitch through two moving resonances,
// with bursts of noise between the syllables.
std::vector<float> speechLike(double seconds) {
    const int n = static_cast<int>(seconds * 8000);
    std::vector<float> x(static_cast<std::size_t>(n) + Encoder::kLookahead);
    std::mt19937 rng(5);
    std::normal_distribution<float> noise(0.0f, 0.05f);
    double phase = 0.0;
    float a1 = 0, a2 = 0, b1 = 0, b2 = 0;
    for (int i = 0; i < n; ++i) {
        const double t = i / 8000.0;
        const bool voiced = std::fmod(t, 0.4) < 0.3;
        const double pitch = 110.0 + 40.0 * std::sin(2.0 * M_PI * 0.7 * t);
        phase += pitch / 8000.0;
        float e = voiced ? (phase >= 1.0 ? 1.0f : 0.0f) : noise(rng);
        if (phase >= 1.0)
            phase -= 1.0;
        const double f1 = 500.0 + 200.0 * std::sin(2.0 * M_PI * 1.3 * t);
        const double f2 = 1500.0 + 500.0 * std::sin(2.0 * M_PI * 0.9 * t);
        const float r = 0.97f;
        const float c1 = static_cast<float>(2.0 * r * std::cos(2.0 * M_PI * f1 / 8000.0));
        const float c2 = static_cast<float>(2.0 * r * std::cos(2.0 * M_PI * f2 / 8000.0));
        const float a = e + c1 * a1 - r * r * a2;
        a2 = a1;
        a1 = a;
        const float b = a + c2 * b1 - r * r * b2;
        b2 = b1;
        b1 = b;
        x[static_cast<std::size_t>(i)] = 0.02f * b;
    }
    return x;
}

void BM_EncodeThirtySeconds(benchmark::State& state) {
    constexpr double kSeconds = 30.0;
    const std::vector<float> x = speechLike(kSeconds);
    const int frames = static_cast<int>(kSeconds * 8000) / 160;
    for (auto _ : state) {
        Encoder encoder;
        unsigned checksum = 0;
        for (int i = 0; i < frames; ++i)
            checksum += encoder.encode(x.data() + 160 * i).cbIndex[0];
        benchmark::DoNotOptimize(checksum);
    }
    state.counters["realtime"] = benchmark::Counter(
        kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EncodeThirtySeconds)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
