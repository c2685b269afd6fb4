// Reads a source on a thread of its own, a few reads ahead of its consumer, so that reading (and
// whatever stages the reader chain holds: the gain stage, the fades, a decoder's output) runs on
// one core while the consumer encodes on the other. The reads are the ones the consumer would make
// itself, in the same order and of the same size, so what it gets is exactly the same.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "pipeline/reader.h"

namespace tolvane {

class ReadAhead {
public:
    // Makes up to `reads` reads of `size` bytes each from `reader`, stopping after one that
    // delivers nothing or throws; at most `depth` - 1 reads ahead of the consumer (at least one).
    // `reader` is used by the thread alone until this object is gone.
    ReadAhead(CReader& reader, std::size_t size, std::int64_t reads, std::size_t depth = 4);
    // Stops the thread after its current read and waits for it.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The bytes of the next read (valid until the next call), its count in `delivered`; rethrows
    // what that read threw. After the last read, or once a read delivered nothing, delivers 0.
    const std::uint8_t* next(std::size_t& delivered);

private:
    struct Slot {
        std::vector<std::uint8_t> bytes;
        std::size_t delivered = 0;
        std::exception_ptr failure;
    };

    void run(CReader& reader, std::int64_t reads);

    std::vector<Slot> slots_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t produced_ = 0;  // reads made
    std::size_t consumed_ = 0;  // reads handed out
    bool finished_ = false;     // the thread makes no more reads
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace tolvane
