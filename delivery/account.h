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

}  // namespace tolvane::delivery
