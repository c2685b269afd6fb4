#include "pipeline/fade.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "pipeline/app_exception.h"

namespace tolvane {

std::unique_ptr<CReader> wrapWithFades(std::unique_ptr<CReader> reader, FadeLengths fades,
                                       std::optional<std::int64_t> limitFrames) {
    if (!fades.any() || !reader)
        return reader;
    return std::make_unique<CFader>(std::move(reader), fades, limitFrames);
}

namespace {

std::int64_t framesOf(std::uint32_t ms, std::int32_t rate) {
    if (rate <= 0)
        return 0;
    return std::int64_t(std::min(ms, kMaxFadeMs)) * rate / 1000;
}

}  // namespace

CFader::CFader(std::unique_ptr<CReader> inner, FadeLengths fades,
               std::optional<std::int64_t> limitFrames)
    : inner_(std::move(inner)), limitFrames_(limitFrames) {
    if (!inner_)
        throw ReaderException("Internal error #392");
    takeFormatOf(*inner_);
    sampleWidthKnown_ = (bitsPerSample_ == 8 || bitsPerSample_ == 16) && channels_ > 0;
    frameBytes_ = sampleWidthKnown_ ? std::size_t(channels_) * (bitsPerSample_ / 8) : 1;
    if (sampleWidthKnown_) {
        fadeInFrames_ = framesOf(fades.inMs, sampleRate_);
        fadeOutFrames_ = framesOf(fades.outMs, sampleRate_);
    }
}

void CFader::seek(int second) {
    inner_->seek(second);
    held_.clear();
    framesRead_ = 0;
    framesOut_ = 0;
    ended_ = false;
}

void CFader::fill(std::size_t wanted) {
    std::vector<std::uint8_t> chunk;
    while (!ended_ && held_.size() < wanted) {
        std::size_t room = wanted - held_.size();
        if (limitFrames_) {
            const std::int64_t left = std::max<std::int64_t>(*limitFrames_ - framesRead_, 0);
            room = std::min<std::size_t>(room, std::size_t(left) * frameBytes_);
            if (room == 0) {
                ended_ = true;
                break;
            }
        }
        chunk.resize(room);
        std::size_t got = 0;
        inner_->read(chunk.data(), chunk.size(), &got);
        got -= got % frameBytes_;
        if (got == 0) {
            ended_ = true;
            break;
        }
        held_.insert(held_.end(), chunk.begin(), chunk.begin() + std::ptrdiff_t(got));
        framesRead_ += std::int64_t(got / frameBytes_);
    }
    if (ended_)
        applyFadeOut();
}

// Runs once, when the end is known: everything after the source's end is held, so the last
// fade-out frames of the stream are all in the buffer.
void CFader::applyFadeOut() {
    if (fadeOutFrames_ <= 0)
        return;
    const std::int64_t heldFrames = std::int64_t(held_.size() / frameBytes_);
    const std::int64_t fading = std::min(fadeOutFrames_, heldFrames);
    std::uint8_t* first = held_.data() + (heldFrames - fading) * std::int64_t(frameBytes_);
    for (std::int64_t j = 0; j < fading; ++j) {
        // j counts frames from the stream's last one backwards: 0 is silent.
        const std::int64_t fromEnd = fading - 1 - j;
        scaleFrame(first + j * std::int64_t(frameBytes_), double(fromEnd) / fadeOutFrames_);
    }
    fadeOutFrames_ = 0;  // done
}

void CFader::applyFadeIn(std::uint8_t* bytes, std::size_t frames) {
    for (std::size_t i = 0; i < frames && framesOut_ + std::int64_t(i) < fadeInFrames_; ++i)
        scaleFrame(bytes + i * frameBytes_, double(framesOut_ + std::int64_t(i)) / fadeInFrames_);
}

void CFader::scaleFrame(std::uint8_t* frame, double gain) const {
    for (int c = 0; c < channels_; ++c) {
        if (bitsPerSample_ == 8) {
            const int s = frame[c] - 128;
            frame[c] = static_cast<std::uint8_t>(std::lround(s * gain) + 128);
        } else {
            std::uint8_t* p = frame + 2 * c;
            const auto s = static_cast<std::int16_t>(p[0] | (p[1] << 8));
            const auto r =
                static_cast<std::uint16_t>(static_cast<std::int16_t>(std::lround(s * gain)));
            p[0] = static_cast<std::uint8_t>(r & 0xFF);
            p[1] = static_cast<std::uint8_t>(r >> 8);
        }
    }
}

std::size_t CFader::read(void* buffer, std::size_t count, std::size_t* delivered) {
    std::size_t out = 0;
    if (!sampleWidthKnown_) {
        out = inner_->read(buffer, count, nullptr);
    } else {
        count -= count % frameBytes_;
        const std::size_t holdBack = std::size_t(fadeOutFrames_) * frameBytes_;
        fill(count + holdBack);
        const std::size_t ready =
            ended_ ? held_.size() : held_.size() - std::min(holdBack, held_.size());
        out = std::min(count, ready);
        std::memcpy(buffer, held_.data(), out);
        held_.erase(held_.begin(), held_.begin() + std::ptrdiff_t(out));
        applyFadeIn(static_cast<std::uint8_t*>(buffer), out / frameBytes_);
        framesOut_ += std::int64_t(out / frameBytes_);
    }
    if (delivered != nullptr)
        *delivered = out;
    return out;
}

}  // namespace tolvane
