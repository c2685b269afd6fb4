// The fade stage on PCM held in memory: the envelope it draws, where the stream ends, and that it
// does not care how the caller slices its reads.
#include <gtest/gtest.h>

#include <cmath>

#include "doubles.h"
#include "pipeline/app_exception.h"
#include "pipeline/fade.h"

using namespace tolvane;
using namespace tolvane::test;

namespace {

constexpr int kRate = 1000;  // one frame per millisecond keeps the arithmetic readable
constexpr std::int16_t kLevel = 10000;

std::unique_ptr<CReader> constantSource(int frames, int channels = 2) {
    return std::make_unique<MemoryReader>(
        pcm16(std::vector<std::int16_t>(std::size_t(frames) * channels, kLevel)), kRate, channels,
        16);
}

// Reads everything in pieces of `chunkFrames` and returns the first channel.
std::vector<std::int16_t> drain(CReader& reader, std::size_t chunkFrames, int channels = 2) {
    std::vector<std::uint8_t> all;
    std::vector<std::uint8_t> buffer(chunkFrames * channels * 2);
    for (;;) {
        std::size_t got = 0;
        reader.read(buffer.data(), buffer.size(), &got);
        if (got == 0)
            break;
        all.insert(all.end(), buffer.begin(), buffer.begin() + std::ptrdiff_t(got));
    }
    const auto samples = samples16(all);
    std::vector<std::int16_t> first;
    for (std::size_t i = 0; i < samples.size(); i += channels)
        first.push_back(samples[i]);
    return first;
}

}  // namespace

TEST(FadeStage, NoFadeAddsNoStage) {
    auto source = constantSource(100);
    CReader* raw = source.get();
    EXPECT_EQ(wrapWithFades(std::move(source), {}).get(), raw);
}

TEST(FadeStage, RisesOverTheFadeInAndFallsToSilenceOverTheFadeOut) {
    // Slices that split the held-back tail in every way give the same stream.
    for (std::size_t chunk : {1000, 7, 1, 5000}) {
        auto reader = wrapWithFades(constantSource(5000), {500, 1500});
        const auto out = drain(*reader, chunk);
        ASSERT_EQ(out.size(), 5000u) << chunk;
        EXPECT_EQ(out[0], 0) << chunk;
        EXPECT_NEAR(out[250], kLevel / 2, 2) << chunk;
        EXPECT_EQ(out[500], kLevel) << chunk;
        for (int i = 500; i < 3500; ++i)
            ASSERT_EQ(out[i], kLevel) << "untouched frame " << i << ", chunk " << chunk;
        EXPECT_NEAR(out[3500], kLevel, 10) << chunk;
        EXPECT_NEAR(out[4250], kLevel / 2, 10) << chunk;
        EXPECT_EQ(out[4999], 0) << chunk;
        for (int i = 1; i < 500; ++i)
            ASSERT_GE(out[i], out[i - 1]) << i;
        for (int i = 3501; i < 5000; ++i)
            ASSERT_LE(out[i], out[i - 1]) << i;
    }
}

TEST(FadeStage, AMarkedPartEndsAtItsLimitAndFadesOutThere) {
    auto reader = wrapWithFades(constantSource(5000), {0, 1000}, 3000);
    const auto out = drain(*reader, 1000);
    ASSERT_EQ(out.size(), 3000u);
    EXPECT_EQ(out[0], kLevel);
    EXPECT_EQ(out[1999], kLevel);
    EXPECT_NEAR(out[2500], kLevel / 2, 10);
    EXPECT_EQ(out[2999], 0);
}

TEST(FadeStage, ASourceShorterThanItsFadesStillEndsInSilence) {
    auto reader = wrapWithFades(constantSource(300, 1), {500, 1500});
    const auto out = drain(*reader, 1000, 1);
    ASSERT_EQ(out.size(), 300u);
    EXPECT_EQ(out.front(), 0);
    EXPECT_EQ(out.back(), 0);
    for (std::int16_t s : out)
        EXPECT_LT(s, kLevel / 2);
}

TEST(FadeStage, EightBitSamplesFadeTowardsTheirCentre) {
    auto reader = wrapWithFades(
        std::make_unique<MemoryReader>(std::vector<std::uint8_t>(2000, 228), kRate, 1, 8),
        {500, 500});
    std::vector<std::uint8_t> out(4000);
    std::size_t got = 0;
    reader->read(out.data(), out.size(), &got);
    ASSERT_EQ(got, 2000u);
    EXPECT_EQ(out[0], 128);
    EXPECT_EQ(out[250], 178);
    EXPECT_EQ(out[1000], 228);
    EXPECT_EQ(out[1999], 128);
}

TEST(FadeStage, SeekStartsTheFadeInAgainAndKeepsTheFormat) {
    auto reader = wrapWithFades(constantSource(4000), {500, 0});
    EXPECT_EQ(reader->sampleRate(), kRate);
    EXPECT_EQ(reader->channels(), 2);
    EXPECT_EQ(reader->bitsPerSample(), 16);
    EXPECT_EQ(reader->length(), 4);
    drain(*reader, 1000);
    reader->seek(2);
    const auto out = drain(*reader, 1000);
    ASSERT_EQ(out.size(), 2000u);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1999], kLevel);
}

TEST(FadeStage, NeedsAReader) {
    EXPECT_THROW(CFader(nullptr, {500, 0}, std::nullopt), ReaderException);
}
