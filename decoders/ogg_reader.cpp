#include "decoders/ogg_reader.h"

#include <algorithm>
#include <cmath>

#include "decoders/readers.h"
#include "pipeline/app_exception.h"

namespace tolvane {
namespace {

std::size_t readCallback(void* buffer, std::size_t size, std::size_t count, void* source) {
    if (size == 0)
        return 0;
    const std::int64_t got = static_cast<FileHandle*>(source)->read(buffer, size * count);
    return got < 0 ? 0 : static_cast<std::size_t>(got) / size;
}

int seekCallback(void* source, ogg_int64_t offset, int origin) {
    return static_cast<FileHandle*>(source)->seek(offset, origin) < 0 ? -1 : 0;
}

// The reader closes the file itself.
int closeCallback(void*) {
    return 0;
}

long tellCallback(void* source) {
    return static_cast<long>(static_cast<FileHandle*>(source)->position());
}

constexpr ov_callbacks kCallbacks = {readCallback, seekCallback, closeCallback, tellCallback};

// Opens `vorbis` on `file`; false when it is not Ogg Vorbis (the state is then clear).
bool openVorbis(FileHandle& file, OggVorbis_File& vorbis) {
    return ov_open_callbacks(&file, &vorbis, nullptr, 0, kCallbacks) == 0;
}

int wholeSeconds(double seconds) {
    return seconds > 0 && seconds < INT32_MAX ? static_cast<int>(seconds) : 0;
}

}  // namespace

COggReader::COggReader(const std::string& path) : file_(path) {
    if (!file_.isOpen())
        throw ReaderException("cannot open file");
    if (!openVorbis(file_, vorbis_))
        throw ReaderException("not an OggVorbis file");
    const vorbis_info* info = ov_info(&vorbis_, -1);
    if (info == nullptr || info->channels <= 0 || info->rate <= 0) {
        ov_clear(&vorbis_);
        throw ReaderException("malformed OggVorbis file");
    }
    sampleRate_ = static_cast<std::int32_t>(info->rate);
    channels_ = info->channels;
    bitsPerSample_ = 16;
    duration_ = wholeSeconds(ov_time_total(&vorbis_, -1));
    totalBytes_ = static_cast<std::int32_t>(
        std::min<std::int64_t>(std::int64_t(sampleRate_) * duration_ * channels_ * 2, INT32_MAX));

    int start = 0;
    if (takeStartPosition(start))
        seek(start);
}

COggReader::~COggReader() {
    ov_clear(&vorbis_);
}

std::size_t COggReader::read(void* buffer, std::size_t count, std::size_t* delivered) {
    auto* bytes = static_cast<char*>(buffer);
    const std::size_t frameBytes = std::size_t(channels_) * 2;
    count -= count % frameBytes;
    std::size_t total = 0;
    while (total < count) {
        int bitstream = 0;
        const int wanted = static_cast<int>(std::min<std::size_t>(count - total, 1 << 20));
        const long got = ov_read(&vorbis_, bytes + total, wanted, 0, 2, 1, &bitstream);
        if (got == OV_HOLE)
            continue;  // a gap in the data: go on after it
        if (got <= 0)
            break;  // the end, a bad link, or a read error
        total += static_cast<std::size_t>(got);
    }
    if (delivered != nullptr)
        *delivered = total;
    return total;
}

void COggReader::seek(int second) {
    if (ov_time_seek(&vorbis_, std::max(second, 0)) != 0) {
        // Past the end: the next read ends the stream rather than going on from where it was.
        const ogg_int64_t end = ov_pcm_total(&vorbis_, -1);
        if (end >= 0)
            ov_pcm_seek(&vorbis_, end);
    }
}

int COggReader::tell() {
    return wholeSeconds(ov_time_tell(&vorbis_));
}

int oggDurationOf(const std::string& path) {
    FileHandle file(path);
    if (!file.isOpen())
        return 0;
    OggVorbis_File vorbis{};
    if (!openVorbis(file, vorbis))
        return 0;
    const int seconds = wholeSeconds(ov_time_total(&vorbis, -1));
    ov_clear(&vorbis);
    return seconds;
}

std::unique_ptr<CReader> makeOggReader(const std::string& path) {
    return std::make_unique<COggReader>(path);
}
int oggDuration(const std::string& path) {
    return oggDurationOf(path);
}

}  // namespace tolvane
