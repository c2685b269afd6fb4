// MP3 decoding speed: a 3-minute 44.1 kHz stereo 128 kbit/s MP3 through CMP3Reader, against
// `ffmpeg -i x.mp3 -f s16le -y /dev/null` on the same file, with the parts of our path (the scan,
// libmad with the dither, the pipe) measured on their own to show where the time goes.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <chrono>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "decoders/mapped_file.h"
#include "decoders/mp3_decoding.h"
#include "decoders/source_types.h"
#include "pipeline/reader.h"

namespace {

using tolvane::bench::processCpuSeconds;
using tolvane::bench::runQuietly;

// Music-like content: noise under a tone, so that the frames carry a realistic load of bits.
const std::string& sourceFile() {
    static const std::string path = tolvane::bench::musicMp3(180, 440, 128);
    return path;
}

struct Cost {
    double wall = 1e9;  // seconds, best of the runs
    double cpu = 1e9;   // user + system seconds of all threads, best of the runs
};

double childrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// ffmpeg's own decode of the same file to 16-bit PCM; CPU time counts on a loaded machine too.
const Cost& ffmpegCost() {
    static const Cost cost = [] {
        Cost best;
        for (int i = 0; i < 5; ++i) {
            const double cpu = childrenCpuSeconds();
            const auto start = std::chrono::steady_clock::now();
            runQuietly({"ffmpeg", "-i", sourceFile(), "-f", "s16le", "-y", "/dev/null"});
            best.wall = std::min(
                best.wall,
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            best.cpu = std::min(best.cpu, childrenCpuSeconds() - cpu);
        }
        return best;
    }();
    return cost;
}

void BM_Mp3Scan(benchmark::State& state) {
    const auto file = tolvane::MappedFile::open(sourceFile());
    for (auto _ : state)
        benchmark::DoNotOptimize(tolvane::scanMp3(file->data(), file->size()));
}
BENCHMARK(BM_Mp3Scan)->Unit(benchmark::kMillisecond);

// libmad and the dither, without the pipe.
void BM_Mp3FramesWithDither(benchmark::State& state) {
    const auto file = tolvane::MappedFile::open(sourceFile());
    const auto scan = tolvane::scanMp3(file->data(), file->size());
    std::vector<std::int16_t> pcm;
    for (auto _ : state) {
        tolvane::Mp3FrameDecoder decoder(file->data(), file->size(), scan.channels);
        while (decoder.next(pcm)) {
            benchmark::DoNotOptimize(pcm.data());
            pcm.clear();
        }
    }
}
BENCHMARK(BM_Mp3FramesWithDither)->Unit(benchmark::kMillisecond);

// The dither alone over a 3-minute stereo stream's worth of samples.
void BM_Mp3DitherOnly(benchmark::State& state) {
    std::vector<std::int32_t> samples(1152 * 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = std::int32_t(i * 7919 % (1 << 28));
    for (auto _ : state) {
        tolvane::Mp3Dither left, right;
        std::int32_t sum = 0;
        for (int frame = 0; frame < 180 * 44100 / 1152; ++frame)
            for (std::size_t i = 0; i < samples.size(); i += 2)
                sum += left.toPcm16(samples[i]) + right.toPcm16(samples[i + 1]);
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_Mp3DitherOnly)->Unit(benchmark::kMillisecond);

// The whole reader: scan, decoding thread, pipe, consumer reads of one second each.
void BM_Mp3Reader(benchmark::State& state) {
    std::vector<std::uint8_t> buffer(176400);
    Cost ours;
    const Cost& theirs = ffmpegCost();
    for (auto _ : state) {
        const double cpu = processCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        auto reader = tolvane::openReader(sourceFile());
        while (reader->read(buffer.data(), buffer.size()) > 0) {
        }
        reader.reset();
        ours.wall = std::min(
            ours.wall,
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        ours.cpu = std::min(ours.cpu, processCpuSeconds() - cpu);
    }
    state.counters["ffmpeg_wall_s"] = theirs.wall;
    state.counters["ffmpeg_cpu_s"] = theirs.cpu;
    state.counters["wall_ratio"] = ours.wall / theirs.wall;
    state.counters["cpu_ratio"] = ours.cpu / theirs.cpu;
}
BENCHMARK(BM_Mp3Reader)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
