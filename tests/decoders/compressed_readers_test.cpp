// Each compressed source decoded through openReader and compared with ffmpeg's own decode of the
// same file; positions, start positions, duration probes and stopping half-way.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "decoder_fixtures.h"
#include "decoders/source_types.h"
#include "pipeline/app_exception.h"
#include "support/test_support.h"

namespace tolvane::test {
namespace {

struct Source {
    const char* name;
    int rate;
    int channels;
    int bits;           // as delivered
    std::size_t slack;  // samples per channel our length may differ from ffmpeg's
    int duration;       // whole seconds by the probe and length()
};

// MP3 lengths may differ by one frame; the others decode sample for sample alike.
const Source kSources[] = {
    {"mono.mp3", 44100, 1, 16, 1152, 3},   {"stereo.mp3", 44100, 2, 16, 1152, 3},
    {"lsf.mp3", 16000, 1, 16, 576, 2},     {"short.ogg", 44100, 2, 16, 0, 2},
    {"16bit.flac", 44100, 2, 16, 0, 2},    {"24bit.flac", 48000, 2, 16, 0, 2},
    {"stereo.wma", 44100, 2, 16, 2048, 4},
};

class CompressedSource : public ::testing::TestWithParam<Source> {};

TEST_P(CompressedSource, DecodesLikeFfmpeg) {
    const Source& s = GetParam();
    const std::string& path = fixture(s.name);
    ASSERT_FALSE(path.empty()) << "could not make " << s.name;

    auto reader = openReader(path);
    EXPECT_EQ(reader->sampleRate(), s.rate);
    EXPECT_EQ(reader->channels(), s.channels);
    EXPECT_EQ(reader->bitsPerSample(), s.bits);
    EXPECT_EQ(reader->length(), s.duration);
    EXPECT_EQ(durationOf(path), s.duration);

    const auto ours = asPcm16(readAll(*reader));
    const auto theirs = asPcm16(ffmpegDecode(path));
    ASSERT_FALSE(theirs.empty());
    const auto frames = [&](std::size_t samples) {
        return static_cast<long>(samples / s.channels);
    };
    EXPECT_LE(std::labs(frames(ours.size()) - frames(theirs.size())), static_cast<long>(s.slack))
        << "ours " << ours.size() << " samples, ffmpeg " << theirs.size();
    EXPECT_GT(correlation(ours, theirs), 0.99);
    // The reported total covers what was delivered, up to the estimate's margins.
    EXPECT_GE(static_cast<long>(reader->totalBytes()), 0);
}

INSTANTIATE_TEST_SUITE_P(Formats, CompressedSource, ::testing::ValuesIn(kSources),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

// The sizes each reader reports for the whole stream.
TEST(CompressedSourceLength, TotalBytesFollowEachFormatsRule) {
    {
        // MP3: the scan's count of frames × samples per frame.
        auto reader = openReader(fixture("lsf.mp3"));
        const auto bytes = readAll(*reader);
        EXPECT_EQ(reader->totalBytes() % (576 * 2), 0);
        EXPECT_LE(std::labs(long(bytes.size()) - reader->totalBytes()), 576 * 2);
    }
    {
        // Ogg Vorbis of 2.9 s: the length is counted in whole seconds, the stream is not.
        auto reader = openReader(fixture("short.ogg"));
        EXPECT_EQ(reader->totalBytes(), 44100 * 2 * 2 * 2);
        const auto bytes = readAll(*reader);
        EXPECT_NEAR(double(bytes.size()) / (44100 * 4), 2.9, 0.01);
    }
    {
        // WMA: an estimate from the duration plus 5000 bytes.
        auto reader = openReader(fixture("stereo.wma"));
        const auto bytes = readAll(*reader);
        const long over = reader->totalBytes() - long(bytes.size());
        EXPECT_GE(over, 0);
        EXPECT_LE(over, 5000 + 44100 * 4 / 10);
    }
}

TEST(Mp3Reader, MonoDeliversTwoBytesPerSampleStereoFourLeftFirst) {
    auto stereo = openReader(fixture("stereo.mp3"));
    const auto pcm = asPcm16(readAll(*stereo));
    std::vector<std::int16_t> left, right;
    for (std::size_t i = 0; i + 1 < pcm.size(); i += 2) {
        left.push_back(pcm[i]);
        right.push_back(pcm[i + 1]);
    }
    // 440 Hz on the left, 660 Hz on the right: compare each with ffmpeg's channel of its own.
    const auto theirs = asPcm16(ffmpegDecode(fixture("stereo.mp3")));
    std::vector<std::int16_t> theirLeft, theirRight;
    for (std::size_t i = 0; i + 1 < theirs.size(); i += 2) {
        theirLeft.push_back(theirs[i]);
        theirRight.push_back(theirs[i + 1]);
    }
    EXPECT_GT(correlation(left, theirLeft), 0.99);
    EXPECT_GT(correlation(right, theirRight), 0.99);
    EXPECT_LT(correlation(left, right), 0.5);

    auto mono = openReader(fixture("mono.mp3"));
    EXPECT_EQ(mono->channels(), 1);
    // The encoder's delay and padding make the stream up to two frames longer than the tone.
    EXPECT_NEAR(double(readAll(*mono).size()) / 2 / 44100, 3.0, 2 * 1152.0 / 44100);
}

// A seek or a start position lands on the frame at or before the second; what follows is the
// same audio ffmpeg decodes from there.
struct Positioned {
    const char* name;
    int second;
    std::size_t slack;  // samples per channel
    // The reference: ffmpeg's own seek where its timestamps are exact, else its whole decode
    // without the samples before the second (MP3 without an index seeks by estimate in ffmpeg).
    bool ffmpegSeeks;
};
const Positioned kPositioned[] = {
    {"stereo.mp3", 2, 1152, false}, {"lsf.mp3", 1, 576, false}, {"short.ogg", 1, 0, true},
    {"16bit.flac", 1, 0, true},     {"24bit.flac", 2, 0, true}, {"stereo.wma", 2, 2048, true},
};

class PositionedSource : public ::testing::TestWithParam<Positioned> {
protected:
    // Ours starts at most `slack` samples before the second (a frame start), and then runs like
    // ffmpeg's decode to the end.
    void check(CReader& reader) {
        const Positioned& p = GetParam();
        const long channels = reader.channels();
        auto theirs = asPcm16(p.ffmpegSeeks ? ffmpegDecodeFrom(fixture(p.name), p.second)
                                            : ffmpegDecode(fixture(p.name)));
        if (!p.ffmpegSeeks)
            theirs.erase(theirs.begin(),
                         theirs.begin() + long(p.second) * reader.sampleRate() * channels);
        const auto ours = asPcm16(readAll(reader));
        ASSERT_FALSE(theirs.empty());
        const long extra = long(ours.size() / channels) - long(theirs.size() / channels);
        EXPECT_GE(extra, -64) << "ours " << ours.size() << " samples, ffmpeg " << theirs.size();
        EXPECT_LE(extra, long(p.slack))
            << "ours " << ours.size() << " samples, ffmpeg " << theirs.size();
        double best = 0;
        const long from = std::max(-64L, extra - long(p.slack) - 64);
        const long to = std::max(0L, extra) + 64;
        for (long lag = from; lag <= to && best <= 0.99; ++lag) {
            const std::size_t shift = std::size_t(std::labs(lag) * channels);
            best = std::max(best, lag >= 0 ? correlation(ours, theirs, shift, 0)
                                           : correlation(ours, theirs, 0, shift));
        }
        EXPECT_GT(best, 0.99);
    }
};

TEST_P(PositionedSource, SeekThenReadStartsAtTheSecond) {
    auto reader = openReader(fixture(GetParam().name));
    reader->seek(GetParam().second);
    // The position is that of the frame holding the second's first sample.
    EXPECT_LE(reader->tell(), GetParam().second);
    EXPECT_GE(reader->tell(), GetParam().second - 1);
    check(*reader);
    EXPECT_GE(reader->tell(), GetParam().second);
}

TEST_P(PositionedSource, SeekAfterReadingOnOrToTheEndStartsAtTheSecond) {
    auto reader = openReader(fixture(GetParam().name));
    std::vector<std::uint8_t> some(10000);
    reader->read(some.data(), some.size());
    reader->seek(GetParam().second);  // PCM still in the pipe is dropped
    check(*reader);
    reader->seek(GetParam().second);  // after the end of the stream
    check(*reader);
}

TEST_P(PositionedSource, OpenReaderAtStartsThereAndOnlyOnce) {
    auto reader = openReaderAt(fixture(GetParam().name), GetParam().second);
    check(*reader);
    // The next reader starts at the beginning: it delivers more than one started at the second.
    // (Its tell() is the decoding thread's position, which may already run ahead of what was read.)
    auto next = openReader(fixture(GetParam().name));
    EXPECT_GT(readAll(*next).size(),
              readAll(*openReaderAt(fixture(GetParam().name), GetParam().second)).size());
}

INSTANTIATE_TEST_SUITE_P(Formats, PositionedSource, ::testing::ValuesIn(kPositioned),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

TEST(Mp3Reader, DataWithoutAnyFrameIsABrokenFile) {
    TempDir dir;
    writeFile(dir.file("zeros.mp3"), std::vector<std::uint8_t>(10000, 0));
    try {
        openReader(dir.file("zeros.mp3"));
        FAIL() << "opened a file without frames";
    } catch (const ReaderException& e) {
        EXPECT_EQ(e.message(), "cannot process: broken MP3 file");
    }
    EXPECT_EQ(durationOf(dir.file("zeros.mp3")), 0);
}

// MPEG audio in a WAV container (format tag 0x55) is still MPEG audio, named .mp3 or not.
TEST(Mp3Reader, MpegAudioInAWavContainerIsRead) {
    TempDir dir;
    const std::string wrapped = dir.file("wrapped.mp3");
    ASSERT_EQ(run({"ffmpeg", "-v", "error", "-i", fixture("mono.mp3"), "-c:a", "copy", "-f", "wav",
                   wrapped})
                  .status,
              0);
    auto reader = openReader(wrapped);
    EXPECT_EQ(reader->sampleRate(), 44100);
    EXPECT_NEAR(static_cast<double>(readAll(*reader).size()), 3.0 * 44100 * 2, 44100 * 2 * 0.1);
    EXPECT_EQ(durationOf(wrapped), 3);
}

TEST(Mp3Reader, SeekPastTheEndDeliversTheLastFrameAndEnds) {
    auto reader = openReader(fixture("mono.mp3"));
    reader->seek(100);
    const auto bytes = readAll(*reader);
    EXPECT_GT(bytes.size(), 0u);
    EXPECT_LE(bytes.size(), 1152u * 2);
}

TEST(FlacReader, SeekInAStreamShorterThanOneSecondStartsAtZero) {
    auto reader = openReader(fixture("short.flac"));
    EXPECT_EQ(reader->length(), 0);
    reader->seek(1);
    EXPECT_NEAR(double(readAll(*reader).size()) / 2 / 44100, 0.6, 0.001);
}

TEST(FlacReader, EightBitStreamIsDeliveredUnsignedLikeFfmpeg) {
    auto reader = openReader(fixture("8bit.flac"));
    EXPECT_EQ(reader->bitsPerSample(), 8);
    EXPECT_EQ(reader->sampleRate(), 22050);
    EXPECT_EQ(reader->channels(), 1);
    const auto ours = readAll(*reader);
    EXPECT_EQ(ours, ffmpegDecode(fixture("8bit.flac"), "u8"));
    EXPECT_EQ(reader->totalBytes(), static_cast<std::int32_t>(ours.size()));
}

TEST(FlacReader, TwentyFourBitStreamKeepsTheTopSixteenBits) {
    auto reader = openReader(fixture("24bit.flac"));
    const auto ours = readAll(*reader);
    const auto wide = ffmpegDecode(fixture("24bit.flac"), "s24le");
    ASSERT_EQ(ours.size() / 2, wide.size() / 3);
    for (std::size_t i = 0; i < ours.size() / 2; ++i) {
        ASSERT_EQ(ours[2 * i], wide[3 * i + 1]) << "sample " << i;
        ASSERT_EQ(ours[2 * i + 1], wide[3 * i + 2]) << "sample " << i;
    }
    EXPECT_EQ(reader->totalBytes(), static_cast<std::int32_t>(ours.size()));
}

// Destroying a reader whose consumer stopped half-way ends its decoding thread promptly.
class StoppedHalfWay : public ::testing::TestWithParam<const char*> {};

TEST_P(StoppedHalfWay, DestructionReturnsPromptly) {
    auto reader = openReader(fixture(GetParam()));
    std::vector<std::uint8_t> some(8192);
    ASSERT_EQ(reader->read(some.data(), some.size()), some.size());
    // Let the decoding thread fill the pipe and block in its write.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto before = std::chrono::steady_clock::now();
    reader.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(500));
}

INSTANTIATE_TEST_SUITE_P(Formats, StoppedHalfWay,
                         ::testing::Values("long.mp3", "16bit.flac", "stereo.wma", "short.ogg"),
                         [](const auto& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

TEST(DurationProbes, ShortFilesAreZeroAndUnknownFilesAreZero) {
    EXPECT_EQ(durationOf(fixture("half.mp3")), 0);
    EXPECT_EQ(durationOf(fixture("short.flac")), 0);
    EXPECT_EQ(durationOf(fixture("two.wma")), 3);
    EXPECT_EQ(durationOf("/nonexistent/x.mp3"), 0);
    EXPECT_EQ(durationOf("/nonexistent/x.ogg"), 0);
    EXPECT_EQ(durationOf("/nonexistent/x.flac"), 0);
    EXPECT_EQ(durationOf("/nonexistent/x.wma"), 0);
    EXPECT_THROW(checkedDurationOf(fixture("half.mp3")), ReaderException);
}

}  // namespace
}  // namespace tolvane::test
