// Source files for the decoder tests, made at test time with sox and ffmpeg (once per test
// program run), and the checks that compare our decoding with ffmpeg's.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pipeline/reader.h"

namespace tolvane::test {

// The path of a named fixture, made on first use; empty when the tools failed. Names:
//   "mono.mp3"     3.0 s, 44100 Hz mono, MPEG-1 Layer III, no Xing frame
//   "stereo.mp3"   3.3 s, 44100 Hz stereo (440 Hz left, 660 Hz right)
//   "lsf.mp3"      2.5 s, 16000 Hz mono, MPEG-2 Layer III (576 samples a frame)
//   "half.mp3"     0.5 s, 44100 Hz mono
//   "short.ogg"    2.9 s, 44100 Hz stereo Vorbis
//   "8bit.flac", "16bit.flac", "24bit.flac"   2.5 s, 22050 Hz mono / 44100 Hz stereo / 48000 Hz
//   stereo "short.flac"   0.6 s, 44100 Hz mono 16-bit "stereo.wma"   4.0 s, 44100 Hz stereo wmav2
//   "two.wma"      3.0 s, two wmav2 streams: 440 Hz mono at 22050 Hz, then 1000 Hz stereo at 44100
//   Hz "long.mp3"     40 s, 44100 Hz stereo (for stopping half-way)
//   "stereo.wav"   2.5 s, 44100 Hz stereo 16-bit PCM; "speech.wav" a short phrase by espeak-ng
const std::string& fixture(const std::string& name);

// Everything a reader delivers, read in pieces of `piece` bytes.
std::vector<std::uint8_t> readAll(CReader& reader, std::size_t piece = 44100);

std::vector<std::int16_t> asPcm16(const std::vector<std::uint8_t>& bytes);

// Normalised correlation of the common start of two signals (1 = same shape).
double correlation(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b,
                   std::size_t offsetA = 0, std::size_t offsetB = 0);

// ffmpeg's decode of `path` in its own rate and channel count, as raw bytes of `sampleFormat`
// ("s16le", "u8", ...), optionally of one audio stream ("0:a:1").
std::vector<std::uint8_t> ffmpegDecode(const std::string& path,
                                       const std::string& sampleFormat = "s16le",
                                       const std::string& map = {});

// ffmpeg's decode of `path` from `second` on (its own exact seek), as s16le.
std::vector<std::uint8_t> ffmpegDecodeFrom(const std::string& path, int second);

std::string md5Of(const std::vector<std::uint8_t>& bytes);

}  // namespace tolvane::test
