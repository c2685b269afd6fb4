#include "player/ds_stream_i.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

namespace tolvane::sound {

namespace {

std::mutex observerLock;
device_observer observer;

std::atomic<std::uint64_t> nextSerial{1};

// Attenuation in hundredths of a decibel, as the volume control takes it: 0 is full volume,
// -10000 silence.
int attenuationOf(double volume) {
    if (volume <= 0)
        return -10000;
    return std::clamp(static_cast<int>(std::lround(2000.0 * std::log10(volume))), -10000, 0);
}

float gainOf(int attenuation) {
    if (attenuation <= -10000)
        return 0.0f;
    return static_cast<float>(std::pow(10.0, attenuation / 2000.0));
}

SDL_AudioFormat sdlFormatOf(const ds_format& format) {
    if (format.isFloat)
        return format.bits == 32 ? AUDIO_F32LSB : 0;
    switch (format.bits) {
        case 8:
            return AUDIO_U8;
        case 16:
            return AUDIO_S16LSB;
        case 32:
            return AUDIO_S32LSB;
        default:
            return 0;
    }
}

template <typename Sample>
void scaleSamples(std::uint8_t* data, std::size_t frames, int channels, float from, float to) {
    const float step = frames > 1 ? (to - from) / static_cast<float>(frames) : 0.0f;
    auto* samples = reinterpret_cast<Sample*>(data);
    for (std::size_t f = 0; f < frames; ++f) {
        const float gain = from + step * static_cast<float>(f);
        for (int c = 0; c < channels; ++c) {
            Sample& s = samples[f * channels + c];
            if constexpr (std::is_same_v<Sample, std::uint8_t>)
                s = static_cast<std::uint8_t>(std::lround((s - 128) * gain) + 128);
            else if constexpr (std::is_floating_point_v<Sample>)
                s = s * gain;
            else
                s = static_cast<Sample>(std::llround(static_cast<double>(s) * gain));
        }
    }
}

}  // namespace

void set_device_observer(device_observer newObserver) {
    std::lock_guard guard(observerLock);
    observer = std::move(newObserver);
}

ds_sizes ds_sizes::compute(const ds_format& format, int latencyMs) {
    ds_sizes s;
    const std::size_t align = static_cast<std::size_t>(std::max(1, format.blockAlign()));
    s.ring = format.bytesFor(250);
    s.buffer = format.bytesFor(latencyMs <= 2000 ? 2 * latencyMs : latencyMs + 2000);
    s.targetFill = format.bytesFor(latencyMs);
    s.startThreshold = format.bytesFor(std::min(latencyMs / 2, 10000));
    s.minimumLead = format.bytesFor(50);
    s.silenceAhead = std::min(s.buffer / 4, (s.buffer - s.targetFill) / 2) / align * align;
    return s;
}

ds_stream_i::ds_stream_i(const ds_format& format, int latencyMs)
    : format_(format),
      sizes_(ds_sizes::compute(format, latencyMs)),
      serial_(nextSerial++),
      ring_(std::max<std::size_t>(sizes_.ring, 1)),
      buffer_(std::max<std::size_t>(sizes_.buffer, 1), format.bits == 8 ? 128 : 0) {
    if (sdlFormatOf(format) == 0 || format.channels <= 0 || format.rate <= 0 || sizes_.buffer == 0)
        setFailed();
}

ds_stream_i::~ds_stream_i() {
    if (converter_)
        SDL_FreeAudioStream(converter_);
}

std::size_t ds_stream_i::write(const void* data, std::size_t bytes) {
    std::lock_guard guard(lock_);
    if (failed_)
        return bytes;
    if (ended_ || finishing_)
        return 0;
    const std::size_t align = static_cast<std::size_t>(format_.blockAlign());
    const std::size_t n = std::min(bytes, ring_.freeSpace()) / align * align;
    if (n > 0)
        ring_.write(data, n);
    return n;
}

void ds_stream_i::fade(double from, double to, double seconds) {
    std::lock_guard guard(lock_);
    volume_ = from;
    targetGain_ = appliedGain_ = gainOf(attenuationOf(from));
    startRamp(to, seconds, RampEnd::None);
}

void ds_stream_i::pause() {
    std::lock_guard guard(lock_);
    if (ended_ || paused_)
        return;
    if (!playing_) {
        paused_ = true;
        return;
    }
    startRamp(0.0, std::min(kFadeSeconds, bufferedSecondsLocked()), RampEnd::Pause);
}

void ds_stream_i::resume() {
    std::lock_guard guard(lock_);
    if (ended_)
        return;
    if (paused_) {
        paused_ = false;
        playing_ = started_;
    }
    startRamp(1.0, kFadeSeconds, RampEnd::None);
}

void ds_stream_i::stop() {
    std::lock_guard guard(lock_);
    if (ended_)
        return;
    if (!playing_) {
        ended_ = true;
        return;
    }
    startRamp(0.0, std::min(kFadeSeconds, bufferedSecondsLocked()), RampEnd::Stop);
}

void ds_stream_i::finish() {
    std::lock_guard guard(lock_);
    finishing_ = true;
}

bool ds_stream_i::ended() const {
    std::lock_guard guard(lock_);
    return ended_;
}

bool ds_stream_i::failed() const {
    std::lock_guard guard(lock_);
    return failed_;
}

std::size_t ds_stream_i::buffered() const {
    std::lock_guard guard(lock_);
    return (written_ > consumed_ ? written_ - consumed_ : 0) + ring_.size();
}

void ds_stream_i::setFailed() {
    failed_ = true;
    ended_ = true;
    playing_ = false;
}

void ds_stream_i::detach() {
    std::lock_guard guard(lock_);
    if (converter_)
        SDL_FreeAudioStream(converter_);
    converter_ = nullptr;
    if (!ended_)
        setFailed();
}

double ds_stream_i::bufferedSecondsLocked() const {
    const std::uint64_t ahead = written_ > consumed_ ? written_ - consumed_ : 0;
    return static_cast<double>(ahead + ring_.size()) / format_.bytesPerSecond();
}

void ds_stream_i::startRamp(double to, double seconds, RampEnd end) {
    rampFrom_ = volume_;
    rampTo_ = to;
    rampStart_ = playedSeconds_;
    rampEnd_ = playedSeconds_ + std::max(0.0, seconds);
    rampEnds_ = end;
    rampActive_ = true;
    advanceRamp();
}

void ds_stream_i::advanceRamp() {
    if (rampActive_) {
        if (playedSeconds_ >= rampEnd_) {
            volume_ = rampTo_;
            // A ramp that pauses or stops finishes once the callback has played down to the end
            // level, so the sound never breaks off mid-fade.
            if (rampEnds_ == RampEnd::None || !playing_ ||
                appliedGain_ == gainOf(attenuationOf(rampTo_))) {
                rampActive_ = false;
                if (rampEnds_ == RampEnd::Pause) {
                    playing_ = false;
                    paused_ = true;
                } else if (rampEnds_ == RampEnd::Stop) {
                    playing_ = false;
                    ended_ = true;
                }
            }
        } else {
            const double t = (playedSeconds_ - rampStart_) / (rampEnd_ - rampStart_);
            volume_ = rampFrom_ + (rampTo_ - rampFrom_) * t;
        }
    }
    targetGain_ = gainOf(attenuationOf(volume_));
}

void ds_stream_i::service(const SDL_AudioSpec* output) {
    std::lock_guard guard(lock_);
    if (ended_)
        return;
    if (output && !converter_) {
        converter_ = SDL_NewAudioStream(sdlFormatOf(format_), static_cast<Uint8>(format_.channels),
                                        format_.rate, AUDIO_F32SYS, output->channels, output->freq);
        if (!converter_) {
            setFailed();
            return;
        }
    }
    playedSeconds_ += static_cast<double>(consumed_ - lastConsumed_) / format_.bytesPerSecond();
    lastConsumed_ = consumed_;
    advanceRamp();
    if (ended_)
        return;
    fillFromRing();
    writeSilenceAhead();
    if (!started_ && (dataWritten_ >= sizes_.startThreshold || (finishing_ && ring_.empty()))) {
        started_ = true;
        playing_ = !paused_;
    }
    if (started_ && finishing_ && ring_.empty() && consumed_ >= written_) {
        playing_ = false;
        ended_ = true;
    }
}

void ds_stream_i::fillFromRing() {
    if (ring_.empty())
        return;
    if (consumed_ > written_) {
        // The cursor ran past the data: carry on a minimum lead ahead of it.
        written_ = consumed_ + sizes_.minimumLead;
        fillSilence(consumed_, written_);
    }
    const std::uint64_t ahead = written_ - consumed_;
    if (ahead >= sizes_.targetFill)
        return;
    const std::size_t align = static_cast<std::size_t>(format_.blockAlign());
    const std::size_t n =
        std::min<std::size_t>(ring_.size(), sizes_.targetFill - ahead) / align * align;
    if (n == 0)
        return;
    pulled_.resize(n);
    ring_.read(pulled_.data(), n);
    copyIntoBuffer(written_, pulled_.data(), n);
    written_ += n;
    dataWritten_ += n;
}

void ds_stream_i::writeSilenceAhead() {
    const std::uint64_t to = written_ + sizes_.silenceAhead;
    const std::uint64_t from = std::max(silencedTo_, written_);
    if (from < to)
        fillSilence(from, to);
    silencedTo_ = std::max(silencedTo_, to);
}

void ds_stream_i::copyIntoBuffer(std::uint64_t at, const std::uint8_t* data, std::size_t bytes) {
    while (bytes > 0) {
        const std::size_t pos = static_cast<std::size_t>(at % buffer_.size());
        const std::size_t n = std::min(bytes, buffer_.size() - pos);
        std::memcpy(buffer_.data() + pos, data, n);
        at += n;
        data += n;
        bytes -= n;
    }
}

void ds_stream_i::fillSilence(std::uint64_t from, std::uint64_t to) {
    const std::uint8_t silence = format_.bits == 8 ? 128 : 0;
    while (from < to) {
        const std::size_t pos = static_cast<std::size_t>(from % buffer_.size());
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(to - from, buffer_.size() - pos));
        std::memset(buffer_.data() + pos, silence, n);
        from += n;
    }
}

void ds_stream_i::pullFrames(std::uint8_t* out, std::size_t bytes) {
    const std::uint8_t silence = format_.bits == 8 ? 128 : 0;
    while (bytes > 0) {
        const std::size_t pos = static_cast<std::size_t>(consumed_ % buffer_.size());
        const std::size_t n = std::min(bytes, buffer_.size() - pos);
        // Past the silence written ahead the buffer holds an earlier lap: play silence instead.
        const std::uint64_t fresh =
            silencedTo_ > consumed_ ? std::min<std::uint64_t>(silencedTo_ - consumed_, n) : 0;
        std::memcpy(out, buffer_.data() + pos, static_cast<std::size_t>(fresh));
        std::memset(out + fresh, silence, n - static_cast<std::size_t>(fresh));
        consumed_ += n;
        out += n;
        bytes -= n;
    }
}

void ds_stream_i::applyGain(std::uint8_t* data, std::size_t bytes, float from, float to) const {
    if (from == 1.0f && to == 1.0f)
        return;
    const std::size_t frames = bytes / static_cast<std::size_t>(format_.blockAlign());
    if (format_.isFloat)
        scaleSamples<float>(data, frames, format_.channels, from, to);
    else if (format_.bits == 8)
        scaleSamples<std::uint8_t>(data, frames, format_.channels, from, to);
    else if (format_.bits == 16)
        scaleSamples<std::int16_t>(data, frames, format_.channels, from, to);
    else
        scaleSamples<std::int32_t>(data, frames, format_.channels, from, to);
}

void ds_stream_i::mixInto(float* mix, int frames, const SDL_AudioSpec& output,
                          std::vector<float>& scratch) {
    std::lock_guard guard(lock_);
    if (!playing_ || !converter_)
        return;
    const int needed = frames * output.channels * static_cast<int>(sizeof(float));
    const std::size_t align = static_cast<std::size_t>(format_.blockAlign());
    const auto sourceFrames = static_cast<std::size_t>(
        (static_cast<std::int64_t>(frames) * format_.rate + output.freq - 1) / output.freq);
    for (int rounds = 0; SDL_AudioStreamAvailable(converter_) < needed && rounds < 8; ++rounds) {
        const std::size_t bytes = std::max<std::size_t>(sourceFrames, 1) * align;
        block_.resize(bytes);
        std::uint8_t* block = block_.data();
        const std::uint64_t playedBefore = consumed_;
        pullFrames(block, bytes);
        applyGain(block, bytes, appliedGain_, targetGain_);
        appliedGain_ = targetGain_;
        {
            std::lock_guard observing(observerLock);
            if (observer)
                observer(device_block{serial_, format_, block, bytes, playedBefore, dataWritten_});
        }
        if (SDL_AudioStreamPut(converter_, block, static_cast<int>(bytes)) != 0)
            break;
    }
    scratch.resize(static_cast<std::size_t>(needed) / sizeof(float));
    const int got = SDL_AudioStreamGet(converter_, scratch.data(), needed);
    for (int i = 0; i < got / static_cast<int>(sizeof(float)); ++i)
        mix[i] += scratch[static_cast<std::size_t>(i)];
}

}  // namespace tolvane::sound
