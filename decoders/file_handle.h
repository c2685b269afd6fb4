// A file descriptor opened for reading, closed when the object goes away; the decoders' callbacks
// read and seek through it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tolvane {

class FileHandle {
public:
    FileHandle() = default;
    // Opens for reading; check isOpen().
    explicit FileHandle(const std::string& path);
    ~FileHandle();
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    // Reads up to `size` bytes, retrying short reads; -1 on an error.
    std::int64_t read(void* buffer, std::size_t size);
    // lseek semantics: the new offset, or -1.
    std::int64_t seek(std::int64_t offset, int whence);
    std::int64_t position() { return seek(0, SEEK_CUR); }
    // Size of the file, -1 when unknown.
    std::int64_t size() const;

private:
    int fd_ = -1;
};

}  // namespace tolvane
