#include "encoders/coding_thread.h"

#include <stdexcept>

namespace tolvane {

CodingThread::CodingThread(CodeBlock code) : code_(std::move(code)), thread_([this] { run(); }) {}

CodingThread::~CodingThread() {
    stop();
}

void CodingThread::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return closing_ || !pending_.empty(); });
        if (pending_.empty())
            return;  // closing, and everything is coded
        std::vector<std::uint8_t> block = std::move(pending_.front());
        pending_.pop_front();
        changed_.notify_all();  // room for the feeder
        if (failure_)
            continue;  // after a failure the rest is dropped
        lock.unlock();
        std::exception_ptr failure;
        try {
            code_(block);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        if (failure)
            failure_ = failure;
    }
}

void CodingThread::raiseFailure() {
    if (failure_)
        std::rethrow_exception(failure_);
}

void CodingThread::submit(std::vector<std::uint8_t> block) {
    std::unique_lock lock(mutex_);
    if (closing_)
        throw std::logic_error("block submitted to a closed coding thread");
    changed_.wait(lock, [this] { return pending_.size() < kMaxPending || failure_; });
    raiseFailure();
    pending_.push_back(std::move(block));
    changed_.notify_all();
}

void CodingThread::stop() noexcept {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void CodingThread::close() {
    stop();
    std::lock_guard lock(mutex_);
    raiseFailure();
}

}  // namespace tolvane
