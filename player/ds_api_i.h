// The sound device over SDL2 audio: one output device that mixes every open stream, opened when
// the first stream appears and released when the last one has ended, and a servicing thread that
// looks after the streams every 10 ms.
#pragma once

#include <SDL.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "player/ds_api.h"
#include "player/ds_stream_i.h"

namespace tolvane::sound {

class ds_api_i final : public ds_api {
public:
    // `device`: the name of an output device; empty for the default device.
    explicit ds_api_i(std::string device = {});
    ~ds_api_i() override;
    ds_api_i(const ds_api_i&) = delete;
    ds_api_i& operator=(const ds_api_i&) = delete;

    std::shared_ptr<ds_stream> create_stream(const ds_format& format, int latencyMs) override;
    void shutdown(std::chrono::milliseconds wait) override;

    std::size_t stream_count() const;
    // True while the servicing thread runs and holds the device.
    bool active() const;

    // Whether sound output can be opened at all: the audio subsystem starts and the device
    // opens. Holds nothing afterwards.
    static bool available(const std::string& device = {});

private:
    void serviceLoop(int preferredRate);
    bool openDevice(int preferredRate);
    void closeDevice();
    void failAllStreams();
    static void SDLCALL mixCallback(void* self, Uint8* out, int bytes);

    const std::string device_;

    std::mutex threadLock_;  // orders starting and joining the servicing thread
    std::thread thread_;

    mutable std::mutex lock_;  // the stream list and the running flag
    std::vector<std::shared_ptr<ds_stream_i>> streams_;
    bool running_ = false;

    // Owned by the servicing thread; the callback reads the device format while the device is open.
    SDL_AudioDeviceID deviceId_ = 0;
    SDL_AudioSpec spec_{};
    bool deviceOpen_ = false;     // under lock_
    std::vector<float> scratch_;  // the callback's conversion space
};

}  // namespace tolvane::sound
