// The source types the wizard reads, as one table (source_types.cpp): each type's extension, the
// maker of its reader and its duration probe. Opening, measuring and typing a source by its name
// are lookups in that table. Adding a source type is one row, one reader file and its tests.
#pragma once

#include <memory>
#include <string>

#include "pipeline/reader.h"

namespace tolvane {

// File types by extension (FileEntry::fileType).
enum FileType : int {
    kFileWav = 1,
    kFileMp3 = 2,
    kFileWma = 3,
    kFileOgg = 4,
    kFileApe = 5,
    kFileFlac = 6,
};

// Chooses the reader by the path's extension (case-insensitive): ".wav", ".mp3", ".wma", ".ogg",
// ".ape", ".flac". Other paths: ReaderException "no decoder available".
std::unique_ptr<CReader> openReader(const std::string& path);
// As openReader, but the new reader starts at `second` (the one-shot start position).
std::unique_ptr<CReader> openReaderAt(const std::string& path, int second);
// openReaderAt when `startSecond` is above 0, openReader otherwise: the worker's way in.
std::unique_ptr<CReader> openReaderFrom(const std::string& path, int startSecond);
// Duration in whole seconds by the matching reader's probe; 0 when unknown.
int durationOf(const std::string& path);
// Duration when a file is added: ReaderException "broken file" when it is 0.
int checkedDurationOf(const std::string& path);
// 1 WAV ... 6 FLAC (FileType); ReaderException "unknown file type" otherwise.
int fileTypeOf(const std::string& path);

}  // namespace tolvane
