#include "encoders/mmf_encoder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <regex>
#include <system_error>
#include <thread>

#include "encoders/encoders.h"
#include "pipeline/app_exception.h"
#include "platform/paths.h"
#include "platform/process.h"

namespace fs = std::filesystem;

namespace tolvane {
namespace {

namespace bus = platform::window_bus;
using platform::ChildProcess;
using platform::WindowHandle;
using Clock = std::chrono::steady_clock;

// The coupling with the converter.
constexpr const char* kConverterName = "kessin";
constexpr const char* kCopyPrefix = "MMF";
constexpr const char* kWavPrefix = "RCM";
constexpr off_t kInputSlotOffset = 191656;
constexpr std::size_t kInputSlotSize = 260;
constexpr const char* kMainWindowTitle = "KESSIN";
constexpr std::uint32_t kMsgConvert = 1075;
constexpr std::uint64_t kCmdOk = 1;
constexpr std::uint64_t kCmdPower = 1015;
constexpr const char* kOptionsMarker = "fs4k";
constexpr const char* kResultMarker = "SMAF File Size";
constexpr auto kExitWait = std::chrono::milliseconds(10000);
// The converter's own one-instance lock, and the lock by which its drivers take turns.
constexpr const char* kInstanceLock = "KESSININSTANCE";
constexpr const char* kTurnLock = "KESSINTURN";

constexpr const char* kCannotCopy = "Internal error #41. Cannot encode MMF";
constexpr const char* kCannotPrepare = "Internal error #42. Cannot encode MMF";
constexpr const char* kCannotStart = "Internal error #43. Cannot encode MMF";
constexpr const char* kNoMainWindow = "Internal error #44. Cannot encode MMF";
constexpr const char* kNoOptions = "Internal error #45. Cannot encode MMF";
constexpr const char* kNoResult = "Internal error #46. Cannot encode MMF";
constexpr const char* kCannotMove = "Internal error #48. Cannot encode MMF";
constexpr const char* kNoBus = "Cannot encode MMF: no private folder for the converter's windows";

// Each window is waited for at most pollPeriod × pollCount (10 s).
std::atomic<std::chrono::milliseconds::rep> pollPeriodMs{100};
std::atomic<int> pollCount{100};
std::atomic<bool> prepareInput{true};

// A window is looked for whenever the bus changes, and at least this often; a turn or the
// converter's instance, which make no such change, are looked at this often.
constexpr auto kQuietRecheck = std::chrono::milliseconds(20);
constexpr auto kLockRecheck = std::chrono::milliseconds(2);

std::chrono::milliseconds pollPeriod() {
    return std::chrono::milliseconds(pollPeriodMs.load());
}

// The longest a conversion can hold its turn: three windows polled in full, the converter's
// exit, and as much again for slack. A turn held longer belongs to a driver that is stuck.
Clock::duration turnPatience() {
    return 4 * pollPeriod() * pollCount.load() + kExitWait;
}

bool copyFileContents(const std::string& from, const std::string& to) {
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return false;
    // The name was created empty and exclusively; it is reused, never re-created, so nobody can
    // slip a link in between.
    const int out = ::open(to.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    bool ok = out >= 0;
    char buffer[65536];
    while (ok) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n == 0)
            break;
        ok = n > 0 && ::write(out, buffer, std::size_t(n)) == n;
    }
    if (out >= 0)
        ok = ::fchmod(out, 0700) == 0 && ::close(out) == 0 && ok;
    ::close(in);
    return ok;
}

std::string converterSource(const std::string& sourceOverride) {
    return sourceOverride.empty() ? (platform::systemDirectory() / kConverterName).string()
                                  : sourceOverride;
}

// The process's converter copy: made by the first SMAF ringtone, shared by the later ones,
// deleted when the process ends. While it exists this process holds a shared lock on it, which
// tells removeLeftoverConverterCopies() of other processes that its owner is alive.
class ConverterCopy {
public:
    ~ConverterCopy() { forget(); }

    // The copy's path, made on first use. EncoderException #41 (or the error of a temporary
    // folder whose every name is taken) when it cannot be made.
    std::string ensure() {
        std::lock_guard lock(mutex_);
        if (!path_.empty())
            return path_;
        int error = 0;
        const std::string name = platform::createTempFile(kCopyPrefix, &error);
        if (name.empty()) {
            if (error == EEXIST)
                throw EncoderException(noFreeTemporaryName(kCopyPrefix));
            throw EncoderException(kCannotCopy);
        }
        const int ownerLock = ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (ownerLock < 0 || ::flock(ownerLock, LOCK_SH | LOCK_NB) != 0 ||
            !copyFileContents(converterSource(sourceOverride_), name)) {
            if (ownerLock >= 0)
                ::close(ownerLock);
            ::unlink(name.c_str());
            throw EncoderException(kCannotCopy);
        }
        path_ = name;
        ownerLock_ = ownerLock;
        return path_;
    }

    std::string path() {
        std::lock_guard lock(mutex_);
        return path_;
    }
    std::string source() {
        std::lock_guard lock(mutex_);
        return converterSource(sourceOverride_);
    }

    void forget() {
        std::lock_guard lock(mutex_);
        if (!path_.empty())
            ::unlink(path_.c_str());
        if (ownerLock_ >= 0)
            ::close(ownerLock_);
        path_.clear();
        ownerLock_ = -1;
    }
    void setSource(const std::string& source) {
        forget();
        std::lock_guard lock(mutex_);
        sourceOverride_ = source;
    }

private:
    std::mutex mutex_;
    std::string path_;
    int ownerLock_ = -1;
    std::string sourceOverride_;
};

ConverterCopy& converterCopy() {
    static ConverterCopy copy;
    return copy;
}

// Writes `inputPath` and its terminating zero into the copy's input-path slot; nothing else in
// the copy changes.
bool writeInputSlot(const std::string& copy, const std::string& inputPath) {
    if (inputPath.size() + 1 > kInputSlotSize)
        return false;
    const int fd = ::open(copy.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const ssize_t n = ::pwrite(fd, inputPath.c_str(), inputPath.size() + 1, kInputSlotOffset);
    const bool closed = ::close(fd) == 0;
    return closed && n == ssize_t(inputPath.size() + 1);
}

// True when `file` holds the converter `original` with at most its input-path slot changed.
bool isConverterCopy(int file, const std::vector<char>& original) {
    std::vector<char> contents(original.size() + 1);
    const ssize_t n = ::pread(file, contents.data(), contents.size(), 0);
    if (n != ssize_t(original.size()))
        return false;
    const auto slotStart = std::size_t(kInputSlotOffset);
    const auto slotEnd = std::min(original.size(), slotStart + kInputSlotSize);
    return std::equal(original.begin(), original.begin() + long(std::min(slotStart, slotEnd)),
                      contents.begin()) &&
           std::equal(original.begin() + long(slotEnd), original.end(),
                      contents.begin() + long(slotEnd));
}

std::vector<char> readWhole(const std::string& path) {
    std::vector<char> bytes;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return bytes;
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    ::close(fd);
    return n < 0 ? std::vector<char>() : bytes;
}

// The parent of a child window whose text begins with `marker`, among the windows of `pid`;
// when several match, the last top-level window enumerated wins.
WindowHandle findDialogByControl(pid_t pid, std::string_view marker) {
    const auto windows = bus::windows(pid);
    WindowHandle found = 0;
    for (const auto& top : windows) {
        if (top.parent != 0)
            continue;
        for (const auto& child : windows) {
            if (child.parent == top.handle && child.text.starts_with(marker)) {
                found = child.parent;
                break;
            }
        }
    }
    return found;
}

// Moves the converter's output onto the target, across file systems when need be.
bool moveOnto(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) == 0)
        return true;
    if (errno != EXDEV)
        return false;
    std::error_code ec;
    if (!fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec)) {
        fs::remove(to, ec);
        return false;
    }
    ::unlink(from.c_str());
    return true;
}

bool converterInstanceRuns() {
    return bus::NamedLock::tryAcquire(kInstanceLock) == nullptr;
}

}  // namespace

// A started converter. Whatever happens, it is stopped when the driver is done with it, and the
// window table and socket that a stopped converter could not remove are removed.
class CMMFEncoder::RunningConverter {
public:
    explicit RunningConverter(ChildProcess process) : process_(std::move(process)) {}
    RunningConverter(RunningConverter&&) = default;
    ~RunningConverter() { stop(); }

    ChildProcess& process() { return *process_; }
    pid_t pid() const { return process_->pid(); }
    void stop() {
        if (!process_)
            return;
        const pid_t pid = process_->pid();
        process_->terminate();
        process_.reset();
        bus::removeEntriesOf(pid);
    }

private:
    std::optional<ChildProcess> process_;
};

CMMFEncoder::CMMFEncoder(const std::string& targetPath) {
    prepareTarget(targetPath);
    target_ = targetPath;
    // kessin titles the SMAF file with its input's base name: the song's name, not a temporary
    // one. The slot holds at most kInputSlotSize - 1 bytes of path.
    startTemporaryWav(kWavPrefix, platform::stemOf(targetPath), kInputSlotSize - 1);
}

void CMMFEncoder::convert(const TemporaryWav& wav) {
    try {
        runConverter(wav);
    } catch (const Cancelled&) {
        // The run was cancelled while this file waited or converted: no ringtone.
    }
    // The base removes the WAV, its private folder and whatever the converter left there.
}

void CMMFEncoder::take(const void* data, std::size_t count) {
    if (!preparation_ && !unprepared_) {
        if (prepareInput &&
            kessin::InputPreparation::applies(std::uint32_t(sampleRate_), unsigned(channels_),
                                              unsigned(bitsPerSample_)))
            preparation_ = std::make_unique<kessin::InputPreparation>(
                std::uint32_t(sampleRate_), unsigned(channels_), unsigned(bitsPerSample_));
        else
            unprepared_ = true;  // the converter refuses this input: it gets it as it is
    }
    if (preparation_)
        preparation_->write(static_cast<const std::uint8_t*>(data), count);
    else
        CTemporaryWavEncoder::take(data, count);
}

void CMMFEncoder::flush() {
    if (!preparation_)
        return;
    const std::unique_ptr<kessin::InputPreparation> preparation = std::move(preparation_);
    if (preparation->finish()) {
        const auto& samples = preparation->samples();
        writeWav(samples.data(), samples.size() * sizeof samples[0],
                 std::int32_t(preparation->rate()), 1, 16);
    } else {
        // Too short for the converter: it refuses the original, as it always has.
        const auto& original = preparation->original();
        writeWav(original.data(), original.size(), sampleRate_, channels_, bitsPerSample_);
    }
}

std::unique_ptr<bus::NamedLock> CMMFEncoder::waitForTurn() const {
    static std::atomic<unsigned> turns{0};
    auto deadline = Clock::now() + turnPatience();
    std::string holder = bus::NamedLock::note(kTurnLock);
    for (;;) {
        if (auto turn = bus::NamedLock::tryAcquire(kTurnLock)) {
            turn->setNote(std::to_string(::getpid()) + ' ' + std::to_string(++turns));
            return turn;
        }
        if (cancelRequested())
            throw Cancelled{};
        // Each new holder is a conversion that ends within its patience.
        if (std::string now = bus::NamedLock::note(kTurnLock); now != holder) {
            holder = std::move(now);
            deadline = Clock::now() + turnPatience();
        }
        if (Clock::now() >= deadline)
            throw EncoderException(kNoMainWindow);
        std::this_thread::sleep_for(kLockRecheck);
    }
}

void CMMFEncoder::waitUntilNoConverterRuns(Clock::time_point deadline) const {
    // A converter that no driver of ours started (run by hand, or left by a driver that died).
    while (converterInstanceRuns()) {
        if (cancelRequested())
            throw Cancelled{};
        if (Clock::now() >= deadline)
            throw EncoderException(kNoMainWindow);
        std::this_thread::sleep_for(kLockRecheck);
    }
}

// Looks for a window with `find` whenever the bus changes, for at most pollPeriod × pollCount;
// gives up early once the converter has ended, since its windows can no longer appear.
template <class Find>
WindowHandle CMMFEncoder::poll(RunningConverter& converter, bus::ChangeWatch& watch,
                               Find find) const {
    const auto deadline = Clock::now() + pollPeriod() * pollCount.load();
    for (;;) {
        if (cancelRequested())
            throw Cancelled{};
        if (const WindowHandle h = find())
            return h;
        if (!converter.process().running())
            return 0;
        const auto now = Clock::now();
        if (now >= deadline)
            return 0;
        // A converter that dies makes no change on the bus: look again now and then anyway.
        watch.wait(
            std::min(std::chrono::ceil<std::chrono::milliseconds>(deadline - now), kQuietRecheck));
    }
}

CMMFEncoder::RunningConverter CMMFEncoder::startConverter(const std::string& copy,
                                                          bus::ChangeWatch& watch,
                                                          Clock::time_point deadline) {
    const std::string environment = bus::directoryEnvironment();
    for (;;) {
        waitUntilNoConverterRuns(deadline);
        auto process = ChildProcess::start(copy, {}, nullptr, {environment});
        if (!process)
            throw EncoderException(kCannotStart);
        RunningConverter converter(std::move(*process));
        const pid_t pid = converter.pid();
        // Only the windows of our own converter count: another program's converter would
        // convert another file.
        const WindowHandle main =
            poll(converter, watch, [pid] { return bus::findWindow(kMainWindowTitle, pid); });
        if (main != 0)
            return converter;
        // A converter that left at once lost the instance to one started by someone else in
        // the meantime: wait for that one too.
        const bool lostTheInstance = !converter.process().running() && converterInstanceRuns();
        if (!lostTheInstance || Clock::now() >= deadline)
            throw EncoderException(kNoMainWindow);
    }
}

void CMMFEncoder::runConverter(const TemporaryWav& wav) {
    if (!bus::directory())
        throw EncoderException(kNoBus);
    bus::sweepStaleEntries();
    const std::string copy = converterCopy().ensure();
    // One conversion at a time, from the slot write until the converter has gone.
    const auto turn = waitForTurn();
    if (!writeInputSlot(copy, wav.path()))
        throw EncoderException(kCannotPrepare);
    // Watching starts before the converter does, so that no window it shows goes unnoticed.
    bus::ChangeWatch watch;
    RunningConverter converter = startConverter(copy, watch, Clock::now() + turnPatience());
    const pid_t pid = converter.pid();
    const WindowHandle main = bus::findWindow(kMainWindowTitle, pid);
    bus::postMessage(main, kMsgConvert, 0, 0);

    optionsDialog_ =
        poll(converter, watch, [pid] { return findDialogByControl(pid, kOptionsMarker); });
    if (optionsDialog_ == 0)
        throw EncoderException(kNoOptions);
    bus::postMessage(optionsDialog_, platform::kWmCommand, kCmdOk, 0);

    resultDialog_ =
        poll(converter, watch, [pid] { return findDialogByControl(pid, kResultMarker); });
    if (resultDialog_ == 0)
        throw EncoderException(kNoResult);
    bus::postMessage(resultDialog_, platform::kWmCommand, kCmdPower, 0);
    bus::postMessage(main, platform::kWmCommand, kCmdPower, 0);

    // A converter that does not leave is stopped; its output, if any, is still used.
    converter.process().waitFor(kExitWait);
    converter.stop();

    ::chmod(target_.c_str(), 0644);
    ::unlink(target_.c_str());
    if (!moveOnto(wav.sibling("mmf"), target_))
        throw EncoderException(kCannotMove);
}

std::string CMMFEncoder::converterCopyPath() {
    return converterCopy().path();
}

int CMMFEncoder::removeLeftoverConverterCopies() {
    static const std::regex copyName("MMF[0-9A-F]{4}\\.tmp");
    const std::string own = converterCopy().path();
    std::vector<char> original;
    int removed = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(platform::temporaryFolder(), ec)) {
        const std::string path = entry.path().string();
        if (path == own || !std::regex_match(entry.path().filename().string(), copyName))
            continue;
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid())
            continue;
        if (original.empty())
            original = readWhole(converterCopy().source());
        if (original.empty() || st.st_size != off_t(original.size()))
            continue;
        const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (file < 0)
            continue;
        // A living owner holds its copy locked; the lock of an owner that died went with it.
        struct stat opened {};
        if (::flock(file, LOCK_EX | LOCK_NB) == 0 && ::fstat(file, &opened) == 0 &&
            opened.st_ino == st.st_ino && isConverterCopy(file, original) &&
            ::unlink(path.c_str()) == 0)
            ++removed;
        ::close(file);
    }
    return removed;
}

void CMMFEncoder::useConverterForTesting(const std::string& source) {
    converterCopy().setSource(source);
}

void CMMFEncoder::setPollingForTesting(std::chrono::milliseconds period, int count) {
    pollPeriodMs = period.count();
    pollCount = count;
}

void CMMFEncoder::setInputPreparationForTesting(bool prepare) {
    prepareInput = prepare;
}

std::unique_ptr<CEncoder> makeMmfEncoder(const std::string& path) {
    return std::make_unique<CMMFEncoder>(path);
}

}  // namespace tolvane
