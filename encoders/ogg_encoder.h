// The Android ringtone writer: Ogg Vorbis (libvorbisenc) at quality 4, one or two channels at
// the input rate, with the ringtone's base name as its TITLE comment.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "encoders/ringtone_file.h"
#include "encoders/whole_frames.h"
#include "pipeline/encoder.h"

namespace tolvane {

class COggEncoder : public CEncoder {
public:
    // libvorbisenc's quality scale runs from -0.1 to 1.0; 0.4 is the "quality 4" of the tools.
    static constexpr float kQuality = 0.4f;
    // The rates taken as they are; others are converted to kDefaultRate by the factory.
    static constexpr int kMinNativeRate = 32000;
    static constexpr int kMaxNativeRate = 48000;
    static constexpr int kDefaultRate = 44100;

    // The rate the ringtone is made at for a source of `sourceRate`.
    static int rateFor(int sourceRate);

    // prepareTarget ("file skipped"), then creates the file ("cannot create file"). The coder
    // and the headers follow with the first write, once the input format is set.
    explicit COggEncoder(const std::string& path);
    ~COggEncoder() override;

    // Takes 16-bit PCM of one or two channels. "write error" when a page cannot be written.
    void write(const void* data, std::size_t count, std::size_t* written = nullptr) override;
    // Ends the stream and writes its last pages.
    void finish() override;

private:
    struct Codec;

    void startOnce();
    void code(const std::uint8_t* pcm, std::size_t frames);
    void writePages(bool flush);

    std::string title_;
    RingtoneFile file_;
    WholeFrames frames_;
    std::unique_ptr<Codec> codec_;
    bool finished_ = false;
};

}  // namespace tolvane
