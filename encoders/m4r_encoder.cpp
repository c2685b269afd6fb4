#include "encoders/m4r_encoder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "encoders/encoders.h"
#include "pipeline/app_exception.h"
#include "platform/paths.h"

namespace tolvane {
namespace {

// A new, empty file beside `path`, hidden and named after it, created exclusively so that
// nothing else is replaced. Empty when it cannot be made.
std::string createTemporaryBeside(const std::string& path) {
    const auto slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = folder + "." + name + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const int fd = ::mkostemp(buffer.data(), O_CLOEXEC);
    if (fd < 0)
        return {};
    ::fchmod(fd, 0644);
    ::close(fd);
    return buffer.data();
}

}  // namespace

CM4REncoder::CM4REncoder(const std::string& path, WriterFactory openWriter)
    : path_(path), openWriter_(std::move(openWriter)) {
    prepareTarget(path);
    if (path.empty() || path.size() > kMaxRingtonePath)
        throw EncoderException("cannot create file");
    temporaryPath_ = createTemporaryBeside(path);
    if (temporaryPath_.empty())
        throw EncoderException("cannot create file");
}

CM4REncoder::~CM4REncoder() {
    writer_.reset();
    if (!finished_ && !temporaryPath_.empty())
        ::unlink(temporaryPath_.c_str());
}

void CM4REncoder::openWriterOnce() {
    if (writer_ != nullptr)
        return;
    if (channels_ < 1 || channels_ > 2 || bitsPerSample_ != 16 || sampleRate_ <= 0)
        throw EncoderException("unexpected error");
    AacMp4Settings settings;
    settings.sampleRate = sampleRate_;
    settings.channels = channels_;
    settings.bitRate = channels_ == 1 ? kMonoBitRate : kBitRate;
    settings.title = platform::stemOf(path_);
    writer_ = openWriter_(temporaryPath_, settings);
    frames_.setFrameBytes(static_cast<std::size_t>(channels_) * 2);
    held_.reserve(static_cast<std::size_t>(sampleRate_) * kFadeSeconds * channels_);
}

void CM4REncoder::write(const void* data, std::size_t count, std::size_t* written) {
    if (written != nullptr)
        *written = count;
    openWriterOnce();
    frames_.push(data, count, [this](const std::uint8_t* bytes, std::size_t frames) {
        // PCM buffers are not always aligned for 16-bit access: copy through an aligned block.
        aligned_.resize(frames * static_cast<std::size_t>(channels_));
        std::memcpy(aligned_.data(), bytes, aligned_.size() * sizeof(std::int16_t));
        takeFrames(aligned_.data(), frames);
    });
}

// Frames before the last second of the 30 are coded at once; the last second is held until
// the source ends (it stays as it is) or goes on past 30 seconds (it fades out).
void CM4REncoder::takeFrames(const std::int16_t* pcm, std::size_t frames) {
    if (cut_)
        return;
    const std::int64_t keep = std::int64_t(sampleRate_) * kMaxSeconds;
    const std::int64_t holdFrom = keep - std::int64_t(sampleRate_) * kFadeSeconds;
    const std::size_t channels = static_cast<std::size_t>(channels_);

    if (taken_ < holdFrom) {
        const auto direct =
            static_cast<std::size_t>(std::min<std::int64_t>(frames, holdFrom - taken_));
        writer_->write(pcm, direct);
        taken_ += static_cast<std::int64_t>(direct);
        pcm += direct * channels;
        frames -= direct;
    }
    if (frames > 0 && taken_ < keep) {
        const auto hold = static_cast<std::size_t>(std::min<std::int64_t>(frames, keep - taken_));
        held_.insert(held_.end(), pcm, pcm + hold * channels);
        taken_ += static_cast<std::int64_t>(hold);
        frames -= hold;
    }
    if (frames > 0) {
        // The source goes on past 30 seconds: the ringtone ends here, fading out.
        cut_ = true;
        fadeAndCodeHeld();
    }
}

void CM4REncoder::fadeAndCodeHeld() {
    const std::size_t channels = static_cast<std::size_t>(channels_);
    const std::size_t frames = held_.size() / channels;
    // A linear ramp from full level to silence over the held second.
    for (std::size_t i = 0; i < frames; ++i) {
        const double gain = double(frames - i - 1) / double(frames);
        for (std::size_t c = 0; c < channels; ++c) {
            std::int16_t& s = held_[i * channels + c];
            s = static_cast<std::int16_t>(s * gain);
        }
    }
    writer_->write(held_.data(), frames);
    held_.clear();
}

void CM4REncoder::finish() {
    if (finished_)
        return;
    openWriterOnce();
    if (!held_.empty()) {
        writer_->write(held_.data(), held_.size() / static_cast<std::size_t>(channels_));
        held_.clear();
    }
    writer_->finish();
    writer_.reset();
    if (std::rename(temporaryPath_.c_str(), path_.c_str()) != 0)
        throw EncoderException("write error");
    finished_ = true;
}

std::unique_ptr<CEncoder> makeM4rEncoder(const std::string& path) {
    return std::make_unique<CM4REncoder>(path);
}

}  // namespace tolvane
