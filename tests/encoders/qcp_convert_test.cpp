// `tolvane-convert -f qcp` as a user runs it: a speech recording made by espeak-ng becomes a QCP
// ringtone that FFmpeg plays at the right length, sounding like the source.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

#include "support/test_support.h"

namespace tolvane {
namespace {

using namespace test;

// Correlation of b against a at the best lag within +-maxLag samples.
double bestCorrelation(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b,
                       int maxLag) {
    const long n = static_cast<long>(std::min(a.size(), b.size()));
    double best = 0.0;
    for (int lag = -maxLag; lag <= maxLag; ++lag) {
        double ab = 0, aa = 0, bb = 0;
        for (long i = 0; i < n; ++i) {
            const long j = i + lag;
            if (j < 0 || j >= n)
                continue;
            ab += double(a[i]) * b[j];
            aa += double(a[i]) * a[i];
            bb += double(b[j]) * b[j];
        }
        if (aa > 0 && bb > 0)
            best = std::max(best, ab / std::sqrt(aa * bb));
    }
    return best;
}

TEST(QcpConvert, SpeechBecomesAQcpRingtoneThatPlays) {
    if (!haveTool("espeak-ng") || !haveTool("sox") || !haveTool("ffmpeg"))
        GTEST_SKIP() << "espeak-ng, sox and ffmpeg are needed";
    TempDir dir;
    const std::string raw = dir.file("raw.wav"), source = dir.file("greeting.wav");
    ASSERT_EQ(run({"espeak-ng", "-v", "en", "-w", raw,
                   "Hello, this is your new ringtone. Please answer the phone."})
                  .status,
              0);
    // A source as users have them: 44100 Hz stereo.
    ASSERT_EQ(run({"sox", raw, "-r", "44100", "-c", "2", "-b", "16", source}).status, 0);

    const std::string out = dir.file("out");
    const CommandResult r =
        run({(binDir() / "tolvane-convert").string(), "-f", "qcp", "-o", out, source});
    ASSERT_EQ(r.status, 0) << r.errors;
    const std::string ringtone = out + "/greeting.qcp";
    EXPECT_EQ(r.output, ringtone + "\n");
    ASSERT_TRUE(std::filesystem::exists(ringtone));

    EXPECT_EQ(probe(ringtone, "codec_name"), "qcelp");
    EXPECT_EQ(probe(ringtone, "sample_rate"), "8000");
    EXPECT_EQ(probe(ringtone, "channels"), "1");
    const auto log =
        run({"ffmpeg", "-nostdin", "-v", "warning", "-i", ringtone, "-f", "null", "-"});
    EXPECT_EQ(log.errors.find("IFQ"), std::string::npos) << log.errors;

    const auto reference = decodeWithFfmpeg(source, 8000, 1);
    const auto decoded = decodeWithFfmpeg(ringtone, 8000, 1);
    EXPECT_NEAR(static_cast<double>(decoded.size()), static_cast<double>(reference.size()), 320.0);
    EXPECT_GT(bestCorrelation(reference, decoded, 40), 0.9);
    // No temporary WAV file is left behind.
    for (const auto& e :
         std::filesystem::directory_iterator(std::filesystem::temp_directory_path()))
        EXPECT_NE(e.path().filename().string().rfind("RCM", 0), 0u) << e.path();
}

}  // namespace
}  // namespace tolvane
