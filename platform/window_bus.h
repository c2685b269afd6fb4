// The window bus: lets one process find another's windows by their text and post messages to
// them. An owner process binds a datagram socket <bus>/<pid>.sock and publishes its windows in
// <bus>/<pid>.windows (replaced atomically on every change), one window a line:
//   <handle> <parent> <text>      handle and parent as 16 lower-case hex digits, text escaped
// A posted message is one datagram:
//   <handle> <message> <wparam> <lparam>      handle in hex, the others decimal (lparam signed)
// Other programs (tests in any language) may speak this format, so it does not change.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::platform {

using WindowHandle = std::uint64_t;

// Message numbers shared with the converter.
constexpr std::uint32_t kWmCommand = 0x0111;

namespace window_bus {

struct WindowRecord {
    WindowHandle handle = 0;
    WindowHandle parent = 0;  // 0 for a top-level window
    std::string text;
    bool operator==(const WindowRecord&) const = default;
};

struct PostedMessage {
    WindowHandle handle = 0;
    std::uint32_t message = 0;
    std::uint64_t wparam = 0;
    std::int64_t lparam = 0;
    bool operator==(const PostedMessage&) const = default;
};

// The process that owns a window.
inline pid_t ownerOf(WindowHandle handle) {
    return pid_t(handle >> 20);
}

// The environment variable by which a driver hands its bus folder to the converter it starts.
inline constexpr const char* kDirectoryVariable = "TOLVANE_WINDOW_BUS";

// The bus folder: the one named by TOLVANE_WINDOW_BUS when that is private to this user; else
// $XDG_RUNTIME_DIR/tolvane-windows (or /tmp/tolvane-windows-<uid>), created with mode 0700. A
// folder that is not private to this user (another user made it first, or it is open to others)
// is never used: a private folder "<that name>-XXXXXX" is made in its place for this process
// (and the converters it hands it to), and removed when the process ends. Nothing when no
// private folder can be had.
std::optional<std::filesystem::path> directory();
// "TOLVANE_WINDOW_BUS=<folder>" for the environment of a converter this process drives, so that
// both find the same folder; empty when there is no bus.
std::string directoryEnvironment();

// Removes the tables, sockets and half-written tables of processes that are gone.
void sweepStaleEntries();
// Removes the table and socket of `pid` once that process is gone (a converter that was killed
// cannot remove its own).
void removeEntriesOf(pid_t pid);

// Wire format. Parsers return nothing for anything malformed.
std::string escapeText(std::string_view text);
std::optional<std::string> unescapeText(std::string_view escaped);
std::string formatRecord(const WindowRecord& record);
std::optional<WindowRecord> parseRecord(std::string_view line);
std::string formatMessage(const PostedMessage& message);
std::optional<PostedMessage> parseMessage(std::string_view datagram);

// The windows of live processes in ascending pid, each process's in creation order; only those
// of `onlyPid` when it is not 0. Tables of processes that are gone are removed on the way.
std::vector<WindowRecord> windows(pid_t onlyPid = 0);

// Client operations (each reads the tables afresh).
WindowHandle findWindow(std::string_view text, pid_t onlyPid = 0);  // top-level, exact; 0 if none
std::vector<WindowHandle> topLevelWindows(pid_t onlyPid = 0);
std::vector<WindowHandle> childWindows(WindowHandle parent);
std::optional<std::string> windowText(WindowHandle window);
WindowHandle parentOf(WindowHandle window);  // 0 for a top-level or unknown window

// Sends the message without waiting for the owner; false when it could not be delivered (no
// such process, its queue full, no bus).
bool postMessage(WindowHandle window, std::uint32_t message, std::uint64_t wparam = 0,
                 std::int64_t lparam = 0);

// Lets a driver wait for the bus to change instead of reading it at fixed intervals: wait()
// returns as soon as a window table is published or removed (or a socket appears) in the bus
// folder after the watch was made, or when the time-out passes. Make the watch before the event
// that is waited for can happen (before starting the process whose windows are awaited), then
// read the tables, wait, read again. Where the folder cannot be watched, wait() simply sleeps
// a few milliseconds, so the caller degrades to a short poll.
class ChangeWatch {
public:
    ChangeWatch();
    ~ChangeWatch();
    ChangeWatch(const ChangeWatch&) = delete;
    ChangeWatch& operator=(const ChangeWatch&) = delete;

    // True when something changed (consumes the notices), false when the time ran out.
    bool wait(std::chrono::milliseconds timeout);
    bool watching() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// A lock named on the bus (the stand-in for a named mutex), held while the object lives.
class NamedLock {
public:
    // Nothing when another holder has it, in this process or another (or the bus is
    // unavailable).
    static std::unique_ptr<NamedLock> tryAcquire(std::string_view name);
    // What the current holder wrote into the lock (empty when nothing or no bus): waiters tell
    // one holder from the next by it.
    static std::string note(std::string_view name);
    void setNote(std::string_view text);
    ~NamedLock();
    NamedLock(const NamedLock&) = delete;
    NamedLock& operator=(const NamedLock&) = delete;

private:
    explicit NamedLock(int fd) : fd_(fd) {}
    int fd_;
};

// The owner side: a process's windows, its socket and its message loop. One per process.
class WindowOwner {
public:
    using Handler = std::function<void(const PostedMessage&)>;

    // Throws std::runtime_error when the bus or the socket is unavailable. Sweeps the entries of
    // processes that are gone. Termination signals (SIGTERM, SIGHUP, SIGINT) that the program
    // does not handle itself remove the table and the socket before the process ends.
    WindowOwner();
    ~WindowOwner();  // removes the table and the socket
    // Removes the owner's table and socket; async-signal-safe, for a program's own handlers.
    static void removeEntriesOnSignal();
    WindowOwner(const WindowOwner&) = delete;
    WindowOwner& operator=(const WindowOwner&) = delete;

    // A new window (a child when parent is not 0); its messages go to `handler`.
    WindowHandle create(WindowHandle parent, std::string text, Handler handler = {});
    // Destroys the window and its children; later messages to them are dropped.
    void destroy(WindowHandle window);
    void setText(WindowHandle window, std::string text);
    std::string text(WindowHandle window) const;
    bool exists(WindowHandle window) const { return windows_.count(window) != 0; }

    // Receives and dispatches one message, waiting at most timeoutMs (forever when negative).
    // False when nothing arrived in time.
    bool dispatchOne(int timeoutMs = -1);
    // A (possibly nested) modal loop: dispatches every window's messages until done() holds.
    void runUntil(const std::function<bool()>& done);

    // Groups several changes into one publication of the table.
    class Batch {
    public:
        explicit Batch(WindowOwner& owner) : owner_(owner) { ++owner_.batchDepth_; }
        ~Batch() {
            if (--owner_.batchDepth_ == 0)
                owner_.publish();
        }
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        WindowOwner& owner_;
    };

private:
    struct Window {
        WindowHandle parent = 0;
        std::string text;
        std::shared_ptr<Handler> handler;
        std::uint64_t order = 0;
    };

    void publish();

    std::filesystem::path directory_;
    std::filesystem::path tablePath_;
    std::filesystem::path socketPath_;
    int socket_ = -1;
    pid_t pid_ = 0;
    std::uint64_t nextSerial_ = 1;
    std::uint64_t nextOrder_ = 0;
    int batchDepth_ = 0;
    std::map<WindowHandle, Window> windows_;
};

}  // namespace window_bus
}  // namespace tolvane::platform
