// The Skylet service's replies as the client parses them: account numbers and relay records.
// Any bytes must give a value or a refusal, never a crash or an out-of-bounds read.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "delivery/skylet_client.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view reply(reinterpret_cast<const char*>(data), size);
    (void)tolvane::delivery::parseLeadingInteger(reply.substr(0, 63));
    if (const auto relay = tolvane::delivery::parseRelayRecord(reply.substr(0, 255)))
        (void)tolvane::delivery::splitHostPort(relay->host);
    return 0;
}
