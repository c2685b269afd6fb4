// Each compressed source converted with a marked part, the way a conversion job does it (start
// position, level analysis of the part, gain stage, encoder with resampling), gives the ringtone
// that the same conversion of an equivalent WAV source gives.
#include <gtest/gtest.h>

#include <filesystem>

#include "decoder_fixtures.h"
#include "decoders/source_types.h"
#include "encoders/ringtone_formats.h"
#include "pipeline/encoder.h"
#include "pipeline/normalizer.h"
#include "support/test_support.h"

namespace tolvane::test {
namespace {

// Converts `part` seconds from `start` of `source` into an 8000 Hz 8-bit mono WAV ringtone.
void convert(const std::string& source, int start, int part, const std::string& ringtone) {
    FileEntry entry;
    entry.path = source;
    entry.partMarked = true;
    entry.partStart = static_cast<std::uint32_t>(start);
    entry.partLength = static_cast<std::uint32_t>(part);
    analyseLevel(*openReaderAt(source, start), entry);
    ASSERT_GT(entry.levelRms, 0);
    auto reader =
        wrapWithNormalizer(openReaderAt(source, start), entry, kTargetLevel / entry.levelRms);
    auto encoder = createEncoder(
        WavMedium,
        PcmFormat::pcm(reader->channels(), reader->sampleRate(), reader->bitsPerSample()),
        ringtone);
    const std::size_t second = std::size_t(reader->sampleRate()) * reader->channels() *
                               std::size_t(reader->bitsPerSample() / 8);
    std::vector<std::uint8_t> piece(second);
    for (int i = 0; i < part; ++i) {
        const std::size_t got = reader->read(piece.data(), piece.size());
        if (got == 0)
            break;
        encoder->write(piece.data(), got);
    }
    encoder->finish();
}

// The same through the batch front end, as a user runs it; the ringtone's path is its output.
void convertWithCli(const std::string& source, int start, int part, const std::string& ringtone) {
    TempDir out;
    const CommandResult r =
        run({(binDir() / "tolvane-convert").string(), "-f", "wav-medium", "-o", out.path().string(),
             "--part", std::to_string(start) + "+" + std::to_string(part), source});
    ASSERT_EQ(r.status, 0) << r.errors;
    std::string produced = r.output;
    while (!produced.empty() && produced.back() == '\n')
        produced.pop_back();
    std::filesystem::copy_file(produced, ringtone);
}

using Converter = void (*)(const std::string&, int, int, const std::string&);

struct Conversion {
    const char* source;  // fixture name, or a file of the shared test data under "ape/"
    int start;
    int part;
    bool exact;  // the decoders agree sample for sample (else: same shape, frame-aligned start)
};

const Conversion kConversions[] = {
    {"stereo.mp3", 1, 2, false},      {"lsf.mp3", 1, 1, false},
    {"short.ogg", 1, 1, true},        {"16bit.flac", 1, 1, true},
    {"8bit.flac", 1, 1, true},        {"24bit.flac", 1, 1, true},
    {"stereo.wma", 1, 2, false},      {"ape/ombs-multiframe_16s_c2000.ape", 1, 2, true},
    {"ape/atl-v394.ape", 3, 3, true},
};

class ConvertedSource : public ::testing::TestWithParam<Conversion> {
protected:
    void check(Converter convert);
};

TEST_P(ConvertedSource, RingtoneMatchesTheOneFromAnEquivalentWav) {
    check(convert);
}

TEST_P(ConvertedSource, BatchFrontEndGivesTheSameRingtones) {
    if (!std::filesystem::exists(binDir() / "tolvane-convert"))
        GTEST_SKIP() << "tolvane-convert is not built";
    check(convertWithCli);
}

void ConvertedSource::check(Converter convert) {
    const Conversion& c = GetParam();
    std::string source = c.source;
    if (source.rfind("ape/", 0) == 0) {
        source = (testdataDir() / source).string();
        if (!std::filesystem::exists(source))
            GTEST_SKIP() << "no test file " << source;
    } else {
        source = fixture(source);
    }
    ASSERT_FALSE(source.empty());
    TempDir dir;
    // The equivalent WAV: ffmpeg's decode of the same file, at the depth our reader delivers.
    const std::string wav = dir.file("equivalent.wav");
    const bool eightBit = std::string(c.source) == "8bit.flac";
    ASSERT_EQ(
        run({"ffmpeg", "-v", "error", "-i", source, "-c:a", eightBit ? "pcm_u8" : "pcm_s16le", wav})
            .status,
        0);

    const std::string fromSource = dir.file("from-source.wav");
    const std::string fromWav = dir.file("from-wav.wav");
    convert(source, c.start, c.part, fromSource);
    convert(wav, c.start, c.part, fromWav);

    // Both ringtones read back by ffmpeg, an independent reader.
    EXPECT_EQ(probe(fromSource, "sample_rate"), "8000");
    const auto ours = decodeWithFfmpeg(fromSource);
    const auto theirs = decodeWithFfmpeg(fromWav);
    ASSERT_NEAR(double(ours.size()), 8000.0 * c.part, 16);  // the resampler keeps a few back
    ASSERT_EQ(theirs.size(), ours.size());
    if (c.exact) {
        EXPECT_EQ(ours, theirs);
        return;
    }
    // A lossy source starts on a frame boundary at or before the second: find the offset.
    double best = 0;
    for (std::size_t lag = 0; lag <= 8000 * 2304 / 44100 && best <= 0.97; ++lag)
        best = std::max(best, correlation(ours, theirs, lag, 0));
    EXPECT_GT(best, 0.97);
}

INSTANTIATE_TEST_SUITE_P(Sources, ConvertedSource, ::testing::ValuesIn(kConversions),
                         [](const auto& info) {
                             std::string name = info.param.source;
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });

}  // namespace
}  // namespace tolvane::test
