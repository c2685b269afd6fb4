#include "decoders/decoding_pipe.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <system_error>

#include "pipeline/app_exception.h"

namespace tolvane {
namespace {

// A write to a pipe whose reader has gone raises SIGPIPE in the writing thread. The producer
// blocks it for itself and, after a failed write, takes the pending signal away, so that neither
// the process nor any other thread ever sees it.
void blockSigpipeInThisThread() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void discardPendingSigpipe() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    const timespec zero{0, 0};
    while (sigtimedwait(&set, nullptr, &zero) == SIGPIPE) {
    }
}

}  // namespace

bool PipeWriter::write(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        if (stopRequested())
            return false;
        const ssize_t n = ::write(fd_, bytes, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EPIPE)
                discardPendingSigpipe();
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

DecodingPipe::DecodingPipe(const std::string& pipeError) {
    if (!openPipe())
        throw ReaderException(pipeError);
}

DecodingPipe::~DecodingPipe() {
    stop();
}

bool DecodingPipe::openPipe() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return false;
    shared_ = std::make_shared<Shared>();
    readFd_ = fds[0];
    shared_->writer.fd_ = fds[1];
    return true;
}

void DecodingPipe::start(Body body, const std::string& threadError) {
    body_ = std::move(body);
    if (!launch())
        throw ReaderException(threadError);
}

// Runs body_ on a new thread over the current pipe. On failure the pipe is closed at both ends.
bool DecodingPipe::launch() {
    try {
        thread_ = std::thread([shared = shared_, body = body_] { runProducer(shared, body); });
        return true;
    } catch (const std::system_error&) {
        stop();
        return false;
    }
}

void DecodingPipe::runProducer(const std::shared_ptr<Shared>& shared, const Body& body) {
    blockSigpipeInThisThread();
    try {
        body(shared->writer);
    } catch (...) {
        // Errors while decoding end the stream early; they are not reported.
    }
    ::close(shared->writer.fd_);
    std::lock_guard lock(shared->mutex);
    shared->finished = true;
    shared->finishedChanged.notify_all();
}

std::size_t DecodingPipe::read(void* buffer, std::size_t count) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    std::size_t total = 0;
    while (total < count && readFd_ >= 0) {
        const ssize_t n = ::read(readFd_, bytes + total, count - total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        total += static_cast<std::size_t>(n);
    }
    return total;
}

bool DecodingPipe::restart(const std::function<void()>& between) {
    if (!body_) {  // not started yet: nothing runs, nothing to drop
        if (between)
            between();
        return true;
    }
    if (!stop())
        return false;
    if (between)
        between();
    return openPipe() && launch();
}

bool DecodingPipe::stop(std::chrono::milliseconds limit) {
    if (!shared_)
        return !abandoned_;
    shared_->writer.stop_.store(true, std::memory_order_relaxed);
    if (readFd_ >= 0) {
        ::close(readFd_);
        readFd_ = -1;
    }
    if (!thread_.joinable()) {
        // No producer ran on this pipe: its write end is still ours to close.
        ::close(shared_->writer.fd_);
        shared_.reset();
        return !abandoned_;
    }
    bool finished;
    {
        std::unique_lock lock(shared_->mutex);
        finished =
            shared_->finishedChanged.wait_for(lock, limit, [&] { return shared_->finished; });
    }
    if (finished) {
        thread_.join();
    } else {
        thread_.detach();
        abandoned_ = true;
    }
    shared_.reset();
    return !abandoned_;
}

}  // namespace tolvane
