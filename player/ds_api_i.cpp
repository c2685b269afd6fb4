#include "player/ds_api_i.h"

#include <algorithm>

namespace tolvane::sound {

namespace {

constexpr auto kServicePeriod = std::chrono::milliseconds(10);

// About 10 ms of device frames, a power of two as SDL prefers.
Uint16 callbackFrames(int rate) {
    Uint16 frames = 64;
    while (frames < 4096 && frames * 100 < rate)
        frames = static_cast<Uint16>(frames * 2);
    return frames;
}

SDL_AudioSpec wantedSpec(int rate, SDL_AudioCallback callback, void* userdata) {
    SDL_AudioSpec want{};
    want.freq = rate > 0 ? rate : 48000;
    want.format = AUDIO_F32SYS;
    want.channels = 2;
    want.samples = callbackFrames(want.freq);
    want.callback = callback;
    want.userdata = userdata;
    return want;
}

}  // namespace

ds_api_i::ds_api_i(std::string device) : device_(std::move(device)) {}

ds_api_i::~ds_api_i() {
    shutdown(std::chrono::milliseconds(0));
}

bool ds_api_i::available(const std::string& device) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return false;
    SDL_AudioSpec want = wantedSpec(48000, nullptr, nullptr);
    SDL_AudioSpec have{};
    const SDL_AudioDeviceID id =
        SDL_OpenAudioDevice(device.empty() ? nullptr : device.c_str(), 0, &want, &have,
                            SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
    if (id != 0)
        SDL_CloseAudioDevice(id);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return id != 0;
}

std::shared_ptr<ds_stream> ds_api_i::create_stream(const ds_format& format, int latencyMs) {
    auto stream = std::make_shared<ds_stream_i>(format, latencyMs);
    std::lock_guard starting(threadLock_);
    bool start = false;
    {
        std::lock_guard guard(lock_);
        streams_.push_back(stream);
        if (!running_)
            start = running_ = true;
    }
    if (start) {
        // A servicing thread that let the device go has finished or is about to.
        if (thread_.joinable())
            thread_.join();
        thread_ = std::thread(&ds_api_i::serviceLoop, this, format.rate);
    }
    return stream;
}

void ds_api_i::shutdown(std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        {
            std::lock_guard guard(lock_);
            if (streams_.empty() || std::chrono::steady_clock::now() >= deadline) {
                for (const auto& stream : streams_)
                    stream->detach();
                break;
            }
        }
        std::this_thread::sleep_for(kServicePeriod);
    }
    // The servicing thread removes the detached streams, releases the device and ends.
    std::lock_guard starting(threadLock_);
    if (thread_.joinable())
        thread_.join();
}

std::size_t ds_api_i::stream_count() const {
    std::lock_guard guard(lock_);
    return streams_.size();
}

bool ds_api_i::active() const {
    std::lock_guard guard(lock_);
    return running_;
}

bool ds_api_i::openDevice(int preferredRate) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return false;
    SDL_AudioSpec want = wantedSpec(preferredRate, &ds_api_i::mixCallback, this);
    SDL_AudioSpec have{};
    deviceId_ =
        SDL_OpenAudioDevice(device_.empty() ? nullptr : device_.c_str(), 0, &want, &have,
                            SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
    if (deviceId_ == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    {
        std::lock_guard guard(lock_);
        spec_ = have;
        deviceOpen_ = true;
    }
    SDL_PauseAudioDevice(deviceId_, 0);
    return true;
}

void ds_api_i::closeDevice() {
    {
        std::lock_guard guard(lock_);
        deviceOpen_ = false;
    }
    // Closing waits for the callback, which takes lock_: never close while holding it.
    SDL_CloseAudioDevice(deviceId_);
    deviceId_ = 0;
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void ds_api_i::failAllStreams() {
    std::lock_guard guard(lock_);
    for (const auto& stream : streams_)
        stream->detach();
}

void ds_api_i::serviceLoop(int preferredRate) {
    // Gaps in servicing are heard as drop-outs; ask for the highest priority the system allows.
    SDL_SetThreadPriority(SDL_THREAD_PRIORITY_TIME_CRITICAL);
    const bool open = openDevice(preferredRate);
    if (!open)
        failAllStreams();
    auto next = std::chrono::steady_clock::now();
    for (;;) {
        {
            std::lock_guard guard(lock_);
            for (const auto& stream : streams_)
                stream->service(deviceOpen_ ? &spec_ : nullptr);
            std::erase_if(streams_, [](const auto& stream) { return stream->ended(); });
            if (streams_.empty()) {
                running_ = false;
                break;
            }
        }
        // Keep a steady 10 ms beat; after a long stall start afresh instead of catching up.
        next += kServicePeriod;
        const auto now = std::chrono::steady_clock::now();
        if (now > next + 10 * kServicePeriod)
            next = now;
        std::this_thread::sleep_until(next);
    }
    if (open)
        closeDevice();
}

void SDLCALL ds_api_i::mixCallback(void* self, Uint8* out, int bytes) {
    auto* api = static_cast<ds_api_i*>(self);
    auto* mix = reinterpret_cast<float*>(out);
    const int samples = bytes / static_cast<int>(sizeof(float));
    std::fill(mix, mix + samples, 0.0f);
    std::lock_guard guard(api->lock_);
    if (!api->deviceOpen_)
        return;
    const int frames = samples / api->spec_.channels;
    for (const auto& stream : api->streams_)
        stream->mixInto(mix, frames, api->spec_, api->scratch_);
    for (int i = 0; i < samples; ++i)
        mix[i] = std::clamp(mix[i], -1.0f, 1.0f);
}

}  // namespace tolvane::sound
