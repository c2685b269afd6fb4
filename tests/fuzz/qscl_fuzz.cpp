// Feeds arbitrary bytes to qscl.so's converter as the input WAV file: it must end in a result
// code, never crash, hang or read out of bounds, and a successful result is a complete QCP file.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "plugins/qscl/qcp_file.h"
#include "plugins/qscl/qscl_api.h"

extern "C" tolvane::qscl::Converter* QsclCreateInstance(const tolvane::qscl::Guid*,
                                                        const tolvane::qscl::Guid*);

namespace {

using namespace tolvane::qscl;

struct File {
    std::vector<std::uint8_t> bytes;
    std::size_t position = 0;
};

std::int32_t io(std::int32_t op, void* buffer, std::int32_t position, std::int32_t count,
                std::intptr_t handle) {
    File& f = *reinterpret_cast<File*>(handle);
    switch (op) {
        case kIoRead: {
            const std::size_t left = f.position < f.bytes.size() ? f.bytes.size() - f.position : 0;
            const std::size_t n = std::min<std::size_t>(left, static_cast<std::size_t>(count));
            if (n > 0)
                std::memcpy(buffer, f.bytes.data() + f.position, n);
            f.position += n;
            return static_cast<std::int32_t>(n);
        }
        case kIoWrite:
            if (f.bytes.size() < f.position + static_cast<std::size_t>(count))
                f.bytes.resize(f.position + static_cast<std::size_t>(count));
            std::memcpy(f.bytes.data() + f.position, buffer, static_cast<std::size_t>(count));
            f.position += static_cast<std::size_t>(count);
            return count;
        case kIoSeek:
            if (position < 0)
                return -1;
            f.position = static_cast<std::size_t>(position);
            return position;
        case kIoSize:
            return static_cast<std::int32_t>(f.bytes.size());
        case kIoTruncate:
            f.bytes.resize(f.position);
            return 1;
        default:
            return -1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    File input{std::vector<std::uint8_t>(data, data + size)}, output;
    const StreamDescriptor in{kStreamThroughIoFunction, io,
                              reinterpret_cast<std::intptr_t>(&input)};
    const StreamDescriptor out{kStreamThroughIoFunction, io,
                               reinterpret_cast<std::intptr_t>(&output)};
    InputFormat inFormat{};
    inFormat.first = kInputFormatFirst;
    inFormat.second = kInputFormatSecond;
    inFormat.sampleRate = 8000;
    inFormat.bitsPerSample = 16;
    const OutputFormat outFormat{kOutputFormatFirst, kOutputFormatCodec, kOutputFormatThird};
    Converter* converter = QsclCreateInstance(&kConverterClass, &kConverterInterface);
    const std::int32_t result = converter->convert(&in, &inFormat, &out, &outFormat, 0, 0);
    converter->release();
    if (result == kConverted) {
        if (output.bytes.size() < 194 || std::memcmp(output.bytes.data(), "RIFF", 4) != 0)
            std::abort();
        const std::uint32_t packets = output.bytes[182] | (output.bytes[183] << 8) |
                                      (output.bytes[184] << 16) |
                                      (static_cast<std::uint32_t>(output.bytes[185]) << 24);
        if (output.bytes.size() != tolvane::qcelp::qcpFileSize(packets))
            std::abort();
    } else if (!output.bytes.empty()) {
        std::abort();
    }
    return 0;
}
