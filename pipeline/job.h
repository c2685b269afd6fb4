// The conversion job: the ordered list of source files with their marked parts, and the rules
// that turn a job into ringtone paths and progress figures.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/file_entry.h"

namespace tolvane {

// The ordered list of source files. Entries are appended at the end; ids come from a counter
// that starts at 0 and is incremented before each new entry, so the first id is 1.
class FileList {
public:
    // Appends the entry with the next id (the entry's own id is ignored) and returns it.
    FileEntry& add(FileEntry entry);
    // Removes the entry with this id; false when there is none.
    bool remove(std::int32_t id);
    FileEntry* find(std::int32_t id);
    void clear() { entries_.clear(); }

    std::vector<FileEntry>& entries() { return entries_; }
    const std::vector<FileEntry>& entries() const { return entries_; }
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }

private:
    std::vector<FileEntry> entries_;
    std::int32_t lastId_ = 0;
};

// The process-wide list: filled by the Files page, read by the worker.
FileList& fileList();

// Seconds of work an entry stands for: its part length when a part is marked, else its duration.
// A marked part whose length is zero or negative (as a signed number) counts as one second: the
// conversion always converts the part's first second (see effectivePartLength).
std::int64_t workSeconds(const FileEntry& entry);
// The sum of workSeconds over the list.
std::int64_t totalWorkSeconds(const FileList& files);

// The part length the worker uses: at least 1, so that no progress figure divides by zero.
std::int64_t effectivePartLength(const FileEntry& entry);

// done * 100 / total with integer division, clamped to 0..100; 0 when total is not positive.
int percentOf(std::int64_t done, std::int64_t total);

// The folder ringtones are written to, ending in "/": the stored folder when `save` is set, else
// the temporary folder. Empty when save is set and no folder is stored.
std::string outputFolderFor(std::int32_t save, std::string_view storedFolder);

// Output folder + the source's file name without its extension + the target extension.
std::string ringtonePathFor(std::string_view outputFolder, std::string_view sourcePath,
                            std::string_view extension);

}  // namespace tolvane
