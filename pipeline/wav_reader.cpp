#include "pipeline/wav_reader.h"

#include <algorithm>
#include <cstring>

#include <sys/stat.h>

#include "pipeline/app_exception.h"
#include "pipeline/riff.h"

namespace tolvane {
namespace {

constexpr std::size_t kPcmRecordSize = 18;
constexpr std::uint32_t kMaxFormatChunk = 65536;
// The level analysis reads 10 ms at a time: a larger stdio buffer saves a system call for every
// couple of blocks.
constexpr std::size_t kFileBuffer = 65536;

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f != nullptr)
            std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

[[noreturn]] void cannotOpen() {
    throw ReaderException("cannot open file");
}

// The bytes of a "data" chunk that the file really holds. A recording cut off before its header
// was finished (or a header written in front of nothing) states more than there is; the length,
// the progress and the duration shown when the file is added follow what can be read.
std::uint32_t bytesPresent(std::FILE* file, const RiffChunk& chunk) {
    struct stat st {};
    if (::fstat(::fileno(file), &st) != 0 || !S_ISREG(st.st_mode))
        return chunk.size;
    const auto fileSize = static_cast<std::uint64_t>(st.st_size);
    const std::uint64_t present = fileSize > chunk.offset ? fileSize - chunk.offset : 0;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(chunk.size, present));
}

}  // namespace

CWavReader::CWavReader(const std::string& path) {
    FilePtr file(std::fopen(path.c_str(), "rbe"));
    if (!file)
        cannotOpen();
    // (glibc ignores the size unless it is given the buffer.)
    fileBuffer_.reset(new char[kFileBuffer]);
    std::setvbuf(file.get(), fileBuffer_.get(), _IOFBF, kFileBuffer);
    RiffReader riff;
    if (!riff.open(file.get(), "WAVE"))
        cannotOpen();

    bool haveFormat = false;
    bool haveData = false;
    bool overrun = false;
    std::uint32_t present = 0;
    while (auto chunk = riff.next(overrun)) {
        if (chunk->is("fmt ") && !haveFormat) {
            // A format record is a few dozen bytes; a huge size is a broken or hostile file and
            // must not become a huge allocation.
            if (chunk->size > kMaxFormatChunk)
                cannotOpen();
            format_.assign(std::max<std::size_t>(chunk->size, kPcmRecordSize), 0);
            if (std::fseek(file.get(), static_cast<long>(chunk->offset), SEEK_SET) != 0 ||
                std::fread(format_.data(), 1, chunk->size, file.get()) != chunk->size)
                cannotOpen();
            if (formatTag() == 1)
                format_[16] = format_[17] = 0;  // PCM has no extra bytes
            haveFormat = true;
        } else if (chunk->is("data") && !haveData) {
            dataOffset_ = chunk->offset;
            dataSize_ = chunk->size;
            haveData = true;
            present = bytesPresent(file.get(), *chunk);
        }
    }
    if (overrun || !haveFormat || !haveData || dataSize_ == 0)
        cannotOpen();
    dataSize_ = present;

    // Refuse records the pipeline could not size or divide by. Samples wider than 16 bits are
    // delivered as their top 16 bits, so the pipeline only ever sees 8 or 16.
    const std::uint16_t channels = readLe16(format_.data() + 2);
    const std::uint32_t rate = readLe32(format_.data() + 4);
    const std::uint16_t blockAlign = readLe16(format_.data() + 12);
    if (channels == 0 || rate == 0 || avgBytesPerSec() == 0 || blockAlign == 0 ||
        blockAlign % channels != 0 || rate > 1000000)
        cannotOpen();
    containerBytes_ = blockAlign / channels;
    if (containerBytes_ > 4)
        cannotOpen();
    const int outBytes = containerBytes_ == 1 ? 1 : 2;
    totalBytes_ = static_cast<std::int32_t>(
        std::min<std::uint64_t>(std::uint64_t(dataSize_) / containerBytes_ * outBytes, INT32_MAX));
    sampleRate_ = static_cast<std::int32_t>(rate);
    channels_ = channels;
    bitsPerSample_ = outBytes * 8;

    file_ = file.release();
    int start = 0;
    if (takeStartPosition(start)) {
        seek(start);
    } else {
        seek(0);
    }
}

CWavReader::~CWavReader() {
    if (file_ != nullptr)
        std::fclose(file_);
}

std::uint16_t CWavReader::formatTag() const {
    return readLe16(format_.data());
}
std::uint32_t CWavReader::avgBytesPerSec() const {
    return readLe32(format_.data() + 8);
}

std::size_t CWavReader::read(void* buffer, std::size_t count, std::size_t* delivered) {
    const std::size_t inFrame = static_cast<std::size_t>(channels_) * containerBytes_;
    const std::size_t outFrame = static_cast<std::size_t>(channels_) * (bitsPerSample_ / 8);
    const std::uint64_t left = position_ < dataSize_ ? dataSize_ - position_ : 0;
    const std::size_t frames =
        static_cast<std::size_t>(std::min<std::uint64_t>(count / outFrame, left / inFrame));
    std::size_t got = 0;
    if (frames > 0 && positionFile()) {
        if (inFrame == outFrame) {
            got = std::fread(buffer, 1, frames * inFrame, file_) / inFrame * inFrame;
            position_ += got;
        } else {
            got = readWide(static_cast<std::uint8_t*>(buffer), frames, inFrame);
        }
    }
    // A read error of the file ends the stream; the next read positions the file afresh.
    if (got < frames * outFrame)
        filePositioned_ = false;
    if (delivered != nullptr)
        *delivered = got;
    return got;
}

// Reads `frames` frames of 24- or 32-bit samples and keeps each sample's top 16 bits.
std::size_t CWavReader::readWide(std::uint8_t* out, std::size_t frames, std::size_t inFrame) {
    std::uint8_t scratch[4096];
    const std::size_t perPass = sizeof scratch / inFrame;
    std::size_t produced = 0;
    while (frames > 0) {
        const std::size_t want = std::min(frames, perPass);
        const std::size_t gotFrames = std::fread(scratch, 1, want * inFrame, file_) / inFrame;
        position_ += gotFrames * inFrame;
        const std::size_t samples = gotFrames * static_cast<std::size_t>(channels_);
        for (std::size_t i = 0; i < samples; ++i) {
            const std::uint8_t* top = scratch + i * containerBytes_ + containerBytes_ - 2;
            out[produced++] = top[0];
            out[produced++] = top[1];
        }
        if (gotFrames < want)
            break;
        frames -= gotFrames;
    }
    return produced;
}

// Sequential reads need no seek: the file is positioned only after a seek or a short read.
bool CWavReader::positionFile() {
    if (!filePositioned_)
        filePositioned_ =
            std::fseek(file_, static_cast<long>(dataOffset_ + position_), SEEK_SET) == 0;
    return filePositioned_;
}

void CWavReader::seek(int second) {
    filePositioned_ = false;
    const std::uint64_t offset = static_cast<std::uint64_t>(std::max(second, 0)) * avgBytesPerSec();
    position_ = offset;
}

int CWavReader::tell() {
    const std::uint32_t rate = avgBytesPerSec();
    return rate == 0 ? 0 : static_cast<int>(position_ / rate);
}

int CWavReader::length() {
    const std::uint32_t rate = avgBytesPerSec();
    return rate == 0 ? 0 : static_cast<int>(dataSize_ / rate);
}

int wavDuration(const std::string& path) {
    FilePtr file(std::fopen(path.c_str(), "rbe"));
    if (!file)
        return 0;
    RiffReader riff;
    if (!riff.open(file.get(), "WAVE"))
        return 0;
    std::uint8_t format[kPcmRecordSize] = {};
    bool haveFormat = false;
    bool haveData = false;
    std::uint32_t dataSize = 0;
    bool overrun = false;
    while (auto chunk = riff.next(overrun)) {
        if (chunk->is("fmt ")) {
            if (std::fseek(file.get(), static_cast<long>(chunk->offset), SEEK_SET) != 0 ||
                chunk->size < kPcmRecordSize - 2 ||
                std::fread(format, 1, std::min<std::size_t>(chunk->size, kPcmRecordSize),
                           file.get()) < kPcmRecordSize - 2)
                return 0;
            haveFormat = true;
        } else if (chunk->is("data") && !haveData) {
            dataSize = bytesPresent(file.get(), *chunk);
            haveData = true;
        }
    }
    if (overrun || !haveFormat || !haveData)
        return 0;
    const std::uint32_t avg = readLe32(format + 8);
    if (readLe16(format) != 1 || avg == 0)
        return 0;
    return static_cast<int>(dataSize / avg);
}

}  // namespace tolvane
