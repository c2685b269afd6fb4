#include "qscl_support.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "encoders/qcp_encoder.h"
#include "support/test_support.h"

namespace tolvane::test {

qscl::CreateInstanceFunction qsclEntry() {
    static const qscl::CreateInstanceFunction entry = [] {
        const std::string path = (appDir() / "qscl.so").string();
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr)
            throw std::runtime_error("cannot load " + path);
        return reinterpret_cast<qscl::CreateInstanceFunction>(
            ::dlsym(handle, qscl::kCreateInstanceName));
    }();
    return entry;
}

std::int32_t MemoryFile::io(std::int32_t operation, void* buffer, std::int32_t position,
                            std::int32_t count, std::intptr_t file) {
    auto& f = *reinterpret_cast<MemoryFile*>(file);
    switch (operation) {
        case qscl::kIoRead: {
            if (f.failReadsAfter >= 0 && f.readBytes >= f.failReadsAfter)
                return 0;
            const std::size_t n =
                std::min<std::size_t>(static_cast<std::size_t>(count),
                                      f.bytes.size() - std::min(f.position, f.bytes.size()));
            std::memcpy(buffer, f.bytes.data() + f.position, n);
            f.position += n;
            f.readBytes += static_cast<long>(n);
            return static_cast<std::int32_t>(n);
        }
        case qscl::kIoWrite: {
            if (f.failWritesAfter >= 0 && f.writtenBytes + count > f.failWritesAfter)
                return 0;
            if (f.bytes.size() < f.position + static_cast<std::size_t>(count))
                f.bytes.resize(f.position + static_cast<std::size_t>(count));
            std::memcpy(f.bytes.data() + f.position, buffer, static_cast<std::size_t>(count));
            f.position += static_cast<std::size_t>(count);
            f.writtenBytes += count;
            return count;
        }
        case qscl::kIoSeek:
            if (position < 0)
                return -1;
            f.position = static_cast<std::size_t>(position);
            return position;
        case qscl::kIoSize:
            return static_cast<std::int32_t>(f.bytes.size());
        case qscl::kIoTruncate:
            f.bytes.resize(f.position);
            return 1;
        default:
            return -1;
    }
}

qscl::InputFormat standardInputFormat() {
    qscl::InputFormat in{};
    in.first = qscl::kInputFormatFirst;
    in.second = qscl::kInputFormatSecond;
    in.sampleRate = 8000;
    in.bitsPerSample = 16;
    return in;
}

qscl::OutputFormat standardOutputFormat() {
    return {qscl::kOutputFormatFirst, qscl::kOutputFormatCodec, qscl::kOutputFormatThird};
}

std::int32_t convertWithQscl(MemoryFile& input, MemoryFile& output) {
    qscl::Converter* converter = qsclEntry()(&qscl::kConverterClass, &qscl::kConverterInterface);
    if (converter == nullptr)
        throw std::runtime_error("no converter");
    const auto in = input.descriptor(), out = output.descriptor();
    const auto inFormat = standardInputFormat();
    const auto outFormat = standardOutputFormat();
    const std::int32_t result = converter->convert(&in, &inFormat, &out, &outFormat, 0, 0);
    converter->release();
    return result;
}

std::int32_t convertFileWithQscl(const std::string& wavPath, const std::string& qcpPath) {
    const int in = ::open(wavPath.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(qcpPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (in < 0 || out < 0)
        throw std::runtime_error("cannot open test files");
    qscl::Converter* converter = qsclEntry()(&qscl::kConverterClass, &qscl::kConverterInterface);
    const qscl::StreamDescriptor input{qscl::kStreamThroughIoFunction, qcpFileIo, in};
    const qscl::StreamDescriptor output{qscl::kStreamThroughIoFunction, qcpFileIo, out};
    const auto inFormat = standardInputFormat();
    const auto outFormat = standardOutputFormat();
    const std::int32_t result = converter->convert(&input, &inFormat, &output, &outFormat, 0, 0);
    converter->release();
    ::close(in);
    ::close(out);
    return result;
}

}  // namespace tolvane::test
