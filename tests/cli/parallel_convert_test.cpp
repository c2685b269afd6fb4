// tolvane-convert converting several files at the same time (--jobs): the same ringtones, paths
// and error lines as one file after the other, one already-converted question for all files, and
// a signal that cancels every file in progress without leaving anything behind. Real files made
// by sox, ffmpeg and espeak-ng; the real kessin; ringtones read back by ffprobe.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <thread>

#include "support/test_support.h"

extern char** environ;

using namespace tolvane::test;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::string program() {
    return (binDir() / "tolvane-convert").string();
}

// Music with noise: a plucked chord over pink noise, stereo 44.1 kHz.
bool music(const TempDir& dir, const std::string& path, double seconds) {
    const std::string chord = dir.file("chord-" + fs::path(path).filename().string());
    const std::string noise = dir.file("noise-" + fs::path(path).filename().string());
    const std::string s = std::to_string(seconds);
    return run({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", chord, "synth", s, "pluck", "A2",
                "pluck", "E3", "tremolo", "3", "40"})
                   .status == 0 &&
           run({"sox", "-n", "-r", "44100", "-c", "2", "-b", "16", noise, "synth", s, "pinknoise",
                "vol", "0.15"})
                   .status == 0 &&
           run({"sox", "-m", chord, noise, path}).status == 0;
}

bool ffmpeg(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-loglevel", "error", "-y"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv).status == 0;
}

std::vector<std::string> filesIn(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class ParallelConvertTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const char* tool : {"sox", "ffmpeg", "ffprobe", "espeak-ng"})
            if (!haveTool(tool))
                missing_ = tool;
        if (!missing_.empty())
            return;
        sources_ = new TempDir;
        const TempDir& d = *sources_;
        const std::string wav = d.file("song.wav"), speech = d.file("speech.wav");
        // The first file is the longest, so that later files finish first.
        ASSERT_TRUE(music(d, wav, 9));
        ASSERT_TRUE(music(d, d.file("mix.wav"), 3));
        ASSERT_EQ(
            run({"espeak-ng", "-w", speech, "Your phone is ringing. Pick it up, please."}).status,
            0);
        ASSERT_TRUE(ffmpeg(
            {"-i", d.file("mix.wav"), "-c:a", "libmp3lame", "-b:a", "128k", d.file("beat.mp3")}));
        ASSERT_TRUE(ffmpeg(
            {"-i", d.file("mix.wav"), "-af", "atempo=0.8", "-c:a", "flac", d.file("slow.flac")}));
        ASSERT_TRUE(ffmpeg(
            {"-i", d.file("mix.wav"), "-c:a", "libvorbis", "-q:a", "4", d.file("tune.ogg")}));
        for (const char* name : {"song.wav", "beat.mp3", "speech.wav", "slow.flac", "tune.ogg"})
            mixedSet_.push_back(d.file(name));
    }
    static void TearDownTestSuite() {
        delete sources_;
        sources_ = nullptr;
    }
    void SetUp() override {
        if (!missing_.empty())
            GTEST_SKIP() << missing_ << " is not installed";
    }

    static CommandResult convert(std::vector<std::string> args) {
        args.insert(args.begin(), program());
        return run(args);
    }

    std::string out(const std::string& name = "") const {
        return dir_.file("out") + (name.empty() ? "" : "/" + name);
    }

    static inline TempDir* sources_ = nullptr;
    static inline std::vector<std::string> mixedSet_;
    static inline std::string missing_;
    TempDir dir_;
};

TEST_F(ParallelConvertTest, JobsMakeTheSameRingtonesAndPrintThemInTheFilesOrder) {
    const std::map<std::string, std::string> extensions = {
        {"wav-high", ".wav"}, {"mp3-medium", ".mp3"}, {"smaf", ".mmf"}, {"qcp", ".qcp"},
        {"amr", ".amr"},      {"m4r", ".m4r"},        {"ogg", ".ogg"}};
    for (const auto& [format, extension] : extensions) {
        std::map<std::string, std::vector<std::uint8_t>> one;  // --jobs 1, by file name
        const std::string folderOfOne = out(format + "-1");
        for (const char* jobs : {"1", "2", "4"}) {
            const std::string folder = out(format + "-" + jobs);
            std::vector<std::string> args = {"-f", format, "-o", folder, "--jobs", jobs};
            args.insert(args.end(), mixedSet_.begin(), mixedSet_.end());
            const CommandResult r = convert(args);
            const std::string shown = format + " --jobs " + jobs;
            EXPECT_EQ(r.status, 0) << shown << "\n" << r.errors;
            EXPECT_EQ(r.errors, "") << shown;
            std::vector<std::string> expected;
            for (const std::string& source : mixedSet_)
                expected.push_back(folder + "/" + fs::path(source).stem().string() + extension);
            EXPECT_EQ(lines(r.output), expected) << shown;
            for (const std::string& ringtone : expected) {
                const std::string name = fs::path(ringtone).filename().string();
                const auto bytes = readFile(ringtone);
                ASSERT_FALSE(bytes.empty()) << shown << " " << name;
                if (std::string(jobs) == "1") {
                    // Read back by an independent decoder.
                    EXPECT_NE(probe(ringtone, "codec_name"), "") << shown << " " << name;
                    one[name] = bytes;
                } else if (format == "ogg") {
                    // Every Ogg stream draws a serial number of its own, so only the audio can
                    // be the same.
                    EXPECT_TRUE(decodeWithFfmpeg(ringtone) ==
                                decodeWithFfmpeg(folderOfOne + "/" + name))
                        << shown << " " << name << " sounds different";
                } else {
                    EXPECT_TRUE(bytes == one[name]) << shown << " " << name << " differs";
                }
            }
        }
    }
}

TEST_F(ParallelConvertTest, BadFilesAndNameClashesGiveTheSameLinesAsOneAfterTheOther) {
    fs::create_directories(dir_.file("other"));
    std::vector<std::uint8_t> text = {'n', 'o', 't', 'e', 's'};
    writeFile(dir_.file("notes.txt"), text);
    writeFile(dir_.file("broken.wav"), wavBytes(44100, 2, 16, {}));
    ASSERT_TRUE(ffmpeg({"-i", mixedSet_[0], "-c:a", "flac", dir_.file("other/song.flac")}));
    const std::vector<std::string> sources = {
        mixedSet_[0], dir_.file("missing.wav"),     mixedSet_[1],           dir_.file("notes.txt"),
        mixedSet_[2], dir_.file("other/song.flac"), dir_.file("broken.wav")};

    std::map<std::string, CommandResult> results;
    for (const char* jobs : {"1", "2", "3"}) {
        std::vector<std::string> args = {"-f", "wav-medium", "-o", out(jobs), "-j", jobs};
        args.insert(args.end(), sources.begin(), sources.end());
        results[jobs] = convert(args);
    }
    const CommandResult& one = results["1"];
    EXPECT_EQ(one.status, 1);
    EXPECT_EQ(lines(one.errors),
              (std::vector<std::string>{"missing.wav: cannot open file.",
                                        "notes.txt: no decoder available.",
                                        "song.wav: already made from another file in this run.",
                                        "broken.wav: cannot open file."}));
    for (const char* jobs : {"2", "3"}) {
        const CommandResult& r = results[jobs];
        EXPECT_EQ(r.status, one.status) << jobs;
        EXPECT_EQ(r.errors, one.errors) << jobs;
        std::string expected = one.output;
        for (std::size_t at = 0; (at = expected.find(out("1"), at)) != std::string::npos;)
            expected.replace(at, out("1").size(), out(jobs));
        EXPECT_EQ(r.output, expected) << jobs;
        EXPECT_EQ(filesIn(out(jobs)), filesIn(out("1"))) << jobs;
        EXPECT_TRUE(readFile(out(std::string(jobs) + "/song.wav")) == readFile(out("1/song.wav")))
            << "the first song.wav is the one kept";
    }
}

// Runs tolvane-convert on a terminal (so that it asks), answers the already-converted question
// with `reply` ("^C": an interrupt instead), and returns everything it wrote on the terminal.
std::string runOnTerminal(const std::vector<std::string>& args, const std::string& reply,
                          int* status) {
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        std::vector<std::string> argv = args;
        argv.insert(argv.begin(), program());
        std::vector<char*> cargv;
        for (auto& a : argv)
            cargv.push_back(a.data());
        cargv.push_back(nullptr);
        ::execv(cargv[0], cargv.data());
        ::_exit(127);
    }
    std::string seen;
    bool answered = false;
    const auto deadline = Clock::now() + std::chrono::seconds(120);
    while (Clock::now() < deadline) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::read(master, buffer, sizeof buffer);
        if (n <= 0)
            break;  // EIO: the program has ended and closed the terminal
        seen.append(buffer, std::size_t(n));
        if (!answered && seen.find("econvert all? ") != std::string::npos) {
            answered = true;
            if (reply == "^C") {
                ::kill(pid, SIGINT);
            } else {
                const std::string line = reply + "\n";
                EXPECT_EQ(::write(master, line.data(), line.size()), ssize_t(line.size()));
            }
        }
    }
    ::close(master);
    ::waitpid(pid, status, 0);
    return seen;
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size())
        ++n;
    return n;
}

TEST_F(ParallelConvertTest, OneQuestionAnswersForEveryAlreadyConvertedFile) {
    const std::vector<std::string> sources = {mixedSet_[1], mixedSet_[2], mixedSet_[3],
                                              mixedSet_[4]};
    const std::vector<std::uint8_t> old = {'o', 'l', 'd'};
    for (const std::string reply : {"r", "s"}) {
        const std::string folder = out(reply);
        fs::create_directories(folder);
        for (const std::string& source : sources)
            writeFile(folder + "/" + fs::path(source).stem().string() + ".wav", old);
        std::vector<std::string> args = {"-f", "wav-medium", "-o", folder, "--jobs", "4"};
        args.insert(args.end(), sources.begin(), sources.end());
        int status = -1;
        const std::string terminal = runOnTerminal(args, reply, &status);

        EXPECT_EQ(count(terminal, "[S]kip all or [R]econvert all? "), 1u) << terminal;
        EXPECT_EQ(count(terminal, "seems to be already converted"), 1u) << terminal;
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), reply == "r" ? 0 : 1) << terminal;
        EXPECT_EQ(count(terminal, "file skipped."), reply == "r" ? 0u : 4u) << terminal;
        EXPECT_EQ(count(terminal, "Conversion cancelled."), 0u) << terminal;
        for (const std::string& source : sources) {
            const std::string ringtone = folder + "/" + fs::path(source).stem().string() + ".wav";
            if (reply == "r")
                EXPECT_EQ(probe(ringtone, "codec_name"), "pcm_u8") << ringtone;
            else
                EXPECT_EQ(readFile(ringtone), old) << ringtone;
        }
    }
}

TEST_F(ParallelConvertTest, AnInterruptWhileTheQuestionWaitsEndsTheRun) {
    const std::vector<std::string> sources = {mixedSet_[1], mixedSet_[2], mixedSet_[3],
                                              mixedSet_[4]};
    const std::vector<std::uint8_t> old = {'o', 'l', 'd'};
    fs::create_directories(out());
    for (const std::string& source : sources)
        writeFile(out(fs::path(source).stem().string() + ".wav"), old);
    std::vector<std::string> args = {"-f", "wav-medium", "-o", out(), "--jobs", "4"};
    args.insert(args.end(), sources.begin(), sources.end());
    const auto started = Clock::now();
    int status = -1;
    const std::string terminal = runOnTerminal(args, "^C", &status);

    EXPECT_LT(Clock::now() - started, std::chrono::seconds(60)) << "the question kept waiting";
    ASSERT_TRUE(WIFEXITED(status)) << terminal;
    EXPECT_EQ(WEXITSTATUS(status), 1) << terminal;
    EXPECT_EQ(count(terminal, "Conversion cancelled."), 1u) << terminal;
    for (const std::string& source : sources)
        EXPECT_EQ(readFile(out(fs::path(source).stem().string() + ".wav")), old) << source;
}

// A started tolvane-convert with a private temporary folder, its output in files.
struct Started {
    pid_t pid = -1;
};

Started startConvert(const std::vector<std::string>& args, const std::string& tmp,
                     const std::string& stdoutFile, const std::string& stderrFile) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, stdoutFile.c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, stderrFile.c_str(), O_WRONLY | O_CREAT, 0600);
    std::vector<std::string> argv = args;
    argv.insert(argv.begin(), program());
    std::vector<char*> cargv;
    for (auto& a : argv)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        if (std::strncmp(*e, "TMPDIR=", 7) != 0)
            env.emplace_back(*e);
    env.push_back("TMPDIR=" + tmp);
    std::vector<char*> cenv;
    for (auto& e : env)
        cenv.push_back(e.data());
    cenv.push_back(nullptr);
    Started started;
    EXPECT_EQ(posix_spawn(&started.pid, cargv[0], &actions, nullptr, cargv.data(), cenv.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    return started;
}

std::string text(const std::string& path) {
    const auto bytes = readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

TEST_F(ParallelConvertTest, ASignalCancelsEveryFileInProgressAndLeavesNothingBehind) {
    struct Case {
        int signal;
        const char* format;
    };
    std::vector<std::string> sources;
    for (const char* name : {"long1.wav", "long2.wav", "long3.wav"}) {
        sources.push_back(dir_.file(name));
        ASSERT_TRUE(makeTone(sources.back(), 44100, 2, 16, 150, "pluck 220 whitenoise", -3));
    }
    for (const Case& c : {Case{SIGINT, "wav-high"}, Case{SIGTERM, "smaf"}, Case{SIGHUP, "qcp"}}) {
        const std::string shown = std::string(strsignal(c.signal)) + " " + c.format;
        const std::string tmp = dir_.file(std::string("tmp-") + c.format);
        const std::string folder = out(c.format);
        fs::create_directories(tmp);
        fs::create_directories(folder);
        std::vector<std::string> args = {"-f", c.format, "-o", folder, "--jobs", "2"};
        args.insert(args.end(), sources.begin(), sources.end());
        const std::string stdoutFile = dir_.file(std::string("stdout-") + c.format);
        const std::string stderrFile = dir_.file(std::string("stderr-") + c.format);
        const Started started = startConvert(args, tmp, stdoutFile, stderrFile);

        // Two files are converting once two of them have a ringtone or a temporary WAV.
        const auto busy = [&] {
            std::size_t n = filesIn(folder).size();
            for (const std::string& name : filesIn(tmp))
                n += name.rfind("RCM", 0) == 0;
            return n;
        };
        const auto deadline = Clock::now() + std::chrono::seconds(60);
        while (busy() < 2 && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_GE(busy(), 2u) << shown;
        ::kill(started.pid, c.signal);
        int status = 0;
        ASSERT_EQ(::waitpid(started.pid, &status, 0), started.pid);
        ASSERT_TRUE(WIFEXITED(status)) << shown;

        const std::string printed = text(stdoutFile);
        if (!printed.empty()) {
            ADD_FAILURE() << shown
                          << ": a file was finished before the signal arrived: " << printed;
            continue;
        }
        EXPECT_EQ(WEXITSTATUS(status), 1) << shown;
        EXPECT_EQ(text(stderrFile), "Conversion cancelled.\n") << shown;
        EXPECT_EQ(filesIn(folder), std::vector<std::string>{}) << shown;
        EXPECT_EQ(filesIn(tmp), std::vector<std::string>{}) << shown;
    }
}

}  // namespace
