#include "encoders/temporary_wav_encoder.h"

#include "pipeline/app_exception.h"

namespace tolvane {

CTemporaryWavEncoder::~CTemporaryWavEncoder() {
    writer_.reset();
    wav_.reset();
}

void CTemporaryWavEncoder::startTemporaryWav(std::string_view prefix, std::string_view baseName,
                                             std::size_t maxPathBytes) {
    auto wav = std::make_unique<TemporaryWav>(prefix, baseName, maxPathBytes);
    writer_ = std::make_unique<CWaveEncoder>(wav->path());
    wav_ = std::move(wav);
}

std::string CTemporaryWavEncoder::temporaryWavPath() const {
    return wav_ ? wav_->path() : std::string();
}

void CTemporaryWavEncoder::write(const void* data, std::size_t count, std::size_t* written) {
    if (!writer_)
        throw EncoderException("write error");
    take(data, count);
    if (written != nullptr)
        *written = count;
}

void CTemporaryWavEncoder::take(const void* data, std::size_t count) {
    writeWav(data, count, sampleRate_, channels_, bitsPerSample_);
}

void CTemporaryWavEncoder::writeWav(const void* data, std::size_t count, std::int32_t rate,
                                    std::int32_t channels, std::int32_t bits) {
    if (formatPending_) {
        writer_->setInputFormat(rate, channels, bits);
        formatPending_ = false;
    }
    writer_->write(data, count);
}

void CTemporaryWavEncoder::finish() {
    if (!writer_)
        return;
    flush();
    if (formatPending_)
        writeWav(nullptr, 0, sampleRate_, channels_, bitsPerSample_);
    writer_->finish();
    writer_.reset();  // closes the temporary WAV
    // The WAV and its private folder go, whatever the conversion's outcome.
    const std::unique_ptr<TemporaryWav> wav = std::move(wav_);
    convert(*wav);
}

}  // namespace tolvane
