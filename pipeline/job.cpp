#include "pipeline/job.h"

#include <algorithm>

#include "platform/paths.h"

namespace tolvane {

FileEntry& FileList::add(FileEntry entry) {
    entry.id = ++lastId_;
    entries_.push_back(std::move(entry));
    return entries_.back();
}

bool FileList::remove(std::int32_t id) {
    const auto it = std::find_if(entries_.begin(), entries_.end(),
                                 [id](const FileEntry& e) { return e.id == id; });
    if (it == entries_.end())
        return false;
    entries_.erase(it);
    return true;
}

FileEntry* FileList::find(std::int32_t id) {
    for (FileEntry& e : entries_)
        if (e.id == id)
            return &e;
    return nullptr;
}

FileList& fileList() {
    static FileList list;
    return list;
}

std::int64_t effectivePartLength(const FileEntry& entry) {
    // The field is unsigned, but a part whose end was marked before its start arrives here as a
    // wrapped negative number: read it as the signed length it stands for.
    const auto signedLength = static_cast<std::int32_t>(entry.partLength);
    return std::max<std::int64_t>(signedLength, 1);
}

std::int64_t workSeconds(const FileEntry& entry) {
    if (entry.partMarked)
        return effectivePartLength(entry);
    return std::max<std::int64_t>(entry.duration, 0);
}

std::int64_t totalWorkSeconds(const FileList& files) {
    std::int64_t total = 0;
    for (const FileEntry& e : files.entries())
        total += workSeconds(e);
    return total;
}

int percentOf(std::int64_t done, std::int64_t total) {
    if (total <= 0)
        return 0;
    return static_cast<int>(std::clamp<std::int64_t>(done * 100 / total, 0, 100));
}

std::string outputFolderFor(std::int32_t save, std::string_view storedFolder) {
    std::string folder = save != 0 ? std::string(storedFolder) : platform::temporaryFolder();
    if (folder.empty())
        return folder;
    if (folder.back() != '/')
        folder += '/';
    return folder;
}

std::string ringtonePathFor(std::string_view outputFolder, std::string_view sourcePath,
                            std::string_view extension) {
    std::string name = platform::fileNameOf(sourcePath);
    const auto dot = name.rfind('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return std::string(outputFolder) + name + std::string(extension);
}

}  // namespace tolvane
