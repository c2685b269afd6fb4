#include "pipeline/read_ahead.h"

#include <algorithm>
#include <utility>

namespace tolvane {

ReadAhead::ReadAhead(CReader& reader, std::size_t size, std::int64_t reads, std::size_t depth)
    : slots_(std::max<std::size_t>(depth, 2)) {
    for (Slot& slot : slots_)
        slot.bytes.resize(size);
    thread_ = std::thread([this, &reader, reads] { run(reader, reads); });
}

ReadAhead::~ReadAhead() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void ReadAhead::run(CReader& reader, std::int64_t reads) {
    for (std::int64_t k = 0; k < reads; ++k) {
        Slot* slot;
        {
            std::unique_lock lock(mutex_);
            // A slot is free once the consumer has moved past it.
            changed_.wait(lock, [&] { return stop_ || produced_ - consumed_ < slots_.size() - 1; });
            if (stop_)
                break;
            slot = &slots_[produced_ % slots_.size()];
        }
        try {
            slot->delivered = reader.read(slot->bytes.data(), slot->bytes.size());
        } catch (...) {
            slot->delivered = 0;
            slot->failure = std::current_exception();
        }
        const bool last = slot->delivered == 0;
        {
            std::lock_guard lock(mutex_);
            ++produced_;
        }
        changed_.notify_all();
        if (last)
            break;
    }
    std::lock_guard lock(mutex_);
    finished_ = true;
    changed_.notify_all();
}

const std::uint8_t* ReadAhead::next(std::size_t& delivered) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return produced_ > consumed_ || finished_; });
    delivered = 0;
    if (produced_ == consumed_)
        return slots_[0].bytes.data();
    Slot& slot = slots_[consumed_ % slots_.size()];
    ++consumed_;
    // The slot handed out before this one is free for the thread again; this one stays the
    // consumer's until the next call.
    changed_.notify_all();
    if (slot.failure)
        std::rethrow_exception(std::exchange(slot.failure, nullptr));
    delivered = slot.delivered;
    return slot.bytes.data();
}

}  // namespace tolvane
