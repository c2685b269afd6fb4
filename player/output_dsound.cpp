#include "player/output_dsound.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace tolvane::sound {

namespace {

// Every output of the process and the one device they share, under one lock.
struct Outputs {
    std::mutex lock;
    std::vector<output_dsound*> list;
    std::unique_ptr<ds_api_i> device;
};

// Never destroyed: the process's player may shut its output down during static destruction.
Outputs& outputs() {
    static auto* instance = new Outputs;
    return *instance;
}

}  // namespace

output_dsound::output_dsound() {
    Outputs& all = outputs();
    std::lock_guard guard(all.lock);
    all.list.push_back(this);
    registered_ = true;
}

output_dsound::~output_dsound() {
    shutdown();
}

bool output_dsound::available() {
    {
        Outputs& all = outputs();
        std::lock_guard guard(all.lock);
        if (all.device && all.device->active())
            return true;
    }
    return ds_api_i::available();
}

std::size_t output_dsound::device_streams() {
    Outputs& all = outputs();
    std::lock_guard guard(all.lock);
    return all.device ? all.device->stream_count() : 0;
}

bool output_dsound::device_active() {
    Outputs& all = outputs();
    std::lock_guard guard(all.lock);
    return all.device && all.device->active();
}

void output_dsound::openStream() {
    Outputs& all = outputs();
    std::lock_guard guard(all.lock);
    if (!all.device)
        all.device = std::make_unique<ds_api_i>();
    stream_ = all.device->create_stream(chunkFormat(), kLatencyMs);
    streamFormat_ = chunkFormat();
    if (fadeInNextStart_) {
        stream_->fade(0.0, 1.0, ds_stream_i::kFadeSeconds);
        fadeInNextStart_ = false;
    }
}

int output_dsound::update() {
    if (chunkDone())
        return 1;
    if (stream_ && !(streamFormat_ == chunkFormat())) {
        // A new format needs a new stream; the old one plays out first.
        if (!stream_->ended()) {
            stream_->finish();
            return 0;
        }
        stream_.reset();
    }
    if (stream_ && stream_->ended() && !stream_->failed()) {
        stream_.reset();
    }
    if (!stream_)
        openStream();
    if (stream_->failed()) {
        dropChunk();
        return -1;
    }
    chunkHanded(stream_->write(chunkRest(), chunkRestBytes()));
    return chunkDone() ? 1 : 0;
}

void output_dsound::pause(bool on) {
    if (!stream_)
        return;
    if (on)
        stream_->pause();
    else
        stream_->resume();
}

void output_dsound::stop() {
    dropChunk();
    if (stream_)
        stream_->stop();
    stream_.reset();
    fadeInNextStart_ = true;
}

void output_dsound::finish() {
    dropChunk();
    if (stream_)
        stream_->finish();
    stream_.reset();
    fadeInNextStart_ = true;
}

std::size_t output_dsound::buffered() const {
    return chunkRestBytes() + (stream_ ? stream_->buffered() : 0);
}

void output_dsound::shutdown() {
    if (!registered_)
        return;
    stop();
    Outputs& all = outputs();
    std::lock_guard guard(all.lock);
    std::erase(all.list, this);
    registered_ = false;
    if (all.list.empty() && all.device) {
        all.device->shutdown(kShutdownWait);
        all.device.reset();
    }
}

}  // namespace tolvane::sound
