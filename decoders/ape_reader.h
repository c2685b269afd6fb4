// The Monkey's Audio source reader: the decompressor behind a decoding thread and a pipe.
// Sources of 24 bits are delivered as 16-bit PCM (each sample's top 16 bits), so that the rest of
// the pipeline, which takes 8 and 16 bits, can convert them.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "decoders/decoding_pipe.h"
#include "decoders/file_handle.h"
#include "pipeline/reader.h"
#include "plugins/ffmpeg_codecs/ape_decompressor.h"

namespace tolvane {

class CAPEReader : public CReader {
public:
    // ReaderException "cannot open", "Internal error #610"/"#111".
    explicit CAPEReader(const std::string& path);
    ~CAPEReader() override;

    std::size_t read(void* buffer, std::size_t count, std::size_t* delivered = nullptr) override;
    void seek(int second) override;
    int tell() override;
    int length() override;

    // The decompressor's file access: one file, opened by the constructor, closed by the
    // destructor; the decompressor only reads, seeks and measures.
    class MyIO : public ape::CIO {
    public:
        explicit MyIO(const std::string& path) : file_(path) {}
        bool isOpen() const { return file_.isOpen(); }

        int Open(const char*) override { return 0; }
        int Close() override { return 0; }
        int Read(void* buffer, unsigned int bytes, unsigned int* bytesRead) override;
        int Write(const void*, unsigned int, unsigned int*) override { return 0; }
        int Seek(std::int64_t distance, unsigned int method) override;
        int Create(const char*) override { return 0; }
        int Delete() override { return 0; }
        int SetEOF() override { return 0; }
        std::int64_t GetPosition() override { return file_.position(); }
        std::int64_t GetSize() override { return file_.size(); }
        int GetName(char*) override { return 0; }

    private:
        FileHandle file_;
    };

private:
    // The file and its decompressor, shared with the decoding thread for as long as it runs.
    struct Source {
        std::unique_ptr<MyIO> io;
        std::unique_ptr<ape::IAPEDecompress> decompress;
        int rate = 0;
        int blockAlign = 0;                // bytes per block as the decompressor gives them
        int outputBlockAlign = 0;          // bytes per block as the reader delivers them
        std::atomic<int> pendingSeek{-1};  // whole seconds, -1 for none
    };

    std::shared_ptr<Source> source_;
    DecodingPipe pipe_;
    std::int64_t totalBlocks_ = 0;

    static std::shared_ptr<Source> openSource(const std::string& path);
    static void decode(Source& source, PipeWriter& writer);
    friend int apeDurationOf(const std::string& path);
};

// Whole seconds of a Monkey's Audio file: ReaderException "cannot open" when the file cannot be
// opened; 0 when it is not a Monkey's Audio file this reader can decode.
int apeDurationOf(const std::string& path);

}  // namespace tolvane
