// `tolvane-convert -f smaf` end to end: a real song becomes a SMAF file laid out as the format
// says, read back by an independent decoder, with nothing left in the temporary folder once the
// program has ended (the converter copy included).
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "converter/smaf_writer.h"
#include "platform/paths.h"
#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using tolvane::test::readFile;
using tolvane::test::TempDir;

std::uint32_t be32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return std::uint32_t(b[at]) << 24 | std::uint32_t(b[at + 1]) << 16 |
           std::uint32_t(b[at + 2]) << 8 | b[at + 3];
}

TEST(SmafFromTheCommandLine, SongBecomesSmafAndNothingIsLeftBehind) {
    const fs::path program = tolvane::test::binDir() / "tolvane-convert";
    if (!fs::exists(program))
        GTEST_SKIP() << "tolvane-convert is not part of this build";
    TempDir dir;
    const std::string song = dir.file("song.wav");
    ASSERT_TRUE(tolvane::test::makeTone(song, 44100, 2, 16, 3.0, "pluck 220"));
    const auto result = tolvane::test::run(
        {program.string(), "-f", "smaf", "-o", dir.file("out"), "--reconvert", song});
    ASSERT_EQ(result.status, 0) << result.errors;
    std::istringstream lines(result.output);
    std::string produced;
    std::getline(lines, produced);
    ASSERT_TRUE(produced.ends_with(".mmf")) << result.output;

    const auto mmf = readFile(produced);
    ASSERT_GT(mmf.size(), 100u);
    EXPECT_EQ(std::string(mmf.begin(), mmf.begin() + 4), "MMMD");
    EXPECT_EQ(be32(mmf, 4), mmf.size() - 8);
    EXPECT_EQ(std::string(mmf.begin() + 8, mmf.begin() + 12), "CNTI");
    const std::size_t track = 16 + be32(mmf, 12);
    EXPECT_EQ(std::string(mmf.begin() + long(track), mmf.begin() + long(track) + 4),
              std::string("ATR\0", 4));
    EXPECT_EQ(track + 8 + be32(mmf, track + 4) + 2, mmf.size());
    EXPECT_EQ(kessin::crc16(mmf.data(), mmf.size() - 2), mmf[mmf.size() - 2] << 8 | mmf.back());
    // FFmpeg reads the stream as 4-bit ADPCM.
    EXPECT_EQ(tolvane::test::probe(produced, "codec_name").rfind("adpcm_", 0), 0u);
    EXPECT_NEAR(double(tolvane::test::decodeWithFfmpeg(produced).size()), 3 * 8000.0, 8.0);

    for (const auto& e : fs::directory_iterator(tolvane::platform::temporaryFolder())) {
        const std::string name = e.path().filename().string();
        EXPECT_FALSE(name.starts_with("RCM") || name.starts_with("MMF")) << name;
    }
}

}  // namespace
