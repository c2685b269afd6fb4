#include <gtest/gtest.h>

#include <barrier>
#include <cstring>
#include <functional>
#include <thread>

#include "decoders/source_types.h"
#include "pipeline/app_exception.h"
#include "pipeline/reader.h"
#include "pipeline/wav_reader.h"
#include "support/test_support.h"

using namespace tolvane;
using namespace tolvane::test;

namespace {

std::vector<std::uint8_t> ramp(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    return v;
}

void append(std::vector<std::uint8_t>& out, const char* tag,
            const std::vector<std::uint8_t>& body) {
    out.insert(out.end(), tag, tag + 4);
    const auto n = static_cast<std::uint32_t>(body.size());
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() & 1)
        out.push_back(0);
}

std::vector<std::uint8_t> fmtChunk(int tag, int channels, int rate, int bits) {
    const int align = channels * bits / 8;
    std::vector<std::uint8_t> f;
    auto put = [&](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            f.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    };
    put(tag, 2), put(channels, 2), put(rate, 4), put(rate * align, 4), put(align, 2), put(bits, 2);
    return f;
}

// A RIFF/WAVE file from a list of chunks; `riffSizeAdjust` makes the RIFF size lie.
std::vector<std::uint8_t> riffWave(
    const std::vector<std::pair<const char*, std::vector<std::uint8_t>>>& chunks,
    int riffSizeAdjust = 0) {
    std::vector<std::uint8_t> body = {'W', 'A', 'V', 'E'};
    for (const auto& [tag, content] : chunks)
        append(body, tag, content);
    std::vector<std::uint8_t> file = {'R', 'I', 'F', 'F'};
    const auto n = static_cast<std::uint32_t>(static_cast<int>(body.size()) + riffSizeAdjust);
    for (int i = 0; i < 4; ++i)
        file.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
    file.insert(file.end(), body.begin(), body.end());
    return file;
}

std::vector<std::uint8_t> readAll(CReader& r) {
    std::vector<std::uint8_t> out;
    std::uint8_t buffer[1000];
    while (std::size_t n = r.read(buffer, sizeof buffer))
        out.insert(out.end(), buffer, buffer + n);
    return out;
}

std::string messageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const AppException& e) {
        return e.message();
    }
    return "(no exception)";
}

}  // namespace

TEST(ReaderFactory, ExtensionsMatchWithoutRegardToCase) {
    const std::pair<const char*, int> cases[] = {{"a.wav", 1},  {"b.WAV", 1},      {"c.Mp3", 2},
                                                 {"d.wMa", 3},  {"e.OGG", 4},      {"f.ape", 5},
                                                 {"g.FlAc", 6}, {"/x.y/z.flac", 6}};
    for (const auto& [path, type] : cases)
        EXPECT_EQ(fileTypeOf(path), type) << path;
    EXPECT_EQ(messageOf([] { fileTypeOf("song.aiff"); }), "unknown file type");
    EXPECT_EQ(messageOf([] { openReader("song.aiff"); }), "no decoder available");
    EXPECT_EQ(messageOf([] { openReader("wav"); }), "no decoder available");
    EXPECT_EQ(durationOf("song.aiff"), 0);
}

TEST(WavReader, RefusesMalformedFilesWithCannotOpen) {
    TempDir dir;
    const auto data = ramp(8000);
    const std::pair<const char*, std::vector<std::uint8_t>> cases[] = {
        {"empty", {}},
        {"not-riff", std::vector<std::uint8_t>(100, 'x')},
        {"truncated-header", {'R', 'I', 'F', 'F', 10, 0}},
        {"no-fmt", riffWave({{"data", data}})},
        {"no-data", riffWave({{"fmt ", fmtChunk(1, 1, 8000, 8)}})},
        {"empty-data", riffWave({{"fmt ", fmtChunk(1, 1, 8000, 8)}, {"data", {}}})},
        {"data-past-riff", riffWave({{"fmt ", fmtChunk(1, 1, 8000, 8)}, {"data", data}}, -100)},
        {"zero-channels", riffWave({{"fmt ", fmtChunk(1, 0, 8000, 8)}, {"data", data}})},
        {"short-fmt", riffWave({{"fmt ", {1, 0, 1, 0}}, {"data", data}})},
    };
    for (const auto& [name, bytes] : cases) {
        const std::string path = dir.file(std::string(name) + ".wav");
        writeFile(path, bytes);
        EXPECT_EQ(messageOf([&] { openReader(path); }), "cannot open file") << name;
        EXPECT_EQ(durationOf(path), 0) << name;
    }
    EXPECT_EQ(messageOf([&] { openReader(dir.file("missing.wav")); }), "cannot open file");
}

TEST(WavReader, DeliversOnlyTheFirstDataChunk) {
    TempDir dir;
    const auto first = ramp(16001);  // odd: the pad byte must not be delivered either
    const std::vector<std::uint8_t> second(5000, 0xEE);
    const std::vector<std::uint8_t> list = {'I', 'N', 'F', 'O', 'I', 'N', 'A',
                                            'M', 2,   0,   0,   0,   'x', 0};
    const std::string path = dir.file("chunks.wav");
    writeFile(path, riffWave({{"fmt ", fmtChunk(1, 1, 8000, 8)},
                              {"data", first},
                              {"LIST", list},
                              {"data", second}}));
    auto reader = openReader(path);
    EXPECT_EQ(readAll(*reader), first);
    std::uint8_t more[16];
    EXPECT_EQ(reader->read(more, sizeof more), 0u);
    EXPECT_EQ(reader->length(), 2);
    EXPECT_EQ(durationOf(path), 2);
}

TEST(WavReader, LengthSeekTellAndStartPosition) {
    TempDir dir;
    const std::string a = dir.file("a.wav");
    const std::string b = dir.file("b.wav");
    ASSERT_TRUE(makeTone(a, 44100, 2, 16, 10.9, "sine 300"));
    ASSERT_TRUE(makeTone(b, 44100, 2, 16, 2.0, "sine 300"));
    const auto bytes = readFile(a);
    const std::size_t dataStart = 44;  // sox writes a canonical header
    ASSERT_EQ(std::string(bytes.begin() + 36, bytes.begin() + 40), "data");

    auto reader = openReader(a);
    EXPECT_EQ(reader->length(), 10);
    EXPECT_EQ(reader->sampleRate(), 44100);
    EXPECT_EQ(reader->channels(), 2);
    EXPECT_EQ(reader->bitsPerSample(), 16);
    reader->seek(3);
    EXPECT_EQ(reader->tell(), 3);

    auto atFive = openReaderAt(a, 5);
    std::vector<std::uint8_t> head(64);
    atFive->read(head.data(), head.size());
    EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin() + dataStart + 5 * 176400));
    EXPECT_EQ(atFive->tell(), 5);

    // The start position was for that reader only.
    auto next = openReader(b);
    EXPECT_EQ(next->tell(), 0);
    next->read(head.data(), head.size());
    EXPECT_TRUE(std::equal(head.begin(), head.end(), readFile(b).begin() + dataStart));
}

TEST(WavReader, FailedOpenReaderAtLeavesNoStalePosition) {
    TempDir dir;
    const std::string good = dir.file("good.wav");
    ASSERT_TRUE(makeTone(good, 8000, 1, 16, 3.0));
    writeFile(dir.file("bad.wav"), {1, 2, 3});
    EXPECT_THROW(openReaderAt(dir.file("x.aiff"), 2), ReaderException);
    EXPECT_EQ(openReader(good)->tell(), 0);
    EXPECT_THROW(openReaderAt(dir.file("bad.wav"), 2), ReaderException);
    EXPECT_EQ(openReader(good)->tell(), 0);
}

// Files converting at the same time and the waveform's two scanning readers open readers at
// different seconds on different threads: each reader must start where its own thread asked.
TEST(WavReader, ReadersOpenedAtOnceOnTwoThreadsStartAtTheirOwnSeconds) {
    TempDir dir;
    const std::string path = dir.file("long.wav");
    ASSERT_TRUE(makeTone(path, 8000, 1, 16, 12.0));
    std::barrier bothSet(2);
    std::barrier bothOpened(2);
    auto openAt = [&](int second, int& started) {
        const StartPositionGuard start(second);
        bothSet.arrive_and_wait();  // both positions are set before either reader is made
        started = openReader(path)->tell();
        bothOpened.arrive_and_wait();
    };
    int first = -1, second = -1;
    std::thread other([&] { openAt(9, second); });
    openAt(4, first);
    other.join();
    EXPECT_EQ(first, 4);
    EXPECT_EQ(second, 9);
}

TEST(WavReader, DurationProbeRefusesNonPcmAndShortFiles) {
    TempDir dir;
    const std::string adpcm = dir.file("adpcm.wav");
    writeFile(adpcm, riffWave({{"fmt ", fmtChunk(2, 1, 8000, 4)}, {"data", ramp(20000)}}));
    const std::string shortOne = dir.file("short.wav");
    ASSERT_TRUE(makeTone(shortOne, 8000, 1, 16, 0.9));
    for (const auto& path : {adpcm, shortOne}) {
        EXPECT_EQ(durationOf(path), 0) << path;
        EXPECT_EQ(messageOf([&] { checkedDurationOf(path); }), "broken file") << path;
    }
    const std::string ok = dir.file("ok.wav");
    ASSERT_TRUE(makeTone(ok, 22050, 1, 8, 2.5));
    EXPECT_EQ(checkedDurationOf(ok), 2);
}

TEST(WavReader, WideSamplesAreDeliveredAsTheirTop16Bits) {
    TempDir dir;
    const std::string path = dir.file("wide.wav");
    // Three 24-bit stereo frames.
    const std::vector<std::uint8_t> data = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x00, 0x00, 0x80,
                                            0xFF, 0xFF, 0x7F, 0xAA, 0xBB, 0xCC, 0x01, 0x02, 0x03};
    writeFile(path, riffWave({{"fmt ", fmtChunk(1, 2, 8000, 24)}, {"data", data}}));
    auto reader = openReader(path);
    EXPECT_EQ(reader->bitsPerSample(), 16);
    EXPECT_EQ(reader->channels(), 2);
    const std::vector<std::uint8_t> expected = {0x22, 0x33, 0x55, 0x66, 0x00, 0x80,
                                                0xFF, 0x7F, 0xBB, 0xCC, 0x02, 0x03};
    EXPECT_EQ(readAll(*reader), expected);
}

TEST(AppException, MessagesAreCutAt127Utf16Units) {
    const std::string longText(300, 'a');
    EXPECT_EQ(AppException(longText).message().size(), 127u);
    // 100 ASCII letters then clefs (two UTF-16 units, four UTF-8 bytes each).
    std::string mixed(100, 'b');
    for (int i = 0; i < 20; ++i)
        mixed += "\xF0\x9D\x84\x9E";
    const AppException e(mixed);
    EXPECT_EQ(e.message().size(),
              100u + 13 * 4);  // 100 + 13*2 = 126 units, the 14th would pass 127
    // The description is cut at 127 bytes on a code-point boundary: 100 + 6 clefs.
    EXPECT_EQ(std::strlen(e.what()), 124u);
}
