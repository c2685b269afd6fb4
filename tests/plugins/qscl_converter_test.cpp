// qscl.so's converter: identifiers and format records, WAV input checks, and I/O failures,
// through an in-memory I/O function.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "plugins/qscl/qcp_file.h"
#include "qscl_support.h"
#include "support/test_support.h"

namespace tolvane::test {
namespace {

std::vector<std::uint8_t> pcmBytes(std::size_t samples) {
    std::vector<std::uint8_t> data(samples * 2);
    for (std::size_t i = 0; i < samples; ++i) {
        const auto v = static_cast<std::int16_t>(3000.0 * std::sin(0.3 * static_cast<double>(i)));
        data[2 * i] = static_cast<std::uint8_t>(v);
        data[2 * i + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(v) >> 8);
    }
    return data;
}

std::uint32_t le32At(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (std::uint32_t{b[at + 3]} << 24);
}

TEST(QsclLibrary, CreatesItsConverterOnlyForItsIdentifiers) {
    const auto create = qsclEntry();
    ASSERT_NE(create, nullptr);
    qscl::Converter* converter = create(&qscl::kConverterClass, &qscl::kConverterInterface);
    ASSERT_NE(converter, nullptr);
    converter->release();
    EXPECT_EQ(create(&qscl::kConverterInterface, &qscl::kConverterClass), nullptr);
    EXPECT_EQ(create(&qscl::kConverterClass, &qscl::kOutputFormatCodec), nullptr);
    EXPECT_EQ(create(nullptr, &qscl::kConverterInterface), nullptr);
}

TEST(QsclConverter, RefusesUnexpectedDescriptorsAndFormatRecords) {
    struct Case {
        const char* name;
        void (*spoil)(qscl::StreamDescriptor&, qscl::InputFormat&, qscl::OutputFormat&);
    };
    const Case cases[] = {
        {"input rate", [](auto&, auto& in, auto&) { in.sampleRate = 16000; }},
        {"input bits", [](auto&, auto& in, auto&) { in.bitsPerSample = 8; }},
        {"input identifier", [](auto&, auto& in, auto&) { in.first.data1 ^= 1; }},
        {"codec identifier", [](auto&, auto&, auto& out) { out.second.data4[7] ^= 1; }},
        {"stream kind", [](auto& d, auto&, auto&) { d.kind = 1; }},
        {"no I/O function", [](auto& d, auto&, auto&) { d.io = nullptr; }},
    };
    for (const Case& c : cases) {
        MemoryFile input{wavBytes(8000, 1, 16, pcmBytes(800))}, output;
        auto in = input.descriptor(), out = output.descriptor();
        auto inFormat = standardInputFormat();
        auto outFormat = standardOutputFormat();
        c.spoil(in, inFormat, outFormat);
        qscl::Converter* converter =
            qsclEntry()(&qscl::kConverterClass, &qscl::kConverterInterface);
        EXPECT_EQ(converter->convert(&in, &inFormat, &out, &outFormat, 0, 0), qscl::kBadArguments)
            << c.name;
        converter->release();
        EXPECT_TRUE(output.bytes.empty()) << c.name;
    }
}

TEST(QsclConverter, RefusesWavFilesOfOtherShapes) {
    std::vector<std::uint8_t> noData = wavBytes(8000, 1, 16, {});
    noData.resize(noData.size() - 8);  // drop the "data" chunk header
    noData[4] = static_cast<std::uint8_t>(noData.size() - 8);
    const struct {
        const char* name;
        std::vector<std::uint8_t> bytes;
    } cases[] = {
        {"44100 Hz", wavBytes(44100, 1, 16, pcmBytes(800))},
        {"stereo", wavBytes(8000, 2, 16, pcmBytes(800))},
        {"8-bit", wavBytes(8000, 1, 8, std::vector<std::uint8_t>(800, 128))},
        {"not RIFF", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '!', 0, 0, 0, 0}},
        {"empty file", {}},
        {"no data chunk", noData},
    };
    for (const auto& c : cases) {
        MemoryFile input{c.bytes}, output{{1, 2, 3}};
        EXPECT_EQ(convertWithQscl(input, output), qscl::kBadInput) << c.name;
        EXPECT_TRUE(output.bytes.empty()) << c.name << ": no half-written file is left";
    }
}

TEST(QsclConverter, EncodesWhatIsThereOfATruncatedOrEmptyWav) {
    struct Case {
        const char* name;
        std::size_t bytesPresent;  // of samples in the file
        std::size_t claimed;       // samples in the data chunk's size
        std::uint32_t packets;
    };
    const Case cases[] = {
        {"empty", 0, 0, 0},
        {"one sample", 2, 1, 1},
        {"exactly two frames", 640, 320, 2},
        {"cut short", 1000, 8000, 4},
        {"half a sample missing", 321, 161, 1},
    };
    for (const Case& c : cases) {
        std::vector<std::uint8_t> wav = wavBytes(8000, 1, 16, pcmBytes(c.claimed));
        wav.resize(44 + c.bytesPresent);
        MemoryFile input{wav}, output{std::vector<std::uint8_t>(5000, 0xEE)};
        ASSERT_EQ(convertWithQscl(input, output), qscl::kConverted) << c.name;
        EXPECT_EQ(output.bytes.size(), qcelp::qcpFileSize(c.packets)) << c.name;
        EXPECT_EQ(le32At(output.bytes, 182), c.packets) << c.name;
        EXPECT_EQ(le32At(output.bytes, 4), output.bytes.size() - 8) << c.name;
        for (std::uint32_t p = 0; p < c.packets; ++p)
            EXPECT_EQ(output.bytes[194 + 35 * p], qcelp::kFullRateCode) << c.name;
    }
}

TEST(QsclConverter, FailingIoEndsInAFailureAndAnEmptyTarget) {
    struct Case {
        const char* name;
        long failReadsAfter;
        long failWritesAfter;
        std::int32_t result;
    };
    const Case cases[] = {
        {"read fails in the header", 20, -1, qscl::kReadFailed},
        {"read fails in the samples", 10000, -1, qscl::kReadFailed},
        {"write fails in the header", -1, 100, qscl::kWriteFailed},
        {"write fails in the packets", -1, 3000, qscl::kWriteFailed},
    };
    for (const Case& c : cases) {
        MemoryFile input{wavBytes(8000, 1, 16, pcmBytes(16000))}, output;
        input.failReadsAfter = c.failReadsAfter;
        output.failWritesAfter = c.failWritesAfter;
        EXPECT_EQ(convertWithQscl(input, output), c.result) << c.name;
        EXPECT_TRUE(output.bytes.empty()) << c.name;
    }
}

}  // namespace
}  // namespace tolvane::test
