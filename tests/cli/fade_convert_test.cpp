// Fades as a script asks for them: tolvane-convert on music with noise made by sox, the ringtones
// decoded by ffmpeg and compared with the same ringtone made without fades.
#include <gtest/gtest.h>

#include <cmath>

#include "support/test_support.h"

using namespace tolvane::test;

namespace {

constexpr int kRate = 22050;  // "wav-high": 22050 Hz, 8-bit mono

double rms(const std::vector<std::int16_t>& s, std::size_t from, std::size_t count) {
    double sum = 0;
    for (std::size_t i = from; i < from + count; ++i)
        sum += double(s[i]) * s[i];
    return std::sqrt(sum / double(count));
}

// The gain that best maps `plain` onto `faded` over a window (least squares): unlike a ratio of
// levels, the 8-bit ringtone's rounding noise does not bias it.
double gainBetween(const std::vector<std::int16_t>& faded, const std::vector<std::int16_t>& plain,
                   std::size_t from, std::size_t count) {
    double cross = 0;
    double power = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        cross += double(faded[i]) * plain[i];
        power += double(plain[i]) * plain[i];
    }
    return power > 0 ? cross / power : 0;
}

class FadeConvertTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveTool("sox") || !haveTool("ffmpeg"))
            GTEST_SKIP() << "sox and ffmpeg are needed";
        // Eight seconds of a chord over pink noise.
        source_ = dir_.file("song.wav");
        const std::string noise = dir_.file("noise.wav");
        const std::string chord = dir_.file("chord.wav");
        ASSERT_EQ(run({"sox", "-n", "-r", "44100", "-c", "1", "-b", "16", noise, "synth", "8",
                       "pinknoise", "vol", "0.2"})
                      .status,
                  0);
        ASSERT_EQ(run({"sox", "-n", "-r", "44100", "-c", "1", "-b", "16", chord, "synth", "8",
                       "sine", "220", "sine", "330", "vol", "0.5"})
                      .status,
                  0);
        ASSERT_EQ(run({"sox", "-m", noise, chord, source_}).status, 0);
    }

    std::vector<std::int16_t> ringtone(const std::string& folder, std::vector<std::string> extra) {
        std::vector<std::string> args = {(binDir() / "tolvane-convert").string(), "-f", "wav-high",
                                         "-o", dir_.file(folder)};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(source_);
        const CommandResult r = run(args);
        EXPECT_EQ(r.status, 0) << r.errors;
        return decodeWithFfmpeg(dir_.file(folder) + "/song.wav");
    }

    TempDir dir_;
    std::string source_;
};

}  // namespace

TEST_F(FadeConvertTest, TheStartRisesTheEndFallsAndTheRestIsUnchanged) {
    const auto plain = ringtone("plain", {});
    const auto faded = ringtone("faded", {"--fade-in", "0.5", "--fade-out", "1.5"});
    ASSERT_EQ(faded.size(), plain.size());
    ASSERT_GT(plain.size(), std::size_t(7 * kRate));

    const std::size_t fadeIn = kRate / 2;
    const std::size_t fadeOut = kRate * 3 / 2;
    const std::size_t end = plain.size();
    for (std::size_t i = fadeIn; i < end - fadeOut; ++i)
        ASSERT_EQ(faded[i], plain[i]) << "sample " << i << " outside the fades";

    // In 50 ms windows, the faded level over the plain level follows the ramp. The ringtone's
    // resampling filter may delay the sound by a few tens of milliseconds, and the ramp with it.
    const std::size_t window = kRate / 20;
    const double delay = 0.04 * kRate;
    const auto between = [](double value, double low, double high) {
        return value >= low - 0.02 && value <= high + 0.02;
    };
    for (std::size_t w = 0; w + window <= fadeIn; w += window) {
        const double centre = double(w) + window / 2.0;
        const double ratio = gainBetween(faded, plain, w, window);
        EXPECT_TRUE(between(ratio, std::max(0.0, (centre - delay) / double(fadeIn)),
                            centre / double(fadeIn)))
            << "rising at sample " << w << ": " << ratio;
    }
    for (std::size_t w = end - fadeOut; w + window <= end; w += window) {
        const double left = double(end - w) - window / 2.0;  // samples to the end
        const double ratio = gainBetween(faded, plain, w, window);
        EXPECT_TRUE(between(ratio, std::max(0.0, (left - delay) / double(fadeOut)),
                            std::min(1.0, left / double(fadeOut))))
            << "falling at sample " << w << ": " << ratio;
    }
    EXPECT_LT(std::abs(faded.front()), 200);
    EXPECT_LT(std::abs(faded.back()), 200);

    // The level stage decided before the fades: the loudest second is still at -12 dBFS.
    double loudest = 0;
    for (std::size_t s = fadeIn; s + kRate <= end - fadeOut; s += kRate / 10)
        loudest = std::max(loudest, rms(faded, s, kRate));
    // (The ringtone keeps frequencies up to 11 kHz only: the noise loses a little of its level.)
    EXPECT_NEAR(20 * std::log10(loudest / 32768.0), -12.0, 0.8);
}

TEST_F(FadeConvertTest, ZeroFadesMakeTheSameRingtoneByteForByte) {
    ringtone("plain", {});
    ringtone("zero", {"--fade-in", "0", "--fade-out", "0"});
    EXPECT_EQ(readFile(dir_.file("plain") + "/song.wav"),
              readFile(dir_.file("zero") + "/song.wav"));
}

// An iPhone ringtone keeps 30 seconds of a longer part (or source): the chosen fade-out must end
// where the ringtone ends, not at the end of the part, which is never heard.
TEST_F(FadeConvertTest, AnIphoneRingtoneFadesOutWhereItIsCut) {
    constexpr int kM4rRate = 44100;
    const std::string longSource = dir_.file("long.wav");
    const std::string noise = dir_.file("long-noise.wav");
    const std::string chord = dir_.file("long-chord.wav");
    ASSERT_EQ(run({"sox", "-n", "-r", "44100", "-c", "1", "-b", "16", noise, "synth", "45",
                   "pinknoise", "vol", "0.2"})
                  .status,
              0);
    ASSERT_EQ(run({"sox", "-n", "-r", "44100", "-c", "1", "-b", "16", chord, "synth", "45", "sine",
                   "220", "sine", "330", "vol", "0.5"})
                  .status,
              0);
    ASSERT_EQ(run({"sox", "-m", noise, chord, longSource}).status, 0);

    const struct {
        const char* name;
        std::vector<std::string> part;
    } cases[] = {{"part of 40 s", {"--part", "5+40"}}, {"whole 45 s source", {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string folder = dir_.file(c.part.empty() ? "m4r-whole" : "m4r-part");
        std::vector<std::string> args = {(binDir() / "tolvane-convert").string(),
                                         "-f",
                                         "m4r",
                                         "-o",
                                         folder,
                                         "--fade-out",
                                         "1.5"};
        args.insert(args.end(), c.part.begin(), c.part.end());
        args.push_back(longSource);
        const CommandResult r = run(args);
        ASSERT_EQ(r.status, 0) << r.errors;
        const auto decoded = decodeWithFfmpeg(folder + "/long.m4r", kM4rRate, 1);
        const std::size_t cut = std::size_t(30) * kM4rRate;
        ASSERT_GE(decoded.size(), cut - 2048);
        ASSERT_LE(decoded.size(), cut + 4096);

        // The steady level of the music, then the level in 100 ms windows before the cut as a
        // share of it: full until 1.5 s before the cut, then falling along the ramp.
        const std::size_t window = kM4rRate / 10;
        double level = 0;
        for (std::size_t s = 10 * kM4rRate; s < 25 * kM4rRate; s += window)
            level += rms(decoded, s, window);
        level /= (15.0 * kM4rRate) / double(window);
        for (double before = 2.5; before > 0.1; before -= 0.1) {
            const auto from = cut - std::size_t(before * kM4rRate);
            const double share = rms(decoded, from, window) / level;
            const double left = before - 0.05;  // seconds to the cut at the window's centre
            EXPECT_NEAR(share, std::min(1.0, left / 1.5), 0.1) << before << " s before the cut";
        }
    }
}
