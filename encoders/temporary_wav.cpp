#include "encoders/temporary_wav.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "pipeline/app_exception.h"
#include "platform/paths.h"

namespace tolvane {
namespace {

// `text` cut to at most `bytes` bytes without splitting a UTF-8 sequence.
std::string_view cutUtf8(std::string_view text, std::size_t bytes) {
    if (text.size() <= bytes)
        return text;
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

}  // namespace

std::string noFreeTemporaryName(std::string_view prefix) {
    const std::string p(prefix);
    return "no free temporary file name (" + p + "0000 to " + p + "FFFF are all taken)";
}

TemporaryWav::TemporaryWav(std::string_view prefix, std::string_view baseName,
                           std::size_t maxPathBytes) {
    int error = 0;
    folder_ = platform::createTempFolder(prefix, &error);
    if (folder_.empty()) {
        if (error == EEXIST)
            throw EncoderException(noFreeTemporaryName(prefix));
        throw EncoderException("cannot create file");
    }
    const std::string directory = folder_ + '/';
    const std::string_view extension = ".wav";
    std::string_view base = baseName;
    const std::size_t fixed = directory.size() + extension.size();
    if (maxPathBytes != kUnlimited)
        base = fixed < maxPathBytes ? cutUtf8(base, maxPathBytes - fixed) : std::string_view();
    const std::string name = base.empty() ? platform::fileNameOf(folder_) : std::string(base);
    path_ = directory + name + std::string(extension);
}

TemporaryWav::~TemporaryWav() {
    remove();
}

std::string TemporaryWav::sibling(std::string_view extension) const {
    return path_.substr(0, path_.size() - 3) + std::string(extension);
}

void TemporaryWav::remove() {
    if (folder_.empty())
        return;
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
    folder_.clear();
}

}  // namespace tolvane
