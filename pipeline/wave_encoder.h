// The WAV ringtone writer: PCM in the format set by the factory, as a RIFF/WAVE file.
#pragma once

#include <cstdio>

#include "pipeline/encoder.h"
#include "pipeline/riff.h"

namespace tolvane {

class CWaveEncoder : public CEncoder {
public:
    // prepareTarget, then creates the file: "file skipped", "cannot create file".
    explicit CWaveEncoder(const std::string& path);
    ~CWaveEncoder() override;  // completes the RIFF structure when finish did not

    void write(const void* data, std::size_t count, std::size_t* written = nullptr) override;
    // Completes the RIFF structure (final sizes of "data" and "RIFF") and flushes it to disk;
    // "write error" when that fails, so a full disk is never reported as success.
    void finish() override;

private:
    void writeHeader();

    RiffWriter riff_;
    bool headerPending_ = true;
};

}  // namespace tolvane
