#include "pipeline/pcm_store.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "pipeline/app_exception.h"

namespace tolvane {
namespace {

std::string withSlash(std::string folder) {
    if (!folder.empty() && folder.back() != '/')
        folder += '/';
    return folder;
}

// A file only this process can reach: made without a name where the file system allows it, else
// named, opened and unlinked at once. -1 when neither works.
int openNamelessFile(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL))
        return fd;
    std::string path = folder + "PCMXXXXXX";
    const int named = ::mkostemp(path.data(), O_CLOEXEC);
    if (named >= 0)
        ::unlink(path.c_str());
    return named;
}

}  // namespace

void PcmStore::ChunkFree::operator()(std::uint8_t* chunk) const {
    std::free(chunk);
}

PcmStore::Chunk PcmStore::newChunk() {
    void* memory = std::aligned_alloc(kChunkBytes, kChunkBytes);
    if (memory == nullptr)
        throw std::bad_alloc();
    // Only a hint: where huge pages are not to be had, the chunk is made of small ones.
    ::madvise(memory, kChunkBytes, MADV_HUGEPAGE);
    return Chunk(static_cast<std::uint8_t*>(memory));
}

PcmStore::PcmStore(std::size_t memoryLimit, std::string spillFolder)
    : memoryLimit_(memoryLimit), spillFolder_(withSlash(std::move(spillFolder))) {}

PcmStore::~PcmStore() {
    if (fd_ >= 0)
        ::close(fd_);
}

bool PcmStore::append(const void* data, std::size_t size) {
    if (failed_)
        return false;
    if (!spilled() && size_ + size > memoryLimit_ && !spill()) {
        failed_ = true;
        chunks_.clear();  // nobody will read them
        return false;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        // The next byte's place: in memory, chunk size_ / kChunkBytes; spilled, the one chunk.
        const std::uint64_t inMemory = size_ - fileBytes_;
        const std::size_t index = spilled() ? 0 : static_cast<std::size_t>(inMemory / kChunkBytes);
        const std::size_t within = static_cast<std::size_t>(inMemory % kChunkBytes);
        if (index == chunks_.size())
            chunks_.push_back(newChunk());
        const std::size_t n = std::min(size, kChunkBytes - within);
        std::memcpy(chunks_[index].get() + within, bytes, n);
        bytes += n;
        size -= n;
        size_ += n;
        if (spilled() && within + n == kChunkBytes) {
            if (!writeChunk(chunks_[0].get(), kChunkBytes)) {
                failed_ = true;
                return false;
            }
            fileBytes_ += kChunkBytes;
        }
    }
    return true;
}

// Moves every full chunk into a new spill file, freeing each once written so that the memory held
// never grows past the bound; the partly filled last chunk stays as the buffer of the file's tail.
bool PcmStore::spill() {
    if (spillFolder_.empty())
        return false;
    fd_ = openNamelessFile(spillFolder_);
    if (fd_ < 0)
        return false;
    const std::size_t full = static_cast<std::size_t>(size_ / kChunkBytes);
    for (std::size_t i = 0; i < full; ++i) {
        if (!writeChunk(chunks_[i].get(), kChunkBytes))
            return false;
        chunks_[i].reset();
        fileBytes_ += kChunkBytes;
    }
    Chunk tail;
    if (full < chunks_.size())
        tail = std::move(chunks_[full]);
    chunks_.clear();
    if (tail)
        chunks_.push_back(std::move(tail));
    return true;
}

bool PcmStore::writeChunk(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::size_t PcmStore::readAt(std::uint64_t offset, void* buffer, std::size_t size) const {
    if (offset >= size_)
        return 0;
    const std::size_t total =
        static_cast<std::size_t>(std::min<std::uint64_t>(size, size_ - offset));
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < total && offset + done < fileBytes_) {
        const std::size_t want = static_cast<std::size_t>(
            std::min<std::uint64_t>(total - done, fileBytes_ - offset - done));
        const ssize_t n = ::pread(fd_, out + done, want, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw ReaderException("read error");
        done += static_cast<std::size_t>(n);
    }
    if (done < total)
        done += readMemory(offset + done - fileBytes_, out + done, total - done);
    return done;
}

// Copies from the chunks held in memory; `offset` counts from the first byte after the file.
std::size_t PcmStore::readMemory(std::uint64_t offset, std::uint8_t* out, std::size_t size) const {
    std::size_t done = 0;
    while (done < size) {
        const auto index = static_cast<std::size_t>((offset + done) / kChunkBytes);
        const auto within = static_cast<std::size_t>((offset + done) % kChunkBytes);
        const std::size_t n = std::min(size - done, kChunkBytes - within);
        std::memcpy(out + done, chunks_[index].get() + within, n);
        done += n;
    }
    return done;
}

}  // namespace tolvane
