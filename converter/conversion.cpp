#include "converter/conversion.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <strings.h>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <vector>

#include "converter/input_slot.h"
#include "converter/lifetime.h"
#include "converter/pcm_buffer.h"
#include "converter/smaf_writer.h"
#include "converter/string_table.h"

namespace kessin {
namespace {

constexpr int kResampleTaps = 256;
// Room for the SMAF headers and texts beyond the input's own size: a very short input can give
// an image larger than the file it came from.
constexpr std::size_t kImageHeadroom = 4096;
// No WAV or AIFF chunk can describe more than this; a longer "file" (a device, a pipe that never
// ends) is not read to exhaustion.
constexpr std::size_t kMaxInputBytes = std::size_t(1) << 32;

std::optional<std::vector<std::uint8_t>> readWholeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::vector<std::uint8_t> bytes;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        bytes.reserve(std::size_t(st.st_size));
    std::uint8_t buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        if (bytes.size() + std::size_t(n) > kMaxInputBytes) {
            ::close(fd);
            return std::nullopt;
        }
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    ::close(fd);
    return bytes;
}

int messageForAnalysis(int code) {
    switch (code) {
        case kUnsupportedFormat:
            return kMsgUnsupportedFormat;
        case kUnsupportedRate:
            return kMsgUnsupportedRate;
        case kUnsupportedBits:
            return kMsgUnsupportedBits;
        case kUnsupportedChannels:
            return kMsgUnsupportedChannels;
        case kShortPlaytime:
            return kMsgShortPlaytime;
        default:
            return 0;
    }
}

// Free bytes of the file system holding `folder`, -1 when it cannot be asked.
long long freeBytes(const std::string& folder) {
    struct statvfs fs {};
    if (::statvfs(folder.empty() ? "." : folder.c_str(), &fs) != 0)
        return -1;
    return static_cast<long long>(fs.f_bavail) * static_cast<long long>(fs.f_frsize);
}

std::string today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    char date[9];
    if (::localtime_r(&now, &local) == nullptr ||
        std::strftime(date, sizeof date, "%Y%m%d", &local) != 8)
        return {};
    return date;
}

// Writes the whole image into a new file beside the output and renames it into place: an older
// file of that name is replaced only by a complete image, and a link planted under the output's
// name is replaced rather than followed.
bool writeImage(const std::string& path, const std::uint8_t* image, std::size_t length) {
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return false;
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(fd, image + done, length - done);
        if (n <= 0)
            break;
        done += std::size_t(n);
    }
    // mkstemp makes the file private; the output gets the usual permissions instead.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const bool written = done == length && ::fchmod(fd, 0666 & ~mask) == 0;
    const bool closed = ::close(fd) == 0;
    const bool ok = written && closed && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!ok)
        ::unlink(temporary.c_str());
    return ok;
}

void showResult(MainWindow& main, WindowOwner& owner, std::string text, bool success) {
    ResultDialog result(owner, &main, std::move(text), success);
    result.runModal();
}

void showError(MainWindow& main, WindowOwner& owner, int messageId) {
    showResult(main, owner, loadString(messageId), false);
}

}  // namespace

PathParts splitPath(const std::string& path) {
    PathParts parts;
    const auto slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    parts.folder = path.substr(0, nameStart);
    const std::string name = path.substr(nameStart);
    const auto dot = name.rfind('.');
    if (dot == std::string::npos) {
        parts.base = name;
    } else {
        parts.base = name.substr(0, dot);
        parts.extension = name.substr(dot);
    }
    return parts;
}

std::string sizeText(std::size_t imageBytes) {
    char number[32];
    std::snprintf(number, sizeof number, "%.2f", double(imageBytes) / 1024.0);
    return loadString(kMsgSizePrefix) + number + "KB";
}

void runConversion(MainWindow& main, WindowOwner& owner) {
    const std::string input = readInputSlot().value_or(std::string());
    const PathParts parts = splitPath(input);
    // Only the three-letter extensions: ".aiff" is refused like any other.
    bool aiff = false;
    if (::strcasecmp(parts.extension.c_str(), ".wav") == 0) {
        aiff = false;
    } else if (::strcasecmp(parts.extension.c_str(), ".aif") == 0) {
        aiff = true;
    } else {
        showError(main, owner, kMsgBadExtension);
        return;
    }

    const auto bytes = readWholeFile(input);
    if (!bytes) {
        showError(main, owner, kMsgCannotOpen);
        return;
    }
    PcmBuffer pcm;
    if (const int code = pcm.analyse(aiff, bytes->data(), bytes->size()); code != kAnalysisOk) {
        showError(main, owner, messageForAnalysis(code));
        return;
    }

    OptionsDialog options(owner, &main, parts.base, "", pcm.info().sampleRate);
    if (options.runModal() != kIdOk)
        return;

    if (pcm.downmix() != 0 || pcm.resample(options.chosenRate(), kResampleTaps) != 0)
        return;

    SmafOptions smaf;
    smaf.codeType = 0x23;
    smaf.copyStatus = options.copyStatus();
    smaf.setText(SmafOptions::kTitleSlot, options.title());
    smaf.setText(SmafOptions::kCopyrightSlot, options.copyright());
    smaf.setText(SmafOptions::kDateSlot, today());

    std::vector<std::uint8_t> image(bytes->size() + kImageHeadroom);
    const std::int32_t length = encodeSmaf(pcm, smaf, image.data(), image.size());
    if (length < 0)
        return;

    if (freeBytes(parts.folder) <= length) {
        showError(main, owner, kMsgDiskFull);
        return;
    }
    // Nobody is left to take the output of a driver that has gone away.
    if (stopRequested())
        return;
    // The output lies beside the input and replaces any file of its name.
    const std::string output = parts.folder + parts.base + ".mmf";
    if (!writeImage(output, image.data(), std::size_t(length))) {
        showError(main, owner, kMsgCannotSave);
        return;
    }
    showResult(main, owner, sizeText(std::size_t(length)), true);
}

}  // namespace kessin
