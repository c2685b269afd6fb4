#include "pages/file_adding.h"

#include <algorithm>
#include <filesystem>

#include "decoders/source_types.h"
#include "pipeline/app_exception.h"
#include "pipeline/reader.h"
#include "platform/paths.h"

namespace tolvane::pages {

FileEntry describeSourceFile(const std::string& path) {
    FileEntry entry;
    entry.path = path;
    entry.fileType = fileTypeOf(path);
    entry.duration = checkedDurationOf(path);
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    entry.size = error ? 0 : static_cast<std::uint64_t>(size);
    return entry;
}

FileEntry& addSourceFile(FileList& files, const std::string& path) {
    return files.add(describeSourceFile(path));
}

DescribedFiles describeSourceFiles(const std::vector<std::string>& paths, WarningName naming) {
    DescribedFiles result;
    for (const std::string& path : paths) {
        std::error_code error;
        if (std::filesystem::is_directory(path, error))
            continue;
        try {
            result.entries.push_back(describeSourceFile(path));
        } catch (const AppException& e) {
            const std::string name =
                naming == WarningName::FileName ? platform::fileNameOf(path) : path;
            result.warnings += name + ": " + e.message() + ".\n";
        }
    }
    return result;
}

std::vector<std::int32_t> appendEntries(FileList& files, std::vector<FileEntry> entries) {
    std::vector<std::int32_t> ids;
    ids.reserve(entries.size());
    for (FileEntry& entry : entries)
        ids.push_back(files.add(std::move(entry)).id);
    return ids;
}

AddResult addSourceFiles(FileList& files, const std::vector<std::string>& paths,
                         WarningName naming) {
    DescribedFiles described = describeSourceFiles(paths, naming);
    return {appendEntries(files, std::move(described.entries)), std::move(described.warnings)};
}

PartBarLayout partBarLayout(int cellLeft, int cellRight, const FileEntry& entry,
                            std::int64_t playingEnd, bool waitingForStart) {
    PartBarLayout bar;
    bar.innerLeft = cellLeft + 6;
    bar.innerRight = std::max(bar.innerLeft, cellRight - 5);
    const std::int64_t width = bar.innerRight - bar.innerLeft;
    if (!entry.partMarked) {
        bar.redFrom = bar.innerLeft;
        bar.redTo = bar.innerRight;
        return bar;
    }
    if (waitingForStart || entry.duration <= 0) {
        bar.redFrom = bar.redTo = bar.innerLeft;
        return bar;
    }
    auto x = [&](std::int64_t second) {
        const std::int64_t offset = second * width / entry.duration;
        return static_cast<int>(bar.innerLeft + std::clamp<std::int64_t>(offset, 0, width));
    };
    const std::int64_t start = entry.partStart;
    const std::int64_t end = playingEnd >= 0 ? playingEnd : start + entry.partLength;
    bar.redFrom = x(start);
    bar.redTo = std::max(bar.redFrom, x(end));
    return bar;
}

}  // namespace tolvane::pages
