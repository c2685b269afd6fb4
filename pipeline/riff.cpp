#include "pipeline/riff.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstring>

namespace tolvane {

std::uint32_t readLe32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t readLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

bool RiffChunk::is(const char* fourcc) const {
    return std::memcmp(id.data(), fourcc, 4) == 0;
}

bool RiffReader::open(std::FILE* file, const char* formType) {
    file_ = file;
    std::uint8_t header[12];
    if (std::fseek(file_, 0, SEEK_SET) != 0 || std::fread(header, 1, 12, file_) != 12)
        return false;
    if (std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, formType, 4) != 0)
        return false;
    const std::uint32_t size = readLe32(header + 4);
    if (size < 4)
        return false;
    riffEnd_ = 8ull + size;
    cursor_ = 12;
    return true;
}

std::optional<RiffChunk> RiffReader::next(bool& overrun) {
    overrun = false;
    if (cursor_ + 8 > riffEnd_)
        return std::nullopt;
    std::uint8_t header[8];
    if (std::fseek(file_, static_cast<long>(cursor_), SEEK_SET) != 0 ||
        std::fread(header, 1, 8, file_) != 8)
        return std::nullopt;
    RiffChunk chunk;
    std::memcpy(chunk.id.data(), header, 4);
    chunk.size = readLe32(header + 4);
    chunk.offset = cursor_ + 8;
    if (chunk.offset + chunk.size > riffEnd_) {
        overrun = true;
        return std::nullopt;
    }
    cursor_ = chunk.offset + chunk.size + (chunk.size & 1);
    return chunk;
}

RiffWriter::~RiffWriter() {
    close();
}

bool RiffWriter::create(const std::string& path) {
    close();
    // Lock before truncating: a file another writer holds is left as it is.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0 ||
        (file_ = ::fdopen(fd, "wb")) == nullptr) {
        ::close(fd);
        return false;
    }
    return true;
}

bool RiffWriter::beginChunk(const char* id, const char* formType) {
    if (file_ == nullptr)
        return false;
    const long start = std::ftell(file_);
    const std::uint8_t zero[4] = {0, 0, 0, 0};
    if (start < 0 || std::fwrite(id, 1, 4, file_) != 4 || std::fwrite(zero, 1, 4, file_) != 4)
        return false;
    if (formType != nullptr && std::fwrite(formType, 1, 4, file_) != 4)
        return false;
    stack_.push_back(static_cast<std::uint64_t>(start) + 4);
    return true;
}

bool RiffWriter::endChunk() {
    if (file_ == nullptr || stack_.empty())
        return false;
    const std::uint64_t sizeField = stack_.back();
    stack_.pop_back();
    long end = std::ftell(file_);
    if (end < 0)
        return false;
    std::uint64_t size = static_cast<std::uint64_t>(end) - sizeField - 4;
    if (size & 1) {
        if (std::fputc(0, file_) == EOF)
            return false;
        ++end;
    }
    if (size > 0xFFFFFFFFull)
        return false;
    const std::uint8_t le[4] = {
        static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8),
        static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 24)};
    return std::fseek(file_, static_cast<long>(sizeField), SEEK_SET) == 0 &&
           std::fwrite(le, 1, 4, file_) == 4 && std::fseek(file_, end, SEEK_SET) == 0;
}

bool RiffWriter::write(const void* data, std::size_t size) {
    return file_ != nullptr && std::fwrite(data, 1, size, file_) == size;
}

bool RiffWriter::close() {
    if (file_ == nullptr)
        return true;
    bool ok = true;
    while (!stack_.empty())
        ok = endChunk() && ok;
    ok = (std::fclose(file_) == 0) && ok;
    file_ = nullptr;
    return ok;
}

}  // namespace tolvane
