// Adding source files to the job's list, and the geometry of the part bar that the Files page
// draws for each row. Qt-free: the Files page is a view over these rules.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "pipeline/job.h"

namespace tolvane::pages {

// How a failed file is named in the warning text: by its file name (a multiple selection in the
// dialog) or by its full path (a single selection, dropped files).
enum class WarningName { FileName, FullPath };

struct AddResult {
    std::vector<std::int32_t> addedIds;  // in the order added
    std::string warnings;                // "name: message.\n" per refused file
};

// The entry for `path` (without an id): file type by extension, duration by the reader's probe,
// size in bytes (0 when unreadable). Throws the AppException of the refusal ("unknown file
// type", "broken file", a reader's message). Reads the file but touches no list, so it may run
// on any thread.
FileEntry describeSourceFile(const std::string& path);

// Appends one entry for `path` (see describeSourceFile); the list is unchanged on a refusal.
FileEntry& addSourceFile(FileList& files, const std::string& path);

// The entries for `paths` in order; a refused file adds a warning line "name: message.\n" and
// the next one is tried. Folders are skipped without a warning. Other failures propagate (the
// page reports them). Touches no list.
struct DescribedFiles {
    std::vector<FileEntry> entries;
    std::string warnings;
};
DescribedFiles describeSourceFiles(const std::vector<std::string>& paths, WarningName naming);

// describeSourceFiles, then appends the entries to `files`.
AddResult addSourceFiles(FileList& files, const std::vector<std::string>& paths,
                         WarningName naming);
// Appends entries described before; returns their new ids.
std::vector<std::int32_t> appendEntries(FileList& files, std::vector<FileEntry> entries);

// The part bar of one row. Coordinates are those of the cell; the inner ends are where the bar's
// lines start and stop.
struct PartBarLayout {
    int innerLeft = 0;
    int innerRight = 0;
    // The red stretch [redFrom, redTo); the rest of the inner bar is blue. When the entry has no
    // part the whole bar is red.
    int redFrom = 0;
    int redTo = 0;
};

// `playingEnd` is the player's position + 1 while this entry plays (else negative);
// `waitingForStart` is true while the marker waits for a start on any entry.
PartBarLayout partBarLayout(int cellLeft, int cellRight, const FileEntry& entry,
                            std::int64_t playingEnd, bool waitingForStart);

}  // namespace tolvane::pages
