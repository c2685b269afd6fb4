// The base of the encoders that code nothing themselves: they collect the PCM in a temporary WAV
// file and, when the stream ends, hand the finished file to a converter (SMAF: the kessin
// program; QCP: qscl.so). The base owns the temporary file and its writer; a subclass names the
// file and converts it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "encoders/temporary_wav.h"
#include "pipeline/encoder.h"
#include "pipeline/wave_encoder.h"

namespace tolvane {

class CTemporaryWavEncoder : public CEncoder {
public:
    ~CTemporaryWavEncoder() override;  // removes the temporary WAV and its folder

    // Into the temporary WAV, in the input format the factory set. "write error" once finished.
    void write(const void* data, std::size_t count, std::size_t* written = nullptr) final;
    // Completes the WAV (an empty stream makes a valid WAV without samples), has the subclass
    // convert it, and removes it whatever the conversion's outcome.
    void finish() final;

    // The temporary WAV's path; empty once the stream is finished.
    std::string temporaryWavPath() const;

protected:
    CTemporaryWavEncoder() = default;

    // Makes the temporary WAV (see TemporaryWav for the arguments and the errors) and starts
    // writing it. Subclass constructors call it once their target is prepared.
    void startTemporaryWav(std::string_view prefix, std::string_view baseName,
                           std::size_t maxPathBytes = TemporaryWav::kUnlimited);

    // Turns the completed temporary WAV into the ringtone; EncoderException on failure.
    virtual void convert(const TemporaryWav& wav) = 0;

    // Where the PCM goes: by default into the temporary WAV as it comes, in the input format. A
    // subclass may change it on the way or hold it back, writing it with writeWav() at the
    // latest in flush(), which runs once the stream has ended.
    virtual void take(const void* data, std::size_t count);
    virtual void flush() {}
    // Into the temporary WAV; the first call (or the end of an empty stream) fixes its format.
    void writeWav(const void* data, std::size_t count, std::int32_t rate, std::int32_t channels,
                  std::int32_t bits);

private:
    std::unique_ptr<TemporaryWav> wav_;
    std::unique_ptr<CWaveEncoder> writer_;
    bool formatPending_ = true;
};

}  // namespace tolvane
