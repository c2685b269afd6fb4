// The output file of a ringtone encoder: created (or replaced) at construction, written through
// without buffering so that a failed write (a full disk) is seen by the write that caused it.
#pragma once

#include <cstddef>
#include <string>

namespace tolvane {

class RingtoneFile {
public:
    RingtoneFile() = default;
    RingtoneFile(const RingtoneFile&) = delete;
    RingtoneFile& operator=(const RingtoneFile&) = delete;
    ~RingtoneFile();

    // Creates or truncates the file for writing, locked against other writers. False on failure
    // (also for paths longer than the ringtone path limit).
    bool create(const std::string& path);
    // Writes all `count` bytes; false when any could not be written.
    bool write(const void* data, std::size_t count);

private:
    int fd_ = -1;
};

}  // namespace tolvane
