// Child processes: start (posix_spawn), wait with a time-out, terminate (SIGKILL). A child that
// is still running when its object goes away is terminated and reaped, so none is left behind.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tolvane::platform {

class ChildProcess {
public:
    // Exit code reported for a terminated process.
    static constexpr int kTerminatedExitCode = -1;

    // Starts `program` with `arguments` (argv[0] is the program itself), the inherited
    // environment with `environment` ("NAME=value" entries) added or replacing, and the current
    // folder. The child inherits no descriptor: its standard streams read and write /dev/null,
    // so a caller's pipes close when the caller ends even if the child lives on. Nothing on
    // failure, with the reason in `error` (an errno value) when given.
    static std::optional<ChildProcess> start(const std::string& program,
                                             const std::vector<std::string>& arguments = {},
                                             int* error = nullptr,
                                             const std::vector<std::string>& environment = {});

    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    pid_t pid() const { return pid_; }
    // True while the process has not ended.
    bool running();
    // Waits until the process ends or `timeout` passes; its exit code, or nothing on time-out.
    std::optional<int> waitFor(std::chrono::milliseconds timeout);
    // Ends the process at once (SIGKILL) and reaps it. Its exit code becomes -1.
    void terminate();
    // The exit code once the process has ended (-1 when it was killed by a signal).
    std::optional<int> exitCode() const { return exitCode_; }

private:
    explicit ChildProcess(pid_t pid) : pid_(pid) {}
    bool reap(bool block);

    pid_t pid_ = -1;
    std::optional<int> exitCode_;
};

}  // namespace tolvane::platform
