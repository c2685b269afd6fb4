#include "decoders/file_handle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tolvane {

FileHandle::FileHandle(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
        return;
    struct stat info {};
    if (fstat(fd_, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        return;
    }
    posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

FileHandle::~FileHandle() {
    if (fd_ >= 0)
        ::close(fd_);
}

std::int64_t FileHandle::read(void* buffer, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::size_t total = 0;
    while (total < size) {
        const ssize_t n = ::read(fd_, bytes + total, size - total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        total += static_cast<std::size_t>(n);
    }
    return static_cast<std::int64_t>(total);
}

std::int64_t FileHandle::seek(std::int64_t offset, int whence) {
    return ::lseek(fd_, static_cast<off_t>(offset), whence);
}

std::int64_t FileHandle::size() const {
    struct stat info {};
    return fstat(fd_, &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1;
}

}  // namespace tolvane
