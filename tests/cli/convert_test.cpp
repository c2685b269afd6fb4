// tolvane-convert as scripts meet it: the real program on real files made by sox, its outputs
// checked with ffprobe and ffmpeg.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "pipeline/settings.h"
#include "platform/registry.h"
#include "support/test_support.h"

extern char** environ;

using namespace tolvane;
using namespace tolvane::test;
namespace fs = std::filesystem;

namespace {

std::string program() {
    return (binDir() / "tolvane-convert").string();
}

CommandResult convert(std::vector<std::string> args) {
    args.insert(args.begin(), program());
    return run(args);
}

class ConvertCliTest : public ::testing::Test {
protected:
    std::string tone(const std::string& name, double seconds,
                     const std::string& synth = "sine 440") {
        const std::string path = dir_.file(name);
        EXPECT_TRUE(makeTone(path, 44100, 2, 16, seconds, synth)) << name;
        return path;
    }
    std::string out(const std::string& name = "") const {
        return dir_.file("out") + (name.empty() ? "" : "/" + name);
    }

    TempDir dir_;
};

TEST_F(ConvertCliTest, ConvertsABatchWithPartsAndReportsEachBadFile) {
    const std::string a = tone("a.wav", 3);
    const std::string b = tone("b.wav", 5, "sine 660 pad 10 5");  // sound only in seconds 10..15
    const CommandResult r = convert({"-f", "wav-medium", "-o", out(), a, "--part", "10+5", b,
                                     dir_.file("missing.wav"), dir_.file("notes.txt")});

    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(lines(r.output), (std::vector<std::string>{out("a.wav"), out("b.wav")}));
    EXPECT_EQ(lines(r.errors), (std::vector<std::string>{"missing.wav: cannot open file.",
                                                         "notes.txt: no decoder available."}));
    for (const char* name : {"a.wav", "b.wav"}) {
        EXPECT_EQ(probe(out(name), "sample_rate"), "8000") << name;
        EXPECT_EQ(probe(out(name), "channels"), "1") << name;
        EXPECT_EQ(probe(out(name), "codec_name"), "pcm_u8") << name;
    }
    const auto part = decodeWithFfmpeg(out("b.wav"));
    EXPECT_NEAR(static_cast<double>(part.size()), 5 * 8000, 8);
    std::int64_t quiet = 0;
    for (std::int16_t s : part)
        quiet += (s > -1000 && s < 1000);
    EXPECT_LT(quiet, static_cast<std::int64_t>(part.size() / 5));  // the tone, not the silence
}

TEST_F(ConvertCliTest, HighQualityAndACleanRunExitWithZero) {
    const CommandResult r = convert({"--format=1", "--out", out(), tone("hq.wav", 2)});
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(r.errors, "");
    EXPECT_EQ(lines(r.output), std::vector<std::string>{out("hq.wav")});
    EXPECT_EQ(probe(out("hq.wav"), "sample_rate"), "22050");
}

TEST_F(ConvertCliTest, TheWizardsStoredChoicesAreUsedButNeverChanged) {
    Settings stored;
    stored.load();
    stored.setFolder(out());
    stored.setFormat(1);
    stored.setSave(0);
    stored.setSend(1);

    // No -f and no -o: the stored format and folder.
    const CommandResult first = convert({tone("stored.wav", 1)});
    EXPECT_EQ(first.status, 0) << first.errors;
    EXPECT_EQ(lines(first.output), std::vector<std::string>{out("stored.wav")});
    EXPECT_EQ(probe(out("stored.wav"), "sample_rate"), "22050");

    const CommandResult second =
        convert({"-f", "0", "-o", dir_.file("elsewhere"), tone("other.wav", 1)});
    EXPECT_EQ(second.status, 0) << second.errors;
    Settings after;
    after.load();
    EXPECT_EQ(after.folder(), out());
    EXPECT_EQ(after.format(), 1);
    EXPECT_EQ(after.save(), 0);
    EXPECT_EQ(after.send(), 1);
}

TEST_F(ConvertCliTest, AnExistingRingtoneIsSkippedUnlessReconvertIsAsked) {
    const std::string source = tone("again.wav", 1);
    ASSERT_EQ(convert({"-o", out(), "-f", "0", source}).status, 0);
    const auto first = readFile(out("again.wav"));
    writeFile(out("again.wav"), {'o', 'l', 'd'});

    // No terminal on standard input: the question is answered "Skip All".
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{}, std::vector<std::string>{"--skip-existing"}}) {
        std::vector<std::string> args = {"-o", out(), "-f", "0"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(source);
        const CommandResult skipped = convert(args);
        EXPECT_EQ(skipped.status, 1);
        EXPECT_EQ(skipped.output, "");
        EXPECT_EQ(skipped.errors, "again.wav: file skipped.\n");
        EXPECT_EQ(readFile(out("again.wav")), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    }

    const CommandResult redone = convert({"--reconvert", "-o", out(), "-f", "0", source});
    EXPECT_EQ(redone.status, 0) << redone.errors;
    EXPECT_EQ(readFile(out("again.wav")), first);
}

TEST_F(ConvertCliTest, ListsTheNineFormats) {
    const CommandResult r = convert({"--list-formats"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output,
              "0 wav-medium\n1 wav-high\n2 mp3-medium\n3 mp3-high\n4 smaf\n5 amr\n6 qcp\n"
              "7 m4r\n8 ogg\n");
    const CommandResult help = convert({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("Usage: tolvane-convert [options] FILE..."), std::string::npos);
}

TEST_F(ConvertCliTest, UsageErrorsExitWithTwoAndConvertNothing) {
    const std::string f = dir_.file("x.wav");
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"-f", "opus", f},
        {"-f", "9", f},
        {"-f"},
        {"--part", "10", f},
        {"--part", "10+0", f},
        {"--part", "-1+5", f},
        {"--part", "1+2", "--part", "3+4", f},
        {f, "--part", "1+2"},
        {"--skip-existing", "--reconvert", f},
        {"--bogus", f},
        {"-o", "", f},
        {"--fade-in", "-1", f},
        {"--fade-in", "61", f},
        {"--fade-out", "1.", f},
        {"--fade-out", "0.0001", f},
        {"--fade-out", "1e3", f},
        {"--fade-in"},
        {"--jobs", "0", f},
        {"--jobs", "-2", f},
        {"--jobs", "two", f},
        {"--jobs", "1.5", f},
        {"-j", "65", f},
        {"--jobs=99999999999999999999", f},
        {"-j"},
    };
    for (const auto& args : cases) {
        const CommandResult r = convert(args);
        std::string shown;
        for (const auto& a : args)
            shown += a + " ";
        EXPECT_EQ(r.status, 2) << shown;
        EXPECT_EQ(r.errors.rfind("tolvane-convert: ", 0), 0u) << shown << r.errors;
        EXPECT_EQ(r.output, "") << shown;
    }
    const CommandResult jobs = convert({"-j", "0", f});
    EXPECT_EQ(jobs.errors,
              "tolvane-convert: bad job count '0': a whole number from 1 to 64\n"
              "Try 'tolvane-convert --help'.\n");
    const CommandResult help = convert({"--help"});
    EXPECT_NE(help.output.find("-j, --jobs N"), std::string::npos);
}

TEST_F(ConvertCliTest, APartAfterTheEndOfItsFileIsRefusedBeforeAnythingIsConverted) {
    const std::string first = tone("first.wav", 1);
    const std::string shortOne = tone("short.wav", 3);
    for (const char* part : {"3+2", "30+5"}) {
        const CommandResult r =
            convert({"-f", "amr", "-o", out(), first, "--part", part, shortOne});
        EXPECT_EQ(r.status, 2) << part;
        EXPECT_EQ(r.output, "") << part;
        EXPECT_NE(r.errors.find("starts after the end of '" + shortOne + "' (3 s long)"),
                  std::string::npos)
            << r.errors;
        EXPECT_FALSE(fs::exists(out("first.amr"))) << part;
        EXPECT_FALSE(fs::exists(out("short.amr"))) << part;
    }
    // The last whole second is still a part, and it is converted.
    const CommandResult r = convert({"-f", "amr", "-o", out(), "--part", "2+5", shortOne});
    EXPECT_EQ(r.status, 0) << r.errors;
    EXPECT_NEAR(static_cast<double>(decodeWithFfmpeg(out("short.amr")).size()), 8000, 400);
}

TEST_F(ConvertCliTest, InterruptCancelsAndRemovesTheRingtoneInProgress) {
    const std::string first = tone("first.wav", 1);
    const std::string second = tone("second.wav", 120);  // long enough to be caught converting
    const std::string third = tone("third.wav", 1);
    const std::string stdoutFile = dir_.file("stdout"), stderrFile = dir_.file("stderr");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, stdoutFile.c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, stderrFile.c_str(), O_WRONLY | O_CREAT, 0600);
    const std::string prog = program(), outDir = out();
    // One file after the other: the third has not started when the second is cancelled.
    std::vector<const char*> argv = {
        prog.c_str(),   "-f",          "wav-high",     "--jobs",      "1",    "-o",
        outDir.c_str(), first.c_str(), second.c_str(), third.c_str(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, prog.c_str(), &actions, nullptr, const_cast<char**>(argv.data()),
                          environ),
              0);
    posix_spawn_file_actions_destroy(&actions);

    // The second ringtone exists once its encoder runs: the conversion loop is under way.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(out("second.wav")) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));

    const std::string printed = [&] {
        const auto bytes = readFile(stdoutFile);
        return std::string(bytes.begin(), bytes.end());
    }();
    if (printed.find("second.wav") != std::string::npos)
        GTEST_SKIP() << "the second file was finished before the interrupt arrived";
    const auto errors = readFile(stderrFile);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(std::string(errors.begin(), errors.end()), "Conversion cancelled.\n");
    EXPECT_EQ(lines(printed), std::vector<std::string>{out("first.wav")});
    EXPECT_TRUE(fs::exists(out("first.wav")));
    EXPECT_FALSE(fs::exists(out("second.wav")));
    EXPECT_FALSE(fs::exists(out("third.wav")));
}

}  // namespace
