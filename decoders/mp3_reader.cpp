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
    if (takeStartPosition(start)) {
        source_->pendingSeek = std::max(start, 0);
        source_->positionBytes = scan.trim.kept(decodedIndexForSecond(scan, source_->pendingSeek)) *
                                 2 * std::uint64_t(scan.channels);
    }
    pipe_.start([source = source_](PipeWriter& writer) { decode(*source, writer); },
                "Internal error #211");
}

CMP3Reader::~CMP3Reader() = default;

// The decoded sample where a second of the stream starts; past the end of the stream, the last
// frame's first sample, so that a seek there still delivers the last frame.
std::uint64_t CMP3Reader::decodedIndexForSecond(const Mp3Scan& scan, int second) {
    const std::uint64_t output = std::uint64_t(std::max(second, 0)) * std::uint64_t(scan.rate);
    if (output >= scan.pcmBytes / (2 * std::uint64_t(scan.channels)))
        return scan.frames.back().firstSample;
    return scan.trim.decodedIndexOf(output);
}

std::size_t CMP3Reader::frameForSample(const Mp3Scan& scan, std::uint64_t sample) {
    // The last frame whose first sample is at or before the target.
    auto after =
        std::upper_bound(scan.frames.begin(), scan.frames.end(), sample,
                         [](std::uint64_t t, const Mp3FrameEntry& e) { return t < e.firstSample; });
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

// Appends to `out` the samples of `pcm` (decoded samples [first, first + count)) that belong to
// the stream: not in the encoder's delay or padding, not before `from`.
void CMP3Reader::keepStreamSamples(const Mp3Trim& trim, std::uint64_t from, std::uint64_t first,
                                   const std::int16_t* pcm, std::uint64_t count, int channels,
                                   std::vector<std::int16_t>& out) {
    const std::uint64_t gapFrom = std::max(trim.skip, std::min(trim.gapFrom, trim.gapTo));
    const std::uint64_t gapTo = std::max(gapFrom, trim.gapTo);
    const std::uint64_t start = std::max(from, trim.skip);
    const auto copy = [&](std::uint64_t a, std::uint64_t b) {
        a = std::max(a, first);
        b = std::min(b, first + count);
        if (a < b)
            out.insert(out.end(), pcm + (a - first) * channels, pcm + (b - first) * channels);
    };
    copy(start, gapFrom);
    copy(std::max(start, gapTo), Mp3Trim::kNone);
}

void CMP3Reader::decode(Source& source, PipeWriter& writer) {
    const Mp3Scan& scan = source.scan;
    Mp3FrameDecoder& decoder = *source.decoder;
    std::size_t prerollFrames = 0;  // frames decoded after a seek only to prime the decoder
    std::uint64_t decoded = 0;      // decoded sample number of the next frame's first sample
    std::uint64_t from = 0;         // decoded samples before this one are not delivered
    const int second = source.pendingSeek.exchange(-1);
    if (second < 0) {
        // From the first frame of audio: not the tag frame before it, nor junk before that.
        decoder.restartAt(scan.frames.front().offset);
    } else {
        from = decodedIndexForSecond(scan, second);
        const std::size_t index = frameForSample(scan, from);
        const std::size_t first = prerollStart(scan, index);
        decoder.restartAt(scan.frames[first].offset);
        prerollFrames = index - first;
        decoded = scan.frames[index].firstSample;
        source.positionBytes = scan.trim.kept(from) * 2 * std::uint64_t(scan.channels);
    }
    const auto channels = static_cast<std::size_t>(scan.channels);
    std::vector<std::int16_t> frame;
    frame.reserve(1152 * 2);
    // Kept samples are gathered into the piece that goes into the pipe.
    std::vector<std::int16_t> piece;
    piece.reserve(kPieceSamples + 1152 * 2);
    while (!writer.stopRequested()) {
        frame.clear();
        if (!decoder.next(frame))
            break;
        if (prerollFrames > 0) {
            --prerollFrames;
            continue;
        }
        const std::size_t before = piece.size();
        const std::uint64_t count = frame.size() / channels;
        keepStreamSamples(scan.trim, from, decoded, frame.data(), count, scan.channels, piece);
        decoded += count;
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
        const Mp3Scan& scan = source_->scan;
        source_->pendingSeek = second;
        source_->positionBytes =
            scan.trim.kept(decodedIndexForSecond(scan, second)) * 2 * std::uint64_t(scan.channels);
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
