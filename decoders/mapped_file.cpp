#include "decoders/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvane {

std::unique_ptr<MappedFile> MappedFile::open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size <= 0) {
        ::close(fd);
        return nullptr;
    }
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    const auto size = static_cast<std::size_t>(info.st_size);
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    // Reserve the file's pages plus one page of zeros, then lay the file over the start. The
    // rest of the file's last page reads as zeros too.
    const std::size_t mappedSize = (size + page - 1) / page * page + page;
    void* area = mmap(nullptr, mappedSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (area == MAP_FAILED) {
        ::close(fd);
        return nullptr;
    }
    void* view = mmap(area, size, PROT_READ, MAP_PRIVATE | MAP_FIXED, fd, 0);
    ::close(fd);
    if (view == MAP_FAILED) {
        munmap(area, mappedSize);
        return nullptr;
    }
    return std::unique_ptr<MappedFile>(
        new MappedFile(static_cast<const std::uint8_t*>(view), size, mappedSize));
}

MappedFile::~MappedFile() {
    munmap(const_cast<std::uint8_t*>(data_), mappedSize_);
}

}  // namespace tolvane
