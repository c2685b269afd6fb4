// A thread that codes blocks of PCM for an encoder, so that the coding overlaps the decoding,
// level and rate conversion work of the thread that feeds the encoder. Blocks are coded in the
// order given; a failure of one block is raised to the feeding thread by its next call.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace tolvane {

class CodingThread {
public:
    // Runs on the coding thread, once per block; may throw (the exception reaches the feeder).
    using CodeBlock = std::function<void(const std::vector<std::uint8_t>& block)>;

    // At most this many blocks wait for the coder; a faster feeder waits for it.
    static constexpr std::size_t kMaxPending = 4;

    explicit CodingThread(CodeBlock code);
    // Codes what was submitted, then ends the thread; a failure is dropped here.
    ~CodingThread();
    CodingThread(const CodingThread&) = delete;
    CodingThread& operator=(const CodingThread&) = delete;

    // Queues a block. Raises the failure of an earlier block, if any.
    void submit(std::vector<std::uint8_t> block);
    // Waits until every submitted block is coded and ends the thread; raises a failure.
    void close();

private:
    void run();
    void stop() noexcept;
    void raiseFailure();

    CodeBlock code_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<std::uint8_t>> pending_;
    bool closing_ = false;
    std::exception_ptr failure_;
    std::thread thread_;
};

}  // namespace tolvane
