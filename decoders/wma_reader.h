// The WMA source reader: the runtime wmvcore.so (loaded from the application folder on first use)
// decodes, a decoding thread copies its uncompressed samples into the pipe.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "decoders/decoding_pipe.h"
#include "pipeline/reader.h"
#include "plugins/wmvcore/wmvcore.h"

namespace tolvane {

// The runtime's entry point, loaded from `folder`/wmvcore.so. ReaderException "WMA decoding
// libraries aren't installed. ..." when the library cannot be loaded, "Internal error #521" when
// it has no entry point. The process keeps the library loaded.
wmv::CreateSyncReaderFunction loadWmaRuntimeFrom(const std::string& folder);

class CWmaReader : public CReader {
public:
    // ReaderException with the runtime's messages (see loadWmaRuntimeFrom), "cannot access WMA
    // decoding library", "cannot open, file is digitally protected (DRM)", "cannot open file",
    // "cannot decode: no audio streams found in file", "Internal error #201".."#211".
    explicit CWmaReader(const std::string& path);
    // The same on a given runtime entry point instead of the one loaded from the application
    // folder.
    CWmaReader(const std::string& path, wmv::CreateSyncReaderFunction runtime);
    ~CWmaReader() override;

    std::size_t read(void* buffer, std::size_t count, std::size_t* delivered = nullptr) override;
    void seek(int second) override;
    int tell() override;
    int length() override;

    // The output format the runtime gave for the audio stream.
    const wmv::WAVEFORMATEX& outputFormat() const { return format_; }

private:
    // The runtime's reader, shared with the decoding thread for as long as it runs.
    struct Source {
        ~Source();
        wmv::IWMSyncReader* reader = nullptr;
        std::uint16_t stream = 0;
        std::atomic<int> startSecond{-1};     // taken from the one-shot start position
        std::atomic<int> positionSeconds{0};  // of the last sample the thread got
    };

    wmv::WAVEFORMATEX format_{};
    std::uint64_t duration_ = 0;  // 100-ns units
    std::shared_ptr<Source> source_;
    DecodingPipe pipe_;

    static void decode(Source& source, PipeWriter& writer);
};

// Whole seconds of a WMA file by its "Duration" attribute; 0 on any failure.
int wmaDurationOf(const std::string& path);

}  // namespace tolvane
