// A read-only view of a whole file followed by at least one page of zero bytes, so that decoders
// that read a few bytes past the end of their data (libmad does) never leave the mapping.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace tolvane {

class MappedFile {
public:
    // Empty when the file cannot be opened or mapped, or is empty.
    static std::unique_ptr<MappedFile> open(const std::string& path);
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    MappedFile(const std::uint8_t* data, std::size_t size, std::size_t mappedSize)
        : data_(data), size_(size), mappedSize_(mappedSize) {}
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t mappedSize_;
};

}  // namespace tolvane
