// MP3 ringtones: lame_enc.so loaded from the application folder, driven in whole chunks, the
// result read back by ffprobe and ffmpeg.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "encoder_fixtures.h"
#include "encoders/mp3_encoder.h"
#include "encoders/ringtone_formats.h"
#include "pipeline/app_exception.h"
#include "support/test_support.h"

namespace tolvane {
namespace {

using test::TempDir;

class Mp3Ringtone : public ::testing::Test {
protected:
    void SetUp() override {
        resetConvertedQuestionForTesting();
        setMp3LibraryFolderForTesting(std::nullopt);
        unloadMp3LibraryForTesting();
    }
    void TearDown() override {
        setMp3LibraryFolderForTesting(std::nullopt);
        unloadMp3LibraryForTesting();
    }

    static std::string messageOf(const std::function<void()>& action) {
        try {
            action();
        } catch (const EncoderException& e) {
            return e.message();
        }
        return "(no exception)";
    }

    TempDir dir_;
};

double seconds(const std::string& text) {
    return std::strtod(text.c_str(), nullptr);
}

// LAME starts every stream with its fixed coder delay and pads the end to a whole frame; without a
// gapless-playback tag (a constant-bit-rate ringtone carries none) decoders play both.
constexpr int kCoderDelaySamples = 576 + 529;
int frameSamples(int outRate) {
    return outRate >= 32000 ? 1152 : 576;
}

// Constant bit rate: every frame has the same size, give or take the padding byte.
void expectConstantFrameSize(const std::string& path) {
    const auto sizes = test::run({"ffprobe", "-v", "error", "-select_streams", "a:0",
                                  "-show_entries", "packet=size", "-of", "csv=p=0", path});
    std::istringstream lines(sizes.output);
    int smallest = 1 << 30, largest = 0, frames = 0;
    for (int size; lines >> size; ++frames) {
        smallest = std::min(smallest, size);
        largest = std::max(largest, size);
    }
    EXPECT_GT(frames, 10);
    EXPECT_LE(largest - smallest, 1);
}

void expectLengthOfSource(const std::string& path, double sourceSeconds) {
    auto info = test::streamInfo(path);
    const int outRate = std::stoi(info["sample_rate"]);
    const double extra = seconds(info["duration"]) - sourceSeconds;
    EXPECT_GE(extra, 0.0);
    EXPECT_LE(extra, static_cast<double>(kCoderDelaySamples + frameSamples(outRate)) / outRate);
}

// The source, mixed down and brought to the MP3's rate by sox, against what ffmpeg decodes.
double matchWithSource(const TempDir& dir, const std::vector<std::uint8_t>& pcm, int rate,
                       int channels, const std::string& mp3) {
    const std::string wav = dir.file("source.wav");
    test::writeFile(wav, test::wavBytes(rate, channels, 16, pcm));
    const int outRate = std::stoi(test::probe(mp3, "sample_rate"));
    const auto source = test::samplesOf(test::pcmOfFile(wav, outRate, 1));
    return test::bestCorrelation(source, test::decodeWithFfmpeg(mp3), 2 * kCoderDelaySamples);
}

TEST_F(Mp3Ringtone, RealSourcesBecomeMonoConstantBitRateAtTheirLength) {
    struct Case {
        int rate, channels, quality, kbps;
    };
    const Case cases[] = {
        {44100, 2, 1, 48}, {22050, 1, 2, 96}, {8000, 1, 1, 48}, {48000, 2, 2, 96}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz x" + std::to_string(c.channels) + ", quality " +
                     std::to_string(c.quality));
        const std::string path = dir_.file("tone" + std::to_string(c.rate) + ".mp3");
        const auto pcm = test::synthPcm(c.rate, c.channels, "1.5", "sine 300-900");
        {
            auto encoder = createEncoder(c.quality == 2 ? Mp3High : Mp3Medium,
                                         PcmFormat::pcm(c.channels, c.rate, 16), path);
            // One second per write, as the conversion worker writes.
            test::encodeAll(*encoder, pcm, static_cast<std::size_t>(c.rate) * c.channels * 2);
        }
        auto info = test::streamInfo(path);
        EXPECT_EQ(info["codec_name"], "mp3");
        EXPECT_EQ(info["channels"], "1");
        EXPECT_EQ(info["bit_rate"], std::to_string(c.kbps * 1000));
        expectConstantFrameSize(path);
        expectLengthOfSource(path, 1.5);
        EXPECT_GT(matchWithSource(dir_, pcm, c.rate, c.channels, path), 0.95);
    }
}

TEST_F(Mp3Ringtone, WriteLargerThanTheQueueIsEncodedWhole) {
    // One second of 96 kHz mono is 192000 bytes, more than the 131072-byte queue holds; the
    // stream ends inside a chunk, so finish encodes a shorter last chunk.
    const auto pcm = test::synthPcm(96000, 1, "96500s", "sine 300-900");
    const std::string path = dir_.file("large.mp3");
    {
        CMP3Encoder encoder(path);
        encoder.setInputFormat(96000, 1, 16);
        std::size_t written = 0;
        encoder.write(pcm.data(), pcm.size(), &written);
        EXPECT_EQ(written, pcm.size());
        encoder.finish();
    }
    expectLengthOfSource(path, 96500.0 / 96000);
    EXPECT_GT(matchWithSource(dir_, pcm, 96000, 1, path), 0.95);
}

TEST_F(Mp3Ringtone, StreamWithoutAudioLeavesAnEmptyFile) {
    const std::string path = dir_.file("empty.mp3");
    {
        auto encoder = createEncoder(Mp3Medium, PcmFormat::pcm(1, 44100, 16), path);
        encoder->finish();
    }
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
}

TEST_F(Mp3Ringtone, RefusedConfigurationIsUnableToEncode) {
    // No rate set: the library refuses a stream of 0 Hz at the first write.
    CMP3Encoder encoder(dir_.file("norate.mp3"));
    encoder.setInputFormat(0, 1, 16);
    const std::vector<std::uint8_t> pcm(4000);
    EXPECT_EQ(messageOf([&] { encoder.write(pcm.data(), pcm.size()); }), "unable to encode");
}

TEST_F(Mp3Ringtone, LibraryIsLoadedOncePerProcess) {
    CMP3Encoder first(dir_.file("first.mp3"));
    // With the library loaded, a later encoder does not look for it again: an application
    // folder without it does not matter any more.
    TempDir elsewhere;
    setMp3LibraryFolderForTesting(elsewhere.path().string());
    CMP3Encoder second(dir_.file("second.mp3"));
    second.setInputFormat(22050, 1, 16);
    test::encodeAll(second, test::synthPcm(22050, 1, "0.5"), 22050 * 2);
    EXPECT_EQ(test::probe(dir_.file("second.mp3"), "codec_name"), "mp3");
}

TEST_F(Mp3Ringtone, MissingLibraryIsNotInstalled) {
    TempDir empty, garbage;
    test::writeFile(garbage.file("lame_enc.so"), {'n', 'o', 't', ' ', 'E', 'L', 'F'});
    struct Case {
        const char* what;
        std::string folder;
    };
    const Case cases[] = {{"empty application folder", empty.path().string()},
                          {"not a library", garbage.path().string() + "/"},
                          // An empty AppPath names the root folder.
                          {"no AppPath", ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setMp3LibraryFolderForTesting(c.folder);
        const std::string path = dir_.file("missing.mp3");
        EXPECT_EQ(messageOf([&] { CMP3Encoder encoder(path); }), "MP3 libraries are not installed");
        EXPECT_FALSE(std::filesystem::exists(path));
    }
}

TEST_F(Mp3Ringtone, LibraryMissingAnEntryPointIsBrokenForEveryLaterEncoder) {
    setMp3LibraryFolderForTesting(BROKEN_LAME_ENC_DIR);
    for (const char* name : {"first.mp3", "second.mp3"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(messageOf([&] {
                      createEncoder(Mp3Medium, PcmFormat::pcm(1, 44100, 16), dir_.file(name));
                  }),
                  "MP3 libraries are broken");
        EXPECT_FALSE(std::filesystem::exists(dir_.file(name)));
    }
}

TEST_F(Mp3Ringtone, MisbehavingLibraryIsAnErrorNotASilentHole) {
    struct Case {
        const char* what;
        const char* folder;
        const char* message;
    };
    const Case cases[] = {
        {"chunks fail to encode", FAILING_LAME_ENC_DIR, "unexpected error"},
        {"chunks larger than 2048 samples", OVERSIZED_LAME_ENC_DIR, "unable to encode"}};
    const auto pcm = test::synthPcm(22050, 1, "0.5");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        unloadMp3LibraryForTesting();
        setMp3LibraryFolderForTesting(c.folder);
        const std::string path = dir_.file(std::string(c.what) + ".mp3");
        EXPECT_EQ(messageOf([&] {
                      auto encoder = createEncoder(Mp3Medium, PcmFormat::pcm(1, 22050, 16), path);
                      test::encodeAll(*encoder, pcm, pcm.size());
                  }),
                  c.message);
    }
}

}  // namespace
}  // namespace tolvane
