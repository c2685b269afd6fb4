// The MP3 source reader: libmad behind a decoding thread and a pipe. The file is mapped and
// scanned once; the frame index makes a seek a binary search instead of a decode from the start.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "decoders/decoding_pipe.h"
#include "decoders/mapped_file.h"
#include "decoders/mp3_decoding.h"
#include "pipeline/reader.h"

namespace tolvane {

class CMP3Reader : public CReader {
public:
    // ReaderException "cannot open file" (unreadable or empty), "cannot process: broken MP3 file"
    // (no frame, or the scan ended on an error), "Internal error #210"/"#211" (pipe, thread).
    explicit CMP3Reader(const std::string& path);
    ~CMP3Reader() override;

    std::size_t read(void* buffer, std::size_t count, std::size_t* delivered = nullptr) override;
    void seek(int second) override;
    int tell() override;
    int length() override;

private:
    // What the decoding thread shares with the reader; the thread keeps it alive while it runs.
    struct Source {
        std::unique_ptr<MappedFile> file;
        Mp3Scan scan;
        // One decoder for the whole stream: its dither state carries on across seeks.
        std::unique_ptr<Mp3FrameDecoder> decoder;
        std::atomic<int> pendingSeek{-1};             // whole seconds, -1 for none
        std::atomic<std::uint64_t> positionBytes{0};  // stream bytes before the next one read
    };

    std::shared_ptr<Source> source_;
    DecodingPipe pipe_;

    static void decode(Source& source, PipeWriter& writer);
    static std::uint64_t decodedIndexForSecond(const Mp3Scan& scan, int second);
    static std::size_t frameForSample(const Mp3Scan& scan, std::uint64_t sample);
    static void keepStreamSamples(const Mp3Trim& trim, std::uint64_t from, std::uint64_t first,
                                  const std::int16_t* pcm, std::uint64_t count, int channels,
                                  std::vector<std::int16_t>& out);
    static std::size_t prerollStart(const Mp3Scan& scan, std::size_t index);
};

// Whole seconds of an MP3 file by the same scan; 0 when it cannot be read or holds no frame.
int mp3DurationOf(const std::string& path);

}  // namespace tolvane
