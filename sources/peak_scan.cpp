#include "sources/peak_scan.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <memory>
#include <thread>

#include "decoders/source_types.h"
#include "pipeline/reader.h"

namespace tolvane::pages {

namespace {

// Sources shorter than this are scanned by one reader; longer ones by two at once, each over
// half of the file, since decoding is the whole cost and the machine has a core to spare.
constexpr int kSplitSeconds = 20;

struct ScanShape {
    int channels = 0;
    int bits = 0;
    std::size_t columns = 0;
    std::int64_t expectedFrames = 1;  // from the announced length
    std::size_t frameBytes() const { return std::size_t(channels) * std::size_t(bits / 8); }
};

// The lowest and highest sample of `frames` frames (all channels), as -1..1 of full scale.
PeakColumn peakOf(const std::uint8_t* bytes, std::size_t frames, const ScanShape& shape) {
    const std::size_t samples = frames * std::size_t(shape.channels);
    if (shape.bits == 16) {
        std::int16_t low = 0;
        std::int16_t high = 0;
        for (std::size_t i = 0; i < samples; ++i) {
            const auto s = static_cast<std::int16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
            low = std::min(low, s);
            high = std::max(high, s);
        }
        return {low / 32768.0f, high / 32768.0f};
    }
    std::uint8_t low = 128;
    std::uint8_t high = 128;
    for (std::size_t i = 0; i < samples; ++i) {
        low = std::min(low, bytes[i]);
        high = std::max(high, bytes[i]);
    }
    return {(int(low) - 128) / 128.0f, (int(high) - 128) / 128.0f};
}

// Folds `frames` frames, the first of which is frame `first` of the file, into their columns:
// frame f belongs to column f × columns / expectedFrames (the last column takes any excess).
void foldBlock(const std::uint8_t* bytes, std::size_t frames, std::int64_t first,
               const ScanShape& shape, std::vector<PeakColumn>& peaks) {
    const auto columns = std::int64_t(shape.columns);
    std::size_t done = 0;
    while (done < frames) {
        const std::int64_t frame = first + std::int64_t(done);
        const std::int64_t column = std::min(frame * columns / shape.expectedFrames, columns - 1);
        // The first frame of the next column, rounded up.
        const std::int64_t next =
            column + 1 >= columns ? std::numeric_limits<std::int64_t>::max()
                                  : ((column + 1) * shape.expectedFrames + columns - 1) / columns;
        const auto count =
            std::size_t(std::min<std::int64_t>(std::int64_t(frames - done), next - frame));
        const PeakColumn block = peakOf(bytes + done * shape.frameBytes(), count, shape);
        PeakColumn& peak = peaks[std::size_t(column)];
        peak.low = std::min(peak.low, block.low);
        peak.high = std::max(peak.high, block.high);
        done += count;
    }
}

// Reads `reader` from frame `first` of the file up to frame `end` (or the source's end) and
// folds what it delivers into `peaks`. Returns the frames read; -1 when cancelled.
std::int64_t foldReader(CReader& reader, const ScanShape& shape, std::int64_t first,
                        std::int64_t end, std::vector<PeakColumn>& peaks,
                        const std::atomic<bool>* cancel, int rate) {
    const std::size_t frameBytes = shape.frameBytes();
    const auto blockFrames = std::size_t(std::max(rate / 10, 1));
    std::vector<std::uint8_t> block(frameBytes * blockFrames);
    std::int64_t frame = first;
    while (frame < end) {
        if (cancel != nullptr && cancel->load())
            return -1;
        // Counted in frames: `end` may stand for "no end" (the largest value).
        const auto wanted =
            std::size_t(std::min<std::int64_t>(std::int64_t(blockFrames), end - frame)) *
            frameBytes;
        std::size_t got = 0;
        reader.read(block.data(), wanted, &got);
        const std::size_t frames = got / frameBytes;
        if (frames == 0)
            break;
        foldBlock(block.data(), frames, frame, shape, peaks);
        frame += std::int64_t(frames);
    }
    return frame - first;
}

// The second half of a long source on a thread of its own, from `startSecond` to the end.
class HalfScan {
public:
    HalfScan(std::unique_ptr<CReader> reader, const ScanShape& shape, std::int64_t firstFrame,
             int rate, const std::atomic<bool>* cancel)
        : reader_(std::move(reader)), peaks_(shape.columns) {
        thread_ = std::thread([this, shape, firstFrame, rate, cancel] {
            try {
                frames_ =
                    foldReader(*reader_, shape, firstFrame,
                               std::numeric_limits<std::int64_t>::max(), peaks_, cancel, rate);
            } catch (...) {
                failure_ = std::current_exception();
            }
        });
    }
    ~HalfScan() {
        if (thread_.joinable())
            thread_.join();
    }
    // Waits for the half; its reader's failure passes on. -1 when cancelled.
    std::int64_t finish() {
        thread_.join();
        if (failure_)
            std::rethrow_exception(failure_);
        return frames_;
    }
    const std::vector<PeakColumn>& peaks() const { return peaks_; }

private:
    std::unique_ptr<CReader> reader_;
    std::vector<PeakColumn> peaks_;
    std::int64_t frames_ = 0;
    std::exception_ptr failure_;
    std::thread thread_;
};

// The second reader, or none when the source is short, the machine has one core, or the
// source cannot be opened in its middle (the first reader then reads it all).
std::unique_ptr<CReader> secondHalfReader(const std::string& path, int lengthSeconds) {
    if (lengthSeconds < kSplitSeconds || std::thread::hardware_concurrency() < 2)
        return nullptr;
    try {
        return openReaderAt(path, lengthSeconds / 2);
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

Waveform scanPeaks(const std::string& path, std::size_t columns, const std::atomic<bool>* cancel) {
    auto reader = openReader(path);
    ScanShape shape;
    shape.channels = reader->channels();
    shape.bits = reader->bitsPerSample();
    shape.columns = columns;
    const int rate = reader->sampleRate();
    if (columns == 0 || shape.channels <= 0 || rate <= 0 || (shape.bits != 8 && shape.bits != 16))
        return {};

    // Frames per column from the announced length; the last column takes whatever is left over
    // when the announced length is short.
    const int length = reader->length();
    shape.expectedFrames = std::max<std::int64_t>(std::int64_t(length + 1) * rate, 1);
    std::vector<PeakColumn> raw(columns);
    std::int64_t frames = 0;
    if (auto second = secondHalfReader(path, length)) {
        const std::int64_t split = std::int64_t(length / 2) * rate;
        HalfScan half(std::move(second), shape, split, rate, cancel);
        const std::int64_t firstFrames = foldReader(*reader, shape, 0, split, raw, cancel, rate);
        const std::int64_t secondFrames = half.finish();
        if (firstFrames < 0 || secondFrames < 0)
            return {};
        for (std::size_t i = 0; i < columns; ++i) {
            raw[i].low = std::min(raw[i].low, half.peaks()[i].low);
            raw[i].high = std::max(raw[i].high, half.peaks()[i].high);
        }
        // A source that ends before its middle has nothing in a second half.
        frames = firstFrames < split ? firstFrames : split + secondFrames;
    } else {
        frames = foldReader(*reader, shape, 0, std::numeric_limits<std::int64_t>::max(), raw,
                            cancel, rate);
        if (frames < 0)
            return {};
    }

    Waveform waveform;
    waveform.durationMs = frames * 1000 / rate;
    // Stretch what was decoded over all columns, so that a length announced too long leaves no
    // empty tail.
    const std::int64_t used = std::max<std::int64_t>(
        std::min<std::int64_t>(
            (frames * std::int64_t(columns) + shape.expectedFrames - 1) / shape.expectedFrames,
            std::int64_t(columns)),
        1);
    waveform.columns.resize(columns);
    for (std::size_t i = 0; i < columns; ++i)
        waveform.columns[i] = raw[std::size_t(std::int64_t(i) * used / std::int64_t(columns))];
    return waveform;
}

}  // namespace tolvane::pages
