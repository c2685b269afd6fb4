#include "pipeline/worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <new>
#include <stdexcept>
#include <thread>

#include "decoders/source_types.h"
#include "encoders/ringtone_formats.h"
#include "pipeline/app_exception.h"
#include "pipeline/encoder.h"
#include "pipeline/reader.h"
#include "pipeline/settings.h"
#include "platform/paths.h"
#include "support/test_support.h"

using namespace tolvane;
using namespace tolvane::test;
namespace fs = std::filesystem;

namespace {

// The page as the worker sees it: every call recorded, with a hook to act (cancel) mid-run.
struct RecordingView : ProgressView {
    std::vector<int> file, overall, messages;
    std::vector<std::string> statuses, names;
    std::function<void()> onFileProgress;

    void setFileProgress(int p) override {
        file.push_back(p);
        if (onFileProgress)
            onFileProgress();
    }
    void setOverallProgress(int p) override { overall.push_back(p); }
    void setStatus(std::string_view t) override { statuses.emplace_back(t); }
    void setFileName(std::string_view n) override { names.emplace_back(n); }
    void postMessage(int m) override { messages.push_back(m); }

    std::string status() const { return statuses.empty() ? "" : statuses.back(); }
};

struct ScriptedQuestion : ConvertedQuestion {
    explicit ScriptedQuestion(ConvertedAnswer a) : answer(a) {}
    ConvertedAnswer askAlreadyConverted(const std::string& ringtonePath) override {
        ++asked;
        askedAbout = ringtonePath;
        return answer;
    }
    ConvertedAnswer answer;
    int asked = 0;
    std::string askedAbout;
};

struct RecordingSending : SendingPhase {
    std::vector<std::vector<std::string>> calls;
    std::vector<SendOutcome> outcomes;  // one per call; Finished when they run out
    std::function<void()> fail;

    SendOutcome send(RunState& state, Settings&, ProgressView&) override {
        calls.push_back(state.ProducedFiles);
        if (fail)
            fail();
        const std::size_t k = calls.size() - 1;
        return k < outcomes.size() ? outcomes[k] : SendOutcome::Finished;
    }
};

// An encoder that passes everything on but fails on its n-th write.
class FailingWrites : public CEncoder {
public:
    FailingWrites(std::unique_ptr<CEncoder> inner, int failOn)
        : inner_(std::move(inner)), failOn_(failOn) {}
    void write(const void* data, std::size_t count, std::size_t* written) override {
        if (++writes_ == failOn_)
            throw EncoderException("write error");
        inner_->write(data, count, written);
    }
    void finish() override { inner_->finish(); }

private:
    std::unique_ptr<CEncoder> inner_;
    int failOn_;
    int writes_ = 0;
};

double rms(const std::vector<std::int16_t>& s, std::size_t from, std::size_t count) {
    double sum = 0;
    for (std::size_t i = from; i < from + count && i < s.size(); ++i)
        sum += double(s[i]) * s[i];
    return std::sqrt(sum / static_cast<double>(count));
}

class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetConvertedQuestionForTesting();
        setConvertedQuestion(nullptr);
        settings_.setPersistence(Settings::Persistence::None);
        settings_.setFolder(out());
        settings_.setSave(1);
        settings_.setSend(0);
        settings_.setFormat(WavMedium);
    }
    void TearDown() override { setConvertedQuestion(nullptr); }

    std::string out() const { return dir_.file("out"); }
    std::string ringtone(const std::string& name) const { return out() + "/" + name; }

    // A real WAV source made by sox: 22050 Hz mono 16-bit.
    std::string source(const std::string& name, double seconds = 2,
                       const std::string& synth = "sine 440") {
        const std::string path = dir_.file(name);
        EXPECT_TRUE(makeTone(path, 22050, 1, 16, seconds, synth)) << "sox failed for " << name;
        return path;
    }

    FileEntry& add(const std::string& path, int duration, bool marked = false,
                   std::uint32_t start = 0, std::uint32_t length = 0) {
        FileEntry e;
        e.path = path;
        e.fileType = kFileWav;
        e.duration = duration;
        e.partMarked = marked;
        e.partStart = start;
        e.partLength = length;
        return files_.add(e);
    }

    Job job(SendingPhase* sending = nullptr) {
        return Job(files_, settings_,
                   Codecs{openReaderFrom, ringtoneExtension, createEncoder, ringtoneMaximumSeconds},
                   sending);
    }

    TempDir dir_;
    Settings settings_;
    FileList files_;
    RecordingView view_;
};

TEST_F(WorkerTest, TwoFilesBecomeTwoRingtonesInTheFolder) {
    add(source("first.wav"), 2);
    add(source("second.wav", 1, "square 300"), 1);
    RunState state;
    runConversion(job(), state, view_);

    EXPECT_EQ(state.ErrorText, "");
    EXPECT_EQ(state.ProducedFiles,
              (std::vector<std::string>{ringtone("first.wav"), ringtone("second.wav")}));
    EXPECT_TRUE(state.TemporaryFiles.empty());
    EXPECT_EQ(state.conversionDone, 0);
    EXPECT_EQ(view_.messages, std::vector<int>{kMsgWorkFinished});
    EXPECT_EQ(view_.names, (std::vector<std::string>{"first.wav", "second.wav"}));
    EXPECT_EQ(view_.overall.back(), 100);
    for (const std::string& path : state.ProducedFiles) {
        EXPECT_EQ(probe(path, "sample_rate"), "8000");
        EXPECT_EQ(probe(path, "channels"), "1");
        EXPECT_EQ(probe(path, "codec_name"), "pcm_u8");
    }
    // The level analysis is kept in the job's entries.
    EXPECT_GT(files_.entries()[0].levelRms, 0.1);
}

TEST_F(WorkerTest, AMarkedPartIsTakenFromItsSecondsAndCountedForProgress) {
    // 10 s of silence, 5 s of tone, 5 s of silence: only the marked seconds hold sound.
    add(source("part.wav", 5, "sine 440 pad 10 5"), 20, true, 10, 5);
    add(source("whole.wav", 5), 5);
    RunState state;
    runConversion(job(), state, view_);
    ASSERT_EQ(state.ErrorText, "");

    const auto samples = decodeWithFfmpeg(ringtone("part.wav"));
    ASSERT_NEAR(static_cast<double>(samples.size()), 5 * 8000, 8);
    for (int second = 0; second < 5; ++second)
        EXPECT_GT(rms(samples, second * 8000, 8000), 0.15 * 32768) << "second " << second;
    // 5 of 10 seconds are done when the second file starts.
    const auto half = std::find(view_.overall.begin(), view_.overall.end(), 50);
    EXPECT_NE(half, view_.overall.end());
    EXPECT_TRUE(std::is_sorted(view_.overall.begin(), view_.overall.end()));
}

TEST_F(WorkerTest, APartLengthOfZeroOrLessConvertsOneSecondWithoutDividingByZero) {
    add(source("zero.wav", 3), 3, true, 0, 0);
    add(source("negative.wav", 3), 3, true, 1, static_cast<std::uint32_t>(-2));
    RunState state;
    runConversion(job(), state, view_);
    ASSERT_EQ(state.ErrorText, "");
    for (const char* name : {"zero.wav", "negative.wav"})
        EXPECT_NEAR(static_cast<double>(decodeWithFfmpeg(ringtone(name)).size()), 8000, 8) << name;
    for (int p : view_.file)
        EXPECT_TRUE(p >= 0 && p <= 100);
    EXPECT_EQ(view_.overall.back(), 100);
}

TEST_F(WorkerTest, CancelDuringTheSecondOfThreeFiles) {
    add(source("one.wav", 3), 3);
    add(source("two.wav", 3), 3);
    add(source("three.wav", 3), 3);
    RunState state;
    view_.onFileProgress = [&] {
        if (view_.names.size() == 2 && view_.status() == kStatusConverting && view_.file.back() > 0)
            state.cancelRequested = true;
    };
    runConversion(job(), state, view_);

    EXPECT_EQ(state.ErrorText, "Conversion cancelled.\r\n");
    EXPECT_EQ(state.ProducedFiles, std::vector<std::string>{ringtone("one.wav")});
    EXPECT_TRUE(fs::exists(ringtone("one.wav")));
    EXPECT_FALSE(fs::exists(ringtone("two.wav")));
    EXPECT_FALSE(fs::exists(ringtone("three.wav")));
    EXPECT_EQ(view_.names.size(), 2u);  // the third file was never touched
    EXPECT_EQ(view_.messages, std::vector<int>{kMsgWorkFinished});
}

TEST_F(WorkerTest, CancelDuringTheAnalysisWritesNothing) {
    fs::create_directories(out());
    writeFile(ringtone("kept.wav"), {'o', 'l', 'd'});  // a ringtone of an earlier run
    add(source("kept.wav", 3), 3);
    RunState state;
    view_.onFileProgress = [&] {
        if (view_.status() == kStatusAnalyzing)
            state.cancelRequested = true;
    };
    settings_.setSend(1);
    runConversion(job(), state, view_);
    EXPECT_EQ(state.errorLines(), std::vector<std::string>{"Conversion cancelled."});
    EXPECT_EQ(readFile(ringtone("kept.wav")), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(state.conversionDone, 0);  // a cancelled run never goes on to send
}

TEST_F(WorkerTest, ASourceThatFailsToOpenCostsOneLineAndTheNextFileIsConverted) {
    // The "data" chunk claims more bytes than the RIFF chunk holds.
    auto broken = wavBytes(8000, 1, 16, std::vector<std::uint8_t>(1600, 0));
    broken[40] = static_cast<std::uint8_t>(broken[40] + 100);
    writeFile(dir_.file("broken.wav"), broken);
    add(dir_.file("broken.wav"), 1);
    add(dir_.file("missing.wav"), 1);
    add(dir_.file("notes.txt"), 1);
    add(source("good.wav"), 2);
    RunState state;
    runConversion(job(), state, view_);

    EXPECT_EQ(state.errorLines(), (std::vector<std::string>{"broken.wav: cannot open file.",
                                                            "missing.wav: cannot open file.",
                                                            "notes.txt: no decoder available."}));
    EXPECT_EQ(state.ProducedFiles, std::vector<std::string>{ringtone("good.wav")});
    EXPECT_FALSE(fs::exists(ringtone("broken.wav")));
    EXPECT_EQ(view_.messages, std::vector<int>{kMsgWorkFinished});
}

TEST_F(WorkerTest, SkipAllKeepsTheExistingRingtoneAndReportsIt) {
    fs::create_directories(out());
    writeFile(ringtone("done.wav"), {'o', 'l', 'd'});
    add(source("done.wav"), 2);
    add(source("new.wav"), 2);
    ScriptedQuestion question(ConvertedAnswer::SkipAll);
    setConvertedQuestion(&question);
    RunState state;
    runConversion(job(), state, view_);

    EXPECT_EQ(state.errorLines(), std::vector<std::string>{"done.wav: file skipped."});
    EXPECT_EQ(readFile(ringtone("done.wav")), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(state.ProducedFiles, std::vector<std::string>{ringtone("new.wav")});
    EXPECT_EQ(question.asked, 1);
}

TEST_F(WorkerTest, ReconvertAllReplacesTheExistingRingtone) {
    fs::create_directories(out());
    writeFile(ringtone("again.wav"), {'o', 'l', 'd'});
    add(source("again.wav"), 2);
    ScriptedQuestion question(ConvertedAnswer::ReconvertAll);
    setConvertedQuestion(&question);
    RunState state;
    runConversion(job(), state, view_);
    EXPECT_EQ(state.ErrorText, "");
    EXPECT_EQ(probe(ringtone("again.wav"), "sample_rate"), "8000");
}

TEST_F(WorkerTest, ARingtoneThatWouldReplaceItsOwnSourceIsRefused) {
    fs::create_directories(out());
    const std::string path = ringtone("self.wav");
    ASSERT_TRUE(makeTone(path, 8000, 1, 8, 1));
    const auto before = readFile(path);
    add(path, 1);
    ScriptedQuestion question(ConvertedAnswer::ReconvertAll);
    setConvertedQuestion(&question);
    RunState state;
    runConversion(job(), state, view_);
    EXPECT_EQ(state.errorLines(),
              std::vector<std::string>{"self.wav: the ringtone would replace its own source."});
    EXPECT_EQ(readFile(path), before);
}

TEST_F(WorkerTest, TwoSourcesOfTheSameNameNeverOverwriteEachOther) {
    fs::create_directories(dir_.file("a"));
    fs::create_directories(dir_.file("b"));
    add(source("a/song.wav", 2, "sine 440"), 2);
    add(source("b/song.wav", 3, "sine 880"), 3);
    ScriptedQuestion question(ConvertedAnswer::ReconvertAll);
    setConvertedQuestion(&question);
    RunState state;
    runConversion(job(), state, view_);
    EXPECT_EQ(state.errorLines(),
              std::vector<std::string>{"song.wav: already made from another file in this run."});
    EXPECT_EQ(state.ProducedFiles, std::vector<std::string>{ringtone("song.wav")});
    // The first source's ringtone is kept: 2 s long, not the second source's 3 s.
    EXPECT_EQ(openReader(ringtone("song.wav"))->length(), 1);  // a couple of samples short of 2 s
    EXPECT_EQ(question.asked, 0);
}

// Each failure kind, raised while converting the first of two files.
struct FailureCase {
    const char* name;
    std::function<void()> raise;
    std::vector<std::string> lines;  // the error lines of the run
    bool secondConverted;
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class WorkerFailureTest : public WorkerTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(WorkerFailureTest, FailuresBecomeLinesAndDecideWhetherTheRunGoesOn) {
    // Upper-case source names tell the source's name ("A.WAV") from the ringtone's ("A.wav").
    const std::string first = source("A.WAV");
    add(first, 2);
    add(source("B.WAV"), 2);
    fs::create_directories(out());
    Job j = job();
    j.codecs.openReader = [&](const std::string& path, int start) {
        if (path == first)
            GetParam().raise();
        return openReaderFrom(path, start);
    };
    RunState state;
    runConversion(j, state, view_);

    EXPECT_EQ(state.errorLines(), GetParam().lines);
    EXPECT_FALSE(fs::exists(ringtone("A.wav")));
    EXPECT_EQ(fs::exists(ringtone("B.wav")), GetParam().secondConverted);
    EXPECT_EQ(view_.messages, std::vector<int>{kMsgWorkFinished});
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, WorkerFailureTest,
    ::testing::Values(
        FailureCase{"reader",
                    [] { throw ReaderException("cannot open file"); },
                    {"A.WAV: cannot open file."},
                    true},
        FailureCase{"encoder",
                    [] { throw EncoderException("cannot create file"); },
                    {"A.wav: cannot create file."},
                    true},
        FailureCase{"logic",
                    [] { throw std::logic_error("bad format descriptor"); },
                    {"bad format descriptor"},
                    true},
        FailureCase{"memory", [] { throw std::bad_alloc(); }, {"Out of memory."}, false},
        FailureCase{"other", [] { throw 42; }, {"Unhandled exception."}, false},
        FailureCase{
            "runtime", [] { throw std::runtime_error("x"); }, {"Unhandled exception."}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(WorkerTest, OutOfMemoryStopsTheRunButKeepsWhatWasProduced) {
    add(source("one.wav"), 2);
    const std::string second = source("two.wav");
    add(second, 2);
    add(source("three.wav"), 2);
    Job j = job();
    j.codecs.openReader = [&](const std::string& path, int) -> std::unique_ptr<CReader> {
        if (path == second)
            throw std::bad_alloc();
        return openReader(path);
    };
    RunState state;
    runConversion(j, state, view_);
    EXPECT_EQ(state.errorLines(), std::vector<std::string>{"Out of memory."});
    EXPECT_EQ(state.ProducedFiles, std::vector<std::string>{ringtone("one.wav")});
    EXPECT_TRUE(fs::exists(ringtone("one.wav")));
    EXPECT_FALSE(fs::exists(ringtone("three.wav")));
}

TEST_F(WorkerTest, FilesConvertingTogetherReportAsOneAfterTheOther) {
    add(source("long.wav", 8, "sawtooth 220"), 8);
    add(dir_.file("gone.wav"), 1);
    add(source("short.wav", 1), 1);
    add(source("tail.wav", 2, "square 300"), 2);
    fs::create_directories(dir_.file("again"));
    add(source("again/short.wav", 1), 1);  // the same ringtone as short.wav
    std::map<unsigned, RunState> states;
    std::map<unsigned, std::vector<std::vector<std::uint8_t>>> made;
    for (const unsigned jobs : {1u, 3u}) {
        fs::remove_all(out());
        view_ = RecordingView{};
        Job j = job();
        j.jobs = jobs;
        runConversion(j, states[jobs], view_);
        for (const std::string& path : states[jobs].ProducedFiles)
            made[jobs].push_back(readFile(path));
        EXPECT_EQ(view_.messages, std::vector<int>{kMsgWorkFinished}) << jobs;
        EXPECT_TRUE(std::is_sorted(view_.overall.begin(), view_.overall.end())) << jobs;
        EXPECT_EQ(view_.overall.back(), 100) << jobs;
        std::vector<std::string> names = view_.names;
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"gone.wav", "long.wav", "short.wav", "short.wav",
                                                   "tail.wav"}))
            << jobs;
    }
    EXPECT_EQ(states[1].errorLines(),
              (std::vector<std::string>{"gone.wav: cannot open file.",
                                        "short.wav: already made from another file in this run."}));
    EXPECT_EQ(states[3].errorLines(), states[1].errorLines());
    EXPECT_EQ(states[1].ProducedFiles,
              (std::vector<std::string>{ringtone("long.wav"), ringtone("short.wav"),
                                        ringtone("tail.wav")}));
    EXPECT_EQ(states[3].ProducedFiles, states[1].ProducedFiles);
    EXPECT_TRUE(made[3] == made[1]) << "the ringtones differ";
}

TEST_F(WorkerTest, AFailureThatEndsTheRunStartsNoFurtherFile) {
    const std::string first = source("first.wav");
    add(first, 2);
    add(source("second.wav"), 2);
    add(source("third.wav"), 2);
    // The first file fails while the second one is converting, and the second one goes on
    // (a moment longer than the failure takes to end the run).
    std::promise<void> secondStarted, firstFailed;
    std::shared_future<void> hasStarted = secondStarted.get_future().share();
    std::shared_future<void> hasFailed = firstFailed.get_future().share();
    int opened = 0;
    Job j = job();
    j.jobs = 2;
    j.codecs.openReader = [&](const std::string& path, int start) -> std::unique_ptr<CReader> {
        if (path == first) {
            hasStarted.wait_for(std::chrono::seconds(10));
            firstFailed.set_value();
            throw std::bad_alloc();
        }
        if (++opened == 1) {
            secondStarted.set_value();
        } else if (opened == 2) {
            hasFailed.wait_for(std::chrono::seconds(10));
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        return openReaderFrom(path, start);
    };
    RunState state;
    runConversion(j, state, view_);
    EXPECT_EQ(state.errorLines(), std::vector<std::string>{"Out of memory."});
    EXPECT_EQ(state.ProducedFiles, std::vector<std::string>{ringtone("second.wav")});
    EXPECT_FALSE(fs::exists(ringtone("third.wav")));
    EXPECT_EQ(view_.messages, std::vector<int>{kMsgWorkFinished});
}

TEST_F(WorkerTest, AWriteFailureRemovesThePartialRingtoneOnly) {
    fs::create_directories(out());
    writeFile(ringtone("kept.wav"), {'k'});  // a ringtone of an earlier run
    add(dir_.file("kept.wav"), 1);           // whose source is gone now
    add(source("long.wav", 3), 3);
    add(source("next.wav"), 2);
    Job j = job();
    j.codecs.createEncoder = [](int format, const PcmFormat& source,
                                const std::string& path) -> std::unique_ptr<CEncoder> {
        auto real = createEncoder(format, source, path);
        if (path.ends_with("long.wav"))
            return std::make_unique<FailingWrites>(std::move(real), 2);
        return real;
    };
    RunState state;
    runConversion(j, state, view_);
    EXPECT_EQ(state.errorLines(),
              (std::vector<std::string>{"kept.wav: cannot open file.", "long.wav: write error."}));
    EXPECT_EQ(readFile(ringtone("kept.wav")), std::vector<std::uint8_t>{'k'});
    EXPECT_FALSE(fs::exists(ringtone("long.wav")));
    EXPECT_EQ(state.ProducedFiles, std::vector<std::string>{ringtone("next.wav")});
}

TEST_F(WorkerTest, AFormatIndexOutOfRangeEndsTheRunBeforeTheLoop) {
    add(source("one.wav"), 2);
    for (int format : {-1, 9}) {
        settings_.setFormat(format);
        RunState state;
        RecordingView view;
        runConversion(job(), state, view);
        EXPECT_EQ(state.errorLines(), std::vector<std::string>{"bad format descriptor"});
        EXPECT_TRUE(view.names.empty());
        EXPECT_EQ(view.messages, std::vector<int>{kMsgWorkFinished});
    }
}

TEST_F(WorkerTest, WithoutSaveRingtonesGoToTheTemporaryFolderAndAreDeletedAtTheEnd) {
    settings_.setSave(0);
    settings_.setSend(1);
    add(source("temp.wav"), 2);
    RecordingSending sending;
    std::vector<std::string> produced;
    {
        RunState state;
        runConversion(job(&sending), state, view_);
        EXPECT_EQ(state.ErrorText, "");
        produced = state.ProducedFiles;
        ASSERT_EQ(produced.size(), 1u);
        EXPECT_EQ(produced[0], platform::temporaryFolder() + "temp.wav");
        EXPECT_EQ(state.TemporaryFiles, produced);
        EXPECT_TRUE(fs::exists(produced[0]));
        EXPECT_EQ(state.conversionDone, 1);
        EXPECT_EQ(sending.calls, std::vector<std::vector<std::string>>{produced});
        EXPECT_EQ(view_.status(), kStatusSending);
    }
    EXPECT_FALSE(fs::exists(produced[0]));
}

TEST_F(WorkerTest, WithoutDeliveryASendingRunEndsWithOneClearLine) {
    settings_.setSend(1);
    add(source("one.wav"), 2);
    RunState state;
    runConversion(job(), state, view_);
    EXPECT_EQ(state.errorLines(), std::vector<std::string>{std::string(kLineNoSending)});
    EXPECT_EQ(state.ProducedFiles.size(), 1u);
    EXPECT_EQ(view_.messages, std::vector<int>{kMsgWorkFinished});
}

TEST_F(WorkerTest, AfterThePasswordPageTheNextRunOnlySends) {
    settings_.setSend(1);
    add(source("one.wav"), 2);
    add(source("two.wav"), 2);
    RecordingSending sending;
    sending.outcomes = {SendOutcome::PasswordNeeded, SendOutcome::Finished};
    int opened = 0;
    Job j = job(&sending);
    j.codecs.openReader = [&](const std::string& path, int) {
        ++opened;
        return openReader(path);
    };
    RunState state;
    runConversion(j, state, view_);
    EXPECT_EQ(view_.messages, std::vector<int>{kMsgPasswordNeeded});
    EXPECT_EQ(state.conversionDone, 1);
    EXPECT_EQ(opened, 4);  // two readers per file: a WAV source is read again

    RecordingView second;
    state.addError("left from the first run");
    runConversion(j, state, second);
    EXPECT_EQ(opened, 4);  // nothing converted again
    EXPECT_TRUE(second.names.empty());
    EXPECT_EQ(sending.calls.size(), 2u);
    EXPECT_EQ(sending.calls[1], state.ProducedFiles);
    EXPECT_EQ(state.ErrorText, "");  // cleared at the start of every run
    EXPECT_EQ(second.messages, std::vector<int>{kMsgWorkFinished});
}

TEST_F(WorkerTest, SendingFailuresBecomeFixedLines) {
    struct Case {
        std::function<void()> raise;
        std::string line;
    };
    const std::vector<Case> cases = {
        {[] { throw MailServerError("550 relay denied"); }, "SMTP server error."},
        {[] { throw NetworkFailure("connection refused"); }, "Network failure."},
        {[] { throw AppException("File is too big. Cannot upload."); },
         "File is too big. Cannot upload."},
        {[] { throw std::logic_error("bad carrier data"); }, "bad carrier data"},
        {[] { throw std::bad_alloc(); }, "Out of memory."},
        {[] { throw 3.5; }, "Unhandled exception."},
    };
    settings_.setSend(1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        RecordingSending sending;
        sending.fail = c.raise;
        RunState state;
        state.conversionDone = 1;  // converted before: this run only sends
        state.ProducedFiles = {"/nowhere/a.wav"};
        RecordingView view;
        runConversion(job(&sending), state, view);
        EXPECT_EQ(state.errorLines(), std::vector<std::string>{c.line});
        EXPECT_EQ(view.messages, std::vector<int>{kMsgWorkFinished});
        EXPECT_EQ(state.ProducedFiles.size(), 1u);  // kept for the next attempt
    }
}

TEST_F(WorkerTest, RunsOnItsOwnThreadAndPostsWhenDone) {
    add(source("threaded.wav"), 2);
    RunState state;
    {
        ConversionThread thread;
        thread.start(job(), state, view_);
        thread.start(job(), state, view_);  // a second run waits for the first
    }
    EXPECT_EQ(view_.messages, (std::vector<int>{kMsgWorkFinished, kMsgWorkFinished}));
    // The second run met the first one's ringtone: asked once, "Skip All" without an asker.
    EXPECT_EQ(state.errorLines(), std::vector<std::string>{"threaded.wav: file skipped."});
    EXPECT_EQ(state.ProducedFiles, std::vector<std::string>{ringtone("threaded.wav")});
}

TEST(RunStateTest, ErrorLinesEndInCarriageReturnLineFeed) {
    RunState state;
    state.addError("a.wav: cannot open file.");
    state.addError("");
    state.addError("Conversion cancelled.");
    EXPECT_EQ(state.ErrorText, "a.wav: cannot open file.\r\n\r\nConversion cancelled.\r\n");
    EXPECT_EQ(state.errorLines(),
              (std::vector<std::string>{"a.wav: cannot open file.", "", "Conversion cancelled."}));
}

}  // namespace
