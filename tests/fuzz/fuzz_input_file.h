// Fuzz inputs as files the readers can open by path: an in-memory file, named through /proc.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "pipeline/reader.h"

class FuzzInputFile {
public:
    FuzzInputFile(const std::uint8_t* data, std::size_t size)
        : fd_(memfd_create("fuzz-input", MFD_CLOEXEC)) {
        std::size_t written = 0;
        while (fd_ >= 0 && written < size) {
            const ssize_t n = write(fd_, data + written, size - written);
            if (n <= 0)
                break;
            written += static_cast<std::size_t>(n);
        }
    }
    ~FuzzInputFile() {
        if (fd_ >= 0)
            close(fd_);
    }
    FuzzInputFile(const FuzzInputFile&) = delete;
    FuzzInputFile& operator=(const FuzzInputFile&) = delete;
    std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

private:
    int fd_;
};

// Reads a reader the way the pipeline does: a bounded number of pieces, a seek, a read after it,
// and the position. The caller catches the reader's own exceptions.
inline void exerciseReader(tolvane::CReader& reader) {
    std::vector<std::uint8_t> buffer(16384);
    int pieces = 0;
    while (reader.read(buffer.data(), buffer.size()) > 0 && ++pieces < 64) {
    }
    reader.seek(1);
    reader.read(buffer.data(), buffer.size());
    reader.tell();
    reader.length();
}
