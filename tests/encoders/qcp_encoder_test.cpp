// CQCPEncoder: PCM through a temporary WAV file and qscl.so into a QCP ringtone, the library
// loaded once per process, and every failure with its message and nothing left behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>

#include "encoders/qcp_encoder.h"
#include "encoders/ringtone_formats.h"
#include "pipeline/app_exception.h"
#include "pipeline/encoder.h"
#include "platform/paths.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace tolvane {
namespace {

using test::TempDir;

std::vector<std::int16_t> toneSamples(int rate, int channels, double seconds) {
    std::vector<std::int16_t> s(static_cast<std::size_t>(rate * seconds) * channels);
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double t = static_cast<double>(i / channels) / rate;
        s[i] = static_cast<std::int16_t>(6000.0 * std::sin(2.0 * M_PI * 330.0 * t) +
                                         2000.0 * std::sin(2.0 * M_PI * 990.0 * t));
    }
    return s;
}

void writeInPieces(CEncoder& encoder, const std::vector<std::int16_t>& samples) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(samples.data());
    const std::size_t total = samples.size() * 2;
    for (std::size_t at = 0; at < total; at += 7000)
        encoder.write(bytes + at, std::min<std::size_t>(7000, total - at));
}

// Files the encoder may have left in the temporary folder.
std::vector<std::string> temporaryLeftovers() {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(platform::temporaryFolder()))
        if (e.path().filename().string().rfind("RCM", 0) == 0)
            found.push_back(e.path().string());
    return found;
}

std::string messageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EncoderException& e) {
        return e.message();
    }
    return "(no exception)";
}

QsclLibrary& stubLibrary(const std::string& kind) {
    static std::map<std::string, std::unique_ptr<QsclLibrary>> libraries;
    auto& slot = libraries[kind];
    if (!slot)
        slot = std::make_unique<QsclLibrary>(
            [kind] { return std::string(QSCL_STUBS_DIR "/") + kind; });
    return *slot;
}

class QcpEncoderTest : public ::testing::Test {
protected:
    void SetUp() override { resetConvertedQuestionForTesting(); }
    TempDir dir;
};

TEST_F(QcpEncoderTest, PcmBecomesAQcpFileThatFfmpegPlays) {
    if (!test::haveTool("ffmpeg"))
        GTEST_SKIP() << "ffmpeg is needed";
    struct Case {
        const char* name;
        int rate, channels;
        double seconds;
        std::size_t expectedSamples;  // decoded, a whole number of 160-sample frames
    };
    const Case cases[] = {
        {"8000 Hz mono", 8000, 1, 2.01, 16160},
        {"44100 Hz stereo through the resampler", 44100, 2, 1.0, 8000},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file(std::string(c.name) + ".qcp");
        auto encoder = createEncoder(Qcp, PcmFormat::pcm(c.channels, c.rate, 16), path);
        writeInPieces(*encoder, toneSamples(c.rate, c.channels, c.seconds));
        encoder->finish();
        encoder.reset();

        EXPECT_EQ(test::probe(path, "codec_name"), "qcelp") << c.name;
        const auto log =
            test::run({"ffmpeg", "-nostdin", "-v", "warning", "-i", path, "-f", "null", "-"});
        EXPECT_EQ(log.errors.find("IFQ"), std::string::npos) << log.errors;
        const auto decoded = test::decodeWithFfmpeg(path, 8000);
        EXPECT_NEAR(static_cast<double>(decoded.size()), static_cast<double>(c.expectedSamples),
                    160.0)
            << c.name;
        EXPECT_EQ(decoded.size() % 160, 0u) << c.name;
        double energy = 0.0;
        for (auto s : decoded)
            energy += double(s) * s;
        EXPECT_GT(energy / static_cast<double>(decoded.size()), 1000.0 * 1000.0)
            << c.name << ": not silent";
    }
    EXPECT_TRUE(temporaryLeftovers().empty());
}

TEST_F(QcpEncoderTest, WritesReportTheBytesTaken) {
    CQCPEncoder encoder(dir.file("count.qcp"));
    const auto samples = toneSamples(8000, 1, 0.1);
    std::size_t written = 0;
    encoder.write(samples.data(), samples.size() * 2, &written);
    EXPECT_EQ(written, samples.size() * 2);
}

TEST_F(QcpEncoderTest, AnEmptyStreamGivesAValidQcpOfNoPackets) {
    const std::string path = dir.file("empty.qcp");
    CQCPEncoder encoder(path);
    encoder.finish();
    const auto bytes = test::readFile(path);
    ASSERT_EQ(bytes.size(), 194u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RIFF");
    EXPECT_EQ(std::string(bytes.begin() + 186, bytes.begin() + 190), "data");
    EXPECT_TRUE(temporaryLeftovers().empty());
}

TEST_F(QcpEncoderTest, DestroyingBeforeFinishLeavesNoTemporaryFile) {
    const std::string path = dir.file("cancelled.qcp");
    std::string temporary;
    {
        CQCPEncoder encoder(path);
        writeInPieces(encoder, toneSamples(8000, 1, 0.5));
        temporary = encoder.temporaryPath();
        EXPECT_EQ(fs::path(temporary).extension(), ".wav");
        EXPECT_EQ(fs::path(temporary).filename().string().rfind("RCM", 0), 0u);
        EXPECT_TRUE(fs::exists(temporary));
        EXPECT_EQ(fs::file_size(path), 0u) << "the target holds nothing until finish";
    }
    EXPECT_FALSE(fs::exists(temporary));
    EXPECT_TRUE(temporaryLeftovers().empty());
}

TEST_F(QcpEncoderTest, TheProcessLoadsTheLibraryOnce) {
    CQCPEncoder first(dir.file("one.qcp"));
    CQCPEncoder second(dir.file("two.qcp"));
    EXPECT_EQ(QsclLibrary::processWide().loads(), 1);
}

TEST_F(QcpEncoderTest, LibraryProblemsHaveTheirMessages) {
    TempDir emptyFolder;
    struct Case {
        const char* name;
        QsclLibrary::FolderSource folder;
        const char* message;
    };
    const Case cases[] = {
        {"no library in the folder", [&] { return emptyFolder.path().string(); },
         "QCP library cannot be found, please reinstall"},
        {"no application folder", [] { return std::string(); },
         "QCP library cannot be found, please reinstall"},
        {"no entry point", [] { return std::string(QSCL_STUBS_DIR "/broken/"); },
         "QCP library is broken"},
    };
    for (const Case& c : cases) {
        QsclLibrary library(c.folder);
        // Every construction tries again and fails the same way while the entry point is missing.
        for (int attempt = 0; attempt < 2; ++attempt) {
            EXPECT_EQ(messageOf([&] { CQCPEncoder e(dir.file("x.qcp"), library); }), c.message)
                << c.name;
        }
        EXPECT_EQ(library.loads(), 0);
    }
    EXPECT_TRUE(temporaryLeftovers().empty());
}

TEST_F(QcpEncoderTest, ConversionFailuresHaveTheirMessagesAndLeaveNoTemporaryFile) {
    struct Case {
        const char* name;
        const char* stub;  // nullptr: the real library
        bool removeTemporary;
        const char* message;
    };
    const Case cases[] = {
        {"temporary file gone", nullptr, true, "QCP encoder internal error #4"},
        {"no converter", "null", false, "QCP encoder internal error #1"},
        {"conversion fails", "failing", false, "write error"},
    };
    for (const Case& c : cases) {
        QsclLibrary& library = c.stub != nullptr ? stubLibrary(c.stub) : QsclLibrary::processWide();
        CQCPEncoder encoder(dir.file(std::string(c.name) + ".qcp"), library);
        writeInPieces(encoder, toneSamples(8000, 1, 0.2));
        if (c.removeTemporary)
            fs::remove(encoder.temporaryPath());
        EXPECT_EQ(messageOf([&] { encoder.finish(); }), c.message) << c.name;
        EXPECT_TRUE(temporaryLeftovers().empty()) << c.name;
    }
}

TEST_F(QcpEncoderTest, TargetProblemsHaveTheirMessages) {
    const std::string existing = dir.file("existing.qcp");
    test::writeFile(existing, {1, 2, 3});
    EXPECT_EQ(messageOf([&] { CQCPEncoder e(existing); }), "file skipped");
    EXPECT_EQ(test::readFile(existing).size(), 3u) << "a skipped ringtone is kept";

    EXPECT_EQ(messageOf([&] { CQCPEncoder e(dir.file(std::string(300, 'n') + ".qcp")); }),
              "cannot create file");
    if (::geteuid() != 0) {
        const std::string locked = dir.file("locked");
        fs::create_directory(locked);
        ::chmod(locked.c_str(), 0500);
        EXPECT_EQ(messageOf([&] { CQCPEncoder e(locked + "/x.qcp"); }), "cannot create file");
        ::chmod(locked.c_str(), 0700);
    }
    // Missing folders are created.
    {
        CQCPEncoder nested(dir.file("a/b/c.qcp"));
        EXPECT_TRUE(fs::exists(dir.file("a/b/c.qcp")));
    }
    EXPECT_TRUE(temporaryLeftovers().empty());
}

TEST(QcpFileIo, AnswersEachOperationOnARealFile) {
    TempDir dir;
    const std::string path = dir.file("io.bin");
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    char hello[] = "hello";
    char buffer[8] = {};
    EXPECT_EQ(qcpFileIo(qscl::kIoWrite, hello, 0, 5, fd), 5);
    EXPECT_EQ(qcpFileIo(qscl::kIoSeek, nullptr, 1, 0, fd), 1);
    EXPECT_EQ(qcpFileIo(qscl::kIoSeek, nullptr, 1, 0, fd), 1) << "seeks count from the start";
    EXPECT_EQ(qcpFileIo(qscl::kIoRead, buffer, 0, 3, fd), 3);
    EXPECT_EQ(std::string(buffer, 3), "ell");
    EXPECT_EQ(qcpFileIo(qscl::kIoRead, buffer, 0, 8, fd), 1) << "short read at the end";
    EXPECT_EQ(qcpFileIo(qscl::kIoSize, nullptr, 0, 0, fd), 5);
    EXPECT_EQ(qcpFileIo(qscl::kIoSeek, nullptr, 2, 0, fd), 2);
    EXPECT_NE(qcpFileIo(qscl::kIoTruncate, nullptr, 0, 0, fd), 0);
    EXPECT_EQ(qcpFileIo(qscl::kIoSize, nullptr, 0, 0, fd), 2);
    EXPECT_EQ(qcpFileIo(qscl::kIoSeek, nullptr, -1, 0, fd), -1);
    for (int other : {0, 6, 99, -3})
        EXPECT_EQ(qcpFileIo(other, buffer, 0, 1, fd), -1) << other;
    ::close(fd);
    EXPECT_EQ(qcpFileIo(qscl::kIoRead, buffer, 0, 1, fd), 0) << "a failed read gives 0";
    EXPECT_EQ(qcpFileIo(qscl::kIoWrite, hello, 0, 1, fd), 0) << "a failed write gives 0";
}

}  // namespace
}  // namespace tolvane
