#include "decoders/ape_reader.h"

#include <algorithm>
#include <vector>

#include "decoders/readers.h"
#include "pipeline/app_exception.h"
#include "pipeline/source_bounds.h"
#include "platform/paths.h"
#include "plugins/ffmpeg_codecs/ffmpeg_codecs.h"

namespace tolvane {
namespace {

constexpr int kBlocksPerPass = 1024;

// 24-bit samples keep their top 16 bits; 8- and 16-bit samples pass unchanged.
std::size_t narrowTo16(std::uint8_t* data, std::size_t bytes, int bits) {
    if (bits != 24)
        return bytes;
    std::size_t out = 0;
    for (std::size_t in = 0; in + 3 <= bytes; in += 3) {
        data[out++] = data[in + 1];
        data[out++] = data[in + 2];
    }
    return out;
}

// The decompressor lives in ffmpeg_codecs.so, loaded the first time a Monkey's Audio file is met.
std::unique_ptr<ape::IAPEDecompress> openDecompressor(ape::CIO* io, int* error) {
    const ffmpeg_codecs::Entries* codecs = ffmpeg_codecs::load(platform::applicationFolder());
    if (codecs == nullptr)
        throw ReaderException(
            "Monkey's Audio decoding libraries aren't installed (ffmpeg_codecs.so cannot be "
            "loaded)");
    return std::unique_ptr<ape::IAPEDecompress>(codecs->createApeDecompressor(io, error));
}

}  // namespace

int CAPEReader::MyIO::Read(void* buffer, unsigned int bytes, unsigned int* bytesRead) {
    const std::int64_t got = file_.read(buffer, bytes);
    if (bytesRead != nullptr)
        *bytesRead = got < 0 ? 0 : static_cast<unsigned>(got);
    return got < 0 ? ape::ERROR_IO_READ : 0;
}

int CAPEReader::MyIO::Seek(std::int64_t distance, unsigned int method) {
    file_.seek(distance, static_cast<int>(method));
    return 0;
}

std::shared_ptr<CAPEReader::Source> CAPEReader::openSource(const std::string& path) {
    auto source = std::make_shared<Source>();
    source->io = std::make_unique<MyIO>(path);
    if (!source->io->isOpen())
        throw ReaderException("cannot open");
    int error = 0;
    source->decompress = openDecompressor(source->io.get(), &error);
    if (!source->decompress)
        throw ReaderException("cannot open");
    source->rate = static_cast<int>(source->decompress->GetInfo(ape::APE_INFO_SAMPLE_RATE));
    source->blockAlign = static_cast<int>(source->decompress->GetInfo(ape::APE_INFO_BLOCK_ALIGN));
    return source;
}

CAPEReader::CAPEReader(const std::string& path)
    : source_(openSource(path)), pipe_("Internal error #610") {
    ape::IAPEDecompress& d = *source_->decompress;
    const int bits = static_cast<int>(d.GetInfo(ape::APE_INFO_BITS_PER_SAMPLE));
    sampleRate_ = source_->rate;
    channels_ = static_cast<std::int32_t>(d.GetInfo(ape::APE_INFO_CHANNELS));
    bitsPerSample_ = std::min(bits, 16);
    totalBlocks_ = d.GetInfo(ape::APE_INFO_TOTAL_BLOCKS);
    // The decoding thread sizes its buffer by the block alignment.
    requireDeliverableFormat(*this);
    source_->outputBlockAlign = channels_ * (bitsPerSample_ / 8);
    totalBytes_ = static_cast<std::int32_t>(
        std::min<std::int64_t>(totalBlocks_ * source_->outputBlockAlign, INT32_MAX));

    int start = 0;
    if (takeStartPosition(start))
        source_->pendingSeek = start;
    pipe_.start([source = source_](PipeWriter& writer) { decode(*source, writer); },
                "Internal error #111");
}

CAPEReader::~CAPEReader() = default;

void CAPEReader::decode(Source& source, PipeWriter& writer) {
    ape::IAPEDecompress& d = *source.decompress;
    const int bits = static_cast<int>(d.GetInfo(ape::APE_INFO_BITS_PER_SAMPLE));
    std::vector<std::uint8_t> buffer(std::size_t(source.blockAlign) * kBlocksPerPass);
    while (!writer.stopRequested()) {
        const int second = source.pendingSeek.exchange(-1);
        if (second >= 0)
            d.Seek(std::int64_t(second) * source.rate);
        int blocks = 0;
        if (d.GetData(reinterpret_cast<char*>(buffer.data()), kBlocksPerPass, &blocks) != 0 ||
            blocks <= 0)
            break;
        const std::size_t bytes =
            narrowTo16(buffer.data(), std::size_t(blocks) * source.blockAlign, bits);
        if (!writer.write(buffer.data(), bytes))
            break;
    }
}

std::size_t CAPEReader::read(void* buffer, std::size_t count, std::size_t* delivered) {
    const std::size_t frameBytes = std::size_t(source_->outputBlockAlign);
    const std::size_t got = pipe_.read(buffer, count - count % frameBytes);
    if (delivered != nullptr)
        *delivered = got;
    return got;
}

void CAPEReader::seek(int second) {
    // The decoding thread stops and starts again from the second: what the pipe held from the old
    // position is dropped, and a seek after the end of the stream still works.
    pipe_.restart([&] { source_->pendingSeek = std::max(second, 0); });
}

int CAPEReader::tell() {
    return static_cast<int>(source_->decompress->GetInfo(ape::APE_DECOMPRESS_CURRENT_MS) / 1000);
}

int CAPEReader::length() {
    return static_cast<int>(source_->decompress->GetInfo(ape::APE_DECOMPRESS_LENGTH_MS) / 1000);
}

int apeDurationOf(const std::string& path) {
    CAPEReader::MyIO io(path);
    if (!io.isOpen())
        throw ReaderException("cannot open");
    int error = 0;
    const auto decompress = openDecompressor(&io, &error);
    if (!decompress)
        return 0;
    return static_cast<int>(decompress->GetInfo(ape::APE_INFO_TOTAL_BLOCKS) /
                            decompress->GetInfo(ape::APE_INFO_SAMPLE_RATE));
}

std::unique_ptr<CReader> makeApeReader(const std::string& path) {
    return std::make_unique<CAPEReader>(path);
}

int apeDuration(const std::string& path) {
    return apeDurationOf(path);
}

}  // namespace tolvane
