// PCM arrives in pieces of any size (a filter in front may hand over half a frame); coders take
// whole frames. WholeFrames hands on the whole frames of each piece and keeps the bytes of an
// incomplete frame until the next piece completes it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tolvane {

class WholeFrames {
public:
    void setFrameBytes(std::size_t bytes) { frameBytes_ = std::max<std::size_t>(bytes, 1); }

    // Calls sink(bytes, frames) for the whole frames of the piece: first a frame completed from
    // the previous piece, then the piece's own.
    template <typename Sink>
    void push(const void* data, std::size_t count, Sink&& sink) {
        const auto* bytes = static_cast<const std::uint8_t*>(data);
        if (!partial_.empty()) {
            const std::size_t need = std::min(frameBytes_ - partial_.size(), count);
            partial_.insert(partial_.end(), bytes, bytes + need);
            bytes += need;
            count -= need;
            if (partial_.size() < frameBytes_)
                return;
            const std::vector<std::uint8_t> frame = std::move(partial_);
            partial_.clear();
            sink(frame.data(), std::size_t{1});
        }
        const std::size_t frames = count / frameBytes_;
        if (frames > 0)
            sink(bytes, frames);
        partial_.assign(bytes + frames * frameBytes_, bytes + count);
    }

private:
    std::size_t frameBytes_ = 1;
    std::vector<std::uint8_t> partial_;
};

}  // namespace tolvane
