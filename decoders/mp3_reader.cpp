#include "decoders/mp3_reader.h"

#include <algorithm>
#include <bit>

#include "decoders/readers.h"
#include "pipeline/app_exception.h"

namespace tolvane {
namespace {

static_assert(std::endian::native == std::endian::little, "PCM is written in host byte order");

// Decoded PCM is gathered into pieces of about this many samples (32 KiB) before it goes into the
// pipe.
constexpr std::size_t kPieceSamples = 16 * 1024;

std::int32_t clampToInt32(std::uint64_t value) {
    return static_cast<std::int32_t>(std::min<std::uint64_t>(value, INT32_MAX));
}

}  // namespace

CMP3Reader::CMP3Reader(const std::string& path)
    : source_(std::make_shared<Source>()), pipe_("Internal error #210") {
    source_->file = MappedFile::open(path);
    if (!source_->file)
        throw ReaderException("cannot open file");
    source_->scan = scanMp3(source_->file->data(), source_->file->size());
    const Mp3Scan& scan = source_->scan;
    if (!scan.usable())
        throw ReaderException("cannot process: broken MP3 file");
    source_->decoder = std::make_unique<Mp3FrameDecoder>(source_->file->data(),
                                                         source_->file->size(), scan.channels);

    totalBytes_ = clampToInt32(scan.pcmBytes);
    sampleRate_ = scan.rate;
    channels_ = scan.channels;
    bitsPerSample_ = 16;

    int start = 0;
    if (takeStartPosition(start))
        source_->pendingSeek = start;
    pipe_.start([source = source_](PipeWriter& writer) { decode(*source, writer); },
                "Internal error #211");
}

CMP3Reader::~CMP3Reader() = default;

std::size_t CMP3Reader::frameForSecond(const Mp3Scan& scan, int second) {
    const std::uint64_t target =
        std::uint64_t(std::max(second, 0)) * std::uint64_t(scan.channels) * scan.rate * 2;
    // The last frame whose first sample is at or before the target.
    auto after =
        std::upper_bound(scan.frames.begin(), scan.frames.end(), target,
                         [](std::uint64_t t, const Mp3FrameEntry& e) { return t < e.pcmOffset; });
    return after == scan.frames.begin() ? 0 : std::size_t(after - scan.frames.begin() - 1);
}

// A Layer III frame may take part of its data from the frames before it (up to 511 bytes back),
// and its first samples overlap the previous frame's last ones. Decoding resumes that far back,
// plus one frame, and the frames before the target are decoded but not delivered, so the PCM after
// a seek starts cleanly at the target frame instead of with a gap.
std::size_t CMP3Reader::prerollStart(const Mp3Scan& scan, std::size_t index) {
    constexpr std::size_t kReservoirBytes = 511;
    constexpr std::size_t kMaxFrames = 10;
    std::size_t first = index;
    while (first > 0 && index - first < kMaxFrames &&
           scan.frames[index].offset - scan.frames[first].offset <= kReservoirBytes)
        --first;
    return first > 0 && index - first < kMaxFrames ? first - 1 : first;
}

void CMP3Reader::decode(Source& source, PipeWriter& writer) {
    const Mp3Scan& scan = source.scan;
    Mp3FrameDecoder& decoder = *source.decoder;
    std::size_t prerollFrames = 0;  // frames decoded after a seek only to prime the decoder
    const int second = source.pendingSeek.exchange(-1);
    if (second >= 0) {
        const std::size_t index = frameForSecond(scan, second);
        const std::size_t first = prerollStart(scan, index);
        decoder.restartAt(scan.frames[first].offset);
        prerollFrames = index - first;
        source.positionBytes = scan.frames[index].pcmOffset;
    }
    // Frames are decoded straight into the piece that goes into the pipe.
    std::vector<std::int16_t> piece;
    piece.reserve(kPieceSamples + 1152 * 2);
    while (!writer.stopRequested()) {
        const std::size_t before = piece.size();
        if (!decoder.next(piece))
            break;
        if (prerollFrames > 0) {
            --prerollFrames;
            piece.resize(before);
            continue;
        }
        source.positionBytes += (piece.size() - before) * sizeof(std::int16_t);
        if (piece.size() >= kPieceSamples) {
            if (!writer.write(piece.data(), piece.size() * sizeof(std::int16_t)))
                return;
            piece.clear();
        }
    }
    if (!piece.empty())
        writer.write(piece.data(), piece.size() * sizeof(std::int16_t));
}

std::size_t CMP3Reader::read(void* buffer, std::size_t count, std::size_t* delivered) {
    const std::size_t frameBytes = std::size_t(channels_) * 2;
    const std::size_t got = pipe_.read(buffer, count - count % frameBytes);
    if (delivered != nullptr)
        *delivered = got;
    return got;
}

// The decoding thread is stopped and started again from the second, so what the pipe held from
// the old position is dropped and a seek after the end of the stream still works.
void CMP3Reader::seek(int second) {
    second = std::max(second, 0);
    pipe_.restart([&] {
        source_->pendingSeek = second;
        source_->positionBytes =
            source_->scan.frames[frameForSecond(source_->scan, second)].pcmOffset;
    });
}

int CMP3Reader::tell() {
    const std::uint64_t bytesPerSecond = std::uint64_t(sampleRate_) * channels_ * 2;
    return static_cast<int>(source_->positionBytes / bytesPerSecond);
}

int CMP3Reader::length() {
    return static_cast<int>(source_->scan.durationMs() / 1000);
}

int mp3DurationOf(const std::string& path) {
    const auto file = MappedFile::open(path);
    if (!file)
        return 0;
    const Mp3Scan scan = scanMp3(file->data(), file->size());
    if (!scan.usable())
        return 0;
    return static_cast<int>(scan.pcmBytes / (std::uint64_t(scan.rate) * scan.channels * 2));
}

std::unique_ptr<CReader> makeMp3Reader(const std::string& path) {
    return std::make_unique<CMP3Reader>(path);
}
int mp3Duration(const std::string& path) {
    return mp3DurationOf(path);
}

}  // namespace tolvane
