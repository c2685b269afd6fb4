// qscl.so: the converter object behind QsclCreateInstance. It reads an 8000 Hz mono 16-bit WAV
// through the caller's I/O function, encodes it with the QCELP-13K encoder and writes the QCP
// file through the same kind of function.
#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

#include "plugins/qscl/qcelp_encoder.h"
#include "plugins/qscl/qcp_file.h"
#include "plugins/qscl/qscl_api.h"

namespace tolvane::qscl {
namespace {

using qcelp::Encoder;
using qcelp::kFrameLength;

std::uint32_t le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// A file reached through the caller's I/O function.
class Stream {
public:
    explicit Stream(const StreamDescriptor& d) : d_(d) {}

    // Reads exactly `count` bytes unless the file ends or fails first; returns the bytes read.
    std::size_t read(void* buffer, std::size_t count) {
        auto* p = static_cast<std::uint8_t*>(buffer);
        std::size_t done = 0;
        while (done < count) {
            const auto want =
                static_cast<std::int32_t>(std::min<std::size_t>(count - done, 1 << 20));
            const std::int32_t got = d_.io(kIoRead, p + done, 0, want, d_.file);
            if (got <= 0 || got > want)
                break;
            done += static_cast<std::size_t>(got);
        }
        return done;
    }
    bool write(const void* buffer, std::size_t count) {
        const auto* p = static_cast<const std::uint8_t*>(buffer);
        std::size_t done = 0;
        while (done < count) {
            const auto want =
                static_cast<std::int32_t>(std::min<std::size_t>(count - done, 1 << 20));
            const std::int32_t put =
                d_.io(kIoWrite, const_cast<std::uint8_t*>(p + done), 0, want, d_.file);
            if (put <= 0 || put > want)
                return false;
            done += static_cast<std::size_t>(put);
        }
        return true;
    }
    bool seek(std::int64_t position) {
        if (position < 0 || position > INT32_MAX)
            return false;
        const auto pos = static_cast<std::int32_t>(position);
        return d_.io(kIoSeek, nullptr, pos, 0, d_.file) == pos;
    }
    std::int64_t size() { return d_.io(kIoSize, nullptr, 0, 0, d_.file); }
    bool truncate() { return d_.io(kIoTruncate, nullptr, 0, 0, d_.file) != 0; }

private:
    StreamDescriptor d_;
};

struct PcmData {
    std::int64_t offset = 0;
    std::int64_t bytes = 0;
};

// Finds the PCM samples of a RIFF/WAVE file. A "data" chunk that claims more than the file holds
// (a file cut short) is taken as far as it goes.
std::int32_t locatePcm(Stream& in, PcmData& pcm) {
    const std::int64_t fileSize = in.size();
    std::uint8_t header[12];
    if (fileSize < 12)
        return kBadInput;
    if (!in.seek(0) || in.read(header, 12) != 12)
        return kReadFailed;
    if (std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "WAVE", 4) != 0)
        return kBadInput;
    bool haveFormat = false, haveData = false;
    std::int64_t pos = 12;
    while (pos + 8 <= fileSize && !(haveFormat && haveData)) {
        std::uint8_t chunk[8];
        if (!in.seek(pos) || in.read(chunk, 8) != 8)
            return kReadFailed;
        const std::int64_t size = le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            std::uint8_t fmt[16];
            if (size < 16 || pos + 8 + 16 > fileSize)
                return kBadInput;
            if (in.read(fmt, 16) != 16)
                return kReadFailed;
            const std::uint16_t tag = le16(fmt), channels = le16(fmt + 2), align = le16(fmt + 12),
                                bits = le16(fmt + 14);
            const std::uint32_t rate = le32(fmt + 4);
            if (tag != 1 || channels != 1 || rate != 8000 || bits != 16 || align != 2)
                return kBadInput;
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            pcm.offset = pos + 8;
            pcm.bytes = std::min(size, fileSize - pcm.offset) & ~std::int64_t{1};
            haveData = true;
        }
        pos += 8 + size + (size & 1);
    }
    return haveFormat && haveData ? kConverted : kBadInput;
}

bool sameFormat(const InputFormat* in, const OutputFormat* out) {
    return in->first == kInputFormatFirst && in->second == kInputFormatSecond &&
           in->sampleRate == 8000 && in->bitsPerSample == 16 && out->first == kOutputFormatFirst &&
           out->second == kOutputFormatCodec && out->third == kOutputFormatThird;
}

bool usable(const StreamDescriptor* d) {
    return d != nullptr && d->kind == kStreamThroughIoFunction && d->io != nullptr;
}

// Encodes the PCM of `in` into packets written to `out` after the header.
std::int32_t encodePackets(Stream& in, const PcmData& pcm, Stream& out) {
    const std::int64_t samples = pcm.bytes / 2;
    Encoder encoder;
    constexpr std::size_t kReadSamples = 8000;
    constexpr std::size_t kFrameSpan = kFrameLength + Encoder::kLookahead;
    std::vector<float> pending;  // samples from the current frame's start on
    std::vector<std::uint8_t> raw(kReadSamples * 2), packets;
    std::int64_t remaining = samples;
    if (!in.seek(pcm.offset))
        return kReadFailed;
    std::int64_t framesLeft = (samples + kFrameLength - 1) / kFrameLength;
    while (framesLeft > 0) {
        while (pending.size() < kFrameSpan && remaining > 0) {
            const auto want =
                static_cast<std::size_t>(std::min<std::int64_t>(remaining, kReadSamples));
            if (in.read(raw.data(), want * 2) != want * 2)
                return kReadFailed;
            for (std::size_t i = 0; i < want; ++i)
                pending.push_back(static_cast<std::int16_t>(le16(&raw[2 * i])) / 32768.0f);
            remaining -= static_cast<std::int64_t>(want);
        }
        if (pending.size() < kFrameSpan)
            pending.resize(kFrameSpan, 0.0f);  // past the end: silence
        std::size_t consumed = 0;
        while (framesLeft > 0 && pending.size() - consumed >= kFrameSpan) {
            const qcelp::Payload payload = qcelp::pack(encoder.encode(pending.data() + consumed));
            packets.push_back(qcelp::kFullRateCode);
            packets.insert(packets.end(), payload.begin(), payload.end());
            consumed += kFrameLength;
            --framesLeft;
        }
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(consumed));
        if (!out.write(packets.data(), packets.size()))
            return kWriteFailed;
        packets.clear();
    }
    return kConverted;
}

std::int32_t convertFile(Stream& in, Stream& out) {
    PcmData pcm;
    if (const std::int32_t located = locatePcm(in, pcm); located != kConverted)
        return located;
    const std::int64_t frames = (pcm.bytes / 2 + kFrameLength - 1) / kFrameLength;
    if (frames > qcelp::kMaxPackets)
        return kTooLong;
    const auto packets = static_cast<std::uint32_t>(frames);
    const auto header = qcelp::qcpHeader(packets);
    if (!out.seek(0) || !out.write(header.data(), header.size()))
        return kWriteFailed;
    if (const std::int32_t encoded = encodePackets(in, pcm, out); encoded != kConverted)
        return encoded;
    if ((std::uint64_t{qcelp::kPacketBytes} * packets) & 1u) {
        const std::uint8_t pad = 0;
        if (!out.write(&pad, 1))
            return kWriteFailed;
    }
    return out.truncate() ? kConverted : kWriteFailed;
}

class QcpConverter final : public Converter {
public:
    std::int32_t convert(const StreamDescriptor* input, const InputFormat* inputFormat,
                         const StreamDescriptor* output, const OutputFormat* outputFormat,
                         std::int32_t, std::int32_t) override {
        if (!usable(input) || !usable(output) || inputFormat == nullptr ||
            outputFormat == nullptr || !sameFormat(inputFormat, outputFormat))
            return kBadArguments;
        Stream in(*input), out(*output);
        const std::int32_t result = convertFile(in, out);
        if (result != kConverted) {
            // Leave no half-written QCP file that could pass for a good one.
            if (out.seek(0))
                out.truncate();
        }
        return result;
    }
    void release() override { delete this; }
};

}  // namespace
}  // namespace tolvane::qscl

extern "C" __attribute__((visibility("default"))) tolvane::qscl::Converter* QsclCreateInstance(
    const tolvane::qscl::Guid* first, const tolvane::qscl::Guid* second) {
    using namespace tolvane::qscl;
    if (first == nullptr || second == nullptr || !(*first == kConverterClass) ||
        !(*second == kConverterInterface))
        return nullptr;
    return new (std::nothrow) QcpConverter;
}
