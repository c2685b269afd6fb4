// The device's stream: a 250 ms PCM ring filled by the output, and an emulated looping buffer
// that the servicing thread keeps filled ahead of the play cursor and the audio callback plays.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <mutex>
#include <vector>

#include "player/ds_stream.h"
#include "pipeline/fifo_buffer.h"

namespace tolvane::sound {

// The sizes of a stream, in bytes, for its format and latency.
struct ds_sizes {
    std::size_t ring = 0;    // PCM ring: 250 ms
    std::size_t buffer = 0;  // looping buffer: 2 x latency up to 2000 ms, else latency + 2000 ms
    std::size_t targetFill = 0;      // data kept written ahead of the play cursor: the latency
    std::size_t startThreshold = 0;  // data written before playback starts: min(latency / 2, 10 s)
    std::size_t minimumLead = 0;     // never write closer than this to the play cursor: 50 ms
    std::size_t silenceAhead =
        0;  // silence kept after the data: min(buffer / 4, (buffer - fill) / 2)

    static ds_sizes compute(const ds_format& format, int latencyMs);
};

class ds_stream_i final : public ds_stream {
public:
    static constexpr int kLatencyMs = 1000;
    static constexpr double kFadeSeconds = 0.2;

    ds_stream_i(const ds_format& format, int latencyMs);
    ~ds_stream_i() override;

    ds_format format() const override { return format_; }
    std::size_t write(const void* data, std::size_t bytes) override;
    void fade(double from, double to, double seconds) override;
    void pause() override;
    void resume() override;
    void stop() override;
    void finish() override;
    bool ended() const override;
    bool failed() const override;
    std::size_t buffered() const override;

    const ds_sizes& sizes() const { return sizes_; }

    // Servicing thread, every 10 ms: advance the played time and the volume ramp, move data from
    // the ring into the looping buffer, start playback at the threshold, notice the end.
    // `output` is the device's format once it is open (nullptr before).
    void service(const SDL_AudioSpec* output);
    // Audio callback: adds this stream's next `frames` device frames (float, the device's
    // channel count) to `mix`.
    void mixInto(float* mix, int frames, const SDL_AudioSpec& output, std::vector<float>& scratch);
    // The device went away: the stream cannot play any more.
    void detach();

private:
    enum class RampEnd { None, Pause, Stop };

    void setFailed();
    void startRamp(double to, double seconds, RampEnd end);
    double bufferedSecondsLocked() const;
    void advanceRamp();
    void fillFromRing();
    void writeSilenceAhead();
    void copyIntoBuffer(std::uint64_t at, const std::uint8_t* data, std::size_t bytes);
    void fillSilence(std::uint64_t from, std::uint64_t to);
    void pullFrames(std::uint8_t* out, std::size_t bytes);
    void applyGain(std::uint8_t* data, std::size_t bytes, float from, float to) const;

    const ds_format format_;
    const ds_sizes sizes_;
    const std::uint64_t serial_;

    mutable std::mutex lock_;
    FifoBuffer ring_;
    std::vector<std::uint8_t> buffer_;  // the looping buffer
    std::uint64_t written_ = 0;         // absolute stream offset where the next data goes
    std::uint64_t consumed_ = 0;        // absolute play cursor: bytes the device has taken
    std::uint64_t silencedTo_ = 0;      // silence is written up to this offset
    std::uint64_t dataWritten_ = 0;     // bytes of audio written so far (without resyncs)
    std::uint64_t lastConsumed_ = 0;
    double playedSeconds_ = 0;

    double volume_ = 1.0;
    double rampFrom_ = 1.0, rampTo_ = 1.0, rampStart_ = 0, rampEnd_ = 0;
    bool rampActive_ = false;
    RampEnd rampEnds_ = RampEnd::None;
    float targetGain_ = 1.0f;   // set by the servicing thread from the attenuation
    float appliedGain_ = 1.0f;  // where the callback left off

    bool started_ = false;
    bool playing_ = false;
    bool paused_ = false;
    bool finishing_ = false;
    bool ended_ = false;
    bool failed_ = false;

    SDL_AudioStream* converter_ = nullptr;
    std::vector<std::uint8_t> pulled_;  // servicing thread's copy from the ring
    std::vector<std::uint8_t> block_;   // the callback's block
};

}  // namespace tolvane::sound
