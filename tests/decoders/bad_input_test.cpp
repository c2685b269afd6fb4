// Damaged and disguised sources: each gives the reader's own message or a short stream, never a
// crash, a hang or a thread left behind.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>

#include "decoder_fixtures.h"
#include "decoders/source_types.h"
#include "pipeline/app_exception.h"
#include "support/test_support.h"

namespace tolvane::test {
namespace {

enum class Damage { Empty, Random, Truncated, Renamed };

struct BadInput {
    const char* extension;
    Damage damage;
    const char* source;   // fixture that is damaged or renamed
    const char* message;  // the reader's message when it refuses the file
    bool mayOpen;         // a short stream is an acceptable answer
};

const BadInput kBadInputs[] = {
    {".mp3", Damage::Empty, "", "cannot open file", false},
    {".mp3", Damage::Random, "", "cannot process: broken MP3 file", true},
    {".mp3", Damage::Truncated, "stereo.mp3", "", true},
    {".mp3", Damage::Renamed, "short.ogg", "cannot process: broken MP3 file", true},
    // PCM holds stray sync words that pass a header scan but never decode to any sound.
    {".mp3", Damage::Renamed, "stereo.wav", "cannot process: broken MP3 file", false},
    {".mp3", Damage::Renamed, "speech.wav", "cannot process: broken MP3 file", false},
    {".ogg", Damage::Empty, "", "not an OggVorbis file", false},
    {".ogg", Damage::Random, "", "not an OggVorbis file", false},
    {".ogg", Damage::Truncated, "short.ogg", "not an OggVorbis file", true},
    {".ogg", Damage::Renamed, "16bit.flac", "not an OggVorbis file", false},
    {".flac", Damage::Empty, "", "not a FLAC file", false},
    {".flac", Damage::Random, "", "not a FLAC file", false},
    {".flac", Damage::Truncated, "16bit.flac", "", true},
    {".flac", Damage::Renamed, "stereo.mp3", "not a FLAC file", false},
    {".ape", Damage::Empty, "", "cannot open", false},
    {".ape", Damage::Random, "", "cannot open", false},
    {".ape", Damage::Renamed, "16bit.flac", "cannot open", false},
    {".wma", Damage::Truncated, "stereo.wma", "cannot open file", true},
    {".wma", Damage::Random, "", "cannot open file", false},
};

std::vector<std::uint8_t> damaged(const BadInput& c) {
    switch (c.damage) {
        case Damage::Empty:
            return {};
        case Damage::Random: {
            std::mt19937 random(1234);
            std::vector<std::uint8_t> bytes(20000);
            for (auto& b : bytes)
                b = static_cast<std::uint8_t>(random());
            return bytes;
        }
        case Damage::Truncated: {
            auto bytes = readFile(fixture(c.source));
            bytes.resize(bytes.size() / 2);
            return bytes;
        }
        case Damage::Renamed:
            return readFile(fixture(c.source));
    }
    return {};
}

class BadSource : public ::testing::TestWithParam<BadInput> {};

TEST_P(BadSource, GivesTheReadersMessageOrAShortStream) {
    const BadInput& c = GetParam();
    TempDir dir;
    const std::string path = dir.file(std::string("bad") + c.extension);
    const auto bytes = damaged(c);
    writeFile(path, bytes);

    std::unique_ptr<CReader> reader;
    try {
        reader = openReader(path);
    } catch (const ReaderException& e) {
        EXPECT_EQ(e.message(), c.message);
        EXPECT_EQ(durationOf(path), 0);
        return;
    }
    ASSERT_TRUE(c.mayOpen) << "opened a file it should refuse";
    EXPECT_GT(reader->sampleRate(), 0);
    EXPECT_GT(reader->channels(), 0);
    const auto start = std::chrono::steady_clock::now();
    const auto pcm = readAll(*reader);
    reader->seek(1);
    readAll(*reader);
    reader.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    if (c.damage == Damage::Truncated) {
        // Half the file gives about half the audio, never more than the whole.
        auto whole = openReader(fixture(c.source));
        EXPECT_LE(pcm.size(), readAll(*whole).size());
    }
}

std::string caseName(const ::testing::TestParamInfo<BadInput>& info) {
    static const char* damages[] = {"Empty", "Random", "Truncated", "Renamed"};
    std::string name =
        std::string(info.param.extension + 1) + damages[static_cast<int>(info.param.damage)];
    // Several WAV files are disguised as MP3: each case is named after its source.
    const std::string source = info.param.source;
    if (source.ends_with(".wav"))
        name += "From" + source.substr(0, source.size() - 4);
    return name;
}

INSTANTIATE_TEST_SUITE_P(Inputs, BadSource, ::testing::ValuesIn(kBadInputs), caseName);

TEST(BadSource, FilesThatAreNotThere) {
    for (const char* name : {"x.mp3", "x.ogg", "x.flac", "x.ape", "x.wma"}) {
        SCOPED_TRACE(name);
        EXPECT_THROW(openReader(std::string("/nonexistent/") + name), ReaderException);
    }
    TempDir dir;  // a folder named like a source
    std::filesystem::create_directory(dir.file("folder.mp3"));
    std::filesystem::create_directory(dir.file("folder.ogg"));
    EXPECT_THROW(openReader(dir.file("folder.mp3")), ReaderException);
    EXPECT_THROW(openReader(dir.file("folder.ogg")), ReaderException);
}

}  // namespace
}  // namespace tolvane::test
