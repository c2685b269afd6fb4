// AMR ringtones: the "#!AMR\n" storage format with 32-byte 12.2 kbit/s frames, decoded by ffmpeg.
#include <gtest/gtest.h>

#include <filesystem>

#include "encoder_fixtures.h"
#include "encoders/amr_encoder.h"
#include "encoders/ringtone_formats.h"
#include "support/test_support.h"

namespace tolvane {
namespace {

using test::TempDir;

class AmrRingtone : public ::testing::Test {
protected:
    void SetUp() override { resetConvertedQuestionForTesting(); }
    TempDir dir_;
};

void expectStorageFormat(const std::vector<std::uint8_t>& file, std::size_t frames) {
    ASSERT_EQ(file.size(), 6 + frames * CAMREncoder::kFrameBytes);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 6), "#!AMR\n");
    // Every frame: frame type 7 (12.2 kbit/s) with the quality bit.
    for (std::size_t f = 0; f < frames; ++f)
        ASSERT_EQ(file[6 + f * CAMREncoder::kFrameBytes], 0x3C) << "frame " << f;
}

TEST_F(AmrRingtone, OneFramePerTwentyMillisecondsAndOnePaddedLastFrame) {
    struct Case {
        const char* length;  // in samples at 8000 Hz
        std::size_t frames;
    };
    const Case cases[] = {{"0s", 0}, {"160s", 1}, {"161s", 2}, {"8000s", 50}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        const std::string path = dir_.file(std::string("tone") + c.length + ".amr");
        const auto pcm = c.frames == 0 ? std::vector<std::uint8_t>{}
                                       : test::synthPcm(8000, 1, c.length, "sine 300-900");
        {
            CAMREncoder encoder(path);
            std::size_t written = 0;
            encoder.write(pcm.data(), pcm.size(), &written);
            EXPECT_EQ(written, pcm.size());
            encoder.finish();
        }
        const auto file = test::readFile(path);
        expectStorageFormat(file, c.frames);
        if (c.frames == 0)
            continue;
        auto info = test::streamInfo(path);
        EXPECT_EQ(info["codec_name"], "amr_nb");
        EXPECT_EQ(info["sample_rate"], "8000");
        EXPECT_EQ(info["channels"], "1");
        EXPECT_EQ(test::decodeWithFfmpeg(path).size(), c.frames * CAMREncoder::kFrameSamples);
    }
}

TEST_F(AmrRingtone, SpeechThroughTheFactoryKeepsItsLengthAndWaveform) {
    if (!test::haveTool("espeak-ng"))
        GTEST_SKIP() << "espeak-ng is not installed";
    const std::string speech = dir_.file("speech.wav");
    ASSERT_EQ(test::run({"espeak-ng", "-w", speech, "Your phone is ringing"}).status, 0);
    const int rate = std::stoi(test::probe(speech, "sample_rate"));
    const auto pcm = test::pcmOfFile(speech, rate, 1);
    const std::string path = dir_.file("speech.amr");
    {
        auto encoder = createEncoder(Amr, PcmFormat::pcm(1, rate, 16), path);
        test::encodeAll(*encoder, pcm, static_cast<std::size_t>(rate) * 2);
    }
    const auto decoded = test::decodeWithFfmpeg(path);
    const double sourceSamples = pcm.size() / 2.0 * 8000 / rate;
    // The resampler keeps back about half its filter at the end; the last frame is padded.
    EXPECT_NEAR(static_cast<double>(decoded.size()), sourceSamples, 160 + 32);
    const auto source = test::samplesOf(test::pcmOfFile(speech, 8000, 1));
    // A speech coder keeps the waveform only roughly (about 0.84 here); a wrong sample order or
    // rate leaves next to nothing.
    EXPECT_GT(test::bestCorrelation(source, decoded, 400), 0.6);
}

TEST_F(AmrRingtone, WriteLargerThanTheQueueIsEncodedWhole) {
    // 70000 samples are 140000 bytes, more than the 131072-byte queue holds.
    const auto pcm = test::synthPcm(8000, 1, "70000s", "sine 300-900");
    const std::string path = dir_.file("large.amr");
    {
        CAMREncoder encoder(path);
        encoder.write(pcm.data(), pcm.size());
        encoder.finish();
    }
    expectStorageFormat(test::readFile(path), (70000 + 159) / 160);
    EXPECT_GT(test::bestCorrelation(test::samplesOf(pcm), test::decodeWithFfmpeg(path), 400), 0.8);
}

TEST_F(AmrRingtone, DestroyedWithoutFinishKeepsTheWholeFrames) {
    const auto pcm = test::synthPcm(8000, 1, "400s");
    const std::string path = dir_.file("unfinished.amr");
    {
        CAMREncoder encoder(path);
        encoder.write(pcm.data(), pcm.size());
    }
    expectStorageFormat(test::readFile(path), 2);
}

}  // namespace
}  // namespace tolvane
