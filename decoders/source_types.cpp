#include "decoders/source_types.h"

#include "decoders/readers.h"
#include "pipeline/app_exception.h"
#include "pipeline/wav_reader.h"

namespace tolvane {
namespace {

struct SourceType {
    const char* extension;
    FileType type;
    std::unique_ptr<CReader> (*make)(const std::string&);
    int (*duration)(const std::string&);
};

std::unique_ptr<CReader> makeWavReader(const std::string& path) {
    return std::make_unique<CWavReader>(path);
}

// In the order the extensions are tested.
const SourceType kSourceTypes[] = {
    {".wav", kFileWav, makeWavReader, wavDuration},
    {".mp3", kFileMp3, makeMp3Reader, mp3Duration},
    {".wma", kFileWma, makeWmaReader, wmaDuration},
    {".ogg", kFileOgg, makeOggReader, oggDuration},
    {".ape", kFileApe, makeApeReader, apeDuration},
    {".flac", kFileFlac, makeFlacReader, flacDuration},
};

const SourceType* sourceTypeOf(std::string_view path) {
    for (const SourceType& t : kSourceTypes)
        if (hasExtension(path, t.extension))
            return &t;
    return nullptr;
}

}  // namespace

std::unique_ptr<CReader> openReader(const std::string& path) {
    const SourceType* type = sourceTypeOf(path);
    if (type == nullptr)
        throw ReaderException("no decoder available");
    return type->make(path);
}

std::unique_ptr<CReader> openReaderAt(const std::string& path, int second) {
    // The reader constructor takes the position; a reader that ignored it must not pass it on.
    const StartPositionGuard start(second);
    return openReader(path);
}

std::unique_ptr<CReader> openReaderFrom(const std::string& path, int startSecond) {
    return startSecond > 0 ? openReaderAt(path, startSecond) : openReader(path);
}

int durationOf(const std::string& path) {
    const SourceType* type = sourceTypeOf(path);
    return type == nullptr ? 0 : type->duration(path);
}

int checkedDurationOf(const std::string& path) {
    const int seconds = durationOf(path);
    if (seconds == 0)
        throw ReaderException("broken file");
    return seconds;
}

int fileTypeOf(const std::string& path) {
    const SourceType* type = sourceTypeOf(path);
    if (type == nullptr)
        throw ReaderException("unknown file type");
    return type->type;
}

}  // namespace tolvane
