// The preview player's output on the process's sound device: the pending chunk goes into a
// device stream of its format; a format change lets the old stream drain and opens a new one.
#pragma once

#include <chrono>
#include <memory>

#include "player/ds_api_i.h"
#include "player/output.h"

namespace tolvane::sound {

class output_dsound final : public output_i_base {
public:
    static constexpr int kLatencyMs = 1000;
    static constexpr std::chrono::milliseconds kShutdownWait{9999};

    output_dsound();
    ~output_dsound() override;
    output_dsound(const output_dsound&) = delete;
    output_dsound& operator=(const output_dsound&) = delete;

    int update() override;
    void pause(bool on) override;
    void stop() override;
    void finish() override;
    void shutdown() override;
    std::size_t buffered() const override;

    // Whether sound output can be opened; true while this process already plays.
    static bool available();
    // Streams the process's device holds (0 when it has none).
    static std::size_t device_streams();
    // True while the process holds the sound device (a stream is open or still playing out).
    static bool device_active();

private:
    void openStream();

    std::shared_ptr<ds_stream> stream_;
    ds_format streamFormat_;
    bool fadeInNextStart_ = false;
    bool registered_ = false;
};

}  // namespace tolvane::sound
