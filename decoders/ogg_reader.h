// The Ogg Vorbis source reader: libvorbisfile on the caller's thread, fed through callbacks on
// our own file handle.
#pragma once

#include <vorbis/vorbisfile.h>

#include <string>

#include "decoders/file_handle.h"
#include "pipeline/reader.h"

namespace tolvane {

class COggReader : public CReader {
public:
    // ReaderException "cannot open file", "not an OggVorbis file", "malformed OggVorbis file".
    explicit COggReader(const std::string& path);
    ~COggReader() override;

    std::size_t read(void* buffer, std::size_t count, std::size_t* delivered = nullptr) override;
    void seek(int second) override;
    int tell() override;
    int length() override { return duration_; }

private:
    FileHandle file_;
    OggVorbis_File vorbis_{};
    int duration_ = 0;  // whole seconds
};

// Whole seconds of an Ogg Vorbis file; 0 when it cannot be opened or is not Ogg Vorbis.
int oggDurationOf(const std::string& path);

}  // namespace tolvane
