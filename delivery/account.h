// The upload account as the settings keep it, and the service client made from it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "delivery/skylet_client.h"

namespace tolvane {
class Settings;
}

namespace tolvane::delivery {

// Local time as a Windows file time: 100-ns units since 1601-01-01, split in two 32-bit halves
// as the settings store it.
std::uint64_t localFileTimeNow();

// Creates an account with the service and stores it, in this order: number, status 1, creation
// time (low, high), empty password. Returns the new number.
std::string createAndStoreAccount(SkyletClient& service, Settings& settings);

// A client of the service at the settings' `SkyletURL` for the stored account and `password`.
SkyletClient clientFor(const Settings& settings, const std::string& password,
                       std::chrono::milliseconds timeout);

// The Password page's Next: the typed password (cut to 127 UTF-16 characters) becomes the
// in-memory upload password, and is stored as the account password when "Remember my password"
// is checked.
void acceptTypedPassword(const std::string& typed, bool remember, Settings& settings);

// What the phone's user types in the browser: the service's host, with its port when it is not
// 80 ("ringtones.example", "127.0.0.1:8099"). Empty for an unusable address.
std::string pickUpHost(const std::string& baseUrl);

// The pick-up link of an account: the base address, "?id=" and the account number.
std::string pickUpLink(const std::string& baseUrl, const std::string& accountNumber);

}  // namespace tolvane::delivery
