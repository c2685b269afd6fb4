// libFuzzer target: the Monkey's Audio decompressor's open and information (the header path),
// then a few blocks and a seek, over arbitrary bytes read through an in-memory CIO; and the
// reader on the same bytes as a file.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "decoders/ape_reader.h"
#include "fuzz_input_file.h"
#include "pipeline/app_exception.h"
#include "plugins/ffmpeg_codecs/ape_decompressor.h"

namespace {

class MemoryIO : public tolvane::ape::CIO {
public:
    MemoryIO(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    int Open(const char*) override { return 0; }
    int Close() override { return 0; }
    int Read(void* buffer, unsigned int bytes, unsigned int* bytesRead) override {
        const std::size_t n =
            position_ < size_ ? std::min<std::size_t>(bytes, size_ - position_) : 0;
        std::memcpy(buffer, data_ + position_, n);
        position_ += n;
        *bytesRead = static_cast<unsigned>(n);
        return 0;
    }
    int Write(const void*, unsigned int, unsigned int*) override { return 0; }
    int Seek(std::int64_t distance, unsigned int method) override {
        const std::int64_t base = method == SEEK_SET   ? 0
                                  : method == SEEK_CUR ? static_cast<std::int64_t>(position_)
                                                       : static_cast<std::int64_t>(size_);
        const std::int64_t target = base + distance;
        if (target < 0)
            return 1;
        position_ = static_cast<std::size_t>(target);
        return 0;
    }
    int Create(const char*) override { return 0; }
    int Delete() override { return 0; }
    int SetEOF() override { return 0; }
    std::int64_t GetPosition() override { return static_cast<std::int64_t>(position_); }
    std::int64_t GetSize() override { return static_cast<std::int64_t>(size_); }
    int GetName(char*) override { return 0; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

void exerciseDecompressor(const std::uint8_t* data, std::size_t size) {
    MemoryIO io(data, size);
    int error = 0;
    auto decompress = tolvane::ape::CreateIAPEDecompressEx(&io, &error);
    if (!decompress)
        return;
    using namespace tolvane::ape;
    for (auto field :
         {APE_INFO_SAMPLE_RATE, APE_INFO_BITS_PER_SAMPLE, APE_INFO_CHANNELS, APE_INFO_BLOCK_ALIGN,
          APE_INFO_TOTAL_BLOCKS, APE_DECOMPRESS_CURRENT_MS, APE_DECOMPRESS_LENGTH_MS})
        decompress->GetInfo(field);
    const auto align = decompress->GetInfo(APE_INFO_BLOCK_ALIGN);
    if (align <= 0 || align > 64)
        return;
    std::vector<char> buffer(static_cast<std::size_t>(align) * 256);
    int blocks = 0;
    for (int i = 0; i < 4 && decompress->GetData(buffer.data(), 256, &blocks) == 0 && blocks > 0;
         ++i) {
    }
    decompress->Seek(decompress->GetInfo(APE_INFO_SAMPLE_RATE));
    decompress->GetData(buffer.data(), 256, &blocks);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    exerciseDecompressor(data, size);
    FuzzInputFile file(data, size);
    try {
        tolvane::CAPEReader reader(file.path());
        exerciseReader(reader);
    } catch (const tolvane::ReaderException&) {
    }
    return 0;
}
