// Monkey's Audio files from the shared test data (real files of several encoder versions),
// decoded through openReader and checked against ffmpeg's results for the same files.
#include <gtest/gtest.h>

#include <filesystem>

#include "decoder_fixtures.h"
#include "decoders/ape_reader.h"
#include "decoders/source_types.h"
#include "pipeline/app_exception.h"
#include "support/test_support.h"

namespace tolvane::test {
namespace {

std::string apeFile(const std::string& name) {
    return (testdataDir() / "ape" / name).string();
}

class ApeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::is_directory(testdataDir() / "ape"))
            GTEST_SKIP() << "no Monkey's Audio test files at " << (testdataDir() / "ape").string();
    }
};

struct ApeCase {
    const char* file;
    int rate, channels, bits;  // bits as delivered
    std::size_t bytes;         // delivered PCM
    const char* md5;           // of what ffmpeg decodes (u8 for 8-bit files, else s16le)
    int seconds;               // duration probe and length()
};

// 24-bit files are delivered as their top 16 bits, which is exactly ffmpeg's s16le conversion.
const ApeCase kDecodable[] = {
    {"taglib-mac-399.ape", 44100, 2, 16, 626224, "cfe3d9dabadeab2cbf2ca235274b7f76", 3},
    {"atl-v394.ape", 44100, 2, 16, 1348720, "b0954b7a4dcffd524f507c8d54a77c73", 7},
    {"atl-musicbee-0-8bit-mono.ape", 22050, 1, 8, 7119, "911235c64ed3b8a7cb7e40db9dc8badb", 0},
    {"beets-full-mono.ape", 44100, 1, 16, 88200, "21eec41b766f5765831ad7196cb0f781", 1},
    {"lofty-full_test-48k-id3v2.ape", 48000, 2, 16, 274184, "9bc68f3998580b2684a3dcbf5da19b84", 1},
    {"ombs-sine_16m_c2000.ape", 44100, 1, 16, 88200, "702e50604209d62707e5f043ab484706", 1},
    {"ombs-sine_16s_c1000.ape", 44100, 2, 16, 176400, "c3f64c0937ae76c8e51b1d4e12fd8d1d", 1},
    {"ombs-sine_16s_c4000.ape", 44100, 2, 16, 176400, "c3f64c0937ae76c8e51b1d4e12fd8d1d", 1},
    {"ombs-sine_8s_c2000.ape", 44100, 2, 8, 88200, "c9b2bc159b0e8186f7ec841b308eb1e5", 1},
    {"ombs-sine_24s_c2000.ape", 44100, 2, 16, 176400, "af604d7320a47d9a7114cc32fe5a5b01", 1},
    {"ombs-multiframe_16s_c2000.ape", 44100, 2, 16, 529200, "57665e007d91e745ec07aa0ea070520b", 3},
    {"ombs-short_16s_c2000.ape", 44100, 2, 16, 1024, "8b326dd1a74127fa1e91f8c90db68fda", 0},
};

TEST_F(ApeTest, DecodesEveryVersionLikeFfmpeg) {
    for (const ApeCase& c : kDecodable) {
        SCOPED_TRACE(c.file);
        auto reader = openReader(apeFile(c.file));
        EXPECT_EQ(reader->sampleRate(), c.rate);
        EXPECT_EQ(reader->channels(), c.channels);
        EXPECT_EQ(reader->bitsPerSample(), c.bits);
        EXPECT_EQ(reader->totalBytes(), static_cast<std::int32_t>(c.bytes));
        EXPECT_EQ(reader->length(), c.seconds);
        EXPECT_EQ(durationOf(apeFile(c.file)), c.seconds);
        const auto pcm = readAll(*reader, 10000 * c.channels);
        EXPECT_EQ(pcm.size(), c.bytes);
        EXPECT_EQ(md5Of(pcm), c.md5);
    }
}

TEST_F(ApeTest, FilesWithoutUsableAudio) {
    // 32-bit samples: the decoder has no support for them.
    EXPECT_THROW(
        {
            try {
                openReader(apeFile("ombs-sine_32s_c2000.ape"));
            } catch (const ReaderException& e) {
                EXPECT_EQ(e.message(), "cannot open");
                throw;
            }
        },
        ReaderException);
    EXPECT_EQ(durationOf(apeFile("ombs-sine_32s_c2000.ape")), 0);
    // Header only: the header's length stands, the stream ends early (as ffmpeg, which fails on
    // the 3.90 file and gives silence for the 3.96 one).
    auto headerOnly = openReader(apeFile("taglib-mac-390-hdr-only.ape"));
    EXPECT_EQ(headerOnly->length(), 15);
    EXPECT_EQ(readAll(*headerOnly).size(), 0u);
    auto silent = openReader(apeFile("taglib-mac-396-hdr-only.ape"));
    const auto pcm = readAll(*silent);
    EXPECT_LE(pcm.size(), 649984u);
    EXPECT_TRUE(std::all_of(pcm.begin(), pcm.end(), [](std::uint8_t b) { return b == 0; }));
}

TEST_F(ApeTest, SeekAndStartPositionLandOnTheBlock) {
    const std::string path = apeFile("ombs-multiframe_16s_c2000.ape");
    const auto whole = readAll(*openReader(path));
    const std::size_t second = 44100 * 4;
    ASSERT_EQ(whole.size(), 529200u);

    // Two frames of 73728 blocks: second 2 lies in the second frame, second 1 in the first.
    for (int start : {1, 2}) {
        SCOPED_TRACE(start);
        auto reader = openReaderAt(path, start);
        const auto rest = readAll(*reader);
        EXPECT_TRUE(std::equal(rest.begin(), rest.end(), whole.begin() + long(start * second)));
        EXPECT_EQ(rest.size(), whole.size() - start * second);
        EXPECT_EQ(reader->tell(), 3);
    }

    auto reader = openReader(path);
    std::vector<std::uint8_t> piece(4);
    ASSERT_EQ(reader->read(piece.data(), piece.size()), 4u);
    EXPECT_EQ(reader->tell(), 0);
    reader->seek(5);  // past the end: the stream ends
    EXPECT_EQ(readAll(*reader).size(), 0u);
    reader->seek(1);  // and a seek after the end starts it again
    const auto rest = readAll(*reader);
    EXPECT_EQ(rest.size(), whole.size() - second);
    EXPECT_TRUE(std::equal(rest.begin(), rest.end(), whole.begin() + long(second)));
}

TEST_F(ApeTest, ProbeOfAMissingFileFailsWithTheReadersMessage) {
    try {
        apeDurationOf("/nonexistent/x.ape");
        FAIL() << "no exception";
    } catch (const ReaderException& e) {
        EXPECT_EQ(e.message(), "cannot open");
    }
}

}  // namespace
}  // namespace tolvane::test
