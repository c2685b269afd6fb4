// lame_enc.so as the MP3 encoder uses it: loaded with dlopen, configured by the 331-byte record,
// fed in chunks of the size it asks for.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "plugins/lame_enc/lame_enc.h"
#include "support/test_support.h"

namespace tolvane {
namespace {

using Record = std::array<std::uint8_t, BE_CONFIG_SIZE>;

void put(Record& r, int offset, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        r[offset + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// What the MP3 ringtone encoder asks for: mono, constant bit rate, MPEG-1, output rate open.
Record ringtoneRecord(std::uint32_t rate, std::uint32_t kbps) {
    Record r{};
    put(r, BE_CFG_KIND, BE_CONFIG_KIND_LAME);
    put(r, BE_CFG_VERSION, 1);
    put(r, BE_CFG_SIZE, BE_CONFIG_SIZE);
    put(r, BE_CFG_SAMPLE_RATE, rate);
    put(r, BE_CFG_MODE, BE_MODE_MONO);
    put(r, BE_CFG_BITRATE, kbps);
    put(r, BE_CFG_MPEG_VERSION, BE_MPEG1);
    return r;
}

class LameEncLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string path = (test::appDir() / "lame_enc.so").string();
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle_, nullptr) << dlerror();
        init_ = reinterpret_cast<BeInitStreamFn>(dlsym(handle_, "beInitStream"));
        encode_ = reinterpret_cast<BeEncodeChunkFn>(dlsym(handle_, "beEncodeChunk"));
        deinit_ = reinterpret_cast<BeDeinitStreamFn>(dlsym(handle_, "beDeinitStream"));
        close_ = reinterpret_cast<BeCloseStreamFn>(dlsym(handle_, "beCloseStream"));
        ASSERT_TRUE(init_ && encode_ && deinit_ && close_);
    }
    void TearDown() override {
        if (handle_ != nullptr)
            dlclose(handle_);
    }

    void* handle_ = nullptr;
    BeInitStreamFn init_ = nullptr;
    BeEncodeChunkFn encode_ = nullptr;
    BeDeinitStreamFn deinit_ = nullptr;
    BeCloseStreamFn close_ = nullptr;
};

TEST_F(LameEncLibrary, RingtoneConfigurationsOpenWithChunksTheCallerCanHold) {
    for (std::uint32_t rate : {8000u, 22050u, 44100u, 48000u, 96000u}) {
        for (std::uint32_t kbps : {48u, 96u}) {
            SCOPED_TRACE(std::to_string(rate) + " Hz, " + std::to_string(kbps) + " kbit/s");
            const Record r = ringtoneRecord(rate, kbps);
            std::uint32_t chunk = 0, bufferSize = 0;
            BeStream stream = nullptr;
            ASSERT_EQ(init_(r.data(), &chunk, &bufferSize, &stream), BE_OK);
            EXPECT_GT(chunk, 0u);
            EXPECT_LE(chunk, static_cast<std::uint32_t>(BE_MAX_CHUNK_SAMPLES));
            // The coder's worst case for one chunk.
            EXPECT_GE(bufferSize, chunk * 5 / 4 + 7200);
            EXPECT_EQ(close_(stream), BE_OK);
        }
    }
}

TEST_F(LameEncLibrary, RefusesConfigurationsItCannotHonour) {
    struct Case {
        const char* what;
        std::function<void(Record&)> change;
    };
    const Case cases[] = {
        {"other configuration kind", [](Record& r) { put(r, BE_CFG_KIND, 0); }},
        {"structure version 0", [](Record& r) { put(r, BE_CFG_VERSION, 0); }},
        {"wrong structure size", [](Record& r) { put(r, BE_CFG_SIZE, 330); }},
        {"no input rate", [](Record& r) { put(r, BE_CFG_SAMPLE_RATE, 0); }},
        // libmp3lame aborts when it upsamples by large factors; it would take 1000 Hz to 8000.
        {"input rate 1000 Hz", [](Record& r) { put(r, BE_CFG_SAMPLE_RATE, 1000); }},
        {"output rate 12 times the input",
         [](Record& r) {
             put(r, BE_CFG_SAMPLE_RATE, 4000);
             put(r, BE_CFG_OUT_SAMPLE_RATE, 48000);
         }},
        {"output rate no MPEG rate", [](Record& r) { put(r, BE_CFG_OUT_SAMPLE_RATE, 44000); }},
        {"stereo", [](Record& r) { put(r, BE_CFG_MODE, 0); }},
        {"bit rate no MPEG rate", [](Record& r) { put(r, BE_CFG_BITRATE, 50); }},
        {"MPEG version 3", [](Record& r) { put(r, BE_CFG_MPEG_VERSION, 3); }},
        {"variable bit rate", [](Record& r) { put(r, BE_CFG_ENABLE_VBR, 1); }},
        {"a preset", [](Record& r) { put(r, BE_CFG_PRESET, 1001); }},
        {"reserved byte set", [](Record& r) { r[BE_CONFIG_SIZE - 1] = 1; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Record r = ringtoneRecord(44100, 48);
        c.change(r);
        std::uint32_t chunk = 0, bufferSize = 0;
        BeStream stream = nullptr;
        EXPECT_NE(init_(r.data(), &chunk, &bufferSize, &stream), BE_OK);
        EXPECT_EQ(stream, nullptr);
    }
}

TEST_F(LameEncLibrary, EncodesChunksAndFlushesIntoAPlayableStream) {
    const Record r = ringtoneRecord(22050, 96);
    std::uint32_t chunk = 0, bufferSize = 0;
    BeStream stream = nullptr;
    ASSERT_EQ(init_(r.data(), &chunk, &bufferSize, &stream), BE_OK);
    std::vector<std::uint8_t> buffer(bufferSize), mp3;
    std::vector<std::int16_t> samples(chunk);
    std::uint32_t produced = 0;

    // More samples than one chunk would overrun the caller's buffer: refused, nothing produced.
    std::vector<std::int16_t> tooMany(chunk + 1);
    EXPECT_NE(encode_(stream, chunk + 1, tooMany.data(), buffer.data(), &produced), BE_OK);
    EXPECT_EQ(produced, 0u);

    std::size_t n = 0;
    for (int c = 0; c < 22050 / static_cast<int>(chunk) + 1; ++c) {
        for (auto& s : samples)
            s = static_cast<std::int16_t>(8000 * std::sin(0.06 * n++));
        ASSERT_EQ(encode_(stream, chunk, samples.data(), buffer.data(), &produced), BE_OK);
        ASSERT_LE(produced, bufferSize);
        mp3.insert(mp3.end(), buffer.begin(), buffer.begin() + produced);
    }
    ASSERT_EQ(deinit_(stream, buffer.data(), &produced), BE_OK);
    mp3.insert(mp3.end(), buffer.begin(), buffer.begin() + produced);
    // The stream is flushed: no more chunks.
    EXPECT_NE(encode_(stream, chunk, samples.data(), buffer.data(), &produced), BE_OK);
    EXPECT_EQ(close_(stream), BE_OK);

    test::TempDir dir;
    test::writeFile(dir.file("out.mp3"), mp3);
    EXPECT_EQ(test::probe(dir.file("out.mp3"), "codec_name"), "mp3");
    EXPECT_EQ(test::probe(dir.file("out.mp3"), "channels"), "1");
    EXPECT_EQ(test::probe(dir.file("out.mp3"), "bit_rate"), "96000");
}

}  // namespace
}  // namespace tolvane
