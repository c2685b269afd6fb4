// The real kessin process driven over the window bus, as the wizard and other callers drive it:
// message 1075, the options dialog's switches and buttons, the result dialog, Power, the about
// box, the single-instance lock, the refusals and the messages' languages.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "platform/process.h"
#include "platform/window_bus.h"
#include "support/test_support.h"

namespace {

namespace bus = tolvane::platform::window_bus;
using tolvane::platform::ChildProcess;
using tolvane::platform::kWmCommand;
using tolvane::platform::WindowHandle;
using tolvane::test::readFile;
using tolvane::test::run;
using tolvane::test::TempDir;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr long kSlotOffset = 191656;
constexpr std::uint32_t kConvert = 1075;

std::string builtKessin() {
    return (tolvane::test::libexecDir() / "kessin").string();
}

// A private copy of kessin with `input` in its slot.
std::string preparedCopy(const TempDir& dir, const std::string& input, const std::string& name) {
    const std::string path = dir.file(name);
    std::filesystem::copy_file(builtKessin(), path);
    const int fd = ::open(path.c_str(), O_WRONLY);
    EXPECT_EQ(::pwrite(fd, input.c_str(), input.size() + 1, kSlotOffset),
              ssize_t(input.size() + 1));
    ::close(fd);
    return path;
}

// A private copy of kessin with `input` in its slot, started and watched.
class Kessin {
public:
    // `launcher` (a program and its arguments) runs the copy when given; it must exec it.
    Kessin(const TempDir& dir, const std::string& input, const std::string& name = "kessin-copy",
           std::vector<std::string> launcher = {})
        : path_(preparedCopy(dir, input, name)) {
        if (launcher.empty()) {
            process_ = ChildProcess::start(path_);
        } else {
            const std::string program = launcher.front();
            launcher.erase(launcher.begin());
            launcher.push_back(path_);
            process_ = ChildProcess::start(program, launcher);
        }
        EXPECT_TRUE(process_);
    }

    ChildProcess& process() { return *process_; }
    pid_t pid() const { return process_->pid(); }

    // Waits (up to 5 s) for a window of this process that `match` accepts.
    template <class Match>
    std::optional<bus::WindowRecord> await(Match match) {
        for (int i = 0; i < 500; ++i) {
            for (const auto& w : bus::windows(pid()))
                if (match(w))
                    return w;
            if (!process_->running())
                break;
            std::this_thread::sleep_for(10ms);
        }
        return std::nullopt;
    }
    WindowHandle mainWindow() {
        const auto w = await([](const auto& r) { return r.parent == 0 && r.text == "KESSIN"; });
        return w ? w->handle : 0;
    }
    // The dialog whose control text begins with `prefix`.
    WindowHandle dialogWith(const std::string& prefix) {
        const auto w =
            await([&](const auto& r) { return r.parent != 0 && r.text.starts_with(prefix); });
        return w ? w->parent : 0;
    }
    void command(WindowHandle window, int id) {
        ASSERT_TRUE(bus::postMessage(window, kWmCommand, id));
    }

private:
    std::string path_;
    std::optional<ChildProcess> process_;
};

std::string sizeText(std::size_t bytes) {
    char text[64];
    std::snprintf(text, sizeof text, "SMAF File Size : %.2fKB", double(bytes) / 1024);
    return text;
}

bool tableGone(pid_t pid) {
    return !std::filesystem::exists(*bus::directory() / (std::to_string(pid) + ".windows"));
}

// A minute of music with noise: a plucked phrase of melody and bass, repeated, with pink noise
// under it, made by sox (whose plucked strings need 44100 Hz or more) and brought to `rate`.
bool makeMusic(const TempDir& dir, const std::string& path, int rate) {
    static const char* const notes[][2] = {{"C4", "C3"}, {"E4", "C3"}, {"G4", "G2"}, {"C5", "G2"},
                                           {"A3", "A2"}, {"C4", "A2"}, {"E4", "E2"}, {"A4", "E2"},
                                           {"F3", "F2"}, {"A3", "F2"}, {"C4", "C3"}, {"F4", "C3"},
                                           {"G3", "G2"}, {"B3", "G2"}, {"D4", "D3"}, {"G4", "D3"}};
    const std::string phrase = dir.file("phrase.wav"), noise = dir.file("noise.wav");
    const std::vector<std::string> null = {"sox", "-D", "-r", "44100", "-c", "2", "-n", "-b", "16"};
    std::vector<std::string> argv = null;
    argv.push_back(phrase);
    for (const auto& pair : notes) {
        if (argv.back() != phrase)
            argv.push_back(":");
        argv.insert(argv.end(), {"synth", "0.25", "pluck", pair[0], "pluck", pair[1]});
    }
    if (run(argv).status != 0)
        return false;
    argv = null;
    argv.insert(argv.end(), {noise, "synth", "60", "pinknoise", "gain", "-24"});
    if (run(argv).status != 0)
        return false;
    const std::string repeated = dir.file("repeated.wav");
    if (run({"sox", "-D", phrase, repeated, "repeat", "15", "trim", "0", "60"}).status != 0)
        return false;
    return run({"sox", "-D", "-m", repeated, noise, path, "rate", std::to_string(rate), "gain",
                "-n", "-3"})
               .status == 0;
}

double correlation(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
    const std::size_t n = std::min(a.size(), b.size());
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    for (std::size_t i = 0; i < n; ++i) {
        sa += a[i], sb += b[i];
        saa += double(a[i]) * a[i], sbb += double(b[i]) * b[i], sab += double(a[i]) * b[i];
    }
    const double cov = sab - sa * sb / double(n);
    return cov / std::sqrt((saa - sa * sa / double(n)) * (sbb - sb * sb / double(n)));
}

TEST(KessinProgram, BuiltExecutableCarriesTheDeliveredSlot) {
    const Bytes exe = readFile(builtKessin());
    ASSERT_GT(exe.size(), std::size_t(kSlotOffset + 260));
    const std::string slot(exe.begin() + kSlotOffset, exe.begin() + kSlotOffset + 260);
    EXPECT_EQ(slot, std::string("D:\\test.wav") + std::string(260 - 11, '\0'));
}

TEST(KessinProgram, ConvertsTheSlotsFileWhenDrivenLikeTheWizard) {
    TempDir dir;
    const std::string input = dir.file("song.wav");
    ASSERT_TRUE(tolvane::test::makeTone(input, 22050, 2, 16, 2.0, "sine 440"));
    tolvane::test::writeFile(dir.file("song.mmf"), Bytes(10, 'x'));  // replaced
    Kessin kessin(dir, input);
    const WindowHandle main = kessin.mainWindow();
    ASSERT_NE(main, 0u);
    ASSERT_TRUE(bus::postMessage(main, kConvert));
    const WindowHandle options = kessin.dialogWith("fs4k");
    ASSERT_NE(options, 0u);
    EXPECT_TRUE(bus::windowText(options));
    // The title edit proposes the input's base name.
    const auto children = bus::childWindows(options);
    ASSERT_FALSE(children.empty());
    EXPECT_EQ(bus::windowText(children.front()), "song");
    kessin.command(options, 1);

    const WindowHandle result = kessin.dialogWith("SMAF File Size");
    ASSERT_NE(result, 0u);
    const Bytes mmf = readFile(dir.file("song.mmf"));
    ASSERT_GT(mmf.size(), 100u);
    EXPECT_EQ(bus::windowText(bus::childWindows(result).front()), sizeText(mmf.size()));
    kessin.command(result, 1015);
    kessin.command(main, 1015);
    EXPECT_EQ(kessin.process().waitFor(5s), 0);
    EXPECT_TRUE(tableGone(kessin.pid()));
    std::set<std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        files.insert(e.path().filename().string());
    EXPECT_EQ(files, (std::set<std::string>{"kessin-copy", "song.mmf", "song.wav"}));

    // An independent reader sees a two-second 8 kHz mono ADPCM SMAF file with our title.
    // FFmpeg reads the stream as 4-bit ADPCM.
    EXPECT_EQ(tolvane::test::probe(dir.file("song.mmf"), "codec_name").rfind("adpcm_", 0), 0u);
    EXPECT_EQ(tolvane::test::probe(dir.file("song.mmf"), "sample_rate"), "8000");
    const auto decoded = tolvane::test::decodeWithFfmpeg(dir.file("song.mmf"));
    EXPECT_NEAR(double(decoded.size()), 16000.0, 8.0);
    // The 440 Hz tone survives: the decoded signal crosses zero about 880 times a second.
    int crossings = 0;
    for (std::size_t i = 1000; i < 9000; ++i)
        crossings += (decoded[i - 1] < 0) != (decoded[i] < 0);
    EXPECT_NEAR(crossings, 880, 20);
    const std::string text(mmf.begin(), mmf.end());
    EXPECT_NE(text.find("ST:song,"), std::string::npos);
}

// A minute of music, converted by the real program and decoded by FFmpeg: the decoder's output
// follows the source for the whole minute (no drift of its level, no growing offset).
TEST(KessinProgram, AMinuteOfMusicDecodesFaithfullyElsewhere) {
    for (const int rate : {22050, 44100}) {
        SCOPED_TRACE(rate);
        TempDir dir;
        const std::string input = dir.file("music.wav");
        ASSERT_TRUE(makeMusic(dir, input, rate));
        Kessin kessin(dir, input);
        ASSERT_TRUE(bus::postMessage(kessin.mainWindow(), kConvert));
        const WindowHandle options = kessin.dialogWith("fs4k");
        ASSERT_NE(options, 0u);
        kessin.command(options, 1);
        const WindowHandle result = kessin.dialogWith("SMAF File Size");
        ASSERT_NE(result, 0u);
        kessin.command(result, 1015);
        EXPECT_EQ(kessin.process().waitFor(5s), 0);

        const auto decoded = tolvane::test::decodeWithFfmpeg(dir.file("music.mmf"));
        ASSERT_NEAR(double(decoded.size()), 60 * 8000.0, 8.0);
        // The source has no offset; neither may any second of what the decoder makes of it.
        double worstMean = 0;
        std::size_t worstSecond = 0;
        for (std::size_t second = 0; second < 60; ++second) {
            double sum = 0;
            for (std::size_t i = second * 8000; i < (second + 1) * 8000; ++i)
                sum += decoded[i];
            if (const double mean = sum / 8000 / 32768; std::fabs(mean) > std::fabs(worstMean))
                worstMean = mean, worstSecond = second;
        }
        EXPECT_LE(std::fabs(worstMean), 0.01)
            << "mean " << worstMean << " in second " << worstSecond;
        // Against the source mixed down and brought to the ringtone's rate by sox, not by our
        // code. Two resamplers differ in their transition band just below 4 kHz; both signals
        // leave that band out (sox again) so that the comparison measures the coding.
        const std::string reference = dir.file("reference.wav");
        const std::string referenceBand = dir.file("reference-band.wav");
        const std::string decodedWav = dir.file("decoded.wav");
        const std::string decodedBand = dir.file("decoded-band.wav");
        ASSERT_EQ(run({"sox", "-D", input, "-c", "1", "-r", "8000", reference}).status, 0);
        ASSERT_EQ(
            run({"ffmpeg", "-v", "error", "-f", "mmf", "-i", dir.file("music.mmf"), decodedWav})
                .status,
            0);
        for (const auto& [from, to] :
             {std::pair{reference, referenceBand}, {decodedWav, decodedBand}})
            ASSERT_EQ(run({"sox", "-D", from, to, "sinc", "-3500"}).status, 0);
        EXPECT_GE(correlation(tolvane::test::decodeWithFfmpeg(decodedBand),
                              tolvane::test::decodeWithFfmpeg(referenceBand)),
                  0.99);
    }
}

// The switches pressed before OK, and what the file then says: rate byte and copy status.
TEST(KessinProgram, OptionSwitchesDecideRateAndCopyStatus) {
    const struct {
        int inputRate;
        std::vector<int> presses;
        std::uint8_t rateByte;
        std::uint8_t copyStatus;
        bool titled;
    } cases[] = {
        {22050, {}, 0x11, 0, true},
        {22050, {1024}, 0x10, 0, true},        // fs4k
        {22050, {1024, 1030}, 0x11, 0, true},  // fs4k, then fs8k back
        {5000, {}, 0x10, 0, true},             // only 4 kHz offered
        {5000, {1030}, 0x10, 0, true},         // an unavailable fs8k does nothing
        {22050, {1031}, 0x11, 3, true},        // save off takes trans with it
        {22050, {1031, 1023}, 0x11, 0, true},  // trans on brings save back
        {22050, {1023}, 0x11, 1, true},        // trans off alone
        {22050, {1000}, 0x11, 0, false},       // CLEAR empties the title
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.inputRate << " presses " << c.presses.size()
                                        << " status " << int(c.copyStatus));
        TempDir dir;
        const std::string input = dir.file("tune.wav");
        ASSERT_TRUE(tolvane::test::makeTone(input, c.inputRate, 1, 16, 0.5));
        Kessin kessin(dir, input);
        const WindowHandle main = kessin.mainWindow();
        ASSERT_TRUE(bus::postMessage(main, kConvert));
        const WindowHandle options = kessin.dialogWith("fs4k");
        ASSERT_NE(options, 0u);
        for (const int id : c.presses)
            kessin.command(options, id);
        kessin.command(options, 1);
        const WindowHandle result = kessin.dialogWith("SMAF File Size");
        ASSERT_NE(result, 0u);
        // OK on the result dialog leaves the main window waiting; OK on the main window ends it.
        kessin.command(result, 1);
        std::this_thread::sleep_for(30ms);
        EXPECT_TRUE(kessin.process().running());
        kessin.command(main, 1);
        EXPECT_EQ(kessin.process().waitFor(5s), 0);

        const Bytes mmf = readFile(dir.file("tune.mmf"));
        ASSERT_GT(mmf.size(), 40u);
        EXPECT_EQ(mmf[19], c.copyStatus);
        const std::string text(mmf.begin(), mmf.end());
        const auto track = text.find(std::string("ATR\0", 4));
        ASSERT_NE(track, std::string::npos);
        EXPECT_EQ(std::uint8_t(text[track + 10]), c.rateByte);
        EXPECT_EQ(text.find("ST:tune,") != std::string::npos, c.titled);
        EXPECT_EQ(text.find("CR:"), std::string::npos);
        EXPECT_NE(text.find("CD:"), std::string::npos);
    }
}

TEST(KessinProgram, RefusalsShowTheirTextAndWriteNothing) {
    TempDir dir;
    ASSERT_TRUE(tolvane::test::makeTone(dir.file("upper.WAV"), 8000, 1, 16, 0.1));
    ASSERT_TRUE(tolvane::test::makeTone(dir.file("slow.wav"), 8000, 1, 16, 0.1));
    // sox will not write a 3000 Hz rate into this file's header for us: patch it.
    Bytes slow = readFile(dir.file("slow.wav"));
    slow[24] = 0xB8, slow[25] = 0x0B, slow[26] = 0, slow[27] = 0;
    tolvane::test::writeFile(dir.file("slow.wav"), slow);
    tolvane::test::writeFile(dir.file("short.wav"),
                             tolvane::test::wavBytes(8000, 1, 16, Bytes(200, 0)));
    tolvane::test::writeFile(dir.file("junk.aif"), Bytes(100, 'j'));
    // A format of 0 bits per sample in frames of 0 bytes, and one of 65535 one-byte channels.
    Bytes empty = tolvane::test::wavBytes(8000, 1, 16, Bytes(800, 0));
    std::fill(empty.begin() + 32, empty.begin() + 36, 0);
    tolvane::test::writeFile(dir.file("empty-frames.wav"), empty);
    Bytes wide = tolvane::test::wavBytes(8000, 1, 8, Bytes(800, 0));
    wide[22] = wide[23] = wide[32] = wide[33] = 0xFF;
    tolvane::test::writeFile(dir.file("wide.wav"), wide);
    const struct {
        std::string input;
        std::string message;  // empty: the options dialog shows
    } cases[] = {
        {dir.file("song.aiff"), "Extension is not .wav/.aif"},
        {dir.file("song.mp3"), "Extension is not .wav/.aif"},
        {dir.file("noextension"), "Extension is not .wav/.aif"},
        {dir.file("missing.wav"), "Cannot open WAV/AIFF file"},
        {dir.file("slow.wav"), "Sampling Frequency not supported"},
        {dir.file("short.wav"), "Inadequate playtime"},
        {dir.file("junk.aif"), "Audio format not supported"},
        {dir.file("empty-frames.wav"), "Audio format not supported"},
        {dir.file("wide.wav"), "Channel count not supported"},
        {dir.file("upper.WAV"), ""},
    };
    int copies = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        Kessin kessin(dir, c.input, "copy" + std::to_string(++copies));
        const WindowHandle main = kessin.mainWindow();
        ASSERT_TRUE(bus::postMessage(main, kConvert));
        if (c.message.empty()) {
            EXPECT_NE(kessin.dialogWith("fs4k"), 0u);
        } else {
            const WindowHandle result = kessin.dialogWith(c.message);
            ASSERT_NE(result, 0u);
            for (const auto& w : bus::windows(kessin.pid()))
                EXPECT_NE(w.text, "fs4k");
            kessin.command(result, 1015);
        }
        kessin.process().terminate();
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        EXPECT_NE(entry.path().extension(), ".mmf") << entry.path();
}

TEST(KessinProgram, TooLittleFreeSpaceIsReportedAfterTheOptions) {
    // A 64 KiB file system of its own, in a private mount namespace: room for the input, not
    // for the SMAF file beside it.
    if (run({"unshare", "-m", "true"}).status != 0)
        GTEST_SKIP() << "no private mount namespaces here";
    TempDir dir;
    const std::string source = dir.file("source.wav");
    ASSERT_TRUE(tolvane::test::makeTone(source, 8000, 1, 16, 3.6));
    const std::string small = dir.file("small");
    std::filesystem::create_directory(small);
    const std::string script = "mount -t tmpfs -o size=64k tmpfs '" + small + "' && cp '" + source +
                               "' '" + small + "/song.wav' && exec \"$0\"";
    Kessin kessin(dir, small + "/song.wav", "kessin-copy",
                  {"/usr/bin/unshare", "-m", "/bin/sh", "-c", script});
    const WindowHandle main = kessin.mainWindow();
    if (main == 0)
        GTEST_SKIP() << "no tmpfs mounts here";
    ASSERT_TRUE(bus::postMessage(main, kConvert));
    const WindowHandle options = kessin.dialogWith("fs4k");
    ASSERT_NE(options, 0u);
    kessin.command(options, 1);
    EXPECT_NE(kessin.dialogWith("Disk space not enough"), 0u);
    kessin.process().terminate();
}

TEST(KessinProgram, CancelPowerAboutAndTheIgnoredCommand) {
    TempDir dir;
    const std::string input = dir.file("song.wav");
    ASSERT_TRUE(tolvane::test::makeTone(input, 8000, 1, 16, 0.5));
    Kessin kessin(dir, input);
    const WindowHandle main = kessin.mainWindow();

    // 1015 on the main window has no handler.
    kessin.command(main, 1015);
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(kessin.process().running());

    // CANCEL ends the conversion without output; the main window waits for the next one.
    ASSERT_TRUE(bus::postMessage(main, kConvert));
    WindowHandle options = kessin.dialogWith("fs4k");
    ASSERT_NE(options, 0u);
    kessin.command(options, 2);
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(kessin.process().running());
    EXPECT_FALSE(std::filesystem::exists(dir.file("song.mmf")));
    EXPECT_EQ(bus::childWindows(options).size(), 0u);

    // "about" opens the about box; its Power ends the program.
    kessin.command(main, 1029);
    const WindowHandle about = kessin.dialogWith("Kessin");
    ASSERT_NE(about, 0u);
    kessin.command(about, 1015);
    EXPECT_EQ(kessin.process().waitFor(5s), 0);

    // Power on the options dialog ends the program too.
    Kessin second(dir, input, "second-copy");
    ASSERT_TRUE(bus::postMessage(second.mainWindow(), kConvert));
    options = second.dialogWith("fs4k");
    ASSERT_NE(options, 0u);
    second.command(options, 1015);
    EXPECT_EQ(second.process().waitFor(5s), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("song.mmf")));
}

// A flood of "about" commands: one about box opens, the others find it open; the program
// stays alive and still converts when asked.
TEST(KessinProgram, FloodOfAboutCommandsOpensOneAboutBox) {
    TempDir dir;
    const std::string input = dir.file("song.wav");
    ASSERT_TRUE(tolvane::test::makeTone(input, 8000, 1, 16, 0.5));
    Kessin kessin(dir, input);
    const WindowHandle main = kessin.mainWindow();
    ASSERT_NE(main, 0u);
    int delivered = 0;
    for (int attempt = 0; delivered < 5000 && attempt < 50000 && kessin.process().running();
         ++attempt) {
        if (bus::postMessage(main, kWmCommand, 1029))
            ++delivered;
        else
            std::this_thread::sleep_for(1ms);  // the queue is full: let the program catch up
    }
    ASSERT_EQ(delivered, 5000);
    // Posted after the flood, so the options dialog shows once every "about" has been handled.
    ASSERT_TRUE(bus::postMessage(main, kConvert));
    const WindowHandle options = kessin.dialogWith("fs4k");
    ASSERT_NE(options, 0u);
    int aboutBoxes = 0;
    WindowHandle about = 0;
    for (const auto& w : bus::windows(kessin.pid()))
        if (w.parent != 0 && w.text.starts_with("Kessin"))
            ++aboutBoxes, about = w.parent;
    EXPECT_EQ(aboutBoxes, 1);

    kessin.command(options, 1);
    const WindowHandle result = kessin.dialogWith("SMAF File Size");
    ASSERT_NE(result, 0u);
    kessin.command(result, 1);
    kessin.command(about, 1);
    kessin.command(main, 1);
    EXPECT_EQ(kessin.process().waitFor(5s), 0);
    EXPECT_GT(readFile(dir.file("song.mmf")).size(), 100u);
}

std::string executableOf(WindowHandle window) {
    std::error_code error;
    const auto path = std::filesystem::read_symlink(
        "/proc/" + std::to_string(bus::ownerOf(window)) + "/exe", error);
    return error ? std::string() : path.string();
}

// Whether `pid` has ended (gone, or a zombie nobody reaps yet).
bool ended(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return true;
    const auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

// A driver that dies without a word (SIGKILL): the kessin it started ends with it, whether it
// was waiting for its first message or in the middle of a conversion, and lets go of the
// instance lock and of the driver's output.
TEST(KessinProgram, EndsWhenItsDriverIsKilled) {
    for (const bool converting : {false, true}) {
        SCOPED_TRACE(converting ? "options dialog open" : "waiting for a conversion");
        TempDir dir;
        const std::string input = dir.file("song.wav");
        ASSERT_TRUE(tolvane::test::makeTone(input, 8000, 1, 16, 0.5));
        const std::string copy = preparedCopy(dir, input, "kessin-copy");
        // The driver's output goes into a pipe whose reader is this test: once every writer
        // has gone, reading it gives end of file.
        const std::string output = dir.file("output");
        ASSERT_EQ(::mkfifo(output.c_str(), 0600), 0);
        const int reader = ::open(output.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(reader, 0);
        auto driver = ChildProcess::start("/bin/sh",
                                          {"-c", "exec >\"$1\" 2>&1; \"$0\" & wait", copy, output});
        ASSERT_TRUE(driver);

        WindowHandle main = 0;
        for (int i = 0; i < 500 && main == 0; ++i) {
            for (const auto& w : bus::windows())
                if (w.parent == 0 && w.text == "KESSIN" && executableOf(w.handle) == copy)
                    main = w.handle;
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_NE(main, 0u);
        const pid_t kessin = bus::ownerOf(main);
        if (converting) {
            ASSERT_TRUE(bus::postMessage(main, kConvert));
            bool optionsOpen = false;
            for (int i = 0; i < 500 && !optionsOpen; ++i) {
                for (const auto& w : bus::windows(kessin))
                    optionsOpen = optionsOpen || w.text == "fs4k";
                std::this_thread::sleep_for(10ms);
            }
            ASSERT_TRUE(optionsOpen);
        }

        ASSERT_EQ(::kill(driver->pid(), SIGKILL), 0);
        ASSERT_TRUE(driver->waitFor(5s));
        bool gone = false;
        for (int i = 0; i < 300 && !gone; ++i) {
            gone = ended(kessin);
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_TRUE(gone) << "kessin " << kessin << " outlived its driver";
        if (!gone)
            ::kill(kessin, SIGKILL);
        EXPECT_TRUE(tableGone(kessin));
        EXPECT_TRUE(bus::NamedLock::tryAcquire("KESSININSTANCE"));
        char byte;
        EXPECT_EQ(::read(reader, &byte, 1), 0);  // end of file: nobody holds the output
        ::close(reader);
        EXPECT_FALSE(std::filesystem::exists(dir.file("song.mmf")));
    }
}

TEST(KessinProgram, SecondInstanceLeavesSilently) {
    TempDir dir;
    Kessin first(dir, dir.file("a.wav"), "first");
    ASSERT_NE(first.mainWindow(), 0u);
    Kessin second(dir, dir.file("a.wav"), "second");
    EXPECT_EQ(second.process().waitFor(5s), 0);
    EXPECT_TRUE(bus::windows(second.pid()).empty());
    EXPECT_TRUE(first.process().running());
}

TEST(KessinProgram, JapaneseLocaleTranslatesTheResultText) {
    TempDir dir;
    const std::string input = dir.file("song.wav");
    ASSERT_TRUE(tolvane::test::makeTone(input, 8000, 1, 16, 0.5));
    ::setenv("LANG", "ja_JP.UTF-8", 1);
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    Kessin kessin(dir, input);
    ::unsetenv("LANG");
    ASSERT_TRUE(bus::postMessage(kessin.mainWindow(), kConvert));
    const WindowHandle options = kessin.dialogWith("fs4k");  // the same in both languages
    ASSERT_NE(options, 0u);
    kessin.command(options, 1);
    const WindowHandle result = kessin.dialogWith("SMAFファイルサイズ : ");
    ASSERT_NE(result, 0u);
    for (const auto& w : bus::windows(kessin.pid()))
        EXPECT_FALSE(w.text.starts_with("SMAF File Size"));
    kessin.command(result, 1015);
    EXPECT_EQ(kessin.process().waitFor(5s), 0);
}

}  // namespace
