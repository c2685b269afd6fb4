#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string_view>
#include <thread>

extern char** environ;

namespace tolvane::platform {
namespace {

// Writing a fresh executable and starting it can race with another thread's fork that briefly
// holds a descriptor open for writing; the kernel then answers ETXTBSY for a moment.
constexpr int kBusyRetries = 20;
constexpr auto kBusyPause = std::chrono::milliseconds(5);

// This process's environment with `extra` entries added, an entry of the same name replaced.
std::vector<std::string> mergedEnvironment(const std::vector<std::string>& extra) {
    std::vector<std::string> merged;
    const auto nameOf = [](std::string_view entry) { return entry.substr(0, entry.find('=')); };
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view entry(*e);
        const bool replaced = std::any_of(extra.begin(), extra.end(), [&](const std::string& x) {
            return nameOf(x) == nameOf(entry);
        });
        if (!replaced)
            merged.emplace_back(entry);
    }
    merged.insert(merged.end(), extra.begin(), extra.end());
    return merged;
}

// Standard streams on /dev/null and every other descriptor closed: a child must not keep the
// caller's pipes (a script reading our output would wait for it) or files open.
void isolateDescriptors(posix_spawn_file_actions_t& actions) {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
}

}  // namespace

std::optional<ChildProcess> ChildProcess::start(const std::string& program,
                                                const std::vector<std::string>& arguments,
                                                int* error,
                                                const std::vector<std::string>& environment) {
    std::vector<std::string> args = arguments;
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    // The child starts with default signal handling, whatever this process ignores.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    std::vector<std::string> envStrings = mergedEnvironment(environment);
    std::vector<char*> envp;
    for (auto& e : envStrings)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    isolateDescriptors(actions);

    pid_t pid = -1;
    int result = 0;
    for (int attempt = 0; attempt <= kBusyRetries; ++attempt) {
        result =
            posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
        if (result != ETXTBSY)
            break;
        std::this_thread::sleep_for(kBusyPause);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (result != 0) {
        if (error != nullptr)
            *error = result;
        return std::nullopt;
    }
    return ChildProcess(pid);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), exitCode_(other.exitCode_) {
    other.pid_ = -1;
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        if (pid_ > 0 && !exitCode_)
            terminate();
        pid_ = other.pid_;
        exitCode_ = other.exitCode_;
        other.pid_ = -1;
    }
    return *this;
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !exitCode_)
        terminate();
}

bool ChildProcess::reap(bool block) {
    if (exitCode_)
        return true;
    if (pid_ <= 0)
        return true;
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0)
        return false;
    if (r < 0) {
        exitCode_ = kTerminatedExitCode;  // not our child any more: nothing left to wait for
        return true;
    }
    exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : kTerminatedExitCode;
    return true;
}

bool ChildProcess::running() {
    return !reap(false);
}

namespace {

// A descriptor that becomes readable when `pid` ends; -1 where the kernel has none.
int exitDescriptor(pid_t pid) {
#ifdef SYS_pidfd_open
    return int(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

}  // namespace

std::optional<int> ChildProcess::waitFor(std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    if (reap(false))
        return exitCode_;
    // Woken by the exit itself where the kernel can tell; otherwise looked at in short pauses.
    const int exited = exitDescriptor(pid_);
    auto pause = std::chrono::milliseconds(1);
    while (!reap(false)) {
        const auto now = Clock::now();
        if (now >= deadline)
            break;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        if (exited >= 0) {
            pollfd p{exited, POLLIN, 0};
            ::poll(&p, 1, int(std::min<std::chrono::milliseconds::rep>(left.count(), 1000)));
        } else {
            std::this_thread::sleep_for(std::min(pause, left));
            pause = std::min(pause * 2, std::chrono::milliseconds(10));
        }
    }
    if (exited >= 0)
        ::close(exited);
    return exitCode_;
}

void ChildProcess::terminate() {
    if (pid_ <= 0 || exitCode_)
        return;
    ::kill(pid_, SIGKILL);
    reap(true);
    exitCode_ = kTerminatedExitCode;
}

}  // namespace tolvane::platform
