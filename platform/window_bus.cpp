#include "platform/window_bus.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace fs = std::filesystem;

namespace tolvane::platform::window_bus {
namespace {

constexpr std::size_t kHandleDigits = 16;
constexpr std::uint64_t kSerialMask = (std::uint64_t(1) << 20) - 1;
constexpr std::size_t kMaxDatagram = 256;
constexpr const char* kTableSuffix = ".windows";
constexpr const char* kSocketSuffix = ".sock";

std::string hex16(std::uint64_t v) {
    char buf[kHandleDigits + 1];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(v));
    return buf;
}

std::optional<std::uint64_t> parseHex16(std::string_view s) {
    if (s.size() != kHandleDigits)
        return std::nullopt;
    std::uint64_t v = 0;
    for (const char c : s) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else
            return std::nullopt;
        v = v << 4 | std::uint64_t(d);
    }
    return v;
}

template <class T>
std::optional<T> parseDecimal(std::string_view s) {
    if (s.empty() || s.front() == '+')
        return std::nullopt;
    T v{};
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size())
        return std::nullopt;
    return v;
}

// Splits `text` at its first count - 1 single spaces; the last field is the rest of the text.
template <std::size_t count>
std::optional<std::array<std::string_view, count>> splitFields(std::string_view text) {
    std::array<std::string_view, count> fields;
    for (std::size_t i = 0; i + 1 < count; ++i) {
        const auto space = text.find(' ');
        if (space == std::string_view::npos)
            return std::nullopt;
        fields[i] = text.substr(0, space);
        text.remove_prefix(space + 1);
    }
    fields[count - 1] = text;
    return fields;
}

bool privateDirectory(const fs::path& dir) {
    struct stat st {};
    if (::lstat(dir.c_str(), &st) != 0)
        return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

// A process whose pid no longer names a running program (gone, or a zombie not yet reaped).
bool processGone(pid_t pid) {
    if (pid <= 0)
        return true;
    if (::kill(pid, 0) != 0 && errno == ESRCH)
        return true;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line))
        return false;
    const auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] == 'Z';
}

void removeTables(const fs::path& dir, pid_t pid) {
    const std::string base = std::to_string(pid);
    ::unlink((dir / (base + kTableSuffix)).c_str());
    ::unlink((dir / (base + kSocketSuffix)).c_str());
}

bool socketAddress(const fs::path& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const std::string& p = path.native();
    if (p.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, p.c_str(), p.size() + 1);
    return true;
}

std::vector<pid_t> tablePids(const fs::path& dir) {
    std::vector<pid_t> pids;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec)) {
        const std::string name = entry.path().filename().string();
        if (!name.ends_with(kTableSuffix))
            continue;
        const auto pid = parseDecimal<pid_t>(
            std::string_view(name).substr(0, name.size() - std::strlen(kTableSuffix)));
        if (pid && *pid > 0)
            pids.push_back(*pid);
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

void readTable(const fs::path& file, pid_t pid, std::vector<WindowRecord>& out) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        auto record = parseRecord(line);
        // A line that does not parse, or claims another process's window, is skipped.
        if (record && ownerOf(record->handle) == pid)
            out.push_back(std::move(*record));
    }
}

}  // namespace

namespace {

fs::path standardDirectory() {
    struct stat st {};
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && *runtime != '\0' && ::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode))
        return fs::path(runtime) / "tolvane-windows";
    return "/tmp/tolvane-windows-" + std::to_string(::getuid());
}

// The private folder this process made because the standard one was not private; removed with
// its contents when the process ends.
class Replacement {
public:
    std::optional<fs::path> get(const fs::path& standard) {
        std::lock_guard lock(mutex_);
        if (!path_.empty() && privateDirectory(path_))
            return path_;
        std::string pattern = standard.string() + "-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            return std::nullopt;
        path_ = pattern;
        return path_;
    }
    ~Replacement() {
        std::error_code ec;
        if (!path_.empty())
            fs::remove_all(path_, ec);
    }

private:
    std::mutex mutex_;
    fs::path path_;
};

Replacement& replacement() {
    static Replacement r;
    return r;
}

// "<pid>" of an entry named "<pid>.sock", "<pid>.windows" or "<pid>.windows.new".
std::optional<pid_t> entryPid(std::string_view name) {
    for (const std::string_view suffix : {".sock", ".windows", ".windows.new"}) {
        if (name.ends_with(suffix))
            return parseDecimal<pid_t>(name.substr(0, name.size() - suffix.size()));
    }
    return std::nullopt;
}

}  // namespace

std::optional<fs::path> directory() {
    const char* handed = std::getenv(kDirectoryVariable);
    if (handed != nullptr && *handed == '/' && privateDirectory(handed))
        return fs::path(handed);
    const fs::path standard = standardDirectory();
    if (::mkdir(standard.c_str(), 0700) != 0 && errno != EEXIST)
        return std::nullopt;
    if (privateDirectory(standard))
        return standard;
    // Someone else's folder (or one open to others) would let them read and forge our windows.
    return replacement().get(standard);
}

std::string directoryEnvironment() {
    const auto dir = directory();
    return dir ? std::string(kDirectoryVariable) + '=' + dir->string() : std::string();
}

void sweepStaleEntries() {
    const auto dir = directory();
    if (!dir)
        return;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(*dir, ec)) {
        const std::string name = entry.path().filename().string();
        const auto pid = entryPid(name);
        if (pid && processGone(*pid))
            ::unlink(entry.path().c_str());
    }
}

void removeEntriesOf(pid_t pid) {
    const auto dir = directory();
    if (!dir || !processGone(pid))
        return;
    removeTables(*dir, pid);
    ::unlink((*dir / (std::to_string(pid) + kTableSuffix + ".new")).c_str());
}

std::string escapeText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::optional<std::string> unescapeText(std::string_view escaped) {
    std::string out;
    out.reserve(escaped.size());
    for (std::size_t i = 0; i < escaped.size(); ++i) {
        const char c = escaped[i];
        if (c == '\n')
            return std::nullopt;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (++i == escaped.size())
            return std::nullopt;
        if (escaped[i] == '\\')
            out += '\\';
        else if (escaped[i] == 'n')
            out += '\n';
        else
            return std::nullopt;
    }
    return out;
}

std::string formatRecord(const WindowRecord& r) {
    return hex16(r.handle) + ' ' + hex16(r.parent) + ' ' + escapeText(r.text);
}

std::optional<WindowRecord> parseRecord(std::string_view line) {
    const auto fields = splitFields<3>(line);
    if (!fields)
        return std::nullopt;
    const auto handle = parseHex16((*fields)[0]);
    const auto parent = parseHex16((*fields)[1]);
    auto text = unescapeText((*fields)[2]);
    if (!handle || !parent || !text || *handle == 0)
        return std::nullopt;
    return WindowRecord{*handle, *parent, std::move(*text)};
}

std::string formatMessage(const PostedMessage& m) {
    return hex16(m.handle) + ' ' + std::to_string(m.message) + ' ' + std::to_string(m.wparam) +
           ' ' + std::to_string(m.lparam);
}

std::optional<PostedMessage> parseMessage(std::string_view datagram) {
    const auto fields = splitFields<4>(datagram);
    if (!fields)
        return std::nullopt;
    const auto handle = parseHex16((*fields)[0]);
    const auto message = parseDecimal<std::uint32_t>((*fields)[1]);
    const auto wparam = parseDecimal<std::uint64_t>((*fields)[2]);
    const auto lparam = parseDecimal<std::int64_t>((*fields)[3]);
    if (!handle || !message || !wparam || !lparam)
        return std::nullopt;
    return PostedMessage{*handle, *message, *wparam, *lparam};
}

std::vector<WindowRecord> windows(pid_t onlyPid) {
    std::vector<WindowRecord> out;
    const auto dir = directory();
    if (!dir)
        return out;
    for (const pid_t pid : tablePids(*dir)) {
        if (onlyPid != 0 && pid != onlyPid)
            continue;
        if (processGone(pid)) {
            removeTables(*dir, pid);
            continue;
        }
        readTable(*dir / (std::to_string(pid) + kTableSuffix), pid, out);
    }
    return out;
}

WindowHandle findWindow(std::string_view text, pid_t onlyPid) {
    for (const auto& w : windows(onlyPid))
        if (w.parent == 0 && w.text == text)
            return w.handle;
    return 0;
}

std::vector<WindowHandle> topLevelWindows(pid_t onlyPid) {
    std::vector<WindowHandle> out;
    for (const auto& w : windows(onlyPid))
        if (w.parent == 0)
            out.push_back(w.handle);
    return out;
}

std::vector<WindowHandle> childWindows(WindowHandle parent) {
    std::vector<WindowHandle> out;
    for (const auto& w : windows(ownerOf(parent)))
        if (w.parent == parent)
            out.push_back(w.handle);
    return out;
}

namespace {

std::optional<WindowRecord> findRecord(WindowHandle window) {
    for (auto& w : windows(ownerOf(window)))
        if (w.handle == window)
            return std::move(w);
    return std::nullopt;
}

}  // namespace

std::optional<std::string> windowText(WindowHandle window) {
    auto record = findRecord(window);
    if (!record)
        return std::nullopt;
    return std::move(record->text);
}

WindowHandle parentOf(WindowHandle window) {
    const auto record = findRecord(window);
    return record ? record->parent : 0;
}

bool postMessage(WindowHandle window, std::uint32_t message, std::uint64_t wparam,
                 std::int64_t lparam) {
    const auto dir = directory();
    const pid_t pid = ownerOf(window);
    if (!dir || pid <= 0)
        return false;
    sockaddr_un address;
    if (!socketAddress(*dir / (std::to_string(pid) + kSocketSuffix), address))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    const std::string text = formatMessage({window, message, wparam, lparam});
    const ssize_t sent = ::sendto(fd, text.data(), text.size(), MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::close(fd);
    return sent == ssize_t(text.size());
}

namespace {

// Without inotify a waiter looks again after this long.
constexpr auto kUnwatchedPause = std::chrono::milliseconds(3);
// Tables are published by rename and removed by unlink; sockets are created by bind.
constexpr std::uint32_t kChangeEvents = IN_MOVED_TO | IN_CREATE | IN_DELETE;

}  // namespace

ChangeWatch::ChangeWatch() {
    const auto dir = directory();
    if (!dir)
        return;
    fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0 && ::inotify_add_watch(fd_, dir->c_str(), kChangeEvents | IN_ONLYDIR) < 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

ChangeWatch::~ChangeWatch() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool ChangeWatch::wait(std::chrono::milliseconds timeout) {
    if (timeout.count() < 0)
        timeout = std::chrono::milliseconds(0);
    if (fd_ < 0) {
        std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(timeout, kUnwatchedPause));
        return false;
    }
    pollfd p{fd_, POLLIN, 0};
    const int timeoutMs = int(std::min<std::chrono::milliseconds::rep>(timeout.count(), INT_MAX));
    if (::poll(&p, 1, timeoutMs) <= 0)
        return false;
    // Drain every queued notice: one look at the tables answers all of them.
    alignas(inotify_event) char buffer[4096];
    while (::read(fd_, buffer, sizeof buffer) > 0) {
    }
    return true;
}

std::unique_ptr<NamedLock> NamedLock::tryAcquire(std::string_view name) {
    const auto dir = directory();
    if (!dir)
        return nullptr;
    const fs::path path = *dir / (std::string(name) + ".lock");
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return nullptr;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<NamedLock>(new NamedLock(fd));
}

std::string NamedLock::note(std::string_view name) {
    const auto dir = directory();
    if (!dir)
        return {};
    const int fd = ::open((*dir / (std::string(name) + ".lock")).c_str(),
                          O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return {};
    char buffer[128];
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, 0);
    ::close(fd);
    return n > 0 ? std::string(buffer, std::size_t(n)) : std::string();
}

void NamedLock::setNote(std::string_view text) {
    if (::ftruncate(fd_, 0) == 0)
        (void)!::pwrite(fd_, text.data(), text.size(), 0);
}

NamedLock::~NamedLock() {
    ::close(fd_);
}

namespace {

// The owner's entries, for removal from a signal handler (which may only unlink).
char ownTablePath[PATH_MAX];
char ownSocketPath[PATH_MAX];

void rememberOwnEntries(const fs::path& table, const fs::path& socket) {
    std::snprintf(ownTablePath, sizeof ownTablePath, "%s", table.c_str());
    std::snprintf(ownSocketPath, sizeof ownSocketPath, "%s", socket.c_str());
}

extern "C" void removeEntriesAndEnd(int signal) {
    WindowOwner::removeEntriesOnSignal();
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

// A termination signal the program leaves at its default would end it without its entries
// being removed.
void removeEntriesOnTermination() {
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL)
            continue;
        struct sigaction action {};
        action.sa_handler = removeEntriesAndEnd;
        sigemptyset(&action.sa_mask);
        ::sigaction(signal, &action, nullptr);
    }
}

}  // namespace

void WindowOwner::removeEntriesOnSignal() {
    if (ownTablePath[0] != '\0')
        ::unlink(ownTablePath);
    if (ownSocketPath[0] != '\0')
        ::unlink(ownSocketPath);
}

WindowOwner::WindowOwner() : pid_(::getpid()) {
    const auto dir = directory();
    if (!dir)
        throw std::runtime_error("window bus directory unavailable");
    directory_ = *dir;
    tablePath_ = directory_ / (std::to_string(pid_) + kTableSuffix);
    socketPath_ = directory_ / (std::to_string(pid_) + kSocketSuffix);
    sockaddr_un address;
    if (!socketAddress(socketPath_, address))
        throw std::runtime_error("window bus path too long");
    socket_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0)
        throw std::system_error(errno, std::generic_category(), "socket");
    sweepStaleEntries();
    ::unlink(socketPath_.c_str());  // left by a dead process that had our pid
    rememberOwnEntries(tablePath_, socketPath_);
    removeEntriesOnTermination();
    if (::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(socket_);
        throw std::system_error(error, std::generic_category(), "bind");
    }
    publish();
}

WindowOwner::~WindowOwner() {
    ::unlink(tablePath_.c_str());
    ::unlink(socketPath_.c_str());
    ::close(socket_);
    ownTablePath[0] = ownSocketPath[0] = '\0';
}

WindowHandle WindowOwner::create(WindowHandle parent, std::string text, Handler handler) {
    WindowHandle handle;
    do {
        handle = WindowHandle(pid_) << 20 | (nextSerial_++ & kSerialMask);
    } while ((handle & kSerialMask) == 0 || windows_.count(handle) != 0);
    windows_[handle] =
        Window{parent, std::move(text),
               handler ? std::make_shared<Handler>(std::move(handler)) : nullptr, nextOrder_++};
    publish();
    return handle;
}

void WindowOwner::destroy(WindowHandle window) {
    if (windows_.erase(window) == 0)
        return;
    Batch batch(*this);
    std::vector<WindowHandle> children;
    for (const auto& [handle, w] : windows_)
        if (w.parent == window)
            children.push_back(handle);
    for (const WindowHandle child : children)
        destroy(child);
}

void WindowOwner::setText(WindowHandle window, std::string text) {
    const auto it = windows_.find(window);
    if (it == windows_.end() || it->second.text == text)
        return;
    it->second.text = std::move(text);
    publish();
}

std::string WindowOwner::text(WindowHandle window) const {
    const auto it = windows_.find(window);
    return it == windows_.end() ? std::string() : it->second.text;
}

void WindowOwner::publish() {
    if (batchDepth_ > 0)
        return;
    std::vector<std::pair<std::uint64_t, WindowHandle>> order;
    for (const auto& [handle, w] : windows_)
        order.emplace_back(w.order, handle);
    std::sort(order.begin(), order.end());
    std::string table;
    for (const auto& [unused, handle] : order) {
        const Window& w = windows_.at(handle);
        table += formatRecord({handle, w.parent, w.text});
        table += '\n';
    }
    // Readers see either the old or the new table, never a partial one.
    const fs::path temporary = tablePath_.string() + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    const bool written = ::write(fd, table.data(), table.size()) == ssize_t(table.size());
    ::close(fd);
    if (!written || ::rename(temporary.c_str(), tablePath_.c_str()) != 0)
        ::unlink(temporary.c_str());
}

bool WindowOwner::dispatchOne(int timeoutMs) {
    pollfd p{socket_, POLLIN, 0};
    const int ready = ::poll(&p, 1, timeoutMs);
    if (ready <= 0)
        return false;
    char buffer[kMaxDatagram + 1];
    const ssize_t n = ::recv(socket_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n <= 0 || std::size_t(n) > kMaxDatagram)
        return true;  // empty or oversized: dropped
    const auto message = parseMessage(std::string_view(buffer, std::size_t(n)));
    if (!message)
        return true;
    const auto it = windows_.find(message->handle);
    if (it == windows_.end() || !it->second.handler)
        return true;
    // Hold the handler: it may destroy its own window while it runs.
    const std::shared_ptr<Handler> handler = it->second.handler;
    (*handler)(*message);
    return true;
}

void WindowOwner::runUntil(const std::function<bool()>& done) {
    while (!done())
        dispatchOne(-1);
}

}  // namespace tolvane::platform::window_bus
