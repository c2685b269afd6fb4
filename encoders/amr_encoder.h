// The AMR ringtone writer: AMR-NB at 12.2 kbit/s in the single-channel storage format
// ("#!AMR\n" followed by 32-byte frames of 20 ms), coded by opencore-amrnb.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "encoders/chunk_queue.h"
#include "encoders/ringtone_file.h"
#include "pipeline/encoder.h"

namespace tolvane {

class CAMREncoder : public CEncoder {
public:
    static constexpr int kSampleRate = 8000;
    static constexpr std::size_t kFrameSamples = 160;  // 20 ms
    static constexpr std::size_t kFrameBytes = 32;     // 12.2 kbit/s with its header byte

    // prepareTarget ("file skipped"), creates the file ("cannot create file") and writes the
    // magic ("write error").
    explicit CAMREncoder(const std::string& path);
    ~CAMREncoder() override;

    // Takes 8000 Hz mono 16-bit PCM; every 160 samples become one frame ("write error").
    void write(const void* data, std::size_t count, std::size_t* written = nullptr) override;
    // Codes the last, partial frame completed with silence.
    void finish() override;

private:
    void encodeFrame(const std::uint8_t* pcm, std::size_t count);

    RingtoneFile file_;
    ChunkQueue queue_;
    void* codec_ = nullptr;
    std::array<std::uint8_t, kFrameBytes> frame_{};
};

}  // namespace tolvane
