// AAC-LC in an MPEG-4 file (brand "M4A "), the container iPhones take as ringtones. The coding is
// FFmpeg's, inside ffmpeg_codecs.so, which is loaded from the application folder the first time
// an M4R ringtone is made; the rest of the encoder knows nothing of libavcodec or libavformat.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tolvane {

struct AacMp4Settings {
    int sampleRate = 44100;
    int channels = 2;               // 1 or 2
    int bitRate = 128000;           // bits per second
    std::string title;              // the file's title tag; none when empty
    std::string codecName = "aac";  // FFmpeg's native AAC encoder
};

class AacMp4Writer {
public:
    virtual ~AacMp4Writer() = default;
    // Codes `frames` frames of interleaved 16-bit PCM in the writer's channel count.
    // EncoderException "write error" when the file cannot take the coded audio.
    virtual void write(const std::int16_t* pcm, std::size_t frames) = 0;
    // Codes what is left and completes the file. EncoderException "write error" on failure.
    virtual void finish() = 0;
};

// Creates the MPEG-4 file at `path` (which must not exist yet) and prepares the coder.
// EncoderException: "cannot create file" when the file cannot be made, "AAC encoder not
// available" when FFmpeg lacks the encoder or refuses the settings, "AAC encoding libraries
// aren't installed (…)" when ffmpeg_codecs.so cannot be loaded. A writer destroyed without
// finish leaves an incomplete file that the caller removes.
std::unique_ptr<AacMp4Writer> openAacMp4Writer(const std::string& path,
                                               const AacMp4Settings& settings);

}  // namespace tolvane
