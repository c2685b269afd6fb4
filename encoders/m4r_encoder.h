// The iPhone ringtone writer: AAC-LC at about 128 kbit/s in an MPEG-4 file of brand "M4A ",
// 44100 Hz, one or two channels, titled with the ringtone's base name. Phones refuse ringtones
// longer than 30 seconds, so a longer part is cut after its first 30 seconds, and its last
// second fades out so that the cut is not heard as a click.
//
// The file is written under a temporary name beside the ringtone and renamed when complete:
// an MPEG-4 file is only valid once its index is written, and an unfinished one must never
// stand under the ringtone's name.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "encoders/aac_mp4_writer.h"
#include "encoders/encoders.h"
#include "encoders/whole_frames.h"
#include "pipeline/encoder.h"

namespace tolvane {

class CM4REncoder : public CEncoder {
public:
    static constexpr int kSampleRate = 44100;
    static constexpr int kBitRate = 128000;
    // FFmpeg's native AAC encoder makes mono at 128 kbit/s and below about 0.7 dB louder than
    // its input (the loudest second of music with noise: -11.2 instead of -12 dBFS); from
    // 144 kbit/s on it keeps the level, so mono ringtones take that rate.
    static constexpr int kMonoBitRate = 144000;
    static constexpr int kMaxSeconds = kIphoneRingtoneSeconds;
    static constexpr int kFadeSeconds = 1;

    using WriterFactory = std::function<std::unique_ptr<AacMp4Writer>(
        const std::string& path, const AacMp4Settings& settings)>;

    // prepareTarget ("file skipped"), then creates the temporary file beside `path` ("cannot
    // create file"). The coder opens with the first write, once the input format is set.
    explicit CM4REncoder(const std::string& path, WriterFactory openWriter = openAacMp4Writer);
    // Without a successful finish the temporary file is removed; the ringtone is never made.
    ~CM4REncoder() override;

    // Takes 16-bit PCM of one or two channels at the input rate; what lies beyond the first
    // 30 seconds is dropped.
    void write(const void* data, std::size_t count, std::size_t* written = nullptr) override;
    // Completes the file and gives it the ringtone's name ("write error" when it cannot).
    void finish() override;

    // Whether the source ran past 30 seconds and was cut.
    bool wasCut() const { return cut_; }

private:
    void openWriterOnce();
    void takeFrames(const std::int16_t* pcm, std::size_t frames);
    void fadeAndCodeHeld();

    std::string path_;
    std::string temporaryPath_;
    WriterFactory openWriter_;
    std::unique_ptr<AacMp4Writer> writer_;
    WholeFrames frames_;
    std::vector<std::int16_t> aligned_;  // the frames of the current write, 16-bit aligned
    std::vector<std::int16_t> held_;     // the last second before the cut, until it is known
                                         // whether the source goes on beyond it
    std::int64_t taken_ = 0;             // frames accepted, at most the 30 seconds
    bool cut_ = false;
    bool finished_ = false;
};

}  // namespace tolvane
