#include "pages/preview_player.h"

#include <chrono>
#include <system_error>

#include "decoders/source_types.h"
#include "pages/output_dsound.h"
#include "pipeline/app_exception.h"

namespace tolvane {

namespace {

using namespace std::chrono_literals;

constexpr auto kPlayingBeat = 10ms;
constexpr auto kStoppedBeat = 100ms;
// A request is taken up within one beat of the thread; waiting longer means it is stuck.
constexpr auto kRequestWait = 2000ms;

template <typename Condition>
bool waitFor(Condition done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

}  // namespace

PreviewPlayer::PreviewPlayer() : chunk_(new unsigned char[kChunkBytes]) {
    if (!sound::output_dsound::available())
        throw PlayerException("Error: sound output not available.");
    output_ = std::make_unique<sound::output_dsound>();
    try {
        thread_ = std::thread(&PreviewPlayer::run, this);
    } catch (const std::system_error&) {
        output_->shutdown();
        throw PlayerException("Internal error #197.");
    }
}

PreviewPlayer::~PreviewPlayer() {
    if (state() != Stopped) {
        stopRequest_ = true;
        waitFor([this] { return state() == Stopped; }, kRequestWait);
    }
    state_ = Closing;
    if (thread_.joinable())
        thread_.join();
    output_->shutdown();
}

PreviewPlayer& PreviewPlayer::shared() {
    static std::mutex creating;
    static std::unique_ptr<PreviewPlayer> player;
    std::lock_guard guard(creating);
    if (!player)
        player = std::make_unique<PreviewPlayer>();
    return *player;
}

bool PreviewPlayer::hasReader() {
    std::lock_guard guard(lock_);
    return reader_ != nullptr;
}

void PreviewPlayer::requireReader(const char* message) {
    if (!hasReader())
        throw PlayerException(message);
}

void PreviewPlayer::open(const std::string& path) {
    auto reader = openReader(path);
    std::unique_ptr<CReader> old;
    std::lock_guard guard(lock_);
    old = std::move(reader_);
    reader_ = std::move(reader);
}

void PreviewPlayer::play() {
    requireReader("Internal error #192.");
    // A stop not yet carried out would end the playback started here.
    waitFor([this] { return !stopRequest_; }, kRequestWait);
    // Paused playback is resumed by the thread, which also sets the state; setting it here
    // would make the thread take the resume request for a pause.
    if (state() == Paused)
        pauseRequest_ = true;
    else
        leave(Stopped, Playing);
}

void PreviewPlayer::pause() {
    requireReader("Internal error #193.");
    if (state() == Playing)
        pauseRequest_ = true;
}

void PreviewPlayer::resume() {
    requireReader("Internal error #194.");
    if (state() == Paused)
        pauseRequest_ = true;
}

void PreviewPlayer::stop() {
    requireReader("Internal error #196.");
    const State current = state();
    if (current == Playing || current == Paused)
        stopRequest_ = true;
}

void PreviewPlayer::seek(int second) {
    requireReader("Internal error #195.");
    const State current = state();
    if (current == Playing || current == Paused) {
        seekTarget_ = second;
        seekRequest_ = true;
    }
}

int PreviewPlayer::position() {
    std::lock_guard guard(lock_);
    return reader_ ? reader_->tell() : 0;
}

int PreviewPlayer::length() {
    std::lock_guard guard(lock_);
    return reader_ ? reader_->length() : 0;
}

bool PreviewPlayer::leave(State from, State to) {
    int expected = from;
    return state_.compare_exchange_strong(expected, to);
}

void PreviewPlayer::run() {
    for (;;) {
        switch (state()) {
            case Closing:
                return;
            case Stopped:
                // Requests left over from the playback that ended have nothing to act on.
                stopRequest_ = false;
                pauseRequest_ = false;
                seekRequest_ = false;
                std::this_thread::sleep_for(kStoppedBeat);
                break;
            case Paused:
                servicePaused();
                std::this_thread::sleep_for(kPlayingBeat);
                break;
            case Playing:
                servicePlaying();
                std::this_thread::sleep_for(kPlayingBeat);
                break;
        }
    }
}

void PreviewPlayer::servicePaused() {
    if (seekRequest_.exchange(false)) {
        std::lock_guard guard(lock_);
        if (reader_)
            reader_->seek(seekTarget_);
    }
    if (pauseRequest_.exchange(false)) {
        std::lock_guard guard(lock_);
        output_->pause(false);
        leave(Paused, Playing);
    }
    if (stopRequest_.exchange(false)) {
        std::lock_guard guard(lock_);
        output_->stop();
        leave(Paused, Stopped);
    }
}

void PreviewPlayer::servicePlaying() {
    {
        std::lock_guard guard(lock_);
        // Any report but "not yet" lets the next chunk go: after a failure of the output the
        // source is read on without sound and playback ends at its end.
        if (output_->update() != 0)
            readNextChunk();
    }
    if (pauseRequest_.exchange(false)) {
        std::lock_guard guard(lock_);
        output_->pause(true);
        leave(Playing, Paused);
    }
    if (stopRequest_.exchange(false)) {
        std::lock_guard guard(lock_);
        output_->stop();
        leave(Playing, Stopped);
    }
    if (seekRequest_.exchange(false)) {
        std::lock_guard guard(lock_);
        output_->stop();
        if (reader_)
            reader_->seek(seekTarget_);
    }
}

// Under the lock: the reader cannot be replaced between the end of its data and the stop.
void PreviewPlayer::readNextChunk() {
    std::size_t got = 0;
    try {
        got = reader_ ? reader_->read(chunk_.get(), kChunkBytes) : 0;
    } catch (...) {
        output_->stop();
        leave(Playing, Stopped);
        return;
    }
    if (got == 0) {
        // The source has ended: let what is buffered be heard.
        output_->finish();
        leave(Playing, Stopped);
        return;
    }
    output_->write(chunk_.get(), got,
                   sound::ds_format{reader_->sampleRate(), reader_->channels(),
                                    reader_->bitsPerSample(), false});
}

}  // namespace tolvane
