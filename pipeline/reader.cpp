#include "pipeline/reader.h"

#include <algorithm>
#include <cctype>

#include "decoders/readers.h"
#include "pipeline/app_exception.h"
#include "pipeline/source_bounds.h"
#include "pipeline/wav_reader.h"

namespace tolvane {
namespace {

// The one-shot start position: set by openReaderAt, taken by the next reader constructor. Only
// the conversion worker uses openReaderAt, and construction runs on its thread.
struct StartPosition {
    bool set = false;
    int second = 0;
};
StartPosition startPosition;

struct Kind {
    const char* extension;
    int type;
    std::unique_ptr<CReader> (*make)(const std::string&);
    int (*duration)(const std::string&);
};

std::unique_ptr<CReader> makeWavReader(const std::string& path) {
    return std::make_unique<CWavReader>(path);
}

// In the order the extensions are tested.
const Kind kKinds[] = {
    {".wav", kFileWav, makeWavReader, wavDuration},
    {".mp3", kFileMp3, makeMp3Reader, mp3Duration},
    {".wma", kFileWma, makeWmaReader, wmaDuration},
    {".ogg", kFileOgg, makeOggReader, oggDuration},
    {".ape", kFileApe, makeApeReader, apeDuration},
    {".flac", kFileFlac, makeFlacReader, flacDuration},
};

const Kind* kindOf(std::string_view path) {
    for (const Kind& k : kKinds)
        if (hasExtension(path, k.extension))
            return &k;
    return nullptr;
}

}  // namespace

bool hasExtension(std::string_view path, std::string_view ext) {
    if (path.size() < ext.size())
        return false;
    return std::equal(ext.begin(), ext.end(), path.end() - static_cast<long>(ext.size()),
                      [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) ==
                                 std::tolower(static_cast<unsigned char>(b));
                      });
}

bool takeStartPosition(int& second) {
    if (!startPosition.set)
        return false;
    startPosition.set = false;
    second = startPosition.second;
    return true;
}

std::unique_ptr<CReader> openReader(const std::string& path) {
    const Kind* kind = kindOf(path);
    if (kind == nullptr)
        throw ReaderException("no decoder available");
    auto reader = kind->make(path);
    requireDeliverableFormat(*reader);
    return reader;
}

std::unique_ptr<CReader> openReaderAt(const std::string& path, int second) {
    startPosition = {true, second};
    try {
        auto reader = openReader(path);
        startPosition.set = false;  // a reader that ignored it must not pass it on
        return reader;
    } catch (...) {
        startPosition.set = false;
        throw;
    }
}

int durationOf(const std::string& path) {
    const Kind* kind = kindOf(path);
    return kind == nullptr ? 0 : kind->duration(path);
}

int checkedDurationOf(const std::string& path) {
    const int seconds = durationOf(path);
    if (seconds == 0)
        throw ReaderException("broken file");
    return seconds;
}

int fileTypeOf(const std::string& path) {
    const Kind* kind = kindOf(path);
    if (kind == nullptr)
        throw ReaderException("unknown file type");
    return kind->type;
}

}  // namespace tolvane
