// ffmpeg_codecs.so's one exported symbol: the table of its entries.
#include "plugins/ffmpeg_codecs/ffmpeg_codecs.h"

#include <new>

namespace tolvane::ffmpeg_codecs {

// In aac_mp4_writer.cpp.
Result openAacMp4(const char* path, const AacMp4Options* options, AacMp4Sink** sink);

namespace {

ape::IAPEDecompress* createApeDecompressor(ape::CIO* io, int* errorCode) {
    try {
        return ape::CreateIAPEDecompressEx(io, errorCode).release();
    } catch (const std::bad_alloc&) {
        if (errorCode != nullptr)
            *errorCode = ape::ERROR_INSUFFICIENT_MEMORY;
        return nullptr;
    }
}

constexpr Entries kEntries{kInterfaceVersion, createApeDecompressor, openAacMp4};

}  // namespace
}  // namespace tolvane::ffmpeg_codecs

extern "C" __attribute__((visibility("default"))) const tolvane::ffmpeg_codecs::Entries*
TolvaneFfmpegCodecs() {
    return &tolvane::ffmpeg_codecs::kEntries;
}
