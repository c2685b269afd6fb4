// The MP3 ringtone writer. The MP3 coder itself lives in lame_enc.so, loaded once per process
// from the application folder; this encoder queues the PCM and hands the library whole chunks
// of the size it asks for.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "encoders/chunk_queue.h"
#include "encoders/ringtone_file.h"
#include "pipeline/encoder.h"
#include "plugins/lame_enc/lame_enc.h"

namespace tolvane {

class CMP3Encoder : public CEncoder {
public:
    static constexpr int kMediumBitrate = 48;
    static constexpr int kHighBitrate = 96;

    // Loads lame_enc.so ("MP3 libraries are not installed", "MP3 libraries are broken"), then
    // prepareTarget ("file skipped") and creates the file ("cannot create file").
    explicit CMP3Encoder(const std::string& path);
    ~CMP3Encoder() override;

    // Takes 16-bit mono PCM at the encoder's sample rate. The first write opens the library
    // stream ("unable to encode" when it refuses the configuration).
    void write(const void* data, std::size_t count, std::size_t* written = nullptr) override;
    // Encodes what is still queued and the coder's last frames.
    void finish() override;

    // Constant bit rate in kbit/s, 48 unless set; takes effect when the stream opens.
    void setBitrate(int kbps) { bitrate_ = kbps; }
    int bitrate() const { return bitrate_; }

private:
    void openStream();
    void encodeChunk(const std::uint8_t* bytes, std::size_t count);
    void writeOutput(std::uint32_t produced);

    RingtoneFile file_;
    bool streamPending_ = true;
    bool flushed_ = false;
    std::vector<std::uint8_t> output_;
    BeStream stream_ = nullptr;
    ChunkQueue queue_;
    int bitrate_ = kMediumBitrate;
};

// Test hooks. The program loads lame_enc.so from the application folder once and keeps it for
// the life of the process; tests point the loader at another folder (nullopt restores the
// application folder) and forget the loaded library so that the next encoder loads again.
// Unloading while an MP3 encoder exists is not allowed.
void setMp3LibraryFolderForTesting(std::optional<std::string> folder);
void unloadMp3LibraryForTesting();

}  // namespace tolvane
