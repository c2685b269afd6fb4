// The SMAF ringtone encoder driving a private copy of the real kessin, and its failures with
// converters that misbehave. Every path must leave no process, temporary WAV or stray .mmf.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>

#include "encoders/mmf_encoder.h"
#include "encoders/ringtone_formats.h"
#include "pipeline/app_exception.h"
#include "pipeline/encoder.h"
#include "platform/paths.h"
#include "platform/window_bus.h"
#include "support/test_support.h"

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::TempDir;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr long kSlotOffset = 191656;

class ReconvertAll : public ConvertedQuestion {
public:
    ConvertedAnswer askAlreadyConverted() override { return ConvertedAnswer::ReconvertAll; }
};

// PCM data of a WAV made by sox (the 44-byte canonical header skipped).
Bytes tonePcm(const TempDir& dir, int rate, int channels, double seconds) {
    const std::string wav = dir.file("source.wav");
    EXPECT_TRUE(test::makeTone(wav, rate, channels, 16, seconds));
    const Bytes bytes = readFile(wav);
    return Bytes(bytes.begin() + 44, bytes.end());
}

// Temporary files the encoder may leave: its WAVs, their name reservations, kessin's output.
std::vector<std::string> leftovers() {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(platform::temporaryFolder())) {
        const std::string name = e.path().filename().string();
        if (name.starts_with("RCM"))
            found.push_back(name);
    }
    return found;
}

// Processes running the converter copy (or a stand-in copied to the same path).
int processesRunning(const std::string& program) {
    int count = 0;
    for (const auto& e : fs::directory_iterator("/proc")) {
        std::error_code ec;
        const fs::path exe = fs::read_symlink(e.path() / "exe", ec);
        if (!ec && exe.string().starts_with(program))
            ++count;
    }
    return count;
}

std::string encodeFailure(const std::string& target, const Bytes& pcm, int rate,
                          std::function<void(CMMFEncoder&)> beforeFinish = {}) {
    auto encoder = createEncoder(Smaf, PcmFormat::pcm(1, rate, 16), target);
    auto* mmf = dynamic_cast<CMMFEncoder*>(encoder.get());
    EXPECT_NE(mmf, nullptr);
    encoder->write(pcm.data(), pcm.size());
    if (beforeFinish)
        beforeFinish(*mmf);
    try {
        encoder->finish();
    } catch (const EncoderException& e) {
        return e.message();
    }
    return "no failure";
}

class MmfEncoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        setConvertedQuestion(&answers_);
        CMMFEncoder::useConverterForTesting("");
        CMMFEncoder::setPollingForTesting(100ms, 100);
    }
    void TearDown() override {
        CMMFEncoder::useConverterForTesting("");
        CMMFEncoder::setPollingForTesting(100ms, 100);
        setConvertedQuestion(nullptr);
        resetConvertedQuestionForTesting();
        EXPECT_EQ(leftovers(), std::vector<std::string>{});
    }
    // A converter stand-in: a script copied in place of kessin.
    std::string standIn(const std::string& script) {
        const std::string path = dir_.file("stand-in");
        std::ofstream(path) << script;
        ::chmod(path.c_str(), 0755);
        CMMFEncoder::useConverterForTesting(path);
        CMMFEncoder::setPollingForTesting(20ms, 25);
        return path;
    }

    TempDir dir_;
    ReconvertAll answers_;
};

TEST_F(MmfEncoderTest, ProducesSmafThroughKessinAndReusesTheCopy) {
    const Bytes pcm = tonePcm(dir_, 22050, 2, 1.0);
    const std::string first = dir_.file("out/first.mmf");
    auto encoder = createEncoder(Smaf, PcmFormat::pcm(2, 22050, 16), first);
    EXPECT_EQ(encoder->sampleRate(), 22050);  // no resampling filter in front of it
    EXPECT_EQ(encoder->channels(), 2);
    encoder->write(pcm.data(), pcm.size() / 2);
    encoder->write(pcm.data() + pcm.size() / 2, pcm.size() - pcm.size() / 2);
    encoder->finish();
    encoder.reset();
    // FFmpeg reads the stream as 4-bit ADPCM.
    EXPECT_EQ(test::probe(first, "codec_name").rfind("adpcm_", 0), 0u);
    EXPECT_EQ(test::probe(first, "sample_rate"), "8000");
    EXPECT_NEAR(double(test::decodeWithFfmpeg(first).size()), 8000.0, 8.0);

    // The copy differs from kessin only by the path and its one terminating zero in the slot.
    const std::string copy = CMMFEncoder::converterCopyPath();
    ASSERT_FALSE(copy.empty());
    EXPECT_TRUE(fs::path(copy).filename().string().starts_with("MMF"));
    EXPECT_EQ(processesRunning(copy), 0);
    const Bytes original = readFile((platform::systemDirectory() / "kessin").string());
    const Bytes copied = readFile(copy);
    ASSERT_EQ(copied.size(), original.size());
    std::size_t firstDiff = copied.size(), lastDiff = 0;
    for (std::size_t i = 0; i < copied.size(); ++i) {
        if (copied[i] != original[i]) {
            firstDiff = std::min(firstDiff, i);
            lastDiff = i;
        }
    }
    EXPECT_GE(firstDiff, std::size_t(kSlotOffset));
    const std::string slotPath(reinterpret_cast<const char*>(copied.data()) + kSlotOffset);
    EXPECT_TRUE(fs::path(slotPath).filename().string().starts_with("RCM"));
    EXPECT_TRUE(slotPath.ends_with(".wav"));
    EXPECT_LE(lastDiff, std::size_t(kSlotOffset) + slotPath.size());

    // The second ringtone of the run: the same copy, and a read-only older file replaced.
    const std::string second = dir_.file("out/second.mmf");
    test::writeFile(second, Bytes(5, 'x'));
    ::chmod(second.c_str(), 0444);
    encoder = createEncoder(Smaf, PcmFormat::pcm(2, 22050, 16), second);
    encoder->write(pcm.data(), pcm.size());
    encoder->finish();
    EXPECT_EQ(CMMFEncoder::converterCopyPath(), copy);
    // FFmpeg reads the stream as 4-bit ADPCM.
    EXPECT_EQ(test::probe(second, "codec_name").rfind("adpcm_", 0), 0u);
}

TEST_F(MmfEncoderTest, MissingConverterIsError41) {
    CMMFEncoder::useConverterForTesting(dir_.file("no-such-converter"));
    const Bytes pcm = tonePcm(dir_, 8000, 1, 0.2);
    EXPECT_EQ(encodeFailure(dir_.file("a.mmf"), pcm, 8000),
              "Internal error #41. Cannot encode MMF");
    EXPECT_EQ(CMMFEncoder::converterCopyPath(), "");
    EXPECT_FALSE(fs::exists(dir_.file("a.mmf")));
}

TEST_F(MmfEncoderTest, ConverterThatCannotStartIsError43) {
    standIn("this is not a program\n");
    const Bytes pcm = tonePcm(dir_, 8000, 1, 0.2);
    EXPECT_EQ(encodeFailure(dir_.file("a.mmf"), pcm, 8000),
              "Internal error #43. Cannot encode MMF");
}

TEST_F(MmfEncoderTest, ConverterWithoutWindowIsError44AndIsStopped) {
    const std::string pidFile = dir_.file("stand-in.pid");
    standIn("#!/bin/sh\necho $$ > " + pidFile + "\nexec sleep 60\n");
    const Bytes pcm = tonePcm(dir_, 8000, 1, 0.2);
    EXPECT_EQ(encodeFailure(dir_.file("a.mmf"), pcm, 8000),
              "Internal error #44. Cannot encode MMF");
    std::ifstream in(pidFile);
    pid_t pid = 0;
    ASSERT_TRUE(in >> pid);
    EXPECT_EQ(::kill(pid, 0), -1);  // stopped and reaped
    EXPECT_EQ(errno, ESRCH);
    EXPECT_FALSE(fs::exists(dir_.file("a.mmf")));
}

TEST_F(MmfEncoderTest, InputRefusedBeforeTheOptionsIsError45) {
    // 3000 Hz: kessin shows "Sampling Frequency not supported" and never its options.
    const Bytes pcm(3000 * 2 / 2, 0);
    CMMFEncoder::setPollingForTesting(20ms, 25);
    EXPECT_EQ(encodeFailure(dir_.file("a.mmf"), pcm, 3000),
              "Internal error #45. Cannot encode MMF");
    EXPECT_EQ(processesRunning(CMMFEncoder::converterCopyPath()), 0);
    EXPECT_TRUE(platform::window_bus::windows().empty());
}

TEST_F(MmfEncoderTest, FailureAfterTheOptionsIsError46) {
    // The output cannot be created (a folder stands in its place): "Cannot save SMAF file".
    const Bytes pcm = tonePcm(dir_, 8000, 1, 0.2);
    CMMFEncoder::setPollingForTesting(20ms, 25);
    std::string blocker;
    const std::string message = encodeFailure(dir_.file("a.mmf"), pcm, 8000, [&](CMMFEncoder& e) {
        const std::string wav = e.temporaryWavPath();
        blocker = wav.substr(0, wav.size() - 3) + "mmf";
        fs::create_directory(blocker);
    });
    EXPECT_EQ(message, "Internal error #46. Cannot encode MMF");
    EXPECT_EQ(processesRunning(CMMFEncoder::converterCopyPath()), 0);
    fs::remove(blocker);
}

TEST_F(MmfEncoderTest, OutputThatCannotBeMovedIsError48) {
    const Bytes pcm = tonePcm(dir_, 8000, 1, 0.2);
    const std::string target = dir_.file("gone/a.mmf");
    const std::string message = encodeFailure(target, pcm, 8000, [&](CMMFEncoder&) {
        fs::remove_all(dir_.file("gone"));
        test::writeFile(dir_.file("gone"), Bytes(1, 'x'));  // the folder is now a file
    });
    EXPECT_EQ(message, "Internal error #48. Cannot encode MMF");
}

TEST_F(MmfEncoderTest, UnfinishedEncoderRemovesItsTemporaryWav) {
    auto encoder = createEncoder(Smaf, PcmFormat::pcm(1, 8000, 16), dir_.file("a.mmf"));
    const std::string wav = dynamic_cast<CMMFEncoder&>(*encoder).temporaryWavPath();
    const Bytes pcm(1000, 0);
    encoder->write(pcm.data(), pcm.size());
    EXPECT_TRUE(fs::exists(wav));
    encoder.reset();
    EXPECT_FALSE(fs::exists(wav));
}

}  // namespace
}  // namespace tolvane
