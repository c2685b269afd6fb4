// Settings::load over arbitrary value files: the first input byte chooses the value, the rest is
// the value file as stored (4-byte type code, then the bytes). Loading must never crash, hang or
// read out of bounds, whatever the file holds.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "pipeline/settings.h"
#include "platform/registry.h"

using namespace tolvane;
namespace fs = std::filesystem;

namespace {

const char* const kNames[] = {"LastUsedFolder",        "LastUsedPhoneVendor",
                              "LastUsedFormat",        "LastUsedSave",
                              "LastUsedDelivery",      "LastUsedEmail",
                              "SkyletAccountPassword", "SkyletAccountCreationDateHigh"};

fs::path hive() {
    static const fs::path root = [] {
        char pattern[] = "/tmp/fuzz-settings-XXXXXX";
        const fs::path p = mkdtemp(pattern);
        registry::setHiveRoot(registry::Hive::CurrentUser, p / "HKCU");
        registry::setHiveRoot(registry::Hive::LocalMachine, p / "HKLM");
        return p;
    }();
    return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    hive();
    auto key = registry::Key::create(registry::Hive::CurrentUser, kSettingsKey);
    if (!key)
        return 0;
    const std::string name = kNames[data[0] % std::size(kNames)];
    {
        std::ofstream out(key->folder() / (name + ".value"), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    }
    Settings settings;
    settings.load();
    registry::Key::remove(registry::Hive::CurrentUser, kSettingsKey);
    return 0;
}
