#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "doubles.h"
#include "pipeline/resampling_filter.h"

using namespace tolvane;
using namespace tolvane::test;

namespace {

struct Chain {
    RecordingEncoder* inner;
    std::unique_ptr<CResamplingFilter> filter;
};

Chain makeChain(int srcRate, int srcChannels, int srcBits, int dstRate, int dstChannels,
                int dstBits) {
    auto inner = std::make_unique<RecordingEncoder>();
    RecordingEncoder* raw = inner.get();
    auto filter = std::make_unique<CResamplingFilter>(
        std::move(inner), PcmFormat::pcm(srcChannels, srcRate, srcBits),
        PcmFormat::pcm(dstChannels, dstRate, dstBits));
    return {raw, std::move(filter)};
}

std::vector<std::int16_t> sine(int rate, int channels, double hz, double amplitude,
                               double seconds) {
    const int frames = static_cast<int>(rate * seconds);
    std::vector<std::int16_t> s(static_cast<std::size_t>(frames) * channels);
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            s[i * channels + c] = static_cast<std::int16_t>(
                amplitude * std::sin(2 * std::numbers::pi * hz * i / rate));
    return s;
}

double rmsOf(const std::vector<double>& v, std::size_t from, std::size_t to) {
    double sum = 0;
    for (std::size_t i = from; i < to; ++i)
        sum += v[i] * v[i];
    return std::sqrt(sum / static_cast<double>(to - from));
}

}  // namespace

TEST(ResamplingFilter, TableConstantsForCommonRates) {
    struct Case {
        int source, target;
        int bpc, length;
        double ratio, cutoff;
    };
    const Case cases[] = {{44100, 8000, 80, 31, 5.5125, 0.181405895},
                          {16000, 8000, 1, 32, 2.0, 0.5},
                          {48000, 22050, 147, 31, 2.176870748, 0.459375}};
    for (const Case& c : cases) {
        auto chain = makeChain(c.source, 1, 16, c.target, 1, 8);
        const auto block = pcm16(std::vector<std::int16_t>(c.source, 0));
        chain.filter->write(block.data(), block.size());
        const ResampleState& s = chain.filter->state();
        EXPECT_TRUE(s.tableBuilt);
        EXPECT_EQ(s.bpc, c.bpc) << c.source;
        EXPECT_EQ(s.filterLength, c.length) << c.source;
        EXPECT_NEAR(s.ratio, c.ratio, 1e-6);
        EXPECT_NEAR(s.cutoff, c.cutoff, 1e-6);
        ASSERT_EQ(s.phases.size(), static_cast<std::size_t>(2 * c.bpc + 1));
        for (const auto& row : s.phases) {
            double sum = 0;
            for (float h : row)
                sum += h;
            EXPECT_NEAR(sum, 1.0, 1e-5);
        }
    }
}

TEST(ResamplingFilter, OneSecondOfCdSilenceBecomesEightThousandSilentBytes) {
    auto chain = makeChain(44100, 2, 16, 8000, 1, 8);
    const auto second = pcm16(std::vector<std::int16_t>(2 * 44100, 0));
    chain.filter->write(second.data(), second.size());
    chain.filter->finish();
    EXPECT_EQ(chain.inner->finishes, 1);
    // The history keeps about half the filter length: a few samples short of 8000.
    EXPECT_GE(chain.inner->bytes.size(), 7990u);
    EXPECT_LE(chain.inner->bytes.size(), 8000u);
    for (std::uint8_t b : chain.inner->bytes)
        ASSERT_EQ(b, 128);
    EXPECT_LE(chain.inner->largestWrite, 4096u);
}

TEST(ResamplingFilter, CopyPathMapsFullScaleAndTruncatesTowardZero) {
    auto chain = makeChain(22050, 1, 16, 22050, 1, 8);
    const std::vector<std::int16_t> in = {-32768, 32767, 0, 255, -255, 256, -256, -1, 1};
    const auto bytes = pcm16(in);
    chain.filter->write(bytes.data(), bytes.size());
    chain.filter->finish();
    const std::vector<std::uint8_t> expected = {0, 255, 128, 128, 128, 129, 127, 128, 128};
    EXPECT_EQ(chain.inner->bytes, expected);
}

TEST(ResamplingFilter, MonoToStereoWritesEachSampleTwiceAndEightBitWidens) {
    auto chain = makeChain(8000, 1, 8, 8000, 2, 16);
    const std::vector<std::uint8_t> in = {0, 128, 255, 129};
    chain.filter->write(in.data(), in.size());
    chain.filter->finish();
    const std::vector<std::int16_t> expected = {-32768, -32768, 0, 0, 32512, 32512, 256, 256};
    EXPECT_EQ(samples16(chain.inner->bytes), expected);
}

TEST(ResamplingFilter, StereoToMonoAveragesTheChannels) {
    auto chain = makeChain(8000, 2, 16, 8000, 1, 16);
    const std::vector<std::int16_t> in = {1000, 3001, -1000, -3001, 32767, 32767, -32768, -32768};
    const auto bytes = pcm16(in);
    chain.filter->write(bytes.data(), bytes.size());
    chain.filter->finish();
    const std::vector<std::int16_t> expected = {2000, -2000, 32767, -32768};
    EXPECT_EQ(samples16(chain.inner->bytes), expected);
}

TEST(ResamplingFilter, FinishWithoutDataOnlyFinishesTheInnerEncoder) {
    auto chain = makeChain(44100, 2, 16, 8000, 1, 8);
    chain.filter->finish();
    EXPECT_EQ(chain.inner->finishes, 1);
    EXPECT_EQ(chain.inner->writes, 0);
}

TEST(ResamplingFilter, PartialFramesWaitForTheirRest) {
    auto chain = makeChain(8000, 2, 16, 8000, 2, 16);
    const auto bytes = pcm16({100, -100, 200, -200});
    chain.filter->write(bytes.data(), 3);  // one and a half samples
    chain.filter->write(bytes.data() + 3, bytes.size() - 3);
    chain.filter->finish();
    EXPECT_EQ(chain.inner->bytes, bytes);
}

TEST(ResamplingFilter, AWriteLargerThanTheFifoLosesNothing) {
    // 8 s of 48 kHz stereo in one push: far more than the 512 KiB input ring.
    auto chain = makeChain(48000, 2, 16, 48000, 2, 16);
    const auto in = pcm16(sine(48000, 2, 440, 8000, 8.0));
    chain.filter->write(in.data(), in.size());
    chain.filter->finish();
    EXPECT_EQ(chain.inner->bytes, in);
}

TEST(ResamplingFilter, DownsamplingKeepsPitchAndLevelAndRemovesAliases) {
    struct Case {
        double hz;
        double expectedGain;
        double tolerance;
    };
    // 1 kHz passes; 6 kHz is above the 4 kHz Nyquist of 8000 Hz and must come out at least
    // 20 dB down (the short 32-tap filter has a wide transition band).
    for (const Case c : {Case{1000, 1.0, 0.03}, Case{6000, 0.0, 0.1}}) {
        auto chain = makeChain(44100, 1, 16, 8000, 1, 16);
        const auto in = pcm16(sine(44100, 1, c.hz, 16000, 2.0));
        for (std::size_t at = 0; at < in.size(); at += 88200)
            chain.filter->write(in.data() + at, std::min<std::size_t>(88200, in.size() - at));
        chain.filter->finish();
        const auto out = samples16(chain.inner->bytes);
        ASSERT_GT(out.size(), 15900u);
        std::vector<double> v(out.begin(), out.end());
        const double level = rmsOf(v, 1000, 15000) / (16000 / std::sqrt(2.0));
        EXPECT_NEAR(level, c.expectedGain, c.tolerance) << c.hz;
        if (c.expectedGain > 0) {
            // Zero crossings per second give the pitch back.
            int crossings = 0;
            for (std::size_t i = 1001; i < 9000; ++i)
                crossings += (v[i - 1] < 0) != (v[i] < 0);
            EXPECT_NEAR(crossings / 1.0, 2 * c.hz, 4);
        }
    }
}

TEST(ResamplingFilter, StereoConvertsEachChannelAsMonoWould) {
    // Stereo blocks are converted for both channels in one pass; each channel must come out
    // exactly as the same samples converted on their own. Odd write sizes leave blocks whose
    // length is not a multiple of the vector width; 16 kHz gives the 33-tap filter.
    for (const int rate : {44100, 16000}) {
        const auto left = sine(rate, 1, 440, 20000, 1.5);
        auto right = sine(rate, 1, 2900, 9000, 1.5);
        right[right.size() / 2] = -32768;
        std::vector<std::int16_t> both;
        for (std::size_t i = 0; i < left.size(); ++i) {
            both.push_back(left[i]);
            both.push_back(right[i]);
        }
        auto convert = [rate](const std::vector<std::int16_t>& s, int channels) {
            auto chain = makeChain(rate, channels, 16, 8000, channels, 16);
            const auto bytes = pcm16(s);
            const std::size_t piece = 4 * 1001 + 2 * channels;
            for (std::size_t at = 0; at < bytes.size(); at += piece)
                chain.filter->write(bytes.data() + at, std::min(piece, bytes.size() - at));
            chain.filter->finish();
            return samples16(chain.inner->bytes);
        };
        const auto stereo = convert(both, 2);
        const auto l = convert(left, 1);
        const auto r = convert(right, 1);
        ASSERT_EQ(stereo.size(), 2 * l.size()) << rate;
        ASSERT_GT(l.size(), 11000u) << rate;
        for (std::size_t k = 0; k < l.size(); ++k) {
            ASSERT_EQ(stereo[2 * k], l[k]) << rate << " frame " << k;
            ASSERT_EQ(stereo[2 * k + 1], r[k]) << rate << " frame " << k;
        }
    }
}

TEST(ResamplingFilter, SourcesWithMoreThanTwoChannelsUseTheFirstTwo) {
    // Six 16-bit channels make frames wider than the block buffer was made for: the block holds
    // fewer frames instead of overrunning it. Channels 0 and 1 are mixed as a stereo source's.
    const auto left = sine(44100, 1, 440, 20000, 1.0);
    const auto right = sine(44100, 1, 700, 10000, 1.0);
    std::vector<std::int16_t> stereo, six;
    for (std::size_t i = 0; i < left.size(); ++i) {
        stereo.insert(stereo.end(), {left[i], right[i]});
        six.insert(six.end(), {left[i], right[i], 32767, -32768, 1234, -1});
    }
    auto convert = [](const std::vector<std::int16_t>& s, int channels) {
        auto chain = makeChain(44100, channels, 16, 8000, 1, 16);
        const auto bytes = pcm16(s);
        chain.filter->write(bytes.data(), bytes.size());
        chain.filter->finish();
        return samples16(chain.inner->bytes);
    };
    const auto fromStereo = convert(stereo, 2);
    const auto fromSix = convert(six, 6);
    ASSERT_GT(fromStereo.size(), 7900u);
    ASSERT_NEAR(static_cast<double>(fromSix.size()), static_cast<double>(fromStereo.size()), 1);
    for (std::size_t k = 0; k < std::min(fromSix.size(), fromStereo.size()); ++k)
        ASSERT_NEAR(fromSix[k], fromStereo[k], 1) << "frame " << k;
}

TEST(ResamplingFilter, AFrameWiderThanTheQueueLimitWaitsForItsRest) {
    // 10000 channels of 16 bits: 20000 bytes a frame, more than the filter keeps queued.
    auto chain = makeChain(8000, 10000, 16, 8000, 1, 8);
    const std::vector<std::uint8_t> half(10000 * 2 - 100, 0);
    chain.filter->write(half.data(), half.size());  // must return, not spin
    chain.filter->write(half.data(), 100);
    chain.filter->finish();
    EXPECT_EQ(chain.inner->bytes, std::vector<std::uint8_t>{128});
}

TEST(ResamplingFilter, UpsamplingKeepsEveryInputSampleAcrossBlockEnds) {
    // A sweep from 100 Hz to 3 kHz, so that a lag between output and ideal is unambiguous. The
    // lag where the output matches the ideal sweep best is the filter's delay; a block end that
    // dropped an input sample would make it grow through the stream.
    constexpr double kSeconds = 6;
    const auto sweepAt = [](double t) {
        const double f0 = 100, f1 = 3000;
        return 12000 *
               std::sin(2 * std::numbers::pi * (f0 * t + (f1 - f0) * t * t / (2 * kSeconds)));
    };
    const auto bestLag = [&](const std::vector<std::int16_t>& out, std::size_t from) {
        int best = 0;
        double bestScore = -1;
        for (int lag = -40; lag <= 40; ++lag) {
            double sd = 0, dd = 0, ss = 0;
            for (std::size_t i = from; i < from + 4410; ++i) {
                const double d = out[i + static_cast<std::size_t>(lag + 40)];
                const double s = sweepAt(double(i + 40) / 44100);
                sd += s * d;
                ss += s * s;
                dd += d * d;
            }
            const double score = sd / std::sqrt(ss * dd);
            if (score > bestScore) {
                bestScore = score;
                best = lag;
            }
        }
        EXPECT_GT(bestScore, 0.99);
        return best;
    };
    for (int rate : {8000, 16000, 22050, 24000, 32000}) {
        SCOPED_TRACE(rate);
        auto chain = makeChain(rate, 1, 16, 44100, 1, 16);
        std::vector<std::int16_t> in(static_cast<std::size_t>(rate * kSeconds));
        for (std::size_t i = 0; i < in.size(); ++i)
            in[i] = static_cast<std::int16_t>(sweepAt(double(i) / rate));
        const auto bytes = pcm16(in);
        // One second per write, as the worker writes.
        for (std::size_t at = 0; at < bytes.size(); at += 2 * std::size_t(rate))
            chain.filter->write(bytes.data() + at,
                                std::min<std::size_t>(2 * std::size_t(rate), bytes.size() - at));
        chain.filter->finish();
        const auto out = samples16(chain.inner->bytes);
        // Only the last half filter length (about 16 input samples) stays in the history.
        const double expected = kSeconds * 44100;
        EXPECT_NEAR(double(out.size()), expected - 16 * 44100.0 / rate, 2 + 44100.0 / rate);
        EXPECT_EQ(bestLag(out, 44100), bestLag(out, std::size_t(5 * 44100)));
    }
}
