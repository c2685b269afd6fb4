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
    ~CWaveEncoder() override;  // completes the RIFF structure when a header was written

    void write(const void* data, std::size_t count, std::size_t* written = nullptr) override;
    void finish() override {}

private:
    void writeHeader();

    RiffWriter riff_;
    bool headerPending_ = true;
};

}  // namespace tolvane
