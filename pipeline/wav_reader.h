// The WAV source reader: PCM from the first "data" chunk of a RIFF/WAVE file.
#pragma once

#include <cstdio>
#include <memory>
#include <vector>

#include "pipeline/reader.h"

namespace tolvane {

class CWavReader : public CReader {
public:
    // ReaderException "cannot open file" for anything it cannot read as WAV.
    explicit CWavReader(const std::string& path);
    ~CWavReader() override;

    std::size_t read(void* buffer, std::size_t count, std::size_t* delivered = nullptr) override;
    void seek(int second) override;
    int tell() override;
    int length() override;
    bool cheapToReadAgain() const override { return true; }

    std::uint16_t formatTag() const;
    std::uint32_t avgBytesPerSec() const;

private:
    std::unique_ptr<char[]> fileBuffer_;  // the stdio buffer of file_; outlives it
    std::FILE* file_ = nullptr;
    std::vector<std::uint8_t> format_;  // the "fmt " chunk, at least 18 bytes
    std::uint64_t dataOffset_ = 0;
    std::uint32_t dataSize_ = 0;
    std::uint64_t position_ = 0;   // bytes of the data chunk consumed
    int containerBytes_ = 0;       // bytes per stored sample (1..4)
    bool filePositioned_ = false;  // the file's offset is dataOffset_ + position_

    bool positionFile();
    std::size_t readWide(std::uint8_t* out, std::size_t frames, std::size_t inFrame);
};

// Seconds of PCM in a WAV file; 0 when it cannot be read or is not PCM.
int wavDuration(const std::string& path);

}  // namespace tolvane
