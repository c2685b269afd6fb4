#include "sources/file_adding.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "decoders/source_types.h"
#include "pipeline/app_exception.h"
#include "pipeline/reader.h"
#include "pipeline/source_bounds.h"
#include "platform/paths.h"

namespace tolvane::pages {
namespace {

// A header may state a length in front of no audio at all (a recording stopped before its first
// sample, a file cut off after its header): such a source is broken. Opening it also refuses a
// format no reader can deliver, with the reader's own message.
void requireOneSample(const std::string& path) {
    const auto reader = openReader(path);
    std::uint8_t frame[2 * SourceBounds::kMaxChannels];
    const auto frameBytes =
        static_cast<std::size_t>(reader->channels() * reader->bitsPerSample() / 8);
    if (reader->read(frame, frameBytes) == 0)
        throw ReaderException("broken file");
}

// A file the user may not read is refused as such, not as a broken file: the readers would only
// see that they cannot open it.
void requireReadable(const std::string& path) {
    const int fd =
        ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);  // a FIFO must not block
    if (fd >= 0) {
        ::close(fd);
        return;
    }
    if (errno == EACCES || errno == EPERM)
        throw ReaderException("permission denied");
}

}  // namespace

FileEntry describeSourceFile(const std::string& path) {
    FileEntry entry;
    entry.path = path;
    entry.fileType = fileTypeOf(path);
    requireReadable(path);
    entry.duration = checkedDurationOf(path);
    requireOneSample(path);
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
