#include "pipeline/settings.h"

#include <optional>

#include "platform/paths.h"
#include "platform/registry.h"

namespace tolvane {
namespace {

using registry::Hive;
using registry::Key;

constexpr std::string_view kParentKey = "Software\\Quorrel";

// Strings are read into a buffer of 1024 UTF-16 characters, terminator included; a longer value
// does not fit and reads as missing.
constexpr std::size_t kStringBufferBytes = 1024 * 2;

// A string value by the strict rule: REG_SZ or REG_EXPAND_SZ (not expanded), an even number of
// bytes ending in a zero character, and small enough for the buffer. Empty otherwise.
std::string readString(const Key& key, std::string_view name) {
    auto value = key.query(name);
    if (!value || (value->type != registry::REG_SZ && value->type != registry::REG_EXPAND_SZ))
        return {};
    if (value->data.size() > kStringBufferBytes)
        return {};
    return registry::decodeString(value->data).value_or(std::string());
}

// A number value over its default: only a REG_DWORD of exactly 4 bytes replaces it.
template <typename T>
void readNumber(const Key& key, std::string_view name, T& field) {
    if (auto v = key.queryDword(name))
        field = static_cast<T>(*v);
}

// The user key, created level by level on a first run.
std::optional<Key> openOrCreateUserKey() {
    if (auto key = Key::open(Hive::CurrentUser, kSettingsKey))
        return key;
    if (!Key::create(Hive::CurrentUser, kParentKey))
        return std::nullopt;
    return Key::create(Hive::CurrentUser, kSettingsKey);
}

std::string defaultFolder() {
    auto documents = platform::documentsFolder();
    if (!documents)
        return {};
    return *documents + std::string(kRingtoneSubfolder);
}

}  // namespace

Settings::Settings() = default;

void Settings::load() {
    auto key = openOrCreateUserKey();
    if (!key)
        return;

    folder_ = readString(*key, "LastUsedFolder");
    if (folder_.empty())
        folder_ = defaultFolder();

    readNumber(*key, "LastUsedPhoneVendor", vendorPosition_);
    readNumber(*key, "LastUsedPhoneModel", modelPosition_);
    readNumber(*key, "LastUsedFormat", format_);
    readNumber(*key, "LastUsedSave", save_);
    readNumber(*key, "LastUsedSend", send_);
    readNumber(*key, "LastUsedCarrier", carrier_);
    readNumber(*key, "SkyletAccountStatus", accountStatus_);
    readNumber(*key, "SkyletAccountCreationDateLow", creationDateLow_);
    readNumber(*key, "SkyletAccountCreationDateHigh", creationDateHigh_);
    readNumber(*key, "LastUsedFadeIn", fadeInMs_);
    readNumber(*key, "LastUsedFadeOut", fadeOutMs_);
    sourceFolder_ = readString(*key, "LastUsedSourceFolder");

    delivery_ = readString(*key, "LastUsedDelivery");
    if (delivery_.empty())
        delivery_ = kDefaultDelivery;
    phoneNumber_ = readString(*key, "LastUsedPhoneNumber");
    email_ = readString(*key, "LastUsedEmail");
    accountNumber_ = readString(*key, "SkyletAccountNumber");
    accountPassword_ = readString(*key, "SkyletAccountPassword");

    // Installation values: HomeURL and SkyletURL only when AppPath is there.
    if (auto machine = Key::open(Hive::LocalMachine, kSettingsKey)) {
        if (machine->query("AppPath")) {
            appPath_ = readString(*machine, "AppPath");
            homeUrl_ = readString(*machine, "HomeURL");
            skyletUrl_ = readString(*machine, "SkyletURL");
        }
    }
}

bool Settings::writesThrough(Kind kind) const {
    switch (persistence_) {
        case Persistence::All:
            return true;
        case Persistence::AccountOnly:
            return kind == Kind::Account;
        case Persistence::None:
            return false;
    }
    return false;
}

// The key is opened for writing, never created: a key deleted while the program runs makes
// writes do nothing.
void Settings::writeString(Kind kind, std::string_view name, std::string_view value) const {
    if (!writesThrough(kind))
        return;
    if (auto key = Key::open(Hive::CurrentUser, kSettingsKey))
        key->setString(name, value);
}

void Settings::writeNumber(Kind kind, std::string_view name, std::uint32_t value) const {
    if (!writesThrough(kind))
        return;
    if (auto key = Key::open(Hive::CurrentUser, kSettingsKey))
        key->setDword(name, value);
}

void Settings::setFolder(std::string_view folder) {
    folder_ = folder;
    writeString(Kind::Choice, "LastUsedFolder", folder_);
}

void Settings::setVendorPosition(std::int32_t position) {
    vendorPosition_ = position;
    writeNumber(Kind::Choice, "LastUsedPhoneVendor", static_cast<std::uint32_t>(position));
}

void Settings::setModelPosition(std::int32_t position) {
    modelPosition_ = position;
    writeNumber(Kind::Choice, "LastUsedPhoneModel", static_cast<std::uint32_t>(position));
}

void Settings::setFormat(std::int32_t formatIndex) {
    format_ = formatIndex;
    writeNumber(Kind::Choice, "LastUsedFormat", static_cast<std::uint32_t>(formatIndex));
}

void Settings::setSave(std::int32_t save) {
    save_ = save;
    writeNumber(Kind::Choice, "LastUsedSave", static_cast<std::uint32_t>(save));
}

void Settings::setSend(std::int32_t send) {
    send_ = send;
    writeNumber(Kind::Choice, "LastUsedSend", static_cast<std::uint32_t>(send));
}

void Settings::setCarrier(std::int32_t carrierId) {
    carrier_ = carrierId;
    writeNumber(Kind::Choice, "LastUsedCarrier", static_cast<std::uint32_t>(carrierId));
}

void Settings::setDelivery(std::string_view method) {
    delivery_ = method;
    writeString(Kind::Choice, "LastUsedDelivery", delivery_);
}

void Settings::setPhoneNumber(std::string_view number) {
    phoneNumber_ = number;
    writeString(Kind::Choice, "LastUsedPhoneNumber", phoneNumber_);
}

void Settings::setEmail(std::string_view address) {
    email_ = address;
    writeString(Kind::Choice, "LastUsedEmail", email_);
}

void Settings::setAccountNumber(std::string_view number) {
    accountNumber_ = number;
    writeString(Kind::Account, "SkyletAccountNumber", accountNumber_);
}

void Settings::setAccountStatus(std::int32_t status) {
    accountStatus_ = status;
    writeNumber(Kind::Account, "SkyletAccountStatus", static_cast<std::uint32_t>(status));
}

void Settings::setAccountPassword(std::string_view password) {
    accountPassword_ = password;
    writeString(Kind::Account, "SkyletAccountPassword", accountPassword_);
}

void Settings::setCreationDateLow(std::uint32_t low) {
    creationDateLow_ = low;
    writeNumber(Kind::Account, "SkyletAccountCreationDateLow", low);
}

void Settings::setCreationDateHigh(std::uint32_t high) {
    creationDateHigh_ = high;
    writeNumber(Kind::Account, "SkyletAccountCreationDateHigh", high);
}

void Settings::setFadeInMs(std::uint32_t ms) {
    fadeInMs_ = ms;
    writeNumber(Kind::Choice, "LastUsedFadeIn", ms);
}

void Settings::setFadeOutMs(std::uint32_t ms) {
    fadeOutMs_ = ms;
    writeNumber(Kind::Choice, "LastUsedFadeOut", ms);
}

void Settings::setSourceFolder(std::string_view folder) {
    sourceFolder_ = folder;
    writeString(Kind::Choice, "LastUsedSourceFolder", sourceFolder_);
}

}  // namespace tolvane
