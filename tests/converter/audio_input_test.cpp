// WAV and AIFF parsing, refusal codes, mix-down and rate conversion of the converter's input.
// Fixtures are made by sox at test time, or byte by byte for shapes sox will not write.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "converter/audio_source.h"
#include "converter/pcm_buffer.h"
#include "converter/rate_converter.h"
#include "support/test_support.h"

namespace kessin {
namespace {

using tolvane::test::readFile;
using tolvane::test::run;
using tolvane::test::TempDir;
using tolvane::test::wavBytes;
using Bytes = std::vector<std::uint8_t>;

int analyseBytes(const Bytes& bytes, bool aiff, PcmBuffer* out = nullptr) {
    PcmBuffer pcm;
    const int code = pcm.analyse(aiff, bytes.data(), bytes.size());
    if (out != nullptr)
        *out = pcm;
    return code;
}

// A file written by sox from a short sine; `options` are sox's output options.
Bytes soxFile(const TempDir& dir, const std::string& name, const std::vector<std::string>& options,
              double seconds = 0.1) {
    std::vector<std::string> argv = {"sox", "-D", "-n"};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), {dir.file(name), "synth", std::to_string(seconds), "sine", "440"});
    const auto result = run(argv);
    EXPECT_EQ(result.status, 0) << result.errors;
    return readFile(dir.file(name));
}

void putLe32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = std::uint8_t(v >> (8 * i));
}

TEST(ConverterInput, FilesMadeBySoxAreAcceptedOrRefusedWithTheirCode) {
    TempDir dir;
    const struct {
        const char* name;
        std::vector<std::string> options;
        bool aiff;
        int code;
        std::uint16_t channels;
        std::uint32_t rate;
    } cases[] = {
        {"mono16.wav", {"-r", "22050", "-c", "1", "-b", "16"}, false, kAnalysisOk, 1, 22050},
        {"stereo8.wav", {"-r", "8000", "-c", "2", "-b", "8"}, false, kAnalysisOk, 2, 8000},
        {"max.wav", {"-r", "48000", "-c", "1", "-b", "16"}, false, kAnalysisOk, 1, 48000},
        {"mono16.aif", {"-r", "11025", "-c", "1", "-b", "16"}, true, kAnalysisOk, 1, 11025},
        {"stereo8.aif", {"-r", "44100", "-c", "2", "-b", "8"}, true, kAnalysisOk, 2, 44100},
        // sox writes wider or multichannel WAV as WAVE_FORMAT_EXTENSIBLE, which is not PCM here.
        {"deep.wav", {"-r", "8000", "-c", "1", "-b", "24"}, false, kUnsupportedFormat, 0, 0},
        {"deep.aif", {"-r", "8000", "-c", "1", "-b", "24"}, true, kUnsupportedBits, 0, 0},
        {"three.aif", {"-r", "8000", "-c", "3", "-b", "16"}, true, kUnsupportedChannels, 0, 0},
        {"slow.wav", {"-r", "3999", "-c", "1", "-b", "16"}, false, kUnsupportedRate, 0, 0},
        {"fast.wav", {"-r", "48001", "-c", "1", "-b", "16"}, false, kUnsupportedRate, 0, 0},
        {"float.wav",
         {"-r", "8000", "-c", "1", "-e", "floating-point", "-b", "32"},
         false,
         kUnsupportedFormat,
         0,
         0},
        {"compressed.aifc",
         {"-r", "8000", "-c", "1", "-b", "16", "-t", "aifc"},
         true,
         kUnsupportedFormat,
         0,
         0},
        // The extension decides the parser, not the contents.
        {"wav-as-aiff.wav", {"-r", "8000", "-c", "1", "-b", "16"}, true, kUnsupportedFormat, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PcmBuffer pcm;
        ASSERT_EQ(analyseBytes(soxFile(dir, c.name, c.options), c.aiff, &pcm), c.code);
        if (c.code != kAnalysisOk)
            continue;
        EXPECT_EQ(pcm.info().channels, c.channels);
        EXPECT_EQ(pcm.info().sampleRate, c.rate);
        EXPECT_EQ(pcm.info().bitsPerSample, 16);
        EXPECT_EQ(pcm.info().frameCount, std::uint32_t(std::lround(0.1 * c.rate)));
        EXPECT_EQ(pcm.info().byteCount, pcm.info().frameCount * c.channels * 2u);
        EXPECT_EQ(pcm.samples().size(), std::size_t(pcm.info().frameCount) * c.channels);
    }
}

TEST(ConverterInput, WavAndAiffOfTheSameSignalGiveTheSameSamples) {
    TempDir dir;
    PcmBuffer wav, aiff;
    ASSERT_EQ(
        analyseBytes(soxFile(dir, "a.wav", {"-r", "8000", "-c", "2", "-b", "16"}), false, &wav), 0);
    ASSERT_EQ(
        analyseBytes(soxFile(dir, "a.aif", {"-r", "8000", "-c", "2", "-b", "16"}), true, &aiff), 0);
    EXPECT_EQ(wav.samples(), aiff.samples());
    // Some sample of a sine at -0 dB is well away from silence.
    EXPECT_GT(*std::max_element(wav.samples().begin(), wav.samples().end()), 20000);
}

TEST(ConverterInput, PlaytimeLimitIsTwentyMillisecondsExclusive) {
    const struct {
        std::size_t frames;
        int code;
    } cases[] = {{160, kShortPlaytime}, {161, kShortPlaytime}, {168, kAnalysisOk}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frames);
        EXPECT_EQ(analyseBytes(wavBytes(8000, 1, 16, Bytes(c.frames * 2, 0)), false), c.code);
    }
}

TEST(ConverterInput, PlainPcmOfUnsupportedShapeGetsItsOwnCode) {
    const struct {
        int channels, bits;
        int code;
    } cases[] = {
        {1, 12, kUnsupportedBits}, {1, 24, kUnsupportedBits}, {3, 16, kUnsupportedChannels}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bits);
        const std::size_t bytes = std::size_t(c.channels) * ((c.bits + 7) / 8) * 400;
        Bytes file = wavBytes(8000, c.channels, c.bits, Bytes(bytes, 0));
        file[32] = std::uint8_t(c.channels * ((c.bits + 7) / 8));  // 12 bits occupy two bytes
        EXPECT_EQ(analyseBytes(file, false), c.code);
    }
}

// An 8-bit mono 8000 Hz AIFF of `frames` bytes of `fill`, with its chunks in the order given.
Bytes aiffBytes(std::uint32_t frames, std::uint8_t fill, bool soundFirst,
                std::uint8_t commLength = 18) {
    // clang-format off
    Bytes comm = {'C', 'O', 'M', 'M', 0, 0, 0, commLength,
                  0, 1,                                       // channels
                  std::uint8_t(frames >> 24), std::uint8_t(frames >> 16),
                  std::uint8_t(frames >> 8), std::uint8_t(frames),
                  0, 8,                                       // bits
                  0x40, 0x0B, 0xFA, 0, 0, 0, 0, 0, 0, 0};     // 8000 as an 80-bit float
    // clang-format on
    comm.resize(8 + commLength, 0);
    const std::uint32_t soundLength = frames + 8;
    Bytes sound = {'S',
                   'S',
                   'N',
                   'D',
                   std::uint8_t(soundLength >> 24),
                   std::uint8_t(soundLength >> 16),
                   std::uint8_t(soundLength >> 8),
                   std::uint8_t(soundLength),
                   0,
                   0,
                   0,
                   0,
                   0,
                   0,
                   0,
                   0};
    sound.resize(sound.size() + frames, fill);
    if (frames & 1)
        sound.push_back(0);
    Bytes file = {'F', 'O', 'R', 'M', 0, 0, 0, 0, 'A', 'I', 'F', 'F'};
    const Bytes& first = soundFirst ? sound : comm;
    const Bytes& second = soundFirst ? comm : sound;
    file.insert(file.end(), first.begin(), first.end());
    file.insert(file.end(), second.begin(), second.end());
    const std::uint32_t form = std::uint32_t(file.size() - 8);
    for (int i = 0; i < 4; ++i)
        file[4 + i] = std::uint8_t(form >> (24 - 8 * i));
    return file;
}

TEST(ConverterInput, EightBitSilenceDiffersBetweenWavAndAiff) {
    PcmBuffer pcm;
    ASSERT_EQ(analyseBytes(wavBytes(8000, 1, 8, Bytes(400, 0x80)), false, &pcm), 0);
    EXPECT_EQ(pcm.samples()[0], 0);

    // AIFF bytes are signed: 0x80 is the most negative value. "SSND" may precede "COMM".
    for (const bool soundFirst : {false, true}) {
        ASSERT_EQ(analyseBytes(aiffBytes(400, 0x80, soundFirst), true, &pcm), 0);
        EXPECT_EQ(pcm.info().sampleRate, 8000u);
        EXPECT_EQ(pcm.info().frameCount, 400u);
        EXPECT_EQ(pcm.samples()[0], -32768);
    }
}

TEST(ConverterInput, MalformedAiffIsRefused) {
    Bytes shortSound = aiffBytes(400, 0, false);
    shortSound[24] = 0x03;  // COMM claims 912 frames; SSND holds 400
    const std::pair<const char*, Bytes> cases[] = {
        {"AIFF-C sized COMM", aiffBytes(400, 0, false, 22)},
        {"sound data shorter than COMM says", shortSound},
        {"FORM past the file",
         [] {
             Bytes b = aiffBytes(400, 0, false);
             b[5] = 0x10;
             return b;
         }()},
    };
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(analyseBytes(bytes, true), kUnsupportedFormat);
    }
}

TEST(ConverterInput, MalformedContainersAreRefused) {
    const Bytes good = wavBytes(8000, 1, 16, Bytes(800, 0));
    ASSERT_EQ(analyseBytes(good, false), 0);
    const std::size_t riffLength = 4, fmt = 12, dataLength = 40;

    std::vector<std::pair<const char*, Bytes>> cases;
    Bytes b = good;
    putLe32(b, riffLength, std::uint32_t(good.size()));  // RIFF runs past the file
    cases.emplace_back("riff past file", b);
    b = good;
    putLe32(b, dataLength, 802);  // data runs past RIFF
    cases.emplace_back("data past riff", b);
    b = good;
    b[fmt + 8] = 3;  // format tag: float
    cases.emplace_back("not pcm", b);
    b = good;
    b[fmt + 10] = 0;  // zero channels
    cases.emplace_back("zero channels", b);
    b = good;
    b[fmt + 20] = 3;  // block align 3 for 16-bit mono
    cases.emplace_back("block align", b);
    b = good;
    std::copy_n("WAVX", 4, b.begin() + 8);
    cases.emplace_back("not wave", b);
    b = Bytes(good.begin(), good.begin() + 30);
    cases.emplace_back("truncated fmt", b);
    cases.emplace_back("empty", Bytes{});
    // "data" before "fmt ": not found after it.
    b = Bytes(good.begin(), good.begin() + 12);
    b.insert(b.end(), good.begin() + 36, good.end());
    b.insert(b.end(), good.begin() + 12, good.begin() + 36);
    cases.emplace_back("data before fmt", b);
    for (const auto& [name, bytes] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(analyseBytes(bytes, false), kUnsupportedFormat);
        EXPECT_EQ(analyseBytes(bytes, true), kUnsupportedFormat);
    }
}

// Header fields no real file has: each is refused with a code, none may divide by zero or
// size an allocation from the header alone.
TEST(ConverterInput, AbsurdHeaderFieldsAreRefusedWithTheirCode) {
    const std::size_t fmt = 12;
    const auto wav = [&](std::uint16_t channels, std::uint32_t rate, std::uint16_t blockAlign,
                         std::uint16_t bits) {
        Bytes b = wavBytes(8000, 1, 16, Bytes(800, 0));
        b[fmt + 10] = std::uint8_t(channels), b[fmt + 11] = std::uint8_t(channels >> 8);
        putLe32(b, fmt + 12, rate);
        b[fmt + 20] = std::uint8_t(blockAlign), b[fmt + 21] = std::uint8_t(blockAlign >> 8);
        b[fmt + 22] = std::uint8_t(bits), b[fmt + 23] = std::uint8_t(bits >> 8);
        return b;
    };
    // COMM fields of an otherwise sound 400-frame AIFF.
    const std::size_t comm = 20;
    const auto aiff = [&](std::uint16_t channels, std::uint32_t frames, std::uint16_t bits,
                          std::array<std::uint8_t, 10> rate) {
        Bytes b = aiffBytes(400, 0, false);
        b[comm] = std::uint8_t(channels >> 8), b[comm + 1] = std::uint8_t(channels);
        for (int i = 0; i < 4; ++i)
            b[comm + 2 + i] = std::uint8_t(frames >> (24 - 8 * i));
        b[comm + 6] = std::uint8_t(bits >> 8), b[comm + 7] = std::uint8_t(bits);
        std::copy(rate.begin(), rate.end(), b.begin() + comm + 8);
        return b;
    };
    const std::array<std::uint8_t, 10> rate8000 = {0x40, 0x0B, 0xFA, 0, 0, 0, 0, 0, 0, 0};
    const struct {
        const char* name;
        Bytes bytes;
        bool isAiff;
        int code;
    } cases[] = {
        {"0 bits, block align 0", wav(1, 8000, 0, 0), false, kUnsupportedFormat},
        {"0 bits, 65535 channels, block align 0", wav(65535, 8000, 0, 0), false,
         kUnsupportedFormat},
        {"65535 channels of 8 bits", wav(65535, 8000, 65535, 8), false, kUnsupportedChannels},
        {"65535 bits", wav(1, 8000, 8192, 65535), false, kUnsupportedBits},
        {"rate 0", wav(1, 0, 2, 16), false, kUnsupportedRate},
        {"rate 1", wav(1, 1, 2, 16), false, kUnsupportedRate},
        {"rate 2^32 - 1", wav(1, 0xFFFFFFFF, 2, 16), false, kUnsupportedRate},
        {"AIFF 0 channels", aiff(0, 400, 8, rate8000), true, kUnsupportedFormat},
        {"AIFF 0 bits", aiff(1, 400, 0, rate8000), true, kUnsupportedFormat},
        {"AIFF 65535 channels, 2^32 - 1 frames", aiff(65535, 0xFFFFFFFF, 32, rate8000), true,
         kUnsupportedFormat},
        {"AIFF 65535 channels fitting the data", aiff(65535, 0, 8, rate8000), true,
         kUnsupportedChannels},
        {"AIFF no frames", aiff(1, 0, 8, rate8000), true, kShortPlaytime},
        {"AIFF rate NaN", aiff(1, 400, 8, {0x7F, 0xFF, 0xC0, 0, 0, 0, 0, 0, 0, 1}), true,
         kUnsupportedFormat},
        {"AIFF rate 2^16383", aiff(1, 400, 8, {0x7F, 0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0}), true,
         kUnsupportedFormat},
        {"AIFF rate denormal", aiff(1, 400, 8, {0, 0, 0, 0, 0, 0, 0, 0, 0, 1}), true,
         kUnsupportedFormat},
        {"AIFF rate 1", aiff(1, 400, 8, {0x3F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0}), true,
         kUnsupportedRate},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(analyseBytes(c.bytes, c.isAiff), c.code);
    }
}

TEST(ConverterInput, OddChunkBetweenFormatAndDataIsSkippedWithItsPad) {
    const Bytes good = wavBytes(8000, 1, 16, Bytes(800, 0));
    Bytes b(good.begin(), good.begin() + 36);
    const Bytes odd = {'n', 'o', 't', 'e', 3, 0, 0, 0, 'a', 'b', 'c', 0};
    b.insert(b.end(), odd.begin(), odd.end());
    b.insert(b.end(), good.begin() + 36, good.end());
    putLe32(b, 4, std::uint32_t(b.size() - 8));
    PcmBuffer pcm;
    ASSERT_EQ(analyseBytes(b, false, &pcm), 0);
    EXPECT_EQ(pcm.info().frameCount, 400u);
}

TEST(ConverterInput, AiffRateFromExtendedFloat) {
    const struct {
        std::uint8_t bytes[10];
        std::uint32_t rate;
    } cases[] = {
        {{0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0}, 44100},
        {{0x40, 0x0B, 0xFA, 0, 0, 0, 0, 0, 0, 0}, 8000},
        {{0x3F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0}, 1},
        {{0xC0, 0x0B, 0xFA, 0, 0, 0, 0, 0, 0, 0}, 0},  // negative
        {{0x7F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0}, 0},  // infinity / NaN
        {{0x40, 0x3E, 0x80, 0, 0, 0, 0, 0, 0, 0}, 0},  // 2^63: too large
        {{0x3F, 0xFE, 0x80, 0, 0, 0, 0, 0, 0, 0}, 0},  // 0.5
    };
    for (const auto& c : cases)
        EXPECT_EQ(extendedToRate(c.bytes), c.rate);
}

TEST(ConverterInput, DownmixHalvesEachChannelBeforeAdding) {
    PcmBuffer pcm;
    pcm.assign(8000, 2, {1001, 1002, -3, -4, 32767, 32767, -32768, -32768});
    EXPECT_EQ(pcm.downmix(), 0);
    EXPECT_EQ(pcm.info().channels, 1);
    EXPECT_EQ(pcm.info().byteCount, 8u);
    EXPECT_EQ(pcm.samples(), (std::vector<std::int16_t>{1001, -3, 32766, -32768}));
}

// The interpolation formula written out directly, in double precision.
double reference(const std::vector<std::int16_t>& in, long l, long m, int taps, double fc,
                 std::size_t k) {
    const double pi = std::numbers::pi;
    const long position = long(k * m / l);
    const long phase = long(k * m % l);
    double sum = 0;
    for (int i = 0; i < taps; ++i) {
        const long index = position - taps / 2 + 1 + i;
        if (index < 0 || index >= long(in.size()))
            continue;
        const long a = (i - taps / 2 + 1) * l - phase;
        double h = 2 * fc;
        if (a != 0) {
            const double t = double(a) / l, x = 2 * pi * fc * t, w = t / taps;
            h = 2 * fc * std::sin(x) / x *
                (0.42 - 0.5 * std::cos(2 * pi * (w + 0.5)) + 0.08 * std::cos(4 * pi * (w + 0.5)));
        }
        sum += h * in[std::size_t(index)];
    }
    return sum;
}

TEST(RateConverter, FollowsTheWindowedSincFormula) {
    std::vector<std::int16_t> in(1000);
    for (std::size_t i = 0; i < in.size(); ++i)
        in[i] = std::int16_t(12000 * std::sin(i * 0.05) + 9000 * std::sin(i * 1.3));
    const struct {
        int from;
        bool table;
        long l, m;
    } cases[] = {{44100, true, 80, 441}, {44101, false, 8000, 44101}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from);
        RateConverter converter;
        ASSERT_EQ(converter.setup(in.data(), in.size(), c.from, 8000, 256), 0);
        EXPECT_EQ(converter.upFactor(), c.l);
        EXPECT_EQ(converter.downFactor(), c.m);
        EXPECT_EQ(converter.usesTable(), c.table);
        std::vector<std::int16_t> out(400);
        const long n = converter.read(out.data(), out.size());
        const long expected = long(std::ceil(1000.0 * 8000 / c.from));
        EXPECT_EQ(n, expected);
        const double fc = 0.5 * 8000 / c.from;
        for (long k = 0; k < n; ++k) {
            // sum + 0.5 truncated toward zero; the table holds floats, so allow one step.
            const double sum = reference(in, c.l, c.m, 256, fc, std::size_t(k));
            const double want = std::clamp(std::trunc(sum + 0.5), -32767.0, 32767.0);
            ASSERT_NEAR(out[std::size_t(k)], want, 1.01) << k;
        }
    }
}

TEST(RateConverter, SetupRefusesUnusableParametersAndClampsSymmetrically) {
    const std::int16_t one = 0;
    RateConverter converter;
    EXPECT_EQ(converter.setup(&one, 1, 8000, 0, 256), -1);
    EXPECT_EQ(converter.setup(&one, 1, 8000, 1000001, 256), -1);
    EXPECT_EQ(converter.setup(&one, 1, 8000, 4000, 1), -1);

    // Full-scale negative input overshoots; the output stops at -32767, never -32768.
    std::vector<std::int16_t> in(400, -32768);
    for (std::size_t i = 0; i < in.size(); i += 2)
        in[i] = 32767;
    ASSERT_EQ(converter.setup(in.data(), in.size(), 4000, 8000, 256), 0);
    std::vector<std::int16_t> out(800);
    ASSERT_EQ(converter.read(out.data(), out.size()), 800);
    EXPECT_EQ(*std::min_element(out.begin(), out.end()), -32767);
}

TEST(ConverterInput, ResampleSetsTheNewFrameCount) {
    PcmBuffer pcm;
    pcm.assign(44100, 1, std::vector<std::int16_t>(1000, 100));
    ASSERT_EQ(pcm.resample(8000, 256), 0);
    EXPECT_EQ(pcm.info().sampleRate, 8000u);
    EXPECT_EQ(pcm.info().frameCount, 182u);
    EXPECT_EQ(pcm.info().byteCount, 364u);

    PcmBuffer same;
    same.assign(8000, 1, {1, 2, 3});
    ASSERT_EQ(same.resample(8000, 256), 0);
    EXPECT_EQ(same.samples(), (std::vector<std::int16_t>{1, 2, 3}));
}

}  // namespace
}  // namespace kessin
