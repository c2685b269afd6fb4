// Source headers that lie: formats no reader can honestly deliver (65535 channels, 1 Hz,
// 0x7FFFFFFF Hz), and lengths the audio behind them does not match. Each fixture is a real file
// made by sox or ffmpeg with header fields patched; the readers refuse what cannot be delivered
// before anything is sized by it, and the batch front end reports it as an error line, leaves no
// ringtone behind and goes on with the next file.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>

#include "decoder_fixtures.h"
#include "pipeline/app_exception.h"
#include "support/test_support.h"

namespace tolvane::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& b, std::size_t at, std::uint32_t v) {
    b.at(at) = std::uint8_t(v);
    b.at(at + 1) = std::uint8_t(v >> 8);
}
void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}
std::uint32_t get16(const Bytes& b, std::size_t at) {
    return b.at(at) | (b.at(at + 1) << 8);
}
std::uint32_t get32(const Bytes& b, std::size_t at) {
    return get16(b, at) | (get16(b, at + 2) << 16);
}

std::size_t find(const Bytes& b, const Bytes& pattern) {
    const auto at = std::search(b.begin(), b.end(), pattern.begin(), pattern.end());
    if (at == b.end())
        throw std::runtime_error("pattern not in fixture");
    return std::size_t(at - b.begin());
}

// WAV (sox): the "fmt " record of a canonical 44-byte header.
void wavFormat(Bytes& b, std::uint32_t rate, std::uint32_t channels) {
    const std::uint32_t blockAlign = channels * 2;
    put16(b, 22, channels);
    put32(b, 24, rate);
    put32(b, 28, rate * blockAlign);
    put16(b, 32, blockAlign);
}

// Ogg pages carry a CRC over the page; a patched page gets its CRC again.
void fixOggCrc(Bytes& b, std::size_t page) {
    const std::size_t segments = b.at(page + 26);
    std::size_t length = 27 + segments;
    for (std::size_t i = 0; i < segments; ++i)
        length += b.at(page + 27 + i);
    put32(b, page + 22, 0);
    std::uint32_t crc = 0;
    for (std::size_t i = page; i < page + length; ++i) {
        crc ^= std::uint32_t(b[i]) << 24;
        for (int k = 0; k < 8; ++k)
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
    }
    put32(b, page + 22, crc);
}

// Ogg Vorbis (ffmpeg): the identification header's rate.
void oggRate(Bytes& b, std::uint32_t rate) {
    const std::size_t id = find(b, {0x01, 'v', 'o', 'r', 'b', 'i', 's'});
    put32(b, id + 12, rate);
    fixOggCrc(b, 0);
}

// FLAC (ffmpeg): STREAMINFO's 20-bit rate.
void flacRate(Bytes& b, std::uint32_t rate) {
    b.at(18) = std::uint8_t(rate >> 12);
    b.at(19) = std::uint8_t(rate >> 4);
    b.at(20) = std::uint8_t((rate & 0xF) << 4 | (b.at(20) & 0x0F));
}

// WMA (ffmpeg): the WAVEFORMATEX of the audio stream's properties.
void wmaFormat(Bytes& b, std::uint32_t rate, std::uint32_t channels) {
    const std::size_t format = find(b, {0x61, 0x01, 2, 0, 0x44, 0xAC, 0, 0});
    put16(b, format + 2, channels);
    put32(b, format + 4, rate);
}

// Monkey's Audio: the header after the descriptor (3.98 and later) or the old header.
void apeFormat(Bytes& b, std::uint32_t rate, std::uint32_t channels) {
    const std::size_t header = get16(b, 4) >= 3980 ? get32(b, 8) : 0;
    const std::size_t channelsAt = header != 0 ? header + 18 : 10;
    const std::size_t rateAt = header != 0 ? header + 20 : 12;
    if (channels != 0)
        put16(b, channelsAt, channels);
    if (rate != 0)
        put32(b, rateAt, rate);
}

struct AbsurdHeader {
    const char* name;    // the patched file's name
    const char* source;  // fixture, or a file of the shared test data under "ape/"
    std::function<void(Bytes&)> patch;
    // FFmpeg's APE demuxer refuses more than two channels itself: the reader's own message.
    const char* message = "cannot open file";
};

const AbsurdHeader kAbsurdHeaders[] = {
    {"channels65535.wma", "stereo.wma", [](Bytes& b) { wmaFormat(b, 44100, 65535); }},
    {"channels9.wma", "stereo.wma", [](Bytes& b) { wmaFormat(b, 44100, 9); }},
    {"rate1.wma", "stereo.wma", [](Bytes& b) { wmaFormat(b, 1, 2); }},
    {"rate7fffffff.ape", "ape/atl-v394.ape", [](Bytes& b) { apeFormat(b, 0x7FFFFFFF, 0); }},
    {"rate1.ape", "ape/atl-v394.ape", [](Bytes& b) { apeFormat(b, 1, 0); }},
    {"channels65535.ape", "ape/atl-v394.ape", [](Bytes& b) { apeFormat(b, 0, 65535); },
     "cannot open"},
    {"rate1.wav", "stereo.wav", [](Bytes& b) { wavFormat(b, 1, 2); }},
    {"rate999.wav", "stereo.wav", [](Bytes& b) { wavFormat(b, 999, 2); }},
    {"rate500000.wav", "stereo.wav", [](Bytes& b) { wavFormat(b, 500000, 2); }},
    {"channels9.wav", "stereo.wav", [](Bytes& b) { wavFormat(b, 44100, 9); }},
    {"rate1.ogg", "short.ogg", [](Bytes& b) { oggRate(b, 1); }},
    {"rate1.flac", "16bit.flac", [](Bytes& b) { flacRate(b, 1); }},
    {"rate999.flac", "16bit.flac", [](Bytes& b) { flacRate(b, 999); }},
};

std::string sourcePath(const std::string& source) {
    if (source.rfind("ape/", 0) == 0)
        return (testdataDir() / source).string();
    return fixture(source);
}

class AbsurdSource : public ::testing::TestWithParam<AbsurdHeader> {
protected:
    // The patched file in `dir`; skips when the source is not there.
    std::string make(const TempDir& dir) {
        const AbsurdHeader& c = GetParam();
        const std::string source = sourcePath(c.source);
        if (source.empty() || !std::filesystem::exists(source))
            return {};
        Bytes bytes = readFile(source);
        c.patch(bytes);
        const std::string path = dir.file(c.name);
        writeFile(path, bytes);
        return path;
    }
};

TEST_P(AbsurdSource, IsRefusedBeforeAnythingIsSizedByIt) {
    TempDir dir;
    const std::string path = make(dir);
    if (path.empty())
        GTEST_SKIP() << "no source for " << GetParam().name;
    for (int start : {0, 1}) {
        try {
            auto reader = start == 0 ? openReader(path) : openReaderAt(path, start);
            ADD_FAILURE() << "opened: " << reader->sampleRate() << " Hz, " << reader->channels()
                          << " channels";
        } catch (const ReaderException& e) {
            EXPECT_EQ(e.message(), GetParam().message);
        }
    }
}

// As a user meets it: one error line, quickly, no ringtone, and the next file still converted.
TEST_P(AbsurdSource, BatchFrontEndReportsItAndGoesOn) {
    if (!std::filesystem::exists(binDir() / "tolvane-convert"))
        GTEST_SKIP() << "tolvane-convert is not built";
    TempDir dir;
    const std::string path = make(dir);
    if (path.empty())
        GTEST_SKIP() << "no source for " << GetParam().name;
    TempDir out;
    const auto start = std::chrono::steady_clock::now();
    const CommandResult r = run({(binDir() / "tolvane-convert").string(), "-f", "wav-medium", "-o",
                                 out.path().string(), path, fixture("stereo.wav")});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.errors.find(std::string(GetParam().name) + ": " + GetParam().message + "."),
              std::string::npos)
        << r.errors;
    const std::string stem = std::filesystem::path(GetParam().name).stem().string();
    EXPECT_FALSE(std::filesystem::exists(out.path() / (stem + ".wav")));
    EXPECT_TRUE(std::filesystem::exists(out.path() / "stereo.wav"));
}

INSTANTIATE_TEST_SUITE_P(Headers, AbsurdSource, ::testing::ValuesIn(kAbsurdHeaders),
                         [](const auto& info) {
                             std::string name = info.param.name;
                             for (char& ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return name;
                         });

// A WAV header that states one second of 8000 Hz audio and ends there.
Bytes headerOnlyWav() {
    Bytes wav = wavBytes(8000, 1, 16, {});
    put32(wav, 40, 16000);
    put32(wav, 4, 16000 + 36);
    return wav;
}

// `flac` cut after its last metadata block: STREAMINFO states the length, no frame follows.
Bytes metadataOnly(Bytes flac) {
    std::size_t end = 4;
    for (bool last = false; !last;) {
        last = (flac.at(end) & 0x80) != 0;
        end += 4 + (std::size_t(flac.at(end + 1)) << 16 | flac.at(end + 2) << 8 | flac.at(end + 3));
    }
    flac.resize(end);
    return flac;
}

class EmptySource : public ::testing::TestWithParam<const char*> {};

// Every format: an error line "name: broken file.", no path on the output, no file left behind.
TEST_P(EmptySource, IsAnErrorLineAndNoRingtoneIsMade) {
    if (!std::filesystem::exists(binDir() / "tolvane-convert"))
        GTEST_SKIP() << "tolvane-convert is not built";
    TempDir dir;
    writeFile(dir.file("header.wav"), headerOnlyWav());
    writeFile(dir.file("metadata.flac"), metadataOnly(readFile(fixture("16bit.flac"))));
    for (const char* name : {"header.wav", "metadata.flac"}) {
        SCOPED_TRACE(name);
        TempDir out;
        const CommandResult r = run({(binDir() / "tolvane-convert").string(), "-f", GetParam(),
                                     "-o", out.path().string(), dir.file(name)});
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.errors.find(std::string(name) + ": broken file."), std::string::npos)
            << r.errors;
        EXPECT_EQ(r.output, "");
        EXPECT_TRUE(std::filesystem::is_empty(out.path()));
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, EmptySource,
                         ::testing::Values("wav-medium", "mp3-medium", "amr", "qcp"),
                         [](const auto& info) {
                             std::string name = info.param;
                             name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                             return name;
                         });

// A FLAC file whose STREAMINFO states one second in front of six seconds of frames: the ringtone
// of the whole file is as long as the file says it is (its second and the partial one after it),
// not as long as the frames behind the header go on.
TEST(OverstatedSource, TheRingtoneIsNoLongerThanTheSourceIsSaidToBe) {
    if (!std::filesystem::exists(binDir() / "tolvane-convert"))
        GTEST_SKIP() << "tolvane-convert is not built";
    TempDir dir;
    ASSERT_TRUE(makeTone(dir.file("music.wav"), 22050, 1, 16, 6.0, "pinknoise"));
    ASSERT_EQ(
        run({"ffmpeg", "-v", "error", "-i", dir.file("music.wav"), dir.file("one.flac")}).status,
        0);
    Bytes flac = readFile(dir.file("one.flac"));
    // 36-bit total samples: the low 4 bits of byte 21, then bytes 22 to 25.
    flac.at(21) &= 0xF0;
    const std::uint32_t stated = 22050;
    for (int i = 0; i < 4; ++i)
        flac.at(22 + i) = std::uint8_t(stated >> (24 - 8 * i));
    writeFile(dir.file("one.flac"), flac);
    ASSERT_EQ(durationOf(dir.file("one.flac")), 1);

    TempDir out;
    const CommandResult r = run({(binDir() / "tolvane-convert").string(), "-f", "wav-medium", "-o",
                                 out.path().string(), dir.file("one.flac")});
    ASSERT_EQ(r.status, 0) << r.errors;
    const double seconds = std::stod(probe((out.path() / "one.wav").string(), "duration"));
    EXPECT_LE(seconds, 2.0);
    EXPECT_GE(seconds, 1.0);
}

}  // namespace
}  // namespace tolvane::test
