// The worker decodes every source once: the level analysis keeps the PCM it reads (in memory, or
// past the bound in a nameless spill file) and the conversion reads it back.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <map>

#include "decoders/source_types.h"
#include "encoders/ringtone_formats.h"
#include "pipeline/app_exception.h"
#include "pipeline/encoder.h"
#include "pipeline/settings.h"
#include "pipeline/worker.h"
#include "platform/paths.h"
#include "support/test_support.h"

using namespace tolvane;
using namespace tolvane::test;
namespace fs = std::filesystem;

namespace {

struct HookedView : ProgressView {
    std::function<void(std::string_view)> onStatus;
    std::function<void()> onFileProgress;
    void setFileProgress(int) override {
        if (onFileProgress)
            onFileProgress();
    }
    void setOverallProgress(int) override {}
    void setStatus(std::string_view text) override {
        if (onStatus)
            onStatus(text);
    }
    void setFileName(std::string_view) override {}
    void postMessage(int) override {}
};

// How the decoded PCM is kept between the two passes.
enum class Keeping { InMemory, Spilled, DecodedAgain };

// Music-like material: chords over noise, pulsing, 44.1 kHz stereo; and the same made into each
// kind of source by the usual tools.
class DecodeOnceTest : public ::testing::TestWithParam<const char*> {
protected:
    static void SetUpTestSuite() {
        sources_ = new TempDir;
        const std::string wav = sources_->file("song.wav");
        ASSERT_EQ(run({"sox",  "-D",  "-n",        "-r",       "44100", "-c",  "2",     "-b",
                       "16",   wav,   "synth",     "6",        "sine",  "220", "sine",  "277",
                       "sine", "330", "pinknoise", "tremolo",  "3",     "60",  "remix", "-",
                       "gain", "-n",  "-3",        "channels", "2"})
                      .status,
                  0);
        ASSERT_EQ(run({"ffmpeg", "-loglevel", "error", "-i", wav, "-c:a", "libmp3lame", "-b:a",
                       "128k", sources_->file("song.mp3")})
                      .status,
                  0);
        ASSERT_EQ(run({"sox", wav, sources_->file("song.flac")}).status, 0);
        ASSERT_EQ(run({"sox", wav, sources_->file("song.ogg")}).status, 0);
    }
    static void TearDownTestSuite() {
        delete sources_;
        sources_ = nullptr;
    }

    void SetUp() override {
        resetConvertedQuestionForTesting();
        setConvertedQuestion(nullptr);
        settings_.setPersistence(Settings::Persistence::None);
        settings_.setSave(1);
        settings_.setSend(0);
        settings_.setFadeInMs(500);
        settings_.setFadeOutMs(1500);
        // The whole song, and a part of it from a copy of its own (one ringtone name each).
        const std::string song = sources_->file(std::string("song.") + GetParam());
        part_ = dir_.file(std::string("part.") + GetParam());
        fs::copy_file(song, part_);
        FileEntry whole;
        whole.path = song;
        files_.add(whole);
        FileEntry part;
        part.path = part_;
        part.partMarked = true;
        part.partStart = 1;
        part.partLength = 3;
        files_.add(part);
    }

    // Converts both files into `folder`; the ringtones by name, and the sources opened.
    std::map<std::string, std::vector<std::uint8_t>> convert(const std::string& folder,
                                                             Keeping keeping, int format,
                                                             int maxSeconds = 0,
                                                             HookedView* view = nullptr) {
        settings_.setFolder(folder);
        settings_.setFormat(format);
        opened_ = 0;
        Job job(files_, settings_,
                Codecs{[this](const std::string& path, int start) {
                           ++opened_;
                           return openReaderFrom(path, start);
                       },
                       ringtoneExtension, createEncoder, [maxSeconds](int) { return maxSeconds; }});
        if (keeping != Keeping::InMemory)
            job.keeping = {4096, keeping == Keeping::Spilled ? spill() : dir_.file("missing")};
        HookedView quiet;
        RunState state;
        runConversion(job, state, view ? *view : quiet);
        EXPECT_EQ(state.ErrorText, "");
        std::map<std::string, std::vector<std::uint8_t>> ringtones;
        for (const std::string& path : state.ProducedFiles)
            ringtones[platform::fileNameOf(path)] = readFile(path);
        EXPECT_EQ(ringtones.size(), 2u);
        return ringtones;
    }

    std::string spill() {
        const std::string folder = dir_.file("spill");
        fs::create_directories(folder);
        return folder;
    }

    bool decodes() const { return std::string(GetParam()) != "wav"; }

    static TempDir* sources_;
    TempDir dir_;
    std::string part_;
    Settings settings_;
    FileList files_;
    int opened_ = 0;
};

TempDir* DecodeOnceTest::sources_ = nullptr;

// Every way of keeping the PCM gives the ringtones that decoding twice gives, byte for byte,
// for the whole source and a marked part, faded; a format that keeps only the first seconds reads
// one second more than was analysed, from the source after the kept PCM.
TEST_P(DecodeOnceTest, KeepingThePcmGivesTheRingtonesOfDecodingTwice) {
    for (const auto& [format, maxSeconds] : {std::pair{int(WavHigh), 0}, {int(WavMedium), 2}}) {
        // A WAV file is read twice: that costs less than keeping a copy of it.
        const int openedWhenKept = decodes() ? 2 : 4;
        const auto twice = convert(dir_.file("twice"), Keeping::DecodedAgain, format, maxSeconds);
        EXPECT_EQ(opened_, 4);
        const auto inMemory = convert(dir_.file("memory"), Keeping::InMemory, format, maxSeconds);
        EXPECT_EQ(opened_, openedWhenKept);
        const auto spilled = convert(dir_.file("spilled"), Keeping::Spilled, format, maxSeconds);
        EXPECT_EQ(opened_, openedWhenKept);
        EXPECT_TRUE(inMemory == twice) << "format " << format;
        EXPECT_TRUE(spilled == twice) << "format " << format;
        fs::remove_all(dir_.file("twice"));
        fs::remove_all(dir_.file("memory"));
        fs::remove_all(dir_.file("spilled"));
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, DecodeOnceTest, ::testing::Values("wav", "mp3", "flac", "ogg"),
                         [](const auto& info) { return std::string(info.param); });

// The compressed sources: a WAV file is read again, which costs less than keeping a copy.
class DecodedSourceTest : public DecodeOnceTest {};

// Once analysed, a compressed source is not read again: removing it changes nothing.
TEST_P(DecodedSourceTest, MayGoAwayOnceItIsAnalysed) {
    const auto expected = convert(dir_.file("kept"), Keeping::InMemory, WavHigh);
    for (const Keeping keeping : {Keeping::InMemory, Keeping::Spilled}) {
        const std::string copy = dir_.file("copy");
        fs::copy_file(part_, copy, fs::copy_options::overwrite_existing);
        HookedView view;
        int conversions = 0;  // the part is the second file
        view.onStatus = [&](std::string_view text) {
            if (text == kStatusConverting && ++conversions == 2) {
                ASSERT_TRUE(fs::remove(part_));
            }
        };
        const std::string folder = dir_.file(keeping == Keeping::Spilled ? "spilled" : "memory");
        EXPECT_TRUE(convert(folder, keeping, WavHigh, 0, &view) == expected);
        fs::rename(copy, part_);
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, DecodedSourceTest, ::testing::Values("mp3", "flac", "ogg"),
                         [](const auto& info) { return std::string(info.param); });

// An encoder that passes everything on but fails on its second write.
class FailingSecondWrite : public CEncoder {
public:
    explicit FailingSecondWrite(std::unique_ptr<CEncoder> inner) : inner_(std::move(inner)) {}
    void write(const void* data, std::size_t count, std::size_t* written) override {
        if (++writes_ == 2)
            throw EncoderException("write error");
        inner_->write(data, count, written);
    }
    void finish() override { inner_->finish(); }

private:
    std::unique_ptr<CEncoder> inner_;
    int writes_ = 0;
};

enum class Ending { Success, WriteError, Cancel };

class SpillFileTest : public ::testing::TestWithParam<Ending> {
protected:
    static void SetUpTestSuite() {
        source_ = new TempDir;
        const std::string wav = source_->file("long.wav");
        ASSERT_TRUE(makeTone(wav, 44100, 2, 16, 8, "pinknoise"));
        ASSERT_EQ(
            run({"ffmpeg", "-loglevel", "error", "-i", wav, source_->file("long.mp3")}).status, 0);
    }
    static void TearDownTestSuite() {
        delete source_;
        source_ = nullptr;
    }
    static TempDir* source_;
};

TempDir* SpillFileTest::source_ = nullptr;

// Past the bound the PCM waits in the spill folder while the conversion runs, and nothing is left
// there however the conversion ends.
TEST_P(SpillFileTest, IsUsedPastTheBoundAndGoneHoweverTheConversionEnds) {
    resetConvertedQuestionForTesting();
    TempDir dir;
    const std::string mp3 = source_->file("long.mp3");
    const std::string spill = dir.file("spill");
    fs::create_directories(spill);

    FileList files;
    FileEntry entry;
    entry.path = mp3;
    files.add(entry);
    Settings settings;
    settings.setPersistence(Settings::Persistence::None);
    settings.setFolder(dir.file("out"));
    settings.setSave(1);
    settings.setSend(0);
    settings.setFormat(WavMedium);
    Job job(files, settings,
            Codecs{openReaderFrom, ringtoneExtension,
                   [](int format, const PcmFormat& source,
                      const std::string& path) -> std::unique_ptr<CEncoder> {
                       auto real = createEncoder(format, source, path);
                       if (GetParam() == Ending::WriteError)
                           return std::make_unique<FailingSecondWrite>(std::move(real));
                       return real;
                   },
                   ringtoneMaximumSeconds});
    job.keeping = {256 * 1024, spill};  // 8 s of 44.1 kHz stereo is 1.4 MB

    RunState state;
    HookedView view;
    int spillFilesWhileConverting = -1;
    bool converting = false;
    view.onStatus = [&](std::string_view text) {
        converting = text == kStatusConverting;
        if (converting)
            spillFilesWhileConverting = openFilesIn(spill);
    };
    view.onFileProgress = [&] {
        if (converting && GetParam() == Ending::Cancel)
            state.cancelRequested = true;
    };
    runConversion(job, state, view);

    EXPECT_EQ(spillFilesWhileConverting, 1);
    EXPECT_EQ(openFilesIn(spill), 0);
    EXPECT_TRUE(fs::is_empty(spill));
    const std::map<Ending, std::string> lines = {{Ending::Success, ""},
                                                 {Ending::WriteError, "long.wav: write error.\r\n"},
                                                 {Ending::Cancel, "Conversion cancelled.\r\n"}};
    EXPECT_EQ(state.ErrorText, lines.at(GetParam()));
    EXPECT_EQ(fs::exists(dir.file("out/long.wav")), GetParam() == Ending::Success);
}

INSTANTIATE_TEST_SUITE_P(Endings, SpillFileTest,
                         ::testing::Values(Ending::Success, Ending::WriteError, Ending::Cancel),
                         [](const auto& info) {
                             switch (info.param) {
                                 case Ending::Success:
                                     return "Success";
                                 case Ending::WriteError:
                                     return "WriteError";
                                 case Ending::Cancel:
                                     return "Cancel";
                             }
                             return "";
                         });

}  // namespace
