// A long compressed source is decoded once: its PCM waits for the conversion in a spill file in
// the temporary folder. Whatever ends the program, an interrupt or a kill, nothing is left there.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/test_support.h"

extern char** environ;

using namespace tolvane::test;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// True once process `pid` holds a file open in `folder`.
bool holdsFileIn(pid_t pid, const fs::path& folder) {
    std::error_code error;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        const std::string target = fs::read_symlink(fd.path(), error).string();
        if (!error && target.rfind(folder.string() + "/", 0) == 0)
            return true;
    }
    return false;
}

class SpillCliTest : public ::testing::TestWithParam<int> {
protected:
    static void SetUpTestSuite() {
        sources_ = new TempDir;
        // Five minutes of 48 kHz stereo decode to 58 MB, more than is kept in memory.
        ASSERT_EQ(run({"sox", "-D", "-n", "-r", "48000", "-c", "2", "-b", "16",
                       sources_->file("long.flac"), "synth", "300", "pinknoise", "gain", "-6"})
                      .status,
                  0);
    }
    static void TearDownTestSuite() {
        delete sources_;
        sources_ = nullptr;
    }
    static TempDir* sources_;
};

TempDir* SpillCliTest::sources_ = nullptr;

TEST_P(SpillCliTest, NothingIsLeftInTheTemporaryFolderWhenTheRunIsStopped) {
    TempDir dir;
    const std::string temporary = dir.file("tmp");
    fs::create_directories(temporary);
    std::vector<std::string> environment = {"TMPDIR=" + temporary,
                                            "XDG_CONFIG_HOME=" + dir.file("config"),
                                            "XDG_RUNTIME_DIR=" + dir.path().string()};
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (entry.rfind("TMPDIR=", 0) != 0 && entry.rfind("XDG_CONFIG_HOME=", 0) != 0 &&
            entry.rfind("XDG_RUNTIME_DIR=", 0) != 0)
            environment.push_back(entry);
    }
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);

    const std::string program = (binDir() / "tolvane-convert").string();
    const std::string out = dir.file("out"), source = sources_->file("long.flac");
    std::vector<const char*> argv = {program.c_str(), "-f",           "wav-medium", "-o",
                                     out.c_str(),     source.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, program.c_str(), &actions, nullptr, const_cast<char**>(argv.data()),
                          envp.data()),
              0);
    posix_spawn_file_actions_destroy(&actions);

    const auto deadline = std::chrono::steady_clock::now() + 60s;
    bool spilled = false;
    while (!(spilled = holdsFileIn(pid, temporary)) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    ::kill(pid, GetParam());
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(spilled) << "the program never opened a spill file";
    if (GetParam() == SIGINT) {
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1);  // "Conversion cancelled."
    }
    EXPECT_TRUE(fs::is_empty(temporary));
}

INSTANTIATE_TEST_SUITE_P(Signals, SpillCliTest, ::testing::Values(SIGINT, SIGKILL),
                         [](const auto& info) {
                             return std::string(info.param == SIGINT ? "Interrupt" : "Kill");
                         });

}  // namespace
