#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "decoders/source_types.h"
#include "encoders/ringtone_formats.h"
#include "pipeline/app_exception.h"
#include "pipeline/encoder.h"
#include "pipeline/reader.h"
#include "pipeline/resampling_filter.h"
#include "pipeline/wave_encoder.h"
#include "support/test_support.h"

using namespace tolvane;
using namespace tolvane::test;
namespace fs = std::filesystem;

namespace {

class ScriptedQuestion : public ConvertedQuestion {
public:
    explicit ScriptedQuestion(ConvertedAnswer a) : answer(a) {}
    ConvertedAnswer askAlreadyConverted(const std::string& ringtonePath) override {
        ++asked;
        askedAbout = ringtonePath;
        return answer;
    }
    ConvertedAnswer answer;
    int asked = 0;
    std::string askedAbout;
};

class QuestionTest : public ::testing::Test {
protected:
    void SetUp() override { resetConvertedQuestionForTesting(); }
    void TearDown() override {
        setConvertedQuestion(nullptr);
        resetConvertedQuestionForTesting();
    }
};

// Converts a WAV source through the factory as the worker does, one second at a time.
void convert(const std::string& source, int formatIndex, const std::string& target) {
    auto reader = openReader(source);
    auto encoder = createEncoder(
        formatIndex,
        PcmFormat::pcm(reader->channels(), reader->sampleRate(), reader->bitsPerSample()), target);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(reader->sampleRate()) *
                                     reader->channels() * reader->bitsPerSample() / 8);
    while (std::size_t n = reader->read(buffer.data(), buffer.size()))
        encoder->write(buffer.data(), n);
    encoder->finish();
}

}  // namespace

TEST(WaveEncoder, HighQualityFromMatchingSourcePassesBytesUnchanged) {
    TempDir dir;
    const std::string source = dir.file("src.wav");
    ASSERT_TRUE(makeTone(source, 22050, 1, 8, 2.0, "sine 500"));
    const std::string target = dir.file("out.wav");
    convert(source, WavHigh, target);
    auto a = openReader(source);
    auto b = openReader(target);
    std::vector<std::uint8_t> x(50000), y(50000);
    const std::size_t nx = a->read(x.data(), x.size());
    const std::size_t ny = b->read(y.data(), y.size());
    ASSERT_EQ(nx, ny);
    EXPECT_TRUE(std::equal(x.begin(), x.begin() + nx, y.begin()));
}

TEST(WaveEncoder, StereoCdSourceBecomesRingtonesSoxReads) {
    if (!haveTool("soxi"))
        GTEST_SKIP() << "soxi not installed";
    TempDir dir;
    const std::string source = dir.file("song.wav");
    ASSERT_TRUE(makeTone(source, 44100, 2, 16, 4.0, "sine 440"));
    struct Case {
        int format;
        const char* rate;
    };
    for (const Case c : {Case{WavMedium, "8000"}, Case{WavHigh, "22050"}}) {
        const std::string target = dir.file("ring" + std::to_string(c.format) + ".wav");
        convert(source, c.format, target);
        EXPECT_EQ(run({"soxi", "-r", target}).output, std::string(c.rate) + "\n");
        EXPECT_EQ(run({"soxi", "-c", target}).output, "1\n");
        EXPECT_EQ(run({"soxi", "-b", target}).output, "8\n");
        EXPECT_EQ(run({"soxi", "-e", target}).output, "Unsigned Integer PCM\n");
        const double seconds = std::stod(run({"soxi", "-D", target}).output);
        // The filter keeps about half its length in history at the end: a few ms short.
        EXPECT_NEAR(seconds, 4.0, 0.01) << target;
    }
}

TEST(WaveEncoder, NoAudioLeavesAnEmptyFile) {
    TempDir dir;
    const std::string target = dir.file("empty.wav");
    {
        auto encoder = createEncoder(WavMedium, PcmFormat::pcm(1, 8000, 16), target);
        encoder->finish();
    }
    ASSERT_TRUE(fs::exists(target));
    EXPECT_EQ(fs::file_size(target), 0u);
}

TEST(WaveEncoder, CreatesMissingFoldersAndReportsUncreatableFiles) {
    TempDir dir;
    const std::string deep = dir.file("a/b/c/ring.wav");
    { CWaveEncoder encoder(deep); }
    EXPECT_TRUE(fs::exists(deep));
    writeFile(dir.file("plainfile"), {1});
    try {
        CWaveEncoder encoder(dir.file("plainfile/ring.wav"));
        FAIL();
    } catch (const EncoderException& e) {
        EXPECT_EQ(e.message(), "cannot create file");
    }
}

TEST_F(QuestionTest, SkipAllIsAskedOnceAndKeepsExistingRingtones) {
    TempDir dir;
    ScriptedQuestion question(ConvertedAnswer::SkipAll);
    setConvertedQuestion(&question);
    const std::string fresh = dir.file("fresh.wav");
    { CWaveEncoder encoder(fresh); }  // no ringtone there yet: no question
    EXPECT_EQ(question.asked, 0);
    for (const char* name : {"one.wav", "two.wav"})
        writeFile(dir.file(name), {'o', 'l', 'd'});
    for (const char* name : {"one.wav", "two.wav"}) {
        try {
            CWaveEncoder encoder(dir.file(name));
            FAIL() << name;
        } catch (const EncoderException& e) {
            EXPECT_EQ(e.message(), "file skipped");
        }
        EXPECT_EQ(readFile(dir.file(name)), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    }
    EXPECT_EQ(question.asked, 1);
    EXPECT_EQ(question.askedAbout, dir.file("one.wav")) << "the question names its ringtone";
}

TEST_F(QuestionTest, ReconvertAllReplacesEveryExistingRingtoneWithoutAskingAgain) {
    TempDir dir;
    ScriptedQuestion question(ConvertedAnswer::ReconvertAll);
    setConvertedQuestion(&question);
    const std::string source = dir.file("src.wav");
    ASSERT_TRUE(makeTone(source, 8000, 1, 8, 1.5));
    for (const char* name : {"one.wav", "two.wav"}) {
        const std::string target = dir.file(name);
        writeFile(target, {'o', 'l', 'd'});
        fs::permissions(target, fs::perms::owner_read, fs::perm_options::replace);
        convert(source, WavMedium, target);
        EXPECT_EQ(openReader(target)->length(), 1) << name;
    }
    EXPECT_EQ(question.asked, 1);
    // A later run in the same process keeps the first answer.
    question.answer = ConvertedAnswer::SkipAll;
    writeFile(dir.file("three.wav"), {'o'});
    EXPECT_NO_THROW(CWaveEncoder(dir.file("three.wav")));
    EXPECT_EQ(question.asked, 1);
}
