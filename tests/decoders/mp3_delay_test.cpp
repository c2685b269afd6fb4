// MP3s made by the encoders users meet carry the encoder's start delay and end padding in their
// first frame's LAME/Xing (or Info) tag. The reader drops them, so a marked part starts where the
// music does: its stream matches ffmpeg's decode of the same file sample for sample in position,
// and its length, its seeks and its duration follow.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "decoder_fixtures.h"
#include "support/test_support.h"

namespace tolvane::test {
namespace {

struct TaggedMp3 {
    const char* name;
    int rate;
    int channels;
    std::vector<std::string> encode;  // arguments after the tool and the input, before the output
    bool bySox;
};

const TaggedMp3 kTaggedMp3s[] = {
    {"ffmpeg_cbr_stereo", 44100, 2, {"-c:a", "libmp3lame", "-b:a", "128k"}, false},
    {"ffmpeg_vbr_stereo", 44100, 2, {"-c:a", "libmp3lame", "-q:a", "4"}, false},
    {"ffmpeg_lsf_mono", 22050, 1, {"-c:a", "libmp3lame", "-b:a", "48k"}, false},
    // sox writes no tag: nothing is dropped, and ffmpeg drops nothing either.
    {"sox_untagged_stereo", 44100, 2, {"-C", "128"}, true},
    {"sox_untagged_mono", 32000, 1, {"-C", "64"}, true},
};

// Music with noise: a sweep, a tone and pink noise, 6.3 s, mixed into one channel or into two
// with different weights.
bool makeMusic(const std::string& path, int rate, int channels) {
    const std::string parts = path + ".parts.wav";
    if (run({"sox", "-n", "-r", std::to_string(rate), "-c", "3", "-b", "16", parts, "synth", "6.3",
             "sine", "200-2000", "sine", "330", "pinknoise", "vol", "0.3"})
            .status != 0)
        return false;
    if (channels == 1)
        return run({"sox", parts, path, "remix", "1,2,3"}).status == 0;
    return run({"sox", parts, path, "remix", "1,2,3", "1v0.5,2v0.9,3v0.7"}).status == 0;
}

// Normalised correlation of n samples of a from `ia` and of b from `ib`.
double correlationAt(const std::vector<std::int16_t>& a, std::size_t ia,
                     const std::vector<std::int16_t>& b, std::size_t ib, std::size_t n) {
    if (ia + n > a.size() || ib + n > b.size())
        return 0;
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < n; ++i) {
        ab += double(a[ia + i]) * b[ib + i];
        aa += double(a[ia + i]) * a[ia + i];
        bb += double(b[ib + i]) * b[ib + i];
    }
    return aa == 0 || bb == 0 ? 0 : ab / std::sqrt(aa * bb);
}

// The lag (in sample frames) of `ours` against `theirs` that matches best over a stretch of half
// a second from `at`: positive when ours runs late.
int bestLag(const std::vector<std::int16_t>& ours, const std::vector<std::int16_t>& theirs,
            int channels, std::size_t at, double& best) {
    const std::size_t n = 22050;
    best = -2;
    int lag = 0;
    for (int l = -2400; l <= 2400; ++l) {
        const std::size_t shift = std::size_t(std::abs(l)) * channels;
        const double c = l >= 0 ? correlationAt(ours, at + shift, theirs, at, n)
                                : correlationAt(ours, at, theirs, at + shift, n);
        if (c > best) {
            best = c;
            lag = l;
        }
    }
    return lag;
}

class TaggedMp3Source : public ::testing::TestWithParam<TaggedMp3> {
protected:
    std::string make(const TempDir& dir) {
        const TaggedMp3& c = GetParam();
        const std::string music = dir.file("music.wav");
        if (!makeMusic(music, c.rate, c.channels))
            return {};
        const std::string& input = music;
        const std::string mp3 = dir.file(std::string(c.name) + ".mp3");
        std::vector<std::string> argv;
        if (c.bySox) {
            argv = {"sox", input};
            argv.insert(argv.end(), c.encode.begin(), c.encode.end());
        } else {
            argv = {"ffmpeg", "-v", "error", "-i", input};
            argv.insert(argv.end(), c.encode.begin(), c.encode.end());
        }
        argv.push_back(mp3);
        return run(argv).status == 0 ? mp3 : std::string();
    }
};

TEST_P(TaggedMp3Source, StreamIsAlignedWithFfmpegsDecodeAndAsLong) {
    const TaggedMp3& c = GetParam();
    TempDir dir;
    const std::string mp3 = make(dir);
    ASSERT_FALSE(mp3.empty()) << "could not make " << c.name;

    auto reader = openReader(mp3);
    ASSERT_EQ(reader->channels(), c.channels);
    const auto ours = asPcm16(readAll(*reader));
    const auto theirs = asPcm16(ffmpegDecode(mp3));
    const long frames = long(ours.size() / c.channels);
    const long theirFrames = long(theirs.size() / c.channels);
    EXPECT_NEAR(frames, theirFrames, 4);
    EXPECT_EQ(reader->totalBytes(), long(ours.size() * 2));
    EXPECT_EQ(reader->length(), theirFrames / c.rate);
    EXPECT_EQ(durationOf(mp3), theirFrames / c.rate);

    for (std::size_t at : {std::size_t(c.rate / 10), std::size_t(c.rate) * 4}) {
        double best = 0;
        EXPECT_EQ(bestLag(ours, theirs, c.channels, at * c.channels, best), 0) << "at " << at;
        EXPECT_GT(best, 0.99);
    }
}

TEST_P(TaggedMp3Source, SeekLandsOnTheSameSampleAsFfmpegs) {
    const TaggedMp3& c = GetParam();
    TempDir dir;
    const std::string mp3 = make(dir);
    ASSERT_FALSE(mp3.empty()) << "could not make " << c.name;
    for (int second : {1, 4}) {
        SCOPED_TRACE(second);
        auto reader = openReaderAt(mp3, second);
        const auto ours = asPcm16(readAll(*reader));
        const auto theirs = asPcm16(ffmpegDecodeFrom(mp3, second));
        EXPECT_NEAR(long(ours.size()), long(theirs.size()), 4 * c.channels);
        // ffmpeg's first frame after a seek is decoded without the frames before it (it lacks
        // their bit reservoir): compare from a tenth of a second on.
        double best = 0;
        EXPECT_EQ(bestLag(ours, theirs, c.channels, std::size_t(c.rate / 10) * c.channels, best),
                  0);
        EXPECT_GT(best, 0.99);

        // The same through seek on an open reader (the dither carries on, so not bit-exact).
        reader->seek(second);
        const auto again = asPcm16(readAll(*reader));
        ASSERT_EQ(again.size(), ours.size());
        EXPECT_GT(correlationAt(again, 0, ours, 0, ours.size()), 0.999);
    }
}

INSTANTIATE_TEST_SUITE_P(Encoders, TaggedMp3Source, ::testing::ValuesIn(kTaggedMp3s),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tolvane::test
