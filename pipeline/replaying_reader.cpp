#include "pipeline/replaying_reader.h"

#include <algorithm>

#include "pipeline/app_exception.h"

namespace tolvane {

CReplayingReader::CReplayingReader(std::unique_ptr<CReader> source, std::unique_ptr<PcmStore> store,
                                   std::uint64_t keepBytes)
    : source_(std::move(source)), store_(std::move(store)), keepBytes_(keepBytes) {
    if (!source_ || !store_)
        throw ReaderException("Internal error #392");
    takeFormatOf(*source_);
    startSecond_ = source_->tell();
}

void CReplayingReader::replay() {
    replaying_ = true;
    position_ = 0;
    inSource_ = false;
}

std::size_t CReplayingReader::read(void* buffer, std::size_t count, std::size_t* delivered) {
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::size_t got = 0;
    if (!replaying_) {
        got = source_->read(bytes, count, nullptr);
        const std::uint64_t room = keepBytes_ - std::min(keepBytes_, store_->size());
        const auto keep = static_cast<std::size_t>(std::min<std::uint64_t>(got, room));
        if (keep > 0 && !store_->append(bytes, keep))
            replayable_ = false;
        if (keep < got)
            sourceFollowsStore_ = false;
    } else {
        // Whole frames, as every source delivers them.
        const std::size_t frameBytes =
            static_cast<std::size_t>(std::max(channels_, 1) * std::max(bitsPerSample_ / 8, 1));
        count -= count % frameBytes;
        if (!inSource_) {
            got = store_->readAt(position_, bytes, count);
            position_ += got;
            inSource_ = got < count && sourceFollowsStore_;
        }
        if (inSource_ && got < count)
            got += source_->read(bytes + got, count - got, nullptr);
    }
    if (delivered != nullptr)
        *delivered = got;
    return got;
}

std::uint64_t CReplayingReader::bytesPerSecond() const {
    return std::uint64_t(std::max(sampleRate_, 0)) * std::max(channels_, 0) * (bitsPerSample_ / 8);
}

void CReplayingReader::seek(int second) {
    second = std::max(second, 0);
    if (!replaying_) {
        // The store would no longer hold one stretch of the source.
        source_->seek(second);
        replayable_ = false;
        return;
    }
    const std::uint64_t offset =
        second >= startSecond_ ? std::uint64_t(second - startSecond_) * bytesPerSecond() : 0;
    if (second >= startSecond_ && offset < store_->size()) {
        position_ = offset;
        inSource_ = false;
        return;
    }
    source_->seek(second);
    sourceFollowsStore_ = false;
    inSource_ = true;
}

int CReplayingReader::tell() {
    if (!replaying_ || inSource_)
        return source_->tell();
    const std::uint64_t rate = bytesPerSecond();
    return rate == 0 ? startSecond_ : startSecond_ + static_cast<int>(position_ / rate);
}

}  // namespace tolvane
