// The decoding pipe of the threaded readers (MP3, WMA, FLAC, Monkey's Audio): one producer thread
// pushes PCM into a pipe, the reader's read operation pulls it out. End of stream is the producer
// closing its end.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace tolvane {

// The producer's side, handed to the decoding body.
class PipeWriter {
public:
    // Writes all bytes; false once the consumer has gone (its end closed) or on any other error.
    bool write(const void* data, std::size_t size);
    // True once the consumer has gone: the body should return at its next step.
    bool stopRequested() const { return stop_.load(std::memory_order_relaxed); }

private:
    friend class DecodingPipe;
    int fd_ = -1;
    std::atomic<bool> stop_{false};
};

class DecodingPipe {
public:
    // The body decodes and writes until it is done or a write fails. Whatever it uses must be
    // owned by the body itself (captured by value), so that a body still running when the reader
    // gives up waiting for it finishes safely on its own.
    using Body = std::function<void(PipeWriter&)>;

    // Creates the pipe; ReaderException `pipeError` when that fails.
    explicit DecodingPipe(const std::string& pipeError);
    ~DecodingPipe();
    DecodingPipe(const DecodingPipe&) = delete;
    DecodingPipe& operator=(const DecodingPipe&) = delete;

    // Starts the producer thread; ReaderException `threadError` when it cannot be started.
    void start(Body body, const std::string& threadError);

    // Reads until `count` bytes arrived or the stream ended; returns the bytes delivered (fewer
    // than `count` only at the end of the stream, 0 after it).
    std::size_t read(void* buffer, std::size_t count);

    // Stops the producer (as stop) and, once it has ended, runs the body again on a fresh pipe, so
    // that whatever the old pipe still held is dropped; a producer that had already finished is
    // started again too. `between` runs while no producer runs (to reposition the decoder).
    // Before start, only runs `between`. False when the producer did not end in time or no new one
    // could be started: the stream then stays at its end.
    bool restart(const std::function<void()>& between = {});

    // Closes the consumer's end (a producer blocked in a write then fails it) and waits up to
    // `limit` for the producer to end. A producer that outlives the wait is left to end by itself:
    // it owns everything it touches. Called by the destructor with 2 s. True when no producer runs
    // any more.
    bool stop(std::chrono::milliseconds limit = std::chrono::milliseconds(2000));

private:
    struct Shared {
        PipeWriter writer;
        std::mutex mutex;
        std::condition_variable finishedChanged;
        bool finished = false;
    };

    int readFd_ = -1;
    std::shared_ptr<Shared> shared_;
    std::thread thread_;
    Body body_;
    bool abandoned_ = false;  // a producer was left running after a stop

    bool openPipe();
    bool launch();
    static void runProducer(const std::shared_ptr<Shared>& shared, const Body& body);
};

}  // namespace tolvane
