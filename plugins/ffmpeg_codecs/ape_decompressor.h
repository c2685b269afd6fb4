// A Monkey's Audio decompressor with the shape of the format's own SDK — created on a file-access
// object (`CIO`), asked for information by number, read in blocks, positioned by block — built
// over FFmpeg's APE demuxer and decoder. A block is one sample of every channel. Samples come out
// as the file stores them: 8-bit unsigned, 16-bit or 24-bit signed little-endian, interleaved.
#pragma once

#include <cstdint>
#include <memory>

namespace tolvane::ape {

// Result codes.
constexpr int ERROR_SUCCESS = 0;
constexpr int ERROR_IO_READ = 1000;
constexpr int ERROR_INVALID_INPUT_FILE = 1002;
constexpr int ERROR_INSUFFICIENT_MEMORY = 2000;
constexpr int ERROR_UNSUPPORTED_FILE_VERSION = 1006;
constexpr int ERROR_DECOMPRESSING_FRAME = 1010;

// File access through which the decompressor reads; the caller owns it and keeps it open for as
// long as the decompressor lives.
class CIO {
public:
    virtual ~CIO() = default;
    virtual int Open(const char* name) = 0;
    virtual int Close() = 0;
    // ERROR_SUCCESS or ERROR_IO_READ; fewer bytes than asked only at the end of the file.
    virtual int Read(void* buffer, unsigned int bytes, unsigned int* bytesRead) = 0;
    virtual int Write(const void* buffer, unsigned int bytes, unsigned int* bytesWritten) = 0;
    // `method` is SEEK_SET, SEEK_CUR or SEEK_END.
    virtual int Seek(std::int64_t distance, unsigned int method) = 0;
    virtual int Create(const char* name) = 0;
    virtual int Delete() = 0;
    virtual int SetEOF() = 0;
    virtual std::int64_t GetPosition() = 0;
    virtual std::int64_t GetSize() = 0;
    virtual int GetName(char* buffer) = 0;
};

enum APE_DECOMPRESS_FIELDS : int {
    APE_INFO_SAMPLE_RATE = 1003,
    APE_INFO_BITS_PER_SAMPLE = 1004,
    APE_INFO_CHANNELS = 1006,
    APE_INFO_BLOCK_ALIGN = 1007,
    APE_INFO_TOTAL_BLOCKS = 1016,
    APE_DECOMPRESS_CURRENT_MS = 2001,
    APE_DECOMPRESS_LENGTH_MS = 2003,
};

class IAPEDecompress {
public:
    virtual ~IAPEDecompress() = default;
    // Up to `blocks` blocks into `buffer` (blocks × block alignment bytes); `blocksRetrieved` is 0
    // at the end of the data. A non-zero result is a decoding error.
    virtual int GetData(char* buffer, int blocks, int* blocksRetrieved) = 0;
    // The next GetData starts at this block.
    virtual int Seek(std::int64_t block) = 0;
    // The value of one information field; -1 for an unknown field. CURRENT_MS may be asked from
    // another thread than the one that decodes.
    virtual std::int64_t GetInfo(APE_DECOMPRESS_FIELDS field) = 0;
};

// Opens the Monkey's Audio stream read through `io`; null with `errorCode` set when it is not one
// this decompressor can decode. Inside ffmpeg_codecs.so; programs reach it through the library's
// entries (ffmpeg_codecs.h).
std::unique_ptr<IAPEDecompress> CreateIAPEDecompressEx(CIO* io, int* errorCode);

}  // namespace tolvane::ape
