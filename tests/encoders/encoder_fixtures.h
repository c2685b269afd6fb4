// Fixtures shared by the MP3 and AMR encoder tests: PCM made by sox, feeding an encoder the way
// the conversion worker does, comparing what ffmpeg decodes with what went in.
#pragma once

#include <sys/resource.h>

#include <csignal>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "pipeline/encoder.h"

namespace tolvane::test {

// 16-bit signed little-endian PCM from sox's synth ("sine 440", ...) of `length` ("1.5" seconds
// or "161s" samples).
std::vector<std::uint8_t> synthPcm(int rate, int channels, const std::string& length,
                                   const std::string& synth = "sine 440");
// 16-bit PCM of a WAV file, converted by sox to `rate` and `channels`.
std::vector<std::uint8_t> pcmOfFile(const std::string& path, int rate, int channels);
std::vector<std::int16_t> samplesOf(const std::vector<std::uint8_t>& pcm);

// Fields of the first audio stream as ffprobe reports them, read in one run ("codec_name",
// "sample_rate", "channels", "bit_rate", "duration").
std::map<std::string, std::string> streamInfo(const std::string& path);

// Writes the PCM in pieces of `piece` bytes (one second for the worker), then finishes.
void encodeAll(CEncoder& encoder, const std::vector<std::uint8_t>& pcm, std::size_t piece);

// The highest normalised cross-correlation of `decoded` against `source` for a delay of the
// decoded signal between 0 and maxLag samples, over the first 16384 samples.
double bestCorrelation(const std::vector<std::int16_t>& source,
                       const std::vector<std::int16_t>& decoded, std::size_t maxLag);

// Limits the size of files this process writes (a disk that fills up at `bytes`) while alive.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit previous_{};
    void (*previousHandler_)(int) = nullptr;
};

}  // namespace tolvane::test
