// Quality of QCP files from qscl.so as a user hears them: speech made by espeak-ng at the level
// the conversion pipeline delivers, encoded by the library, decoded by FFmpeg.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <iostream>

#include "qcelp_decoder_model.h"
#include "qscl_support.h"
#include "speech_quality.h"
#include "support/test_support.h"

namespace tolvane::test {
namespace {

struct Voice {
    const char* voice;
    const char* text;
};

const Voice kVoices[] = {
    {"en", "Your phone is ringing. Please pick it up before the caller hangs up."},
    {"en-us+f3", "She sells sea shells by the sea shore, and the shells are surely real."},
    {"de", "Guten Morgen, heute ist das Wetter schoen und warm."},
    {"fr", "Bonjour tout le monde, voici une sonnerie pour votre telephone."},
};

std::vector<std::int16_t> samplesOf(const std::vector<std::uint8_t>& wav) {
    std::vector<std::int16_t> s((wav.size() - 44) / 2);
    std::memcpy(s.data(), wav.data() + 44, s.size() * 2);
    return s;
}

// The loudest second brought to -12 dB of full scale (the pipeline's level), peaks limited.
double pipelineGainDb(const std::vector<std::int16_t>& s) {
    double loudest = 0.0;
    for (std::size_t start = 0; start < s.size(); start += 4000) {
        double e = 0.0;
        const std::size_t end = std::min(s.size(), start + 8000);
        for (std::size_t i = start; i < end; ++i)
            e += double(s[i]) * s[i];
        loudest = std::max(loudest, e / 8000.0);
    }
    return -12.0 - 10.0 * std::log10(loudest / (32768.0 * 32768.0));
}

// Speech at 8000 Hz mono 16-bit, at the pipeline's level ("pipeline") or `levelDb` lower.
std::string makeSpeech(const TempDir& dir, const Voice& v, double belowPipelineDb) {
    const std::string raw = dir.file("raw.wav"), plain = dir.file("plain.wav"),
                      speech = dir.file("speech.wav");
    if (run({"espeak-ng", "-v", v.voice, "-w", raw, v.text}).status != 0)
        return {};
    if (run({"sox", "-D", raw, "-r", "8000", "-c", "1", "-b", "16", plain}).status != 0)
        return {};
    const double gain = pipelineGainDb(samplesOf(readFile(plain))) - belowPipelineDb;
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", gain);
    if (run({"sox", "-D", plain, speech, "gain", "-l", text}).status != 0)
        return {};
    return speech;
}

class QcelpQuality : public ::testing::Test {
protected:
    void SetUp() override {
        if (!haveTool("espeak-ng") || !haveTool("sox") || !haveTool("ffmpeg"))
            GTEST_SKIP() << "espeak-ng, sox and ffmpeg are needed";
    }
};

TEST_F(QcelpQuality, FfmpegDecodesOurSpeechCleanlyAndCloseToTheInput) {
    struct Case {
        const Voice& voice;
        const char* level;
        double belowPipelineDb;
    };
    // Every voice at the level the pipeline delivers (loudest second at -12 dBFS), and some
    // quieter and louder (peaks limited) to show the codec's range.
    const Case cases[] = {
        {kVoices[0], "pipeline level", 0.0}, {kVoices[1], "pipeline level", 0.0},
        {kVoices[2], "pipeline level", 0.0}, {kVoices[3], "pipeline level", 0.0},
        {kVoices[0], "10 dB quieter", 10.0}, {kVoices[2], "10 dB quieter", 10.0},
        {kVoices[1], "6 dB louder", -6.0},   {kVoices[3], "6 dB louder", -6.0},
    };
    for (const Case& c : cases) {
        const Voice& v = c.voice;
        const char* levelName = c.level;
        SCOPED_TRACE(std::string(v.voice) + ", " + levelName);
        TempDir dir;
        const std::string wav = makeSpeech(dir, v, c.belowPipelineDb);
        ASSERT_FALSE(wav.empty());
        const std::string qcp = dir.file("speech.qcp");
        ASSERT_EQ(convertFileWithQscl(wav, qcp), qscl::kConverted);

        const auto input = samplesOf(readFile(wav));
        const std::size_t packets = (input.size() + 159) / 160;
        EXPECT_EQ(probe(qcp, "codec_name"), "qcelp");
        EXPECT_EQ(probe(qcp, "sample_rate"), "8000");
        EXPECT_EQ(probe(qcp, "channels"), "1");
        const auto log = run({"ffmpeg", "-nostdin", "-v", "warning", "-i", qcp, "-f", "null", "-"});
        EXPECT_EQ(log.errors.find("IFQ"), std::string::npos) << log.errors;
        const auto output = decodeWithFfmpeg(qcp, 8000);
        ASSERT_EQ(output.size(), 160 * packets);

        const SpeechQuality q = measureSpeech(input, output);
        std::cout << "[quality] " << v.voice << " (" << levelName << "): segSNR "
                  << q.segmentalSnrDb << " dB, correlation " << q.correlation << ", level "
                  << q.levelDb << " dB, lag " << q.lag << "\n";
        RecordProperty(std::string(v.voice) + " " + levelName + " segSNR",
                       std::to_string(q.segmentalSnrDb));
        EXPECT_GE(q.segmentalSnrDb, 10.0);
        EXPECT_GE(q.correlation, 0.93);
        EXPECT_LE(std::fabs(q.levelDb), 1.0);
        EXPECT_EQ(q.lag, 0);
        EXPECT_GT(q.frames, 50);
    }
}

// Our decoder model agrees with FFmpeg's decoder sample by sample, so the unit tests that use it
// stand for the real thing.
TEST_F(QcelpQuality, DecoderModelMatchesFfmpeg) {
    TempDir dir;
    const std::string wav = makeSpeech(dir, kVoices[0], 0.0);
    ASSERT_FALSE(wav.empty());
    const std::string qcp = dir.file("speech.qcp");
    ASSERT_EQ(convertFileWithQscl(wav, qcp), qscl::kConverted);

    const auto decoded = run({"ffmpeg", "-nostdin", "-v", "error", "-i", qcp, "-f", "f32le",
                              "-acodec", "pcm_f32le", "-"});
    ASSERT_EQ(decoded.status, 0) << decoded.errors;
    std::vector<float> reference(decoded.output.size() / 4);
    std::memcpy(reference.data(), decoded.output.data(), reference.size() * 4);

    int erased = -1;
    const std::vector<float> model = decodeQcpWithModel(readFile(qcp), &erased);
    EXPECT_EQ(erased, 0);
    ASSERT_EQ(model.size(), reference.size());
    double signal = 0.0, difference = 0.0;
    for (std::size_t i = 0; i < model.size(); ++i) {
        signal += double(reference[i]) * reference[i];
        difference += double(model[i] - reference[i]) * (model[i] - reference[i]);
    }
    ASSERT_GT(signal, 0.0);
    const double mismatchDb = 10.0 * std::log10(std::max(difference, 1e-30) / signal);
    std::cout << "[model] mismatch against FFmpeg: " << mismatchDb << " dB\n";
    EXPECT_LT(mismatchDb, -60.0);
}

}  // namespace
}  // namespace tolvane::test
