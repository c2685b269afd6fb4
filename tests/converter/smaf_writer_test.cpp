// ADPCM codes, check codes, CRC and the SMAF file image, against worked examples of the format.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "converter/adpcm_encoder.h"
#include "converter/smaf_writer.h"
#include "support/test_support.h"

namespace kessin {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes encode(const PcmBuffer& pcm, const SmafOptions& options) {
    Bytes out(1 << 20);
    const std::int32_t n = encodeSmaf(pcm, options, out.data(), out.size());
    EXPECT_GE(n, 0);
    out.resize(std::size_t(std::max(n, 0)));
    return out;
}

PcmBuffer silence(std::uint32_t rate, std::size_t frames) {
    PcmBuffer pcm;
    pcm.assign(rate, 1, std::vector<std::int16_t>(frames, 0));
    return pcm;
}

std::uint32_t be32(const Bytes& b, std::size_t at) {
    return std::uint32_t(b[at]) << 24 | std::uint32_t(b[at + 1]) << 16 |
           std::uint32_t(b[at + 2]) << 8 | b[at + 3];
}

std::size_t find(const Bytes& b, std::string_view what) {
    const auto it = std::search(b.begin(), b.end(), what.begin(), what.end(),
                                [](std::uint8_t x, char y) { return x == std::uint8_t(y); });
    return it == b.end() ? std::string::npos : std::size_t(it - b.begin());
}

// The "Atsq" chunk's data.
Bytes sequenceOf(const Bytes& image) {
    const std::size_t at = find(image, "Atsq");
    EXPECT_NE(at, std::string::npos);
    const std::uint32_t length = be32(image, at + 4);
    return Bytes(image.begin() + long(at + 8), image.begin() + long(at + 8 + length));
}

TEST(AdpcmEncoder, CodesStatesAndPackingOfTheWorkedExample) {
    const std::int16_t samples[] = {0, 1000, 3000, -2000, -2000, 500};
    const struct {
        std::uint8_t code;
        std::int32_t predictor;
        std::int32_t step;
    } expected[] = {{0x0, 15, 127},    {0x7, 253, 304},    {0x7, 823, 729},
                    {0xF, -543, 1748}, {0xB, -2072, 1570}, {0x6, 479, 3140}};
    AdpcmEncoder encoder;
    for (std::size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(encoder.encodeSample(samples[i]), expected[i].code);
        EXPECT_EQ(encoder.predictor(), expected[i].predictor);
        EXPECT_EQ(encoder.step(), expected[i].step);
    }
    std::uint8_t bytes[3] = {0xEE, 0xEE, 0xEE};
    AdpcmEncoder fresh;
    fresh.encode(samples, bytes, 6);
    EXPECT_EQ(bytes[0], 0x70);
    EXPECT_EQ(bytes[1], 0xF7);
    EXPECT_EQ(bytes[2], 0x6B);
}

// Speech (espeak-ng) and music with noise (sox) through the converter's own input, mix-down,
// rate conversion and SMAF writer, then decoded by FFmpeg: the decoder lands on the encoder's
// predictor at every sample, so nothing drifts however long the ringtone is.
TEST(AdpcmEncoder, IndependentDecoderFollowsThePredictorExactly) {
    tolvane::test::TempDir dir;
    const std::string speech = dir.file("speech.wav"), music = dir.file("music.wav");
    ASSERT_EQ(tolvane::test::run({"espeak-ng", "-w", speech,
                                  "Your phone is ringing. Somebody wants to talk to you."})
                  .status,
              0);
    ASSERT_EQ(
        tolvane::test::run({"sox",   "-D",  "-r",        "44100", "-c",    "2",  "-n",    "-b",
                            "16",    music, "synth",     "12",    "pluck", "C3", "pluck", "G3",
                            "synth", "12",  "pinknoise", "mix",   "gain",  "-n", "-1"})
            .status,
        0);
    for (const auto& [path, rate] : {std::pair{speech, 8000}, {music, 8000}, {music, 4000}}) {
        SCOPED_TRACE(path + " at " + std::to_string(rate));
        const Bytes file = tolvane::test::readFile(path);
        PcmBuffer pcm;
        ASSERT_EQ(pcm.analyse(false, file.data(), file.size()), kAnalysisOk);
        ASSERT_EQ(pcm.downmix(), 0);
        ASSERT_EQ(pcm.resample(rate, 256), 0);
        const std::string mmf = dir.file("out.mmf");
        tolvane::test::writeFile(mmf, encode(pcm, SmafOptions{}));

        const auto decoded = tolvane::test::decodeWithFfmpeg(mmf);
        ASSERT_EQ(decoded.size(), pcm.info().frameCount);
        AdpcmEncoder encoder;
        std::size_t mismatches = 0, first = 0;
        for (std::size_t i = 0; i < decoded.size(); ++i) {
            encoder.encodeSample(pcm.samples()[i]);
            if (encoder.predictor() != decoded[i] && mismatches++ == 0)
                first = i;
        }
        EXPECT_EQ(mismatches, 0u) << "first at sample " << first;
    }
}

TEST(AdpcmEncoder, StateStaysInItsBoundsAndOddCountsLeaveTheHighNibbleEmpty) {
    AdpcmEncoder encoder;
    // Long full-scale swings: the step tops out, the predictor saturates instead of wrapping.
    for (int i = 0; i < 200; ++i) {
        encoder.encodeSample(i % 2 ? 32767 : -32768);
        ASSERT_LE(encoder.step(), AdpcmEncoder::kMaxStep);
        ASSERT_GE(encoder.predictor(), -32768);
        ASSERT_LE(encoder.predictor(), 32767);
    }
    for (int i = 0; i < 100; ++i)
        encoder.encodeSample(32767);
    EXPECT_EQ(encoder.predictor(), 32767);
    // Equal samples shrink the step to its floor and alternate the sign around the value.
    for (int i = 0; i < 400; ++i)
        encoder.encodeSample(0);
    EXPECT_EQ(encoder.step(), AdpcmEncoder::kInitialStep);
    EXPECT_NE(encoder.encodeSample(0) & 8, encoder.encodeSample(0) & 8);

    const std::int16_t three[] = {0, 0, 0};
    std::uint8_t out[2] = {0xFF, 0xFF};
    AdpcmEncoder fresh;
    fresh.encode(three, out, 3);
    EXPECT_EQ(out[1] & 0xF0, 0);
}

TEST(SmafChecks, CrcAndCheckCodeOfTheStandardString) {
    const std::string check = "123456789";
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(check.data());
    EXPECT_EQ(crc16(bytes, check.size()), 0xD64E);
    EXPECT_EQ(checkCode(bytes, check.size()), "74");
}

TEST(SmafWriter, CompleteSmallFileMatchesByteForByte) {
    SmafOptions options;
    options.setText(SmafOptions::kTitleSlot, "x");
    options.setText(SmafOptions::kDateSlot, "20061206");
    const Bytes image = encode(silence(8000, 169), options);

    ASSERT_EQ(image.size(), 218u);
    EXPECT_EQ(std::string(image.begin(), image.begin() + 4), "MMMD");
    EXPECT_EQ(be32(image, 4), 210u);
    EXPECT_EQ(std::string(image.begin() + 8, image.begin() + 12), "CNTI");
    EXPECT_EQ(be32(image, 12), 47u);
    const Bytes header(image.begin() + 16, image.begin() + 21);
    EXPECT_EQ(header, (Bytes{0x00, 0x01, 0x23, 0x00, 0x00}));
    const std::string info(image.begin() + 21, image.begin() + 63);
    EXPECT_EQ(info, std::string("K7:\0,ST:x,CD:20061206,A0:KS21E6,A2:KS21CC,", 42));

    EXPECT_EQ(std::string(image.begin() + 63, image.begin() + 67), std::string("ATR\0", 4));
    EXPECT_EQ(be32(image, 67), 145u);
    EXPECT_EQ(Bytes(image.begin() + 71, image.begin() + 77), (Bytes{0, 0, 0x11, 0, 2, 2}));
    const std::size_t seek = 77;
    EXPECT_EQ(std::string(image.begin() + long(seek), image.begin() + long(seek) + 4), "AspI");
    EXPECT_EQ(be32(image, seek + 4), 16u);
    EXPECT_EQ(be32(image, seek + 19), 10u);  // "sp:" offset
    EXPECT_EQ(sequenceOf(image), (Bytes{1, 0, 0x37, 0x7F, 1, 1, 6, 7, 0xFF, 0, 0, 0, 0, 0}));

    const std::size_t wave = find(image, std::string_view("Awa\x01", 4));
    ASSERT_NE(wave, std::string::npos);
    EXPECT_EQ(be32(image, wave + 4), 85u);
    for (std::size_t i = 0; i < 84; ++i)
        ASSERT_EQ(image[wave + 8 + i], 0x80) << i;
    EXPECT_EQ(image[wave + 8 + 84], 0x00);
    EXPECT_EQ(image[216], 0x96);
    EXPECT_EQ(image[217], 0xAD);
}

TEST(SmafWriter, PlayLengthAndItsDurationForm) {
    const struct {
        std::uint32_t rate;
        std::size_t frames;
        Bytes durations;  // T then T + 1
        std::uint8_t rateByte;
    } cases[] = {
        {8000, 8000, {0x80, 0x7A, 0x80, 0x7B}, 0x11},  // 1 s: T = 250
        {8000, 4040, {0x7F, 0x80, 0x00}, 0x11},        // T = 127, T + 1 = 128
        {4000, 4000, {0x80, 0x7A, 0x80, 0x7B}, 0x10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.frames);
        const Bytes image = encode(silence(c.rate, c.frames), SmafOptions{});
        Bytes expected{1, 0, 0x37, 0x7F, 1, 1};
        expected.insert(expected.end(), c.durations.begin(), c.durations.end());
        expected.insert(expected.end(), {0xFF, 0, 0, 0, 0, 0});
        EXPECT_EQ(sequenceOf(image), expected);
        const std::size_t track = find(image, std::string_view("ATR\0", 4));
        EXPECT_EQ(image[track + 10], c.rateByte);
    }
    // One second at 8000 Hz: a 4070-byte track.
    const Bytes second = encode(silence(8000, 8000), SmafOptions{});
    EXPECT_EQ(be32(second, find(second, std::string_view("ATR\0", 4)) + 4), 4062u);
}

TEST(SmafWriter, LongInputIsCutTo66Seconds) {
    const Bytes image = encode(silence(4000, 70 * 4000), SmafOptions{});
    const Bytes sequence = sequenceOf(image);
    EXPECT_EQ(Bytes(sequence.begin() + 6, sequence.begin() + 8), (Bytes{0xFF, 0x7E}));
    const std::size_t wave = find(image, std::string_view("Awa\x01", 4));
    EXPECT_EQ(be32(image, wave + 4), 132080u);
}

TEST(SmafWriter, OptionValuesAreEscapedCutAndConverted) {
    const struct {
        std::string title;
        std::string expected;  // the "ST" option as written
    } cases[] = {
        {"a,b\\c", "ST:a\\,b\\\\c,"},
        {std::string(300, 'q'), "ST:" + std::string(256, 'q') + ","},
        {[] {
             std::string s;
             for (int i = 0; i < 256; ++i)
                 s += "\xC3\xA9";      // é: two bytes each
             return s.substr(0, 256);  // the slot keeps 256 bytes
         }(),
         [] {
             std::string s = "ST:";
             for (int i = 0; i < 128; ++i)
                 s += "\xC3\xA9";
             return s + ",";
         }()},
        {"\xF0\x9F\x8E\xB5", "ST:\xED\xA0\xBC\xED\xBE\xB5,"},  // surrogates one by one
        {"\xFF\xFE", "ST:,"},                                  // not convertible: empty value
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected.substr(0, 20));
        SmafOptions options;
        options.setText(SmafOptions::kTitleSlot, c.title);
        const Bytes image = encode(silence(8000, 200), options);
        EXPECT_NE(find(image, c.expected), std::string::npos);
    }
    // Escapes are not counted: 255 letters and a comma still fit, the next letter does not.
    SmafOptions options;
    options.setText(SmafOptions::kTitleSlot, std::string(254, 'q') + ",zz");
    const Bytes image = encode(silence(8000, 200), options);
    EXPECT_NE(find(image, "ST:" + std::string(254, 'q') + "\\,z,"), std::string::npos);
}

TEST(SmafWriter, EmptySlotsAndCopyStatusBits) {
    SmafOptions options;
    options.copyStatus = 0xFF;
    const Bytes image = encode(silence(8000, 200), options);
    EXPECT_EQ(image[19], 0x03);
    EXPECT_EQ(find(image, "ST:"), std::string::npos);
    EXPECT_EQ(find(image, "CR:"), std::string::npos);
    options.setText(SmafOptions::kCopyrightSlot, "me");
    EXPECT_NE(find(encode(silence(8000, 200), options), "CR:me,"), std::string::npos);
}

TEST(SmafWriter, CheckCodesCoverTheirChunks) {
    SmafOptions options;
    options.setText(SmafOptions::kTitleSlot, "song");
    const Bytes image = encode(silence(8000, 1000), options);
    const std::size_t cnti = 8;
    const std::size_t track = find(image, std::string_view("ATR\0", 4));
    // A2 is computed with both codes still "00".
    Bytes contents(image.begin() + long(cnti), image.begin() + long(track));
    const std::size_t a0 = find(contents, "A0:KS21") + 7;
    const std::size_t a2 = find(contents, "A2:KS21") + 7;
    const std::string a0Code(contents.begin() + long(a0), contents.begin() + long(a0) + 2);
    const std::string a2Code(contents.begin() + long(a2), contents.begin() + long(a2) + 2);
    contents[a0] = contents[a0 + 1] = contents[a2] = contents[a2 + 1] = '0';
    EXPECT_EQ(checkCode(contents.data(), contents.size()), a2Code);
    EXPECT_EQ(checkCode(image.data() + track, image.size() - 2 - track), a0Code);
    // The CRC closes the file, over everything before it, length field included.
    EXPECT_EQ(crc16(image.data(), image.size() - 2), image[image.size() - 2] << 8 | image.back());
}

TEST(SmafWriter, RefusesTooSmallDestinationAndMissingSamples) {
    const PcmBuffer pcm = silence(8000, 169);
    const Bytes image = encode(pcm, SmafOptions{});
    Bytes destination(image.size() - 1, 0x5A);
    EXPECT_EQ(encodeSmaf(pcm, SmafOptions{}, destination.data(), destination.size()),
              kSmafTooLarge);
    EXPECT_TRUE(
        std::all_of(destination.begin(), destination.end(), [](auto b) { return b == 0x5A; }));
    EXPECT_EQ(encodeSmaf(silence(8000, 0), SmafOptions{}, destination.data(), destination.size()),
              kSmafNoSamples);
}

}  // namespace
}  // namespace kessin
