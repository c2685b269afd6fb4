// One stream of the sound device: a ring of PCM filled by its writer and played through an
// emulated looping buffer, with volume ramps for fades.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace tolvane::sound {

// Format of a stream's PCM: interleaved samples, 8-bit unsigned, 16/32-bit signed
// little-endian, or 32-bit float.
struct ds_format {
    int rate = 0;
    int channels = 0;
    int bits = 0;
    bool isFloat = false;

    int blockAlign() const { return channels * bits / 8; }
    int bytesPerSecond() const { return rate * blockAlign(); }
    // Whole frames of `ms` milliseconds, in bytes.
    std::size_t bytesFor(std::int64_t ms) const {
        return static_cast<std::size_t>(ms * rate / 1000) * static_cast<std::size_t>(blockAlign());
    }
    bool operator==(const ds_format&) const = default;
};

class ds_stream {
public:
    virtual ~ds_stream() = default;

    virtual ds_format format() const = 0;
    // Copies as much of `data` as the ring has room for; returns the bytes taken (whole frames).
    virtual std::size_t write(const void* data, std::size_t bytes) = 0;
    // Starts a volume ramp from `from` to `to` over `seconds` of playback.
    virtual void fade(double from, double to, double seconds) = 0;
    // Fades out over 0.2 s (at most what is buffered), then pauses.
    virtual void pause() = 0;
    // Restarts playback and fades back in over 0.2 s.
    virtual void resume() = 0;
    // Fades out over 0.2 s (at most what is buffered) and ends, dropping what is left.
    virtual void stop() = 0;
    // No more data comes: the stream plays what it holds and then ends.
    virtual void finish() = 0;

    virtual bool ended() const = 0;
    virtual bool failed() const = 0;
    // Bytes written ahead of the play cursor plus what waits in the ring.
    virtual std::size_t buffered() const = 0;
};

// What the device takes from one stream, after its volume: for tests that listen to the output.
struct device_block {
    std::uint64_t stream = 0;  // serial number of the stream, from 1 in each process
    ds_format format;
    const std::uint8_t* data = nullptr;
    std::size_t bytes = 0;
    std::uint64_t played = 0;   // bytes of this stream played before this block
    std::uint64_t written = 0;  // bytes of audio written into the stream's buffer so far
};
using device_observer = std::function<void(const device_block&)>;

// Installs (or, with an empty function, removes) the observer. It is called on the device's
// audio thread and must be quick.
void set_device_observer(device_observer observer);

}  // namespace tolvane::sound
