// The SMAF ringtone encoder driving a private copy of the real kessin, and its failures with
// converters that misbehave. Every path must leave no process, temporary WAV or stray .mmf.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

#include "encoders/mmf_encoder.h"
#include "encoders/qcp_encoder.h"
#include "encoders/ringtone_formats.h"
#include "pipeline/app_exception.h"
#include "pipeline/encoder.h"
#include "platform/paths.h"
#include "platform/process.h"
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
    ConvertedAnswer askAlreadyConverted(const std::string&) override {
        return ConvertedAnswer::ReconvertAll;
    }
};

// PCM data of a WAV made by sox (the 44-byte canonical header skipped).
Bytes tonePcm(const TempDir& dir, int rate, int channels, double seconds) {
    const std::string wav = dir.file("source.wav");
    EXPECT_TRUE(test::makeTone(wav, rate, channels, 16, seconds));
    const Bytes bytes = readFile(wav);
    return Bytes(bytes.begin() + 44, bytes.end());
}

// Window tables and sockets in the bus folder (a converter that was stopped leaves its own).
std::vector<std::string> busEntries() {
    std::vector<std::string> found;
    for (const auto& e : fs::directory_iterator(*platform::window_bus::directory())) {
        const std::string name = e.path().filename().string();
        if (name.ends_with(".sock") || name.find(".windows") != std::string::npos)
            found.push_back(name);
    }
    return found;
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
        EXPECT_EQ(busEntries(), std::vector<std::string>{});
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
    // The WAV is named after the ringtone, in a private temporary folder of its own.
    EXPECT_TRUE(fs::path(slotPath).parent_path().filename().string().starts_with("RCM"));
    EXPECT_EQ(fs::path(slotPath).filename(), "first.wav");
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

// Music with noise made by sox: three tones over pink noise with a beat, as `channels` channels.
Bytes musicPcm(const TempDir& dir, int rate, int channels, int bits, double seconds) {
    const std::string wav = dir.file("music.wav");
    std::vector<std::string> argv = {
        "sox", "-D", "-n", "-r", std::to_string(rate), "-c", "2", "-b", std::to_string(bits)};
    if (bits == 8)
        argv.insert(argv.end(), {"-e", "unsigned-integer"});
    argv.insert(argv.end(), {wav,
                             "synth",
                             std::to_string(seconds),
                             "sine",
                             "220",
                             "sine",
                             "277",
                             "sine",
                             "330",
                             "pinknoise",
                             "tremolo",
                             "3",
                             "60",
                             "remix",
                             "-",
                             "gain",
                             "-n",
                             "-3",
                             "channels",
                             std::to_string(channels)});
    const auto made = test::run(argv);
    EXPECT_EQ(made.status, 0) << made.errors;
    const Bytes bytes = readFile(wav);
    return Bytes(bytes.begin() + 44, bytes.end());
}

// The SMAF file without its contents-information chunk (title, date, check codes) and its CRC.
Bytes smafBody(const std::string& path) {
    const Bytes data = readFile(path);
    EXPECT_GE(data.size(), 18u);
    if (data.size() < 18)
        return data;
    const std::size_t cntiEnd = 16 + (std::size_t(data[12]) << 24 | std::size_t(data[13]) << 16 |
                                      std::size_t(data[14]) << 8 | data[15]);
    Bytes body(data.begin(), data.begin() + 16);
    body.insert(body.end(), data.begin() + long(std::min(cntiEnd, data.size())), data.end() - 2);
    return body;
}

// The ringtone, or the encoder's error, for PCM handed over in pieces of `piece` bytes.
std::string encodeSmaf(const std::string& target, const Bytes& pcm, int rate, int channels,
                       int bits, std::size_t piece) {
    auto encoder = createEncoder(Smaf, PcmFormat::pcm(channels, rate, bits), target);
    for (std::size_t at = 0; at < pcm.size(); at += piece)
        encoder->write(pcm.data() + at, std::min(piece, pcm.size() - at));
    try {
        encoder->finish();
    } catch (const EncoderException& e) {
        return e.message();
    }
    return "ok";
}

TEST_F(MmfEncoderTest, PreparedInputGivesTheRingtoneTheConverterMakesOfTheOriginal) {
    // The encoder widens, mixes down and resamples with the converter's own arithmetic, so the
    // converter codes what it is given: the file must be the one it makes of the original PCM.
    CMMFEncoder::setPollingForTesting(20ms, 25);  // the refused inputs need not wait 10 s
    const struct {
        int rate, channels, bits;
        double seconds;
        std::size_t piece;  // odd sizes split frames between writes
        const char* result;
        std::size_t frames = 0;  // the PCM cut to this many frames (0: as made)
    } cases[] = {
        {44100, 2, 16, 3.0, 176400, "ok"},
        {22050, 1, 16, 2.0, 1001, "ok"},
        {11025, 1, 8, 2.0, 333, "ok"},
        {8000, 2, 16, 1.5, 4097, "ok"},     // mixed down only
        {6000, 1, 16, 1.0, 12000, "ok"},    // below 8000 Hz: 4000 Hz
        {48000, 2, 8, 1.0, 96000, "ok"},    // 8-bit stereo
        {44101, 1, 16, 0.3, 8820, "ok"},    // coefficients computed on demand
        {16000, 1, 16, 70.0, 32000, "ok"},  // past the longest play time of 66.04 s
        {44100, 2, 16, 0.0211, 7, "ok"},    // 930 frames: 21 ms, accepted
        {44100, 2, 16, 0.0204, 7, "Internal error #45. Cannot encode MMF"},     // 900: 20 ms
        {8000, 1, 16, 0.05, 64, "Internal error #45. Cannot encode MMF", 160},  // 20 ms
        {8000, 1, 16, 0.05, 64, "ok", 168},                                     // 21 ms
        {3000, 1, 16, 0.5, 6000, "Internal error #45. Cannot encode MMF"},      // refused rate
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " ch, " +
                     std::to_string(c.bits) + " bits, " + std::to_string(c.seconds) + " s");
        Bytes pcm = musicPcm(dir_, c.rate, c.channels, c.bits, c.seconds);
        if (c.frames != 0)
            pcm.resize(c.frames * std::size_t(c.channels * c.bits / 8));
        CMMFEncoder::setInputPreparationForTesting(false);
        const std::string original = dir_.file("original/song.mmf");
        EXPECT_EQ(encodeSmaf(original, pcm, c.rate, c.channels, c.bits, c.piece), c.result);
        CMMFEncoder::setInputPreparationForTesting(true);
        const std::string prepared = dir_.file("prepared/song.mmf");
        EXPECT_EQ(encodeSmaf(prepared, pcm, c.rate, c.channels, c.bits, c.piece), c.result);
        if (std::string(c.result) == "ok") {
            EXPECT_EQ(smafBody(prepared), smafBody(original));
            // The whole file, title and date included, when both were made the same day.
            EXPECT_EQ(readFile(prepared).size(), readFile(original).size());
        }
        fs::remove_all(dir_.file("original"));
        fs::remove_all(dir_.file("prepared"));
    }
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

TEST_F(MmfEncoderTest, TheTitleIsTheSongsNameNotATemporaryOne) {
    const Bytes pcm = tonePcm(dir_, 22050, 1, 1.0);
    const std::string target = dir_.file("out/Evening Song.mmf");
    auto encoder = createEncoder(Smaf, PcmFormat::pcm(1, 22050, 16), target);
    const std::string wav = dynamic_cast<CMMFEncoder&>(*encoder).temporaryWavPath();
    EXPECT_EQ(fs::path(wav).filename(), "Evening Song.wav");
    EXPECT_EQ(fs::status(fs::path(wav).parent_path()).permissions() & fs::perms::all,
              fs::perms::owner_all);  // its folder is private
    encoder->write(pcm.data(), pcm.size());
    encoder->finish();
    EXPECT_FALSE(fs::exists(fs::path(wav).parent_path()));  // the folder went with it
    // The title option of the contents info chunk, read from the bytes: "ST:" + title + ",".
    const Bytes mmf = readFile(target);
    const std::string text(mmf.begin(), mmf.end());
    EXPECT_NE(text.find("ST:Evening Song,"), std::string::npos);
    EXPECT_EQ(text.find("RCM"), std::string::npos);
}

TEST_F(MmfEncoderTest, ALongSongNameIsShortenedToFitTheConverterSlot) {
    const Bytes pcm = tonePcm(dir_, 8000, 1, 0.5);
    // 80 three-byte characters: 240 bytes, more than the slot leaves for a name.
    std::string name;
    for (int i = 0; i < 80; ++i)
        name += "\xE6\x9B\xB2";
    const std::string target = dir_.file(name + ".mmf");
    auto encoder = createEncoder(Smaf, PcmFormat::pcm(1, 8000, 16), target);
    const std::string wav = dynamic_cast<CMMFEncoder&>(*encoder).temporaryWavPath();
    EXPECT_LE(wav.size(), 259u);
    EXPECT_TRUE(name.starts_with(fs::path(wav).stem().string()));  // cut between characters
    encoder->write(pcm.data(), pcm.size());
    encoder->finish();
    EXPECT_GT(readFile(target).size(), 100u);
}

TEST_F(MmfEncoderTest, ParallelConversionsInOneProcessTakeTurns) {
    const Bytes pcm = tonePcm(dir_, 22050, 2, 1.0);
    constexpr int kConversions = 4;
    std::vector<std::future<std::string>> results;
    for (int i = 0; i < kConversions; ++i) {
        results.push_back(std::async(std::launch::async, [&, i] {
            const std::string target = dir_.file("song" + std::to_string(i) + ".mmf");
            try {
                auto encoder = createEncoder(Smaf, PcmFormat::pcm(2, 22050, 16), target);
                encoder->write(pcm.data(), pcm.size());
                encoder->finish();
            } catch (const EncoderException& e) {
                return e.message();
            }
            return std::string("made");
        }));
    }
    for (int i = 0; i < kConversions; ++i) {
        EXPECT_EQ(results[i].get(), "made") << i;
        const std::string target = dir_.file("song" + std::to_string(i) + ".mmf");
        // Each file holds its own song, not another thread's input.
        const Bytes mmf = readFile(target);
        EXPECT_NE(std::string(mmf.begin(), mmf.end()).find("ST:song" + std::to_string(i) + ","),
                  std::string::npos);
        EXPECT_NEAR(double(test::decodeWithFfmpeg(target).size()), 8000.0, 8.0);
    }
}

TEST_F(MmfEncoderTest, AConverterStartedBySomeoneElseIsWaitedFor) {
    // Holding the converter's instance lock stands for a kessin that is not ours.
    auto foreign = platform::window_bus::NamedLock::tryAcquire("KESSININSTANCE");
    ASSERT_TRUE(foreign);
    auto release = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(600ms);
        foreign.reset();
    });
    const Bytes pcm = tonePcm(dir_, 8000, 1, 0.5);
    EXPECT_EQ(encodeFailure(dir_.file("a.mmf"), pcm, 8000), "no failure");
    EXPECT_TRUE(fs::exists(dir_.file("a.mmf")));
}

TEST_F(MmfEncoderTest, CancelEndsTheWaitForATurnWithoutARingtone) {
    auto turn = platform::window_bus::NamedLock::tryAcquire("KESSINTURN");
    ASSERT_TRUE(turn);
    turn->setNote("another driver");
    std::atomic<bool> cancel{false};
    const Bytes pcm = tonePcm(dir_, 8000, 1, 0.5);
    auto encoder = createEncoder(Smaf, PcmFormat::pcm(1, 8000, 16), dir_.file("a.mmf"));
    encoder->setCancelFlag(&cancel);
    encoder->write(pcm.data(), pcm.size());
    auto finished = std::async(std::launch::async, [&] { encoder->finish(); });
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(finished.wait_for(0s), std::future_status::timeout);  // still waiting its turn
    cancel = true;
    ASSERT_EQ(finished.wait_for(5s), std::future_status::ready);
    finished.get();
    EXPECT_FALSE(fs::exists(dir_.file("a.mmf")));
}

TEST_F(MmfEncoderTest, ATurnThatNeverEndsIsError44) {
    CMMFEncoder::setPollingForTesting(5ms, 10);  // a turn may last about 10 s + 0.2 s
    auto turn = platform::window_bus::NamedLock::tryAcquire("KESSINTURN");
    ASSERT_TRUE(turn);
    const Bytes pcm = tonePcm(dir_, 8000, 1, 0.2);
    EXPECT_EQ(encodeFailure(dir_.file("a.mmf"), pcm, 8000),
              "Internal error #44. Cannot encode MMF");
}

TEST_F(MmfEncoderTest, ConvertersKilledByTheDriverLeaveNoBusEntries) {
    // Refused before its options: the driver stops the converter (SIGKILL), which cannot remove
    // its own table and socket. The fixture's tear-down checks the bus folder.
    const Bytes pcm(3000 * 2 / 2, 0);
    CMMFEncoder::setPollingForTesting(20ms, 25);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(encodeFailure(dir_.file("a.mmf"), pcm, 3000),
                  "Internal error #45. Cannot encode MMF");
}

TEST_F(MmfEncoderTest, LeftoverCopiesOfEndedRunsAreRemovedAndNothingElse) {
    const std::string kessin = (platform::systemDirectory() / "kessin").string();
    const std::string tmp = platform::temporaryFolder();
    // A copy whose owner died (its slot rewritten), one whose owner lives (holds the lock), a
    // file of another program that happens to have such a name, and a file that is no copy.
    fs::copy_file(kessin, tmp + "MMF0A01.tmp");
    {
        std::fstream slot(tmp + "MMF0A01.tmp", std::ios::in | std::ios::out | std::ios::binary);
        slot.seekp(kSlotOffset);
        slot.write("/tmp/RCM1234/song.wav", 22);
    }
    fs::copy_file(kessin, tmp + "MMF0A02.tmp");
    // A lock on a file of its own (flock locks belong to the open file) stands for another
    // process's.
    const int owner = ::open((tmp + "MMF0A02.tmp").c_str(), O_RDONLY);
    ASSERT_EQ(::flock(owner, LOCK_SH), 0);
    fs::copy_file(kessin, tmp + "MMF0A03");
    test::writeFile(tmp + "MMF0A04.tmp", Bytes(fs::file_size(kessin), 'x'));

    EXPECT_EQ(CMMFEncoder::removeLeftoverConverterCopies(), 1);
    EXPECT_FALSE(fs::exists(tmp + "MMF0A01.tmp"));
    EXPECT_TRUE(fs::exists(tmp + "MMF0A02.tmp"));
    ::close(owner);  // its owner ends
    EXPECT_EQ(CMMFEncoder::removeLeftoverConverterCopies(), 1);
    EXPECT_FALSE(fs::exists(tmp + "MMF0A02.tmp"));
    EXPECT_TRUE(fs::exists(tmp + "MMF0A03"));
    EXPECT_TRUE(fs::exists(tmp + "MMF0A04.tmp"));
    fs::remove(tmp + "MMF0A03");
    fs::remove(tmp + "MMF0A04.tmp");

    // This process's own copy, in use, is never taken for a leftover.
    const Bytes pcm = tonePcm(dir_, 8000, 1, 0.2);
    EXPECT_EQ(encodeFailure(dir_.file("a.mmf"), pcm, 8000), "no failure");
    EXPECT_EQ(CMMFEncoder::removeLeftoverConverterCopies(), 0);
    EXPECT_TRUE(fs::exists(CMMFEncoder::converterCopyPath()));
}

TEST_F(MmfEncoderTest, RunningOutOfTemporaryNamesIsItsOwnError) {
    // Every RCMxxxx and RCMxxxx.wav name is taken, by files of other programs.
    const std::string tmp = platform::temporaryFolder();
    for (unsigned n = 0; n < 0x10000; ++n) {
        char name[16];
        for (const char* extension : {"", ".wav"}) {
            std::snprintf(name, sizeof name, "RCM%04X%s", n, extension);
            const int fd = ::open((tmp + name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
            ASSERT_GE(fd, 0) << name;
            ::close(fd);
        }
    }
    const std::string expected = "no free temporary file name (RCM0000 to RCMFFFF are all taken)";
    std::string mmf;
    try {
        CMMFEncoder encoder(dir_.file("a.mmf"));
    } catch (const EncoderException& e) {
        mmf = e.message();
    }
    EXPECT_EQ(mmf, expected);
    std::string qcp;
    try {
        QsclLibrary library([] { return test::appDir().string(); });
        CQCPEncoder encoder(dir_.file("a.qcp"), library);
    } catch (const EncoderException& e) {
        qcp = e.message();
    }
    EXPECT_EQ(qcp, expected);
    // Nothing of the other programs was touched.
    EXPECT_TRUE(fs::exists(tmp + "RCM0000.wav"));
    EXPECT_EQ(fs::file_size(tmp + "RCMFFFF.wav"), 0u);
    for (const auto& e : fs::directory_iterator(tmp))
        if (e.path().filename().string().starts_with("RCM"))
            fs::remove(e.path());
}

}  // namespace
}  // namespace tolvane
