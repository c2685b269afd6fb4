// The interface of ffmpeg_codecs.so: the codecs that need FFmpeg (Monkey's Audio decoding, AAC
// coding into an MPEG-4 file) in a library loaded at run time from the application folder, the
// first time such a source or ringtone is met. A program that never meets one never loads
// FFmpeg and its hundred-odd libraries, and starts in a few milliseconds.
//
// Nothing thrown crosses the library's edge: every entry answers with a result code, and the
// caller turns it into its own error.
#pragma once

#include <dlfcn.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "plugins/ffmpeg_codecs/ape_decompressor.h"

namespace tolvane::ffmpeg_codecs {

inline constexpr const char* kLibraryName = "ffmpeg_codecs.so";
inline constexpr const char* kEntryName = "TolvaneFfmpegCodecs";
inline constexpr int kInterfaceVersion = 1;

enum Result : int {
    kOk = 0,
    kCannotCreateFile = 1,
    kNoEncoder = 2,  // the AAC encoder is missing or refuses the settings
    kWriteError = 3,
    kUnableToEncode = 4,
    kOutOfMemory = 5,
};

struct AacMp4Options {
    int sampleRate = 44100;
    int channels = 2;
    int bitRate = 128000;
    const char* title = "";         // none when empty
    const char* codecName = "aac";  // FFmpeg's native AAC encoder
};

// An MPEG-4 file being written: 16-bit interleaved PCM in, AAC-LC out.
class AacMp4Sink {
public:
    virtual ~AacMp4Sink() = default;
    virtual Result write(const std::int16_t* pcm, std::size_t frames) = 0;
    // Codes what is left and completes the file.
    virtual Result finish() = 0;
};

struct Entries {
    int version;
    // Opens the Monkey's Audio stream read through `io` (the caller's, kept open while the
    // decompressor lives); null with `errorCode` set when it is not one it can decode.
    ape::IAPEDecompress* (*createApeDecompressor)(ape::CIO* io, int* errorCode);
    // Creates the file at `path` (which must not exist yet) and prepares the coder.
    Result (*openAacMp4)(const char* path, const AacMp4Options* options, AacMp4Sink** sink);
};

using EntryFunction = const Entries* (*)();

// The library's entries, loaded from `folder` the first time they are asked for and kept for the
// life of the process; null when the library cannot be loaded (asked again next time).
inline const Entries* load(const std::string& folder) {
    static std::mutex mutex;
    static const Entries* entries = nullptr;
    std::lock_guard lock(mutex);
    if (entries != nullptr || folder.empty())
        return entries;
    void* library = ::dlopen((folder + "/" + kLibraryName).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
        return nullptr;
    const auto entry = reinterpret_cast<EntryFunction>(::dlsym(library, kEntryName));
    const Entries* found = entry != nullptr ? entry() : nullptr;
    if (found == nullptr || found->version != kInterfaceVersion) {
        ::dlclose(library);
        return nullptr;
    }
    entries = found;
    return entries;
}

}  // namespace tolvane::ffmpeg_codecs
