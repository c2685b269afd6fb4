// Plays one source file at a time so that the user can listen while marking a part. The
// user-interface thread sets requests and reads positions; the playback thread moves PCM from
// the reader to the sound output.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "player/output.h"
#include "pipeline/reader.h"

namespace tolvane {

class PreviewPlayer {
public:
    enum State : int { Stopped = 0, Paused = 1, Playing = 2, Closing = 3 };
    static constexpr std::size_t kChunkBytes = 16384;

    // Opens the sound output and starts the playback thread. PlayerException "Error: sound
    // output not available." when there is no sound output; "Internal error #197." when the
    // thread cannot start.
    PreviewPlayer();
    // Stops playback (with its fade), ends the thread and releases the sound device.
    ~PreviewPlayer();
    PreviewPlayer(const PreviewPlayer&) = delete;
    PreviewPlayer& operator=(const PreviewPlayer&) = delete;

    // The process's player, created on first use and destroyed at program exit. A failed
    // creation throws and is tried again on the next call.
    static PreviewPlayer& shared();

    // Replaces the reader by one for `path` (the old one is closed); reader exceptions pass on.
    void open(const std::string& path);
    // Starts (from the reader's position) or resumes playback.
    void play();
    // Pauses playback with a fade-out.
    void pause();
    // Resumes paused playback with a fade-in.
    void resume();
    // Ends playback with a fade-out; the reader stays where it is.
    void stop();
    // Moves playback to a whole second; the sound restarts there with a fade-in.
    void seek(int second);

    // Position and duration of the open source in whole seconds (0 without a source). The
    // position is the reader's, which runs ahead of the sound by what is buffered for the device.
    int position();
    // The moment of the source being heard now, in milliseconds: the reader's position less
    // what is buffered for the device (0 without a source).
    std::int64_t heardPositionMs();
    int length();
    State state() const { return static_cast<State>(state_.load()); }

private:
    void run();
    void servicePaused();
    void servicePlaying();
    void readNextChunk();
    void carryOutSeek();
    // Under the lock: the reader moved to a whole second (open, seek).
    void readerMovedTo(int second);
    bool hasReader();
    void requireReader(const char* message);
    bool leave(State from, State to);

    std::unique_ptr<sound::output> output_;
    std::unique_ptr<CReader> reader_;
    std::mutex lock_;  // the reader and the output
    std::atomic<int> state_{Stopped};
    std::atomic<bool> pauseRequest_{false};
    std::atomic<bool> stopRequest_{false};
    std::atomic<bool> seekRequest_{false};
    std::atomic<int> seekTarget_{0};
    std::thread thread_;
    std::unique_ptr<unsigned char[]> chunk_;
    // Bytes from the source's start to the reader's position (under the lock).
    std::int64_t readBytes_ = 0;
};

}  // namespace tolvane
