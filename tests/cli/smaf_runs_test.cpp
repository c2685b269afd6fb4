// `tolvane-convert -f smaf` as users and scripts run it: several at once, ended by signals or
// killed outright while kessin converts, with its output captured, and on a machine where another
// user took the window bus folder first. Real kessin, real sox-made songs, real processes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

#include "support/test_support.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using tolvane::test::readFile;
using tolvane::test::TempDir;
using Clock = std::chrono::steady_clock;

std::string program() {
    return (tolvane::test::binDir() / "tolvane-convert").string();
}

// A song: plucked notes over noise, `seconds` long.
std::string song(const TempDir& dir, const std::string& name, double seconds) {
    const std::string path = dir.file(name);
    EXPECT_TRUE(tolvane::test::makeTone(path, 44100, 2, 16, seconds, "pluck 220 whitenoise", -3));
    return path;
}

// A started tolvane-convert whose standard output and error are pipes.
struct Started {
    pid_t pid = -1;
    int output = -1;  // both streams
};

Started start(const std::vector<std::string>& args, const std::vector<std::string>& environment) {
    int pipeFds[2];
    EXPECT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    std::vector<std::string> argv = args;
    argv.insert(argv.begin(), program());
    std::vector<char*> cargv;
    for (auto& a : argv)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);
    // This process's environment, with the entries of `environment` in place of their names'.
    std::vector<std::string> env = environment;
    const auto nameOf = [](std::string_view e) { return e.substr(0, e.find('=')); };
    for (char** e = environ; *e != nullptr; ++e) {
        const bool replaced =
            std::any_of(environment.begin(), environment.end(),
                        [&](const std::string& x) { return nameOf(x) == nameOf(*e); });
        if (!replaced)
            env.emplace_back(*e);
    }
    std::vector<char*> cenv;
    for (auto& e : env)
        cenv.push_back(e.data());
    cenv.push_back(nullptr);
    Started run;
    EXPECT_EQ(posix_spawn(&run.pid, argv[0].c_str(), &actions, nullptr, cargv.data(), cenv.data()),
              0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    run.output = pipeFds[0];
    return run;
}

// Everything the run wrote, once its pipe closes; nothing when it stays open past `timeout`.
std::optional<std::string> readToEnd(int fd, std::chrono::milliseconds timeout) {
    std::string text;
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(left.count())) <= 0)
            continue;
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return text;
        text.append(buffer, std::size_t(n));
    }
}

int waitExit(pid_t pid) {
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Processes whose program lies in `folder` (converter copies run from the temporary folder).
std::vector<pid_t> processesRunningFrom(const std::string& folder) {
    std::vector<pid_t> pids;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc", ec)) {
        std::error_code ignored;
        const fs::path exe = fs::read_symlink(e.path() / "exe", ignored);
        if (!ignored && exe.string().starts_with(folder))
            pids.push_back(std::stoi(e.path().filename()));
    }
    return pids;
}

template <class Condition>
bool waitFor(Condition condition, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

std::vector<std::string> namesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.push_back(e.path().filename().string());
    return names;
}

class SmafRunsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!fs::exists(program()))
            GTEST_SKIP() << "tolvane-convert is not part of this build";
        fs::create_directories(tmp());
    }
    std::string tmp() const { return dir_.file("tmp"); }
    std::string out(const std::string& name = "") const { return dir_.file("out/" + name); }
    std::vector<std::string> runEnvironment() const { return {"TMPDIR=" + tmp()}; }
    // Waits until a converter is up: it publishes its windows on the bus. Its pid, or 0.
    static pid_t converterUp() {
        const fs::path bus = fs::path(std::getenv("XDG_RUNTIME_DIR")) / "tolvane-windows";
        pid_t found = 0;
        waitFor(
            [&] {
                std::error_code ec;
                for (const auto& e : fs::directory_iterator(bus, ec))
                    if (e.path().extension() == ".windows")
                        found = std::stoi(e.path().stem());
                return found != 0;
            },
            60s);
        return found;
    }

    TempDir dir_;
};

TEST_F(SmafRunsTest, SignalsDuringAConversionCleanUpLikeCtrlC) {
    const std::string source = song(dir_, "Long Song.wav", 60);
    for (const int signal : {SIGHUP, SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(signal));
        Started run = start({"-f", "smaf", "-o", out(), "--reconvert", source}, runEnvironment());
        ASSERT_NE(converterUp(), 0);
        ::kill(run.pid, signal);
        const auto printed = readToEnd(run.output, 30s);
        ::close(run.output);
        EXPECT_EQ(waitExit(run.pid), 1);
        ASSERT_TRUE(printed);
        EXPECT_NE(printed->find("Conversion cancelled."), std::string::npos) << *printed;
        // No temporary WAV, converter copy or converter output, no converter, no ringtone.
        EXPECT_EQ(namesIn(tmp()), std::vector<std::string>{});
        EXPECT_EQ(processesRunningFrom(tmp()), std::vector<pid_t>{});
        EXPECT_FALSE(fs::exists(out("Long Song.mmf")));
    }
}

TEST_F(SmafRunsTest, AKilledRunLeavesNoPipeOpenAndItsCopyGoesWithTheNextStart) {
    const std::string source = song(dir_, "Long Song.wav", 60);
    Started run = start({"-f", "smaf", "-o", out(), source}, runEnvironment());
    const pid_t converter = converterUp();
    ASSERT_NE(converter, 0);
    // The converter is held where it is while its driver is killed outright.
    ::kill(converter, SIGSTOP);
    ::kill(run.pid, SIGKILL);
    EXPECT_EQ(waitExit(run.pid), 128 + SIGKILL);
    // A script reading the output sees its end although the orphaned converter lives on.
    EXPECT_TRUE(readToEnd(run.output, 10s)) << "the converter holds the caller's pipe";
    ::close(run.output);
    ::kill(converter, SIGKILL);
    ASSERT_TRUE(waitFor([&] { return ::kill(converter, 0) != 0; }, 10s));

    std::vector<std::string> copies;
    for (const auto& name : namesIn(tmp()))
        if (name.starts_with("MMF"))
            copies.push_back(name);
    ASSERT_EQ(copies.size(), 1u);
    // The next start, whatever it converts, removes the copy the killed run left.
    const std::string shortSong = song(dir_, "short.wav", 1);
    Started next = start({"-f", "wav-medium", "-o", out(), shortSong}, runEnvironment());
    readToEnd(next.output, 60s);
    ::close(next.output);
    EXPECT_EQ(waitExit(next.pid), 0);
    EXPECT_FALSE(fs::exists(tmp() + "/" + copies.front()));
}

TEST_F(SmafRunsTest, ParallelRunsTakeTurnsAndAllSucceed) {
    constexpr int kRuns = 3;
    std::vector<std::string> sources;
    for (int i = 0; i < kRuns; ++i)
        sources.push_back(song(dir_, "song " + std::to_string(i) + ".wav", 4));
    std::vector<Started> runs;
    for (int i = 0; i < kRuns; ++i)
        runs.push_back(start({"-f", "smaf", "-o", out(), sources[i]}, runEnvironment()));
    for (int i = 0; i < kRuns; ++i) {
        const auto printed = readToEnd(runs[i].output, 120s);
        ::close(runs[i].output);
        EXPECT_EQ(waitExit(runs[i].pid), 0) << printed.value_or("(no end)");
        const std::string target = out("song " + std::to_string(i) + ".mmf");
        const auto bytes = readFile(target);
        EXPECT_NE(std::string(bytes.begin(), bytes.end()).find("ST:song " + std::to_string(i)),
                  std::string::npos);
        EXPECT_NEAR(double(tolvane::test::decodeWithFfmpeg(target).size()), 4 * 8000.0, 8.0);
    }
    EXPECT_EQ(namesIn(tmp()), std::vector<std::string>{});
}

TEST_F(SmafRunsTest, ABusFolderTakenByAnotherUserIsNotUsedAndTheConversionWorks) {
    // Without XDG_RUNTIME_DIR the bus folder is /tmp/tolvane-windows-<uid>. The test gets a /tmp
    // of its own (a private mount namespace) in which user nobody made that folder first.
    if (::geteuid() != 0 || !tolvane::test::haveTool("unshare"))
        GTEST_SKIP() << "needs root and unshare for a private /tmp";
    const std::string root = dir_.file("root");
    fs::create_directories(root + "/work");
    fs::permissions(root, fs::perms::all | fs::perms::sticky_bit);
    const std::string taken = root + "/tolvane-windows-" + std::to_string(::getuid());
    fs::create_directory(taken);
    ASSERT_EQ(::chown(taken.c_str(), 65534, 65534), 0);
    fs::permissions(taken, fs::perms::all);
    song(dir_, "root/work/Taken Song.wav", 2);

    // The build itself may live under /tmp (a clone made there): the host's /tmp stays reachable
    // as host-tmp inside the private one, and the program is started from there.
    const std::string hostTmp = root + "/host-tmp";
    fs::create_directory(hostTmp);
    std::string visibleProgram = program();
    if (visibleProgram.starts_with("/tmp/"))
        visibleProgram = "/tmp/host-tmp/" + visibleProgram.substr(5);
    const std::string script = "mount --bind /tmp '" + hostTmp + "' && mount --rbind '" + root +
                               "' /tmp && exec env -u XDG_RUNTIME_DIR TMPDIR=/tmp/work '" +
                               visibleProgram +
                               "' -f smaf -o /tmp/work/out '/tmp/work/Taken Song.wav'";
    const auto result = tolvane::test::run({"unshare", "--mount", "sh", "-c", script});
    if (result.errors.find("mount") != std::string::npos && result.status != 0)
        GTEST_SKIP() << "no private mount namespace here: " << result.errors;
    EXPECT_EQ(result.status, 0) << result.errors;
    const std::string target = root + "/work/out/Taken Song.mmf";
    EXPECT_NEAR(double(tolvane::test::decodeWithFfmpeg(target).size()), 2 * 8000.0, 8.0);
    // Nothing was put into the other user's folder, and the private one is gone again.
    EXPECT_TRUE(fs::is_empty(taken));
    for (const auto& name : namesIn(root))
        EXPECT_TRUE(!name.starts_with("tolvane-windows") || name == fs::path(taken).filename())
            << name;
}

}  // namespace
