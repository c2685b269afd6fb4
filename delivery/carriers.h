// The built-in carrier table and the delivery methods each carrier offers.
//
// A gateway pattern is "phonenumber@<domain>": the address for a phone is the phone number
// followed by the pattern with its first 11 characters ("phonenumber") removed.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane::delivery {

// Delivery method texts; the text itself is what is stored and compared.
inline constexpr std::string_view kDeliveryMms = "MMS";
inline constexpr std::string_view kDeliverySmsWap = "SMS+WAP";
inline constexpr std::string_view kDeliveryWap = "WAP";

enum class GatewayKind { Sms, Mms };

struct Carrier {
    std::uint32_t id;
    const char* name;
    const char* smsGateway;  // null when the carrier has none
    const char* mmsGateway;  // null when the carrier has none
};

// The 63 carriers in table order (the terminator row is not part of the span).
std::span<const Carrier> carrierTable();

// The carrier with this id, or null.
const Carrier* findCarrier(std::uint32_t id);

// The carrier's gateway pattern of that kind; nothing when the id is unknown or the carrier has no
// such gateway.
std::optional<std::string> carrierGateway(std::uint32_t carrierId, GatewayKind kind);

// The phone number followed by the pattern from its 12th character on.
std::string gatewayAddress(std::string_view pattern, std::string_view phoneNumber);

// The delivery methods the carrier offers, richest first: "MMS" when it has an MMS gateway,
// "SMS+WAP" when it has an SMS gateway, and always "WAP". An unknown id offers "WAP" only.
std::vector<std::string> deliveryMethodsFor(std::uint32_t carrierId);

// The carriers in the order a sorted list shows them: case-insensitive, punctuation before digits
// before letters (so "> Not listed <" comes first, then "3 River", then "AT&T").
std::vector<const Carrier*> carriersSortedByName();

}  // namespace tolvane::delivery
