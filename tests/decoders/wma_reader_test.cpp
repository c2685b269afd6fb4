// The WMA reader with our wmvcore.so: the audio stream it picks, protected files, the runtime's
// loading, and the reader's length estimate.
#include <gtest/gtest.h>

#include <filesystem>

#include "decoder_fixtures.h"
#include "decoders/source_types.h"
#include "decoders/wma_reader.h"
#include "pipeline/app_exception.h"
#include "support/test_support.h"

namespace tolvane::test {
namespace {

std::string messageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ReaderException& e) {
        return e.message();
    }
    return "(no exception)";
}

TEST(WmaReader, TheLastAudioStreamWins) {
    const std::string& path = fixture("two.wma");
    ASSERT_FALSE(path.empty());
    auto reader = openReader(path);
    // The second stream: 1000 Hz stereo at 44100 Hz (the first is 440 Hz mono at 22050 Hz).
    EXPECT_EQ(reader->sampleRate(), 44100);
    EXPECT_EQ(reader->channels(), 2);
    const auto ours = asPcm16(readAll(*reader));
    const auto theirs = asPcm16(ffmpegDecode(path, "s16le", "0:a:1"));
    EXPECT_GT(correlation(ours, theirs), 0.99);
    EXPECT_LE(std::labs(long(ours.size()) - long(theirs.size())), 2048 * 2);
}

// An ASF file whose header carries a content encryption object is protected.
std::vector<std::uint8_t> withEncryptionObject(std::vector<std::uint8_t> asf) {
    const std::uint8_t encryption[16] = {0xFB, 0xB3, 0x11, 0x22, 0x23, 0xBD, 0xD2, 0x11,
                                         0xB4, 0xB7, 0x00, 0xA0, 0xC9, 0x55, 0xFC, 0x6E};
    std::vector<std::uint8_t> object(encryption, encryption + 16);
    const std::uint64_t size = 24 + 4;
    for (int i = 0; i < 8; ++i)
        object.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
    object.insert(object.end(), {0, 0, 0, 0});  // an empty secret data field
    auto le = [&](std::size_t at, int bytes) {
        std::uint64_t v = 0;
        for (int i = bytes - 1; i >= 0; --i)
            v = v << 8 | asf[at + i];
        return v;
    };
    auto put = [&](std::size_t at, int bytes, std::uint64_t v) {
        for (int i = 0; i < bytes; ++i)
            asf[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    put(16, 8, le(16, 8) + object.size());  // header object size
    put(24, 4, le(24, 4) + 1);              // number of header objects
    asf.insert(asf.begin() + 30, object.begin(), object.end());
    return asf;
}

TEST(WmaReader, ProtectedFileFailsWithTheDrmMessage) {
    TempDir dir;
    const std::string path = dir.file("protected.wma");
    writeFile(path, withEncryptionObject(readFile(fixture("stereo.wma"))));
    EXPECT_EQ(messageOf([&] { openReader(path); }),
              "cannot open, file is digitally protected (DRM)");
    EXPECT_EQ(durationOf(path), 0);
}

TEST(WmaReader, OpeningFailures) {
    TempDir dir;
    writeFile(dir.file("empty.wma"), {});
    writeFile(dir.file("text.wma"), std::vector<std::uint8_t>(4000, 'x'));
    EXPECT_EQ(messageOf([&] { openReader(dir.file("empty.wma")); }), "cannot open file");
    EXPECT_EQ(messageOf([&] { openReader(dir.file("text.wma")); }), "cannot open file");
    EXPECT_EQ(messageOf([&] { openReader(dir.file("missing.wma")); }), "cannot open file");
    // An MP3 named .wma is not an ASF file.
    std::filesystem::copy_file(fixture("mono.mp3"), dir.file("renamed.wma"));
    EXPECT_EQ(messageOf([&] { openReader(dir.file("renamed.wma")); }), "cannot open file");
}

TEST(WmaReader, VideoOnlyFileHasNoAudioStream) {
    TempDir dir;
    const std::string path = dir.file("video.wma");
    ASSERT_EQ(run({"ffmpeg", "-v", "error", "-f", "lavfi", "-i",
                   "testsrc=size=32x32:rate=5:duration=1", "-c:v", "wmv2", "-f", "asf", path})
                  .status,
              0);
    EXPECT_EQ(messageOf([&] { openReader(path); }),
              "cannot decode: no audio streams found in file");
}

TEST(WmaRuntime, MissingLibraryOrEntryPoint) {
    EXPECT_EQ(
        messageOf([] { loadWmaRuntimeFrom("/nonexistent"); }),
        "WMA decoding libraries aren't installed. Please download and install full version of "
        "Orvel.");
    EXPECT_EQ(
        messageOf([] { loadWmaRuntimeFrom(""); }),
        "WMA decoding libraries aren't installed. Please download and install full version of "
        "Orvel.");
    // A loadable library that is not the runtime.
    TempDir dir;
    const char* candidates[] = {"/lib/x86_64-linux-gnu/libz.so.1",
                                "/usr/lib/x86_64-linux-gnu/libz.so.1"};
    for (const char* lib : candidates) {
        if (!std::filesystem::exists(lib))
            continue;
        std::filesystem::copy_file(lib, dir.file("wmvcore.so"));
        EXPECT_EQ(messageOf([&] { loadWmaRuntimeFrom(dir.path().string()); }),
                  "Internal error #521");
        return;
    }
    GTEST_SKIP() << "no libz to stand in for a foreign library";
}

TEST(WmaRuntime, TheBuiltRuntimeLoadsFromTheApplicationFolder) {
    EXPECT_NE(loadWmaRuntimeFrom(appDir().string()), nullptr);
    auto reader = openReader(fixture("stereo.wma"));
    EXPECT_EQ(reader->length(), 4);
}

}  // namespace
}  // namespace tolvane::test
