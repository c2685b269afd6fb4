// Feeds arbitrary bytes to the window bus's parsers: datagrams and window-table lines.
#include <cstdint>
#include <string_view>

#include "platform/window_bus.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace bus = tolvane::platform::window_bus;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto message = bus::parseMessage(text)) {
        // What parses formats back to the same datagram.
        if (bus::parseMessage(bus::formatMessage(*message)) != message)
            __builtin_trap();
    }
    if (const auto record = bus::parseRecord(text)) {
        if (bus::parseRecord(bus::formatRecord(*record)) != record)
            __builtin_trap();
    }
    return 0;
}
