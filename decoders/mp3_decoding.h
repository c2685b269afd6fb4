// The MP3 reader's own parts around libmad: the scan that indexes every frame of a file, the
// dither that turns libmad's fixed-point samples into 16-bit PCM, and the frame loop.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tolvane {

// Zero bytes that must follow the data handed to the scan and the decoder.
constexpr std::size_t kMp3Guard = 8;

struct Mp3FrameEntry {
    std::size_t offset;         // the frame's first byte, from the start of the data
    std::uint64_t firstSample;  // decoded samples (per channel) before the frame's first sample
};

// The silence an encoder put around the music, as the first frame's LAME/Xing (or Info) tag
// states it: decoded samples before `skip` (the encoder's delay plus the decoder's own delay of
// 529 samples) and those in [gapFrom, gapTo) (the padding at the end of the stated frames) are
// not part of the stream. Without a tag nothing is dropped.
struct Mp3Trim {
    static constexpr std::uint64_t kNone = UINT64_MAX;
    std::uint64_t skip = 0;
    std::uint64_t gapFrom = kNone;
    std::uint64_t gapTo = kNone;

    // Kept samples of the first `decoded` decoded samples.
    std::uint64_t kept(std::uint64_t decoded) const;
    // The decoded sample that is kept sample number `output` (for a seek).
    std::uint64_t decodedIndexOf(std::uint64_t output) const;
};

struct Mp3Scan {
    std::vector<Mp3FrameEntry> frames;  // the frames of audio (a tag frame is not one)
    std::uint64_t decodedSamples = 0;   // per channel, of all frames
    Mp3Trim trim;
    std::uint64_t pcmBytes = 0;  // the stream's size: kept samples, 16-bit, interleaved
    int rate = 0;                // of the last good header
    int channels = 0;            // of the last good header
    bool reachedEnd = false;     // stopped by running out of data, not by an error

    // A file worth decoding: scanned to its end and holding at least one sample.
    bool usable() const { return reachedEnd && pcmBytes > 0 && rate > 0; }
    std::uint64_t durationMs() const;
};

// Scans `size` bytes of MPEG audio. The data must be followed by kMp3Guard zero bytes. Data that
// starts as another kind of audio file gives an unusable scan.
Mp3Scan scanMp3(const std::uint8_t* data, std::size_t size);

// The dither of one channel: libmad's samples (28 fraction bits, 1.0 = 2^28) to 16 bits with
// error feedback and a triangular random term. Each channel keeps its state for the whole stream.
class Mp3Dither {
public:
    std::int16_t toPcm16(std::int32_t sample);
    std::int32_t error(int i) const { return error_[i]; }

private:
    std::int32_t error_[3] = {0, 0, 0};
    std::uint32_t random_ = 0;
};

// Decodes frames from `data` (same guard rule as the scan), starting at byte `start`, into 16-bit
// interleaved PCM of `channels` channels (a mono frame in a stereo stream is doubled, a stereo
// frame in a mono stream gives its left channel). `sink` receives each frame's PCM and returns
// false to stop; `seek` is asked before every frame for a new start offset (or returns false).
class Mp3FrameDecoder {
public:
    Mp3FrameDecoder(const std::uint8_t* data, std::size_t size, int channels);
    ~Mp3FrameDecoder();
    Mp3FrameDecoder(const Mp3FrameDecoder&) = delete;
    Mp3FrameDecoder& operator=(const Mp3FrameDecoder&) = delete;

    // Resumes decoding at the frame starting at `offset`.
    void restartAt(std::size_t offset);
    // Decodes the next frame and appends its PCM to `pcm`. False at the end of the data or on an
    // error that libmad cannot recover from; a recoverable error skips the frame (nothing added).
    bool next(std::vector<std::int16_t>& pcm);

private:
    struct State;
    const std::uint8_t* data_;
    std::size_t size_;
    int channels_;
    std::unique_ptr<State> state_;
    Mp3Dither left_, right_;
};

}  // namespace tolvane
