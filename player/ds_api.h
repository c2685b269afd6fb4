// The process's sound device: it owns the open streams and services them.
#pragma once

#include <chrono>
#include <memory>

#include "player/ds_stream.h"

namespace tolvane::sound {

class ds_api {
public:
    virtual ~ds_api() = default;

    // A new stream of `format` with `latencyMs` of buffering; the device opens on first use.
    virtual std::shared_ptr<ds_stream> create_stream(const ds_format& format, int latencyMs) = 0;
    // Waits up to `wait` for the streams that still play to end, then closes the others and
    // releases the device.
    virtual void shutdown(std::chrono::milliseconds wait) = 0;
};

}  // namespace tolvane::sound
