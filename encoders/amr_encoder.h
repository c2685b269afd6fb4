// The AMR ringtone writer: AMR-NB at 12.2 kbit/s in the single-channel storage format
// ("#!AMR\n" followed by 32-byte frames of 20 ms), coded by opencore-amrnb.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "encoders/chunk_queue.h"
#include "encoders/coding_thread.h"
#include "encoders/ringtone_file.h"
#include "pipeline/encoder.h"

namespace tolvane {

class CAMREncoder : public CEncoder {
public:
    static constexpr int kSampleRate = 8000;
    static constexpr std::size_t kFrameSamples = 160;  // 20 ms
    static constexpr std::size_t kFrameBytes = 32;     // 12.2 kbit/s with its header byte
    // PCM handed to the coding thread at a time: one second, 50 frames.
    static constexpr std::size_t kBlockFrames = 50;

    // prepareTarget ("file skipped"), creates the file ("cannot create file") and writes the
    // magic ("write error").
    explicit CAMREncoder(const std::string& path);
    // The whole frames written so far are coded; fewer than 160 samples still queued are lost.
    ~CAMREncoder() override;

    // Takes 8000 Hz mono 16-bit PCM; every 160 samples become one frame. The frames are coded
    // on a thread of the encoder's own: a failed write of a frame ("write error") is raised by
    // a later write or by finish.
    void write(const void* data, std::size_t count, std::size_t* written = nullptr) override;
    // Codes the last, partial frame completed with silence and waits for every frame.
    void finish() override;

private:
    struct CodecDeleter {
        void operator()(void* state) const;
    };

    void collectFrame(const std::uint8_t* pcm, std::size_t count);
    void submitBlock();
    void codeBlock(const std::vector<std::uint8_t>& block);

    RingtoneFile file_;
    std::unique_ptr<void, CodecDeleter> codec_;
    std::array<std::uint8_t, kFrameBytes> frame_{};  // used by the coding thread only
    ChunkQueue queue_;
    std::vector<std::uint8_t> block_;  // whole frames of PCM not yet handed over
    bool finished_ = false;
    // Last: it ends (finishing its blocks) before the codec and the file go away.
    std::unique_ptr<CodingThread> coder_;
};

}  // namespace tolvane
