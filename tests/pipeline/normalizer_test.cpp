#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "doubles.h"
#include "pipeline/app_exception.h"
#include "pipeline/normalizer.h"

using namespace tolvane;
using namespace tolvane::test;

namespace {

std::vector<std::int16_t> sine(int rate, double seconds, double amplitude) {
    std::vector<std::int16_t> s(static_cast<std::size_t>(rate * seconds));
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] =
            static_cast<std::int16_t>(amplitude * std::sin(2 * std::numbers::pi * 441 * i / rate));
    return s;
}

MemoryReader mono16(const std::vector<std::int16_t>& s, int rate = 44100) {
    return MemoryReader(pcm16(s), rate, 1, 16);
}

}  // namespace

TEST(LevelAnalysis, SineMeasuresItsRmsAndPeak) {
    auto reader = mono16(sine(44100, 3.0, 16384));
    FileEntry entry;
    analyseLevel(reader, entry);
    // The first windows hold only a few blocks that are not whole periods: within 1 %.
    EXPECT_NEAR(entry.levelRms, 0.5 / std::sqrt(2.0), 0.005);
    EXPECT_NEAR(entry.levelPeak, 16384.0 / 32767, 1e-3);
    EXPECT_EQ(entry.peakHigh, 16384);
    EXPECT_EQ(entry.peakLow, -16384);
}

TEST(LevelAnalysis, AClickAtTheStartCountsAsLoudAsItIs) {
    // 10 ms at full scale, then 5 s of silence: the first window holds only that block.
    std::vector<std::int16_t> s(44100 * 5, 0);
    for (int i = 0; i < 441; ++i)
        s[i] = 32000;
    auto reader = mono16(s);
    FileEntry entry;
    analyseLevel(reader, entry);
    EXPECT_NEAR(entry.levelRms, 32000.0 / 32768, 1e-6);
}

TEST(LevelAnalysis, AMarkedPartIgnoresEverythingOutsideIt) {
    // Seconds 0-1 loud, 1-3 quiet; the part starts at second 1 (the reader is positioned there).
    std::vector<std::int16_t> s = sine(8000, 1.0, 30000);
    const auto quiet = sine(8000, 2.0, 1000);
    s.insert(s.end(), quiet.begin(), quiet.end());
    s.push_back(32767);  // past the part's end
    auto reader = mono16(s, 8000);
    reader.seek(1);
    FileEntry entry;
    entry.partMarked = true;
    entry.partStart = 1;
    entry.partLength = 2;
    analyseLevel(reader, entry);
    EXPECT_NEAR(entry.levelRms, 1000 / std::sqrt(2.0) / 32768, 3e-4);
    EXPECT_LE(entry.peakHigh, 1000);
    EXPECT_EQ(reader.position(), s.size() * 2 - 2);
}

TEST(LevelAnalysis, EightBitSilenceAndExtremes) {
    FileEntry silent;
    MemoryReader quiet(std::vector<std::uint8_t>(8000, 128), 8000, 1, 8);
    analyseLevel(quiet, silent);
    EXPECT_EQ(silent.levelRms, 0.0);
    std::vector<std::uint8_t> bytes(8000, 128);
    bytes[10] = 255;
    bytes[20] = 0;
    MemoryReader loud(bytes, 8000, 1, 8);
    FileEntry entry;
    analyseLevel(loud, entry);
    EXPECT_EQ(entry.peakHigh, 127);
    EXPECT_EQ(entry.peakLow, -128);
    EXPECT_DOUBLE_EQ(entry.levelPeak, 1.0);  // -128 / -128
}

TEST(LevelAnalysis, CancelStopsAfterTheCurrentBlock) {
    auto reader = mono16(sine(44100, 10.0, 1000));
    std::atomic<bool> cancel{false};
    int blocks = 0;
    FileEntry entry;
    analyseLevel(reader, entry, &cancel, [&] {
        if (++blocks == 3)
            cancel = true;
    });
    EXPECT_EQ(blocks, 3);
    // The source is read a second at a time: nothing beyond the second being measured.
    EXPECT_EQ(reader.position(), 100u * 441 * 2);
}

TEST(LevelAnalysis, EveryLayoutMeasuresExactlyWhatTheDefinitionGives) {
    // The loudest second is the largest mean, over any channel, of up to 100 consecutive 10 ms
    // mean squares; computed here in doubles the plain way and compared to the last bit. The
    // signal is loud in a different place per channel and holds the extremes (two -32768 in a
    // row overflow a signed 32-bit sum of squares).
    struct Layout {
        int channels, bits;
    };
    for (const Layout layout : {Layout{1, 16}, Layout{2, 16}, Layout{3, 16}, Layout{2, 8}}) {
        const int rate = 8000 + 41;  // blocks of 80 frames, not a multiple of the vector width
        const int frames = rate * 3 + 37;
        const int full = layout.bits == 16 ? 32768 : 128;
        std::vector<std::int32_t> samples;
        for (int f = 0; f < frames; ++f) {
            for (int c = 0; c < layout.channels; ++c) {
                const bool loud = f / rate == c % 3;
                const double amplitude = (loud ? 0.9 : 0.1) * (full - 1);
                samples.push_back(
                    static_cast<std::int32_t>(amplitude * std::sin(0.01 * (c + 1) * f + c)));
            }
        }
        for (int i = 0; i < 4; ++i)
            samples[100 + i] = -full;
        samples[500] = full - 1;

        std::vector<std::uint8_t> bytes;
        for (const std::int32_t s : samples) {
            if (layout.bits == 8) {
                bytes.push_back(static_cast<std::uint8_t>(s + 128));
            } else {
                bytes.push_back(static_cast<std::uint8_t>(s & 0xFF));
                bytes.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
            }
        }
        MemoryReader reader(bytes, rate, layout.channels, layout.bits);
        FileEntry entry;
        analyseLevel(reader, entry);

        const int blockFrames = rate / 100;
        double loudest = 0;
        for (int c = 0; c < layout.channels; ++c) {
            std::vector<double> means;
            for (int start = 0; start < frames; start += blockFrames) {
                const int n = std::min(blockFrames, frames - start);
                double sum = 0;
                for (int f = start; f < start + n; ++f) {
                    const double s = samples[static_cast<std::size_t>(f) * layout.channels + c];
                    sum += s * s;
                }
                means.push_back(sum / n);
                const std::size_t first = means.size() > 100 ? means.size() - 100 : 0;
                double window = 0;
                for (std::size_t i = first; i < means.size(); ++i)
                    window += means[i];
                loudest = std::max(loudest, window / static_cast<double>(means.size() - first));
            }
        }
        const std::string name =
            std::to_string(layout.channels) + " x " + std::to_string(layout.bits) + " bits";
        EXPECT_EQ(entry.levelRms, std::sqrt(loudest / (double(full) * full))) << name;
        EXPECT_EQ(entry.peakLow, -full) << name;
        EXPECT_EQ(entry.peakHigh, full - 1) << name;
    }
}

TEST(GainStage, WithinAnEighthOfADecibelNoStageIsAdded) {
    FileEntry entry;
    entry.levelRms = 8192.0 / 32768;
    const double gain = kTargetLevel / entry.levelRms;
    EXPECT_NEAR(gain, 1.0048, 1e-4);
    auto inner = std::make_unique<MemoryReader>(pcm16({1, 2, 3}), 8000, 1, 16);
    CReader* raw = inner.get();
    EXPECT_EQ(wrapWithNormalizer(std::move(inner), entry, gain).get(), raw);
}

TEST(GainStage, SilenceStaysSilentInsteadOfDividingByZero) {
    FileEntry entry;  // level 0
    const double gain = kTargetLevel / entry.levelRms;
    auto inner = std::make_unique<MemoryReader>(pcm16({0, 0, 0}), 8000, 1, 16);
    CReader* raw = inner.get();
    EXPECT_EQ(wrapWithNormalizer(std::move(inner), entry, gain).get(), raw);
}

TEST(GainStage, AttenuationTruncatesTowardZero) {
    FileEntry entry;
    entry.levelRms = 0.5;  // -6 dB: gain about 0.5
    entry.peakHigh = 32767;
    entry.peakLow = -32768;
    const double gain = kTargetLevel / entry.levelRms;
    auto stage = wrapWithNormalizer(
        std::make_unique<MemoryReader>(pcm16({3, -3, 1001, -1001, 32767}), 8000, 1, 16), entry,
        gain);
    std::vector<std::uint8_t> out(10);
    EXPECT_EQ(stage->read(out.data(), out.size()), 10u);
    const std::vector<std::int16_t> expected = {1, -1, 502, -502, 16461};
    EXPECT_EQ(samples16(out), expected);
}

TEST(GainStage, AmplifyingPastFullScaleBendsPeaksWithTheKnee) {
    FileEntry entry;
    entry.levelRms = std::pow(10.0, -24.0 / 20);  // -24 dB: gain about 3.98
    entry.peakHigh = 16384;
    entry.peakLow = -16384;
    const double gain = kTargetLevel / entry.levelRms;
    EXPECT_NEAR(gain, 3.981, 1e-3);
    CNormalizer stage(std::make_unique<MemoryReader>(pcm16({16384, -16384, 2000, 0}), 8000, 1, 16),
                      gain, entry);
    EXPECT_TRUE(stage.usesSoftClip());
    std::vector<std::uint8_t> out(8);
    stage.read(out.data(), out.size());
    const auto s = samples16(out);
    EXPECT_LT(s[0], 32767);
    EXPECT_GT(s[0], 30000);
    EXPECT_EQ(s[1], -s[0]);
    EXPECT_EQ(s[2], static_cast<std::int16_t>(std::floor(std::trunc(2000 * gain) + 0.5)));
    EXPECT_EQ(s[3], 0);
}

TEST(GainStage, EightBitSamplesAreCentredOn128) {
    FileEntry entry;
    entry.levelRms = 0.125;
    entry.peakHigh = 20;
    entry.peakLow = -20;
    CNormalizer stage(
        std::make_unique<MemoryReader>(std::vector<std::uint8_t>{148, 108, 128}, 8000, 1, 8), 2.0,
        entry);
    EXPECT_FALSE(stage.usesSoftClip());
    std::vector<std::uint8_t> out(3);
    stage.read(out.data(), out.size());
    EXPECT_EQ(out, (std::vector<std::uint8_t>{168, 88, 128}));
}

TEST(GainStage, NeedsAReader) {
    try {
        CNormalizer stage(nullptr, 2.0, FileEntry{});
        FAIL();
    } catch (const ReaderException& e) {
        EXPECT_EQ(e.message(), "Internal error #392");
    }
}

TEST(SoftClip, IsLinearInsideAndSmoothlyBoundedOutside) {
    EXPECT_EQ(softClip(0.3), 0.3);
    EXPECT_EQ(softClip(-0.5), -0.5);
    EXPECT_NEAR(softClip(0.5 + 1e-9), 0.5, 1e-8);
    EXPECT_NEAR((softClip(0.5 + 1e-6) - softClip(0.5)) / 1e-6, 1.0, 1e-3);  // slope 1 at the knee
    EXPECT_LT(softClip(3.0), 1.0);
    EXPECT_GT(softClip(-3.0), -1.0);
    EXPECT_LE(softClip(1e6), 1.0);
    EXPECT_NEAR(softClip(1.0), 0.5 + 0.5 * std::tanh(1.0), 1e-12);
}
