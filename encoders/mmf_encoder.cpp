#include "encoders/mmf_encoder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
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

constexpr const char* kCannotCopy = "Internal error #41. Cannot encode MMF";
constexpr const char* kCannotPrepare = "Internal error #42. Cannot encode MMF";
constexpr const char* kCannotStart = "Internal error #43. Cannot encode MMF";
constexpr const char* kNoMainWindow = "Internal error #44. Cannot encode MMF";
constexpr const char* kNoOptions = "Internal error #45. Cannot encode MMF";
constexpr const char* kNoResult = "Internal error #46. Cannot encode MMF";
constexpr const char* kCannotMove = "Internal error #48. Cannot encode MMF";

std::chrono::milliseconds pollPeriod{100};
int pollCount = 100;

// The process's converter copy: made by the first SMAF ringtone, shared by the later ones,
// deleted when the process ends.
struct ConverterCopy {
    std::string path;
    std::string sourceOverride;
    ~ConverterCopy() { forget(); }
    void forget() {
        if (!path.empty())
            ::unlink(path.c_str());
        path.clear();
    }
};
ConverterCopy& converterCopy() {
    static ConverterCopy copy;
    return copy;
}

void removeFile(const std::string& path) {
    if (!path.empty())
        ::unlink(path.c_str());
}

std::string withExtension(const std::string& path, const char* extension) {
    return path.substr(0, path.size() - 3) + extension;
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

// The converter copy's path, made on first use; empty when it cannot be made.
std::string ensureConverterCopy() {
    ConverterCopy& copy = converterCopy();
    if (!copy.path.empty())
        return copy.path;
    const std::string name = platform::createTempFile(kCopyPrefix);
    if (name.empty())
        return {};
    const std::string source = copy.sourceOverride.empty()
                                   ? (platform::systemDirectory() / kConverterName).string()
                                   : copy.sourceOverride;
    if (!copyFileContents(source, name)) {
        removeFile(name);
        return {};
    }
    copy.path = name;
    return name;
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

// Polls `find` every pollPeriod, up to pollCount times; gives up early once the converter has
// ended, since its windows can no longer appear.
template <class Find>
WindowHandle poll(ChildProcess& converter, Find find) {
    for (int i = 0; i < pollCount; ++i) {
        std::this_thread::sleep_for(pollPeriod);
        if (const WindowHandle h = find())
            return h;
        if (!converter.running())
            break;
    }
    return 0;
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

}  // namespace

CMMFEncoder::CMMFEncoder(const std::string& targetPath) {
    prepareTarget(targetPath);
    target_ = targetPath;
    const std::string name = platform::createTempFile(kWavPrefix);
    if (name.empty())
        throw EncoderException("cannot create file");
    // The empty ".tmp" file stays as the reservation of the name until the WAV is gone, so no
    // other encoder can be handed the same name meanwhile.
    reservation_ = name;
    temporaryWav_ = withExtension(name, "wav");
    try {
        inner_ = std::make_unique<CWaveEncoder>(temporaryWav_);
    } catch (...) {
        removeFile(reservation_);
        throw;
    }
}

CMMFEncoder::~CMMFEncoder() {
    inner_.reset();
    removeTemporaryWav();
}

void CMMFEncoder::removeTemporaryWav() {
    removeFile(temporaryWav_);
    removeFile(reservation_);
    temporaryWav_.clear();
    reservation_.clear();
}

void CMMFEncoder::write(const void* data, std::size_t count, std::size_t* written) {
    if (!inner_)
        throw EncoderException("write error");
    if (formatPending_) {
        inner_->setInputFormat(sampleRate_, channels_, bitsPerSample_);
        formatPending_ = false;
    }
    inner_->write(data, count, written);
}

void CMMFEncoder::failBeforeStart(const char* message) {
    removeTemporaryWav();
    throw EncoderException(message);
}

void CMMFEncoder::failAfterStart(platform::ChildProcess& converter, const char* message) {
    converter.terminate();
    const std::string output = withExtension(temporaryWav_, "mmf");
    removeTemporaryWav();
    // A converter stopped late may have written its output already.
    removeFile(output);
    throw EncoderException(message);
}

void CMMFEncoder::finish() {
    if (!inner_)
        return;
    inner_->finish();
    inner_.reset();  // closes the temporary WAV file

    const std::string copy = ensureConverterCopy();
    if (copy.empty())
        failBeforeStart(kCannotCopy);
    if (!writeInputSlot(copy, temporaryWav_))
        failBeforeStart(kCannotPrepare);
    auto converter = ChildProcess::start(copy);
    if (!converter)
        failBeforeStart(kCannotStart);
    const pid_t pid = converter->pid();

    // Only the windows of our own converter count: another program's converter would convert
    // another file.
    const WindowHandle main =
        poll(*converter, [pid] { return bus::findWindow(kMainWindowTitle, pid); });
    if (main == 0)
        failAfterStart(*converter, kNoMainWindow);
    bus::postMessage(main, kMsgConvert, 0, 0);

    optionsDialog_ = poll(*converter, [pid] { return findDialogByControl(pid, kOptionsMarker); });
    if (optionsDialog_ == 0)
        failAfterStart(*converter, kNoOptions);
    bus::postMessage(optionsDialog_, platform::kWmCommand, kCmdOk, 0);

    resultDialog_ = poll(*converter, [pid] { return findDialogByControl(pid, kResultMarker); });
    if (resultDialog_ == 0)
        failAfterStart(*converter, kNoResult);
    bus::postMessage(resultDialog_, platform::kWmCommand, kCmdPower, 0);
    bus::postMessage(main, platform::kWmCommand, kCmdPower, 0);

    // A converter that does not leave is stopped; its output, if any, is still used.
    if (!converter->waitFor(kExitWait))
        converter->terminate();
    const std::string output = withExtension(temporaryWav_, "mmf");
    removeTemporaryWav();

    ::chmod(target_.c_str(), 0644);
    ::unlink(target_.c_str());
    if (!moveOnto(output, target_)) {
        removeFile(output);
        throw EncoderException(kCannotMove);
    }
}

std::string CMMFEncoder::converterCopyPath() {
    return converterCopy().path;
}

void CMMFEncoder::useConverterForTesting(const std::string& source) {
    converterCopy().forget();
    converterCopy().sourceOverride = source;
}

void CMMFEncoder::setPollingForTesting(std::chrono::milliseconds period, int count) {
    pollPeriod = period;
    pollCount = count;
}

std::unique_ptr<CEncoder> makeMmfEncoder(const std::string& path) {
    return std::make_unique<CMMFEncoder>(path);
}

}  // namespace tolvane
