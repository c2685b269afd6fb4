// The FLAC source reader: libFLAC's stream decoder on callbacks over our own file handle, behind
// a decoding thread and a pipe. Streams of 8 bits or fewer are delivered as unsigned 8-bit PCM,
// all others as signed 16-bit (deeper samples keep their top 16 bits).
#pragma once

#include <FLAC/stream_decoder.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "decoders/decoding_pipe.h"
#include "decoders/file_handle.h"
#include "pipeline/reader.h"

namespace tolvane {

class CFLACReader : public CReader {
public:
    // ReaderException "cannot open", "not a FLAC file", "Internal error #280"/"#281".
    explicit CFLACReader(const std::string& path);
    ~CFLACReader() override;

    std::size_t read(void* buffer, std::size_t count, std::size_t* delivered = nullptr) override;
    void seek(int second) override;
    int tell() override;
    int length() override;

    // The stream as read from its STREAMINFO block (the probe needs no thread).
    struct StreamInfo {
        unsigned rate = 0;
        unsigned channels = 0;
        unsigned bits = 0;
        std::uint64_t totalSamples = 0;  // 0 when the encoder did not know it
    };

private:
    friend int flacDurationOf(const std::string& path);
    class Decoder;
    std::shared_ptr<Decoder> decoder_;
    DecodingPipe pipe_;
    StreamInfo info_;
};

// Whole seconds of a FLAC file; 0 when it cannot be opened, is not FLAC or is shorter than 1 s.
int flacDurationOf(const std::string& path);

}  // namespace tolvane
