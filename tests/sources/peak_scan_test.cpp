// The part editor's peak scan over real files made by sox and ffmpeg. A long source is scanned by
// two readers at once, one from its middle: the halves must meet without a seam or a shift.
#include <gtest/gtest.h>

#include "sources/peak_scan.h"
#include "support/test_support.h"

namespace tolvane::pages {
namespace {

using tolvane::test::run;
using tolvane::test::TempDir;

// 10 s of loud noise, 30 s of silence, 10 s of loud noise: the middle of the file (where the
// second reader starts) falls in the silence, and the loud end shows whether the second half's
// frames land where they belong.
std::string loudQuietLoud(const TempDir& dir) {
    const std::string loud = dir.file("loud.wav");
    const std::string quiet = dir.file("quiet.wav");
    const std::string whole = dir.file("whole.wav");
    // -R: the same noise on every run, so a column's peak does not depend on the draw.
    EXPECT_EQ(run({"sox", "-R", "-n", "-r", "44100", "-c", "2", "-b", "16", loud, "synth", "10",
                   "pinknoise", "vol", "0.8"})
                  .status,
              0);
    EXPECT_EQ(
        run({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", quiet, "trim", "0", "30"}).status,
        0);
    EXPECT_EQ(run({"sox", loud, quiet, loud, whole}).status, 0);
    return whole;
}

TEST(PeakScan, ALongSourceScannedInTwoHalvesShowsEveryPartWhereItIs) {
    if (!tolvane::test::haveTool("sox") || !tolvane::test::haveTool("ffmpeg"))
        GTEST_SKIP() << "sox and ffmpeg are needed";
    TempDir dir;
    const std::string wav = loudQuietLoud(dir);
    const std::string mp3 = dir.file("whole.mp3");
    ASSERT_EQ(run({"ffmpeg", "-v", "error", "-i", wav, "-b:a", "192k", mp3}).status, 0);
    const std::string flac = dir.file("whole.flac");
    ASSERT_EQ(run({"ffmpeg", "-v", "error", "-i", wav, flac}).status, 0);

    for (const std::string& path : {wav, mp3, flac}) {
        SCOPED_TRACE(path);
        const Waveform waveform = scanPeaks(path, 100);  // half a second a column
        ASSERT_EQ(waveform.columns.size(), 100u);
        EXPECT_NEAR(double(waveform.durationMs), 50000.0, 100.0);
        for (int i = 0; i < 100; ++i) {
            const PeakColumn& c = waveform.columns[std::size_t(i)];
            // Loud: the noise reaches well past 0.1 either way in every half second (a column's
            // peak varies with the draw and the MP3 coder, around 0.3 to 0.8); silent: under 0.01.
            if (i <= 18 || i >= 81) {
                EXPECT_GT(c.high, 0.1f) << "column " << i << " should be loud";
                EXPECT_LT(c.low, -0.1f) << "column " << i << " should be loud";
            } else if (i >= 21 && i <= 78) {
                EXPECT_LT(c.high, 0.01f) << "column " << i << " should be silent";
                EXPECT_GT(c.low, -0.01f) << "column " << i << " should be silent";
            }
        }
    }
}

TEST(PeakScan, CancelledScansGiveNothing) {
    if (!tolvane::test::haveTool("sox"))
        GTEST_SKIP() << "sox is needed";
    TempDir dir;
    const std::string wav = loudQuietLoud(dir);
    const std::atomic<bool> cancel{true};
    EXPECT_TRUE(scanPeaks(wav, 100, &cancel).columns.empty());
}

}  // namespace
}  // namespace tolvane::pages
